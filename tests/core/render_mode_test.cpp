#include "core/command_text.h"
#include "core/render_mode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace dlscope {
namespace {

using F = RenderModeFlag;

// What the all-zero word decodes to.
RenderModeFields zeroFields()
{
    RenderModeFields f;
    for (std::size_t cycle = 0; cycle < 2; ++cycle)
        f.blend[cycle] = {BlendInput{0, "CLR_IN"}, BlendInput{0, "A_IN"}, BlendInput{0, "CLR_IN"}, BlendInput{0, "1-A"}};
    return f;
}

std::string wordWith(int first, std::string_view digits)
{
    std::string word(32, '0');
    word.replace(static_cast<std::size_t>(first - 1), digits.size(), digits);
    return word;
}

struct DecodeCase {
    std::string name;
    std::string word;
    RenderModeFields expected;
};

std::ostream &operator<<(std::ostream &out, const DecodeCase &c) { return out << c.name; }

std::vector<DecodeCase> fieldCases()
{
    std::vector<DecodeCase> cases;

    // Each blender input with each code: {box, first position, cycle, input, names by code}.
    const struct {
        const char *box;
        int first;
        int cycle;
        int input;
        std::array<const char *, 4> names;
    } inputs[] = {
        {"a0", 1, 0, 0, {"CLR_IN", "CLR_MEM", "CLR_BL", "CLR_FOG"}},
        {"a1", 3, 1, 0, {"CLR_IN", "CLR_MEM", "CLR_BL", "CLR_FOG"}},
        {"b0", 5, 0, 1, {"A_IN", "A_FOG", "A_SHADE", "0.0"}},
        {"b1", 7, 1, 1, {"A_IN", "A_FOG", "A_SHADE", "0.0"}},
        {"c0", 9, 0, 2, {"CLR_IN", "CLR_MEM", "CLR_BL", "CLR_FOG"}},
        {"c1", 11, 1, 2, {"CLR_IN", "CLR_MEM", "CLR_BL", "CLR_FOG"}},
        {"d0", 13, 0, 3, {"1-A", "A_MEM", "1.0", "0.0"}},
        {"d1", 15, 1, 3, {"1-A", "A_MEM", "1.0", "0.0"}},
    };
    const char *const codes[] = {"00", "01", "10", "11"};
    for (const auto &in : inputs)
        for (int code = 0; code < 4; ++code) {
            RenderModeFields f = zeroFields();
            f.blend[static_cast<std::size_t>(in.cycle)][static_cast<std::size_t>(in.input)] = {
                code, in.names[static_cast<std::size_t>(code)]};
            cases.push_back({std::string(in.box) + "_" + codes[code], wordWith(in.first, codes[code]), f});
        }

    const struct {
        const char *name;
        int position;
        F flag;
    } flags[] = {{"TEX_E", 17, F::TEX_E}, {"FC_BL", 18, F::FC_BL}, {"A_CVG", 19, F::A_CVG},
                 {"CVGxA", 20, F::CVGxA}, {"C_CVG", 25, F::C_CVG}, {"IM_RD", 26, F::IM_RD},
                 {"Z_UPD", 27, F::Z_UPD}, {"Z_CMP", 28, F::Z_CMP}, {"AA", 29, F::AA}};
    for (const auto &flag : flags) {
        RenderModeFields f = zeroFields();
        f.flags.set(flag.flag, true);
        cases.push_back({flag.name, wordWith(flag.position, "1"), f});
    }

    for (int code = 0; code < 4; ++code) {
        RenderModeFields z = zeroFields();
        z.zMode = code;
        cases.push_back({std::string("ZMode_") + codes[code], wordWith(21, codes[code]), z});
        RenderModeFields c = zeroFields();
        c.coverage = code;
        cases.push_back({std::string("Coverage_") + codes[code], wordWith(23, codes[code]), c});
    }

    cases.push_back({"LowThreeBitsIgnored", wordWith(30, "111"), zeroFields()});
    cases.push_back({"Empty", "", zeroFields()});
    return cases;
}

std::vector<DecodeCase> exampleCases()
{
    RenderModeFields byDefault;
    byDefault.flags = {F::AA, F::Z_CMP, F::Z_UPD, F::IM_RD, F::A_CVG};
    byDefault.blend[0] = {BlendInput{0, "CLR_IN"}, BlendInput{3, "0.0"}, BlendInput{0, "CLR_IN"}, BlendInput{2, "1.0"}};
    byDefault.blend[1] = {BlendInput{0, "CLR_IN"}, BlendInput{0, "A_IN"}, BlendInput{1, "CLR_MEM"},
                          BlendInput{0, "1-A"}};

    RenderModeFields hex0C184078 = byDefault;
    hex0C184078.flags = {F::AA, F::Z_CMP, F::Z_UPD, F::IM_RD, F::FC_BL};

    RenderModeFields fogShade;
    fogShade.flags = {F::AA, F::Z_CMP, F::Z_UPD, F::IM_RD, F::A_CVG};
    fogShade.blend[0] = {BlendInput{3, "CLR_FOG"}, BlendInput{2, "A_SHADE"}, BlendInput{0, "CLR_IN"},
                         BlendInput{0, "1-A"}};
    fogShade.blend[1] = {BlendInput{0, "CLR_IN"}, BlendInput{0, "A_IN"}, BlendInput{1, "CLR_MEM"},
                         BlendInput{1, "A_MEM"}};

    RenderModeFields ones;
    ones.flags = {F::AA, F::Z_CMP, F::Z_UPD, F::IM_RD, F::C_CVG, F::CVGxA, F::A_CVG, F::FC_BL, F::TEX_E};
    ones.zMode = 3;
    ones.coverage = 3;
    for (std::size_t cycle = 0; cycle < 2; ++cycle)
        ones.blend[cycle] = {BlendInput{3, "CLR_FOG"}, BlendInput{3, "0.0"}, BlendInput{3, "CLR_FOG"},
                             BlendInput{3, "0.0"}};

    return {
        {"DefaultWord", "00001100000110000010000001111000", byDefault},
        {"Hex0C184078", HexToBinary("0C184078").binary.substr(32), hex0C184078},
        {"HexC8112078", HexToBinary("C8112078").binary.substr(32), fogShade},
        {"AllOnes", std::string(32, '1'), ones},
    };
}

class DecodeRenderModeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeRenderModeTest, ReadsEachFieldAtItsPositions)
{
    EXPECT_EQ(DecodeRenderMode(GetParam().word), GetParam().expected);
}

