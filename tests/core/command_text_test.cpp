#include "core/command_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace dlscope {
namespace {

std::string zeros(std::size_t n) { return std::string(n, '0'); }

struct HexCase {
    const char *text;
    std::string binary;
    bool bad;
};

class HexToBinaryTest : public testing::TestWithParam<HexCase> {};

TEST_P(HexToBinaryTest, ConvertsFourDigitsPerHexDigit)
{
    const HexConversion result = HexToBinary(GetParam().text);
    EXPECT_EQ(result.binary, GetParam().binary);
    EXPECT_EQ(result.badCharacter, GetParam().bad);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexToBinaryTest,
    testing::Values(
        HexCase{"12345678", zeros(32) + "00010010001101000101011001111000", false},
        HexCase{"B700000000002000", "1011011100000000000000000000000000000000000000000010000000000000", false},
        HexCase{"F", zeros(60) + "1111", false},
        HexCase{"", zeros(64), false},
        HexCase{"A 7", zeros(56) + "10100111", false},  // spaces skipped
        HexCase{"b700000000002000", zeros(64), true},   // lower case is not hex
        HexCase{"B70000000000200g", "0000" + std::string("101101110000000000000000000000000000000000000000001000000000"), true},
        HexCase{"12\n34", zeros(56) + "00010010", true},
        HexCase{"FFFFFFFFFFFFFFFFF", std::string(68, '1'), false}));  // longer results stay

struct PrepareCase {
    const char *name;
    const CommandTextRule *rule;
    std::string text;
    std::vector<InputEffect> effects;
    std::optional<std::string> word;
};

std::ostream &operator<<(std::ostream &out, const PrepareCase &c) { return out << c.name; }

const std::string kCombinerHex60 =
    "0000" + std::string("1111110000100110101000000000010000011111111111001001001111111100").substr(0, 60);
const std::string kGeometryDefault = "1011011100000000000000000000000000000000000000000010000000000000";
const ShowMessage kOops{std::string(kWillNotWorkMessage)};
const ShowMessage kNotHex{std::string(kNotHexMessage)};
const ShowMessage kCombinerGuard{"Please Enter the Full Binary of the Whole Command Including FC"};
const ShowMessage kLowerWordGuard{"Please Enter the Full Binary of the Lower Word"};

class PrepareCommandWordTest : public testing::TestWithParam<PrepareCase> {};

TEST_P(PrepareCommandWordTest, YieldsEffectsInOrderAndTheWord)
{
    const PrepareCase &c = GetParam();
    const PreparedCommand prepared = PrepareCommandWord(c.text, *c.rule);
    EXPECT_EQ(prepared.effects, c.effects);
    EXPECT_EQ(prepared.word, c.word);
}

std::vector<PrepareCase> prepareCases()
{
    using namespace rules;
    const std::string ones58(kOnes58), ones64(kOnes64), ones32(kOnes32);
    const std::string hex60 = "0000" + kGeometryDefault.substr(0, 60);
    std::vector<PrepareCase> cases = {
        // Hex of the window's length is converted; the counter then shows 64.
        {"GmHex16", &GeometryMode, "B700000000002000", {SetCommandText{kGeometryDefault}}, kGeometryDefault},
        // The space counts towards the length test.
        {"GmHexWithSpace17", &GeometryMode, "B7000000 00002000", {kOops, SetCommandText{ones58}}, ones58},
        {"GmHexWithSpace16", &GeometryMode, "B7000000 0000200", {SetCommandText{"0000" + kGeometryDefault.substr(0, 60)}},
         "0000" + kGeometryDefault.substr(0, 60)},
        {"GmLowerCase", &GeometryMode, "b700000000002000", {kNotHex, SetCommandText{zeros(64)}}, zeros(64)},
        {"GmBadLast", &GeometryMode, "B70000000000200g", {kNotHex, SetCommandText{hex60}}, hex60},
        {"GmBinary16IsBinary", &GeometryMode, "1010101010101010", {}, "1010101010101010"},
        {"GmEmpty", &GeometryMode, "", {kOops, SetCommandText{ones58}}, ones58},
        {"GmHex15", &GeometryMode, "B70000000000200", {kOops, SetCommandText{ones58}}, ones58},
        {"GmBinaryShort", &GeometryMode, "101", {}, "101"},

        {"CcReset64Decodes", &Combiner, "xyz", {kOops, SetCommandText{ones64}}, ones64},
        {"CcEmpty", &Combiner, "", {kOops, SetCommandText{ones64}}, ones64},
        {"CcBinary63Guard", &Combiner, std::string(63, '1'), {kCombinerGuard}, std::nullopt},
        {"CcHexBad", &Combiner, "FC26A0041FFC93F?", {kNotHex, SetCommandText{kCombinerHex60}}, kCombinerHex60},

        // The render-mode window keeps the lower word and never rejects.
        {"RmEmpty", &RenderMode, "", {SetCommandText{zeros(32)}}, zeros(32)},
        {"RmHex8", &RenderMode, "0C184078", {SetCommandText{"00001100000110000100000001111000"}},
         "00001100000110000100000001111000"},
        {"RmHex16KeepsLowerWord", &RenderMode, "B900031D0C184078", {SetCommandText{"00001100000110000100000001111000"}},
         "00001100000110000100000001111000"},
        {"RmBinaryPadded", &RenderMode, "1", {SetCommandText{zeros(31) + "1"}}, zeros(31) + "1"},
        {"RmBinary32Unchanged", &RenderMode, ones32, {}, ones32},
        {"RmBinaryTooLongGuard", &RenderMode, std::string(33, '0'), {kLowerWordGuard}, std::nullopt},
        {"RmBadHex", &RenderMode, "0C18z", {kNotHex, SetCommandText{zeros(16) + "0000110000011000"}},
         zeros(16) + "0000110000011000"},

        {"OmhEmptyResets32", &OtherModeH, "", {kOops, SetCommandText{ones32}}, ones32},
        {"OmhHex16", &OtherModeH, "BA000C0200002000",
         {SetCommandText{"1011101000000000000011000000001000000000000000000010000000000000"}},
         "1011101000000000000011000000001000000000000000000010000000000000"},
        {"OmhBinary40", &OtherModeH, std::string(40, '0'), {}, std::string(40, '0')},

        {"TexHex8", &Texture, "BB002801", {SetCommandText{"10111011000000000010100000000001"}},
         "10111011000000000010100000000001"},
        {"TexHex9Resets", &Texture, "BB0028011", {kOops, SetCommandText{ones32}}, ones32},
        {"TexHex7Resets", &Texture, "BB00280", {kOops, SetCommandText{ones32}}, ones32},

        {"TileHex16", &SetTile, "F500000000000000",
         {SetCommandText{"1111010100000000000000000000000000000000000000000000000000000000"}},
         "1111010100000000000000000000000000000000000000000000000000000000"},
        {"TileHex17Resets", &SetTile, "F5000000000000000", {kOops, SetCommandText{ones32}}, ones32},
    };
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllRules, PrepareCommandWordTest, testing::ValuesIn(prepareCases()),
                         [](const testing::TestParamInfo<PrepareCase> &p) { return std::string(p.param.name); });

// Every rule, on random texts of any bytes: never a crash, the word is the
// text the box would hold, and a converted text is binary digits only.
TEST(PrepareCommandWordProperties, RandomTextsGiveConsistentEffects)
{
    std::mt19937 random(20261208);
    const std::string alphabet = "0101010123456789ABCDEFabcdef \t?\n\x80\xff";
    for (const CommandTextRule &rule : rules::All) {
        for (int i = 0; i < 2000; ++i) {
            std::string text;
            const int length = static_cast<int>(random() % 70);
            for (int k = 0; k < length; ++k)
                text += alphabet[random() % alphabet.size()];
            const PreparedCommand prepared = PrepareCommandWord(text, rule);
            std::string box = text;
            for (const InputEffect &effect : prepared.effects)
                if (const auto *set = std::get_if<SetCommandText>(&effect)) {
                    box = set->text;
                    EXPECT_TRUE(isBinaryText(box)) << rule.window << " wrote " << box;
                    EXPECT_LE(box.size(), static_cast<std::size_t>(rule.maxLength)) << rule.window;
                }
            if (prepared.word) {
                EXPECT_EQ(*prepared.word, box) << rule.window;
                if (rule.guardLength) {
                    EXPECT_EQ(prepared.word->size(), static_cast<std::size_t>(*rule.guardLength));
                }
            } else {
                ASSERT_TRUE(rule.guardLength.has_value()) << rule.window << " skipped without a guard";
            }
        }
    }
}

} // namespace
} // namespace dlscope