const auto caseName = [](const testing::TestParamInfo<DecodeCase> &p) { return p.param.name; };
INSTANTIATE_TEST_SUITE_P(Fields, DecodeRenderModeTest, testing::ValuesIn(fieldCases()), caseName);
INSTANTIATE_TEST_SUITE_P(Examples, DecodeRenderModeTest, testing::ValuesIn(exampleCases()), caseName);

// The window's way in: an empty text reaches the decoder as the all-zero
// word; a text of the wrong length never reaches it.
TEST(RenderModeInput, EmptyTextIsTheAllZeroWord)
{
    const PreparedCommand prepared = PrepareCommandWord("", rules::RenderMode);
    ASSERT_TRUE(prepared.word);
    EXPECT_EQ(*prepared.word, std::string(32, '0'));
    EXPECT_EQ(DecodeRenderMode(*prepared.word), zeroFields());
}

TEST(RenderModeInput, TooLongBinaryFailsTheGuard)
{
    const PreparedCommand prepared = PrepareCommandWord(std::string(33, '1'), rules::RenderMode);
    EXPECT_FALSE(prepared.word);
    ASSERT_EQ(prepared.effects.size(), 1u);
    EXPECT_EQ(prepared.effects[0], InputEffect{ShowMessage{"Please Enter the Full Binary of the Lower Word"}});
}

struct NameCase {
    const char *letter;
    const char *code;
    const char *name;
};

class BlendInputNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(BlendInputNameTest, NamesTheCodeForTheLetter)
{
    EXPECT_EQ(BlendInputName(GetParam().letter, GetParam().code), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Letters, BlendInputNameTest,
    testing::Values(NameCase{"A", "00", "CLR_IN"}, NameCase{"C", "01", "CLR_MEM"}, NameCase{"A", "10", "CLR_BL"},
                    NameCase{"C", "11", "CLR_FOG"}, NameCase{"B", "00", "A_IN"}, NameCase{"B", "01", "A_FOG"},
                    NameCase{"B", "10", "A_SHADE"}, NameCase{"B", "11", "0.0"}, NameCase{"D", "00", "1-A"},
                    NameCase{"D", "01", "A_MEM"}, NameCase{"D", "10", "1.0"}, NameCase{"D", "11", "0.0"},
                    // Any letter but A, C and D names a B input, lower case included.
                    NameCase{"a", "00", "A_IN"}, NameCase{"", "10", "A_SHADE"}, NameCase{"X", "01", "A_FOG"},
                    // Codes other than the four have no name.
                    NameCase{"A", "0", ""}, NameCase{"D", "000", ""}, NameCase{"B", "2", ""},
                    NameCase{"C", "", ""}, NameCase{"A", "1 ", ""}));

// Any text at all decodes to codes and names of the tables, never reading
// past its end.
TEST(DecodeRenderModeRobustness, AnyTextGivesValidFields)
{
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string text(random() % 70, '\0');
        for (char &c : text)
            c = static_cast<char>(random() % 4 == 0 ? random() % 256 : '0' + random() % 2);
        const RenderModeFields f = DecodeRenderMode(text);
        EXPECT_GE(f.zMode, 0);
        EXPECT_LE(f.zMode, 3);
        EXPECT_GE(f.coverage, 0);
        EXPECT_LE(f.coverage, 3);
        for (const auto &cycle : f.blend)
            for (const BlendInput &input : cycle) {
                EXPECT_GE(input.code, 0);
                EXPECT_LE(input.code, 3);
                EXPECT_FALSE(input.name.empty());
            }
        // A longer text decodes its first 32 characters.
        if (text.size() > 32) {
            EXPECT_EQ(f, DecodeRenderMode(text.substr(0, 32)));
        }
    }
}

} // namespace
} // namespace dlscope
