#include "core/command_text.h"
#include "core/other_mode_h.h"

#include <gtest/gtest.h>

#include <string>

namespace dlscope {
namespace {

using G = OtherModeHGroup;

std::string fromHex(const char *hex) { return HexToBinary(hex).binary; }

// A 64-character word of zeros with `code` written so that its last
// character is lower-word bit `lowestBit`.
std::string withField(int lowestBit, std::string_view code)
{
    std::string word(64, '0');
    const std::size_t first = 64 - static_cast<std::size_t>(lowestBit) - code.size();
    word.replace(first, code.size(), code);
    return word;
}

std::optional<std::string_view> caption(const OtherModeHFields &fields, G group)
{
    const auto option = fields.option(group);
    if (!option)
        return std::nullopt;
    return otherModeHLayout(group).captions[static_cast<std::size_t>(*option)];
}

// --- Every value of every field ---------------------------------------------

struct ValueCase {
    G group;
    int lowestBit;
    const char *code;
    std::optional<int> option;
    const char *caption;  // null: no option
};

std::ostream &operator<<(std::ostream &out, const ValueCase &c)
{
    return out << otherModeHLayout(c.group).optionArray << '_' << c.code;
}

const ValueCase kValueCases[] = {
    {G::AlphaDither, 4, "00", 0, "Pattern"},
    {G::AlphaDither, 4, "01", 1, "NoPattern"},
    {G::AlphaDither, 4, "10", 2, "Noise"},
    {G::AlphaDither, 4, "11", 3, "Dissabled"},
    {G::ColourDither, 6, "00", 0, "MagicSq"},
    {G::ColourDither, 6, "01", 1, "Bayer"},
    {G::ColourDither, 6, "10", 2, "Noise"},
    {G::ColourDither, 6, "11", 3, "Dissabled"},
    {G::CombineKey, 8, "0", 0, "None"},
    {G::CombineKey, 8, "1", 1, "Key"},
    {G::TextureConvert, 9, "000", 0, "Convert"},
    {G::TextureConvert, 9, "001", std::nullopt, nullptr},
    {G::TextureConvert, 9, "010", std::nullopt, nullptr},
    {G::TextureConvert, 9, "011", std::nullopt, nullptr},
    {G::TextureConvert, 9, "100", std::nullopt, nullptr},
    {G::TextureConvert, 9, "101", 1, "FilterConv"},
    {G::TextureConvert, 9, "110", 2, "Filter"},
    {G::TextureConvert, 9, "111", std::nullopt, nullptr},
    {G::TextureFilter, 12, "00", 0, "Point"},
    {G::TextureFilter, 12, "01", std::nullopt, nullptr},
    {G::TextureFilter, 12, "10", 1, "Bi-Linear"},
    {G::TextureFilter, 12, "11", 2, "Average"},
    {G::TextureLut, 14, "00", 0, "None"},
    {G::TextureLut, 14, "01", std::nullopt, nullptr},
    {G::TextureLut, 14, "10", 1, "RGBa16"},
    {G::TextureLut, 14, "11", 2, "IA16"},
    {G::TextureLod, 16, "0", 0, "Tile"},
    {G::TextureLod, 16, "1", 1, "LOD"},
    {G::TextureDetail, 17, "00", 0, "Clamp"},
    {G::TextureDetail, 17, "01", 1, "Sharpen"},
    {G::TextureDetail, 17, "10", 2, "Detail"},
    {G::TextureDetail, 17, "11", std::nullopt, nullptr},
    {G::TexturePersp, 19, "0", 0, "None"},
    {G::TexturePersp, 19, "1", 1, "Corrected"},
    {G::Cycle, 20, "00", 0, "1"},
    {G::Cycle, 20, "01", 1, "2"},
    {G::Cycle, 20, "10", 2, "Copy"},
    {G::Cycle, 20, "11", 3, "Fill"},
    {G::Pipeline, 23, "0", 0, "NPrimitive (NotCoherent - Dont Wait)"},
    {G::Pipeline, 23, "1", 1, "1Primitive (Coherent - wait)"},
};

class OtherModeHValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(OtherModeHValueTest, SelectsTheListedOptionAndLeavesTheOthersAtZero)
{
    const ValueCase &c = GetParam();
    const OtherModeHFields fields = DecodeOtherModeH(withField(c.lowestBit, c.code));
    EXPECT_EQ(fields.option(c.group), c.option);
    if (c.caption) {
        EXPECT_EQ(caption(fields, c.group), c.caption);
    }
    for (std::size_t i = 0; i < kOtherModeHGroupCount; ++i) {
        if (static_cast<G>(i) != c.group) {
            EXPECT_EQ(fields.options[i], 0) << kOtherModeHLayout[i].optionArray;
        }
    }
    EXPECT_EQ(fields.highlighted, std::nullopt);  // shift 0 names no frame
}

INSTANTIATE_TEST_SUITE_P(EveryValue, OtherModeHValueTest, testing::ValuesIn(kValueCases),
                         [](const testing::TestParamInfo<ValueCase> &p) {
                             return std::string(otherModeHLayout(p.param.group).optionArray) + "_" + p.param.code;
                         });

// Bits 0-3 and 22 belong to no field.
TEST(OtherModeHTest, UnreadBitsChangeNothing)
{
    std::string word(64, '0');
    for (const int bit : {0, 1, 2, 3, 22})
        word[static_cast<std::size_t>(63 - bit)] = '1';
    EXPECT_EQ(DecodeOtherModeH(word), DecodeOtherModeH(std::string(64, '0')));
}

// --- Shift codes --------------------------------------------------------------

struct ShiftCase {
    const char *name;
    unsigned shiftByte;
    std::optional<G> frame;
};

std::ostream &operator<<(std::ostream &out, const ShiftCase &c) { return out << c.name; }

const ShiftCase kShiftCases[] = {
    {"Shift4", 4, G::AlphaDither},
    {"Shift6", 6, G::ColourDither},
    {"Shift8", 8, G::CombineKey},
    {"Shift9", 9, G::TextureConvert},
    {"Shift12", 12, G::TextureFilter},
    {"Shift14", 14, G::TextureLut},
    {"Shift16", 16, G::TextureLod},
    {"Shift17", 17, G::TextureDetail},
    {"Shift19", 19, G::TexturePersp},
    {"Shift20", 20, G::Cycle},
    {"Shift23", 23, G::Pipeline},
    {"Shift0", 0, std::nullopt},
    {"Shift5", 5, std::nullopt},
    {"Shift22", 22, std::nullopt},
    {"Shift31", 31, std::nullopt},
    // Positions 17-19 (the top three bits of the byte) are not compared.
    {"Byte0x24", 0x24, G::AlphaDither},
    {"Byte0xF4", 0xF4, G::Cycle},
    {"Byte0xE0", 0xE0, std::nullopt},
};

class OtherModeHShiftTest : public testing::TestWithParam<ShiftCase> {};

TEST_P(OtherModeHShiftTest, MarksTheFrameNamedByTheLowFiveBits)
{
    std::string word = fromHex("BA00000200000000");
    for (int i = 0; i < 8; ++i)
        word[static_cast<std::size_t>(16 + i)] = (GetParam().shiftByte >> (7 - i)) & 1U ? '1' : '0';
    const OtherModeHFields fields = DecodeOtherModeH(word);
    EXPECT_EQ(fields.highlighted, GetParam().frame);
    // The shift never changes what the fields show.
    EXPECT_EQ(fields.options, DecodeOtherModeH(std::string(64, '0')).options);
}

INSTANTIATE_TEST_SUITE_P(Codes, OtherModeHShiftTest, testing::ValuesIn(kShiftCases),
                         [](const testing::TestParamInfo<ShiftCase> &p) { return std::string(p.param.name); });

// --- Whole words ------------------------------------------------------------------

using Options = std::array<std::optional<int>, kOtherModeHGroupCount>;
constexpr std::optional<int> none = std::nullopt;

struct WordCase {
    const char *name;
    std::string word;
    Options options;
    std::optional<G> frame;
};

std::ostream &operator<<(std::ostream &out, const WordCase &c) { return out << c.name; }

const std::string kInitialText = "1011101000000000000011000000001000000000000000000010000000000000";

std::vector<WordCase> wordCases()
{
    const Options allZero{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Options allNone{};
    std::vector<WordCase> cases = {
        // Texture filter Bi-Linear, shift 12.
        {"InitialText", kInitialText, {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, G::TextureFilter},
        {"CycleFill", fromHex("BA00140200300000"), {0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0}, G::Cycle},
        {"TextureLut01", fromHex("BA00000000004000"), {0, 0, 0, 0, 0, none, 0, 0, 0, 0, 0}, std::nullopt},
        {"AllOnes", std::string(64, '1'), {3, 3, 1, none, 2, 2, 1, none, 1, 3, 1}, std::nullopt},
        {"AllZero", std::string(64, '0'), allZero, std::nullopt},
        // Short words: a field cut short matches nothing.
        {"ResetText", std::string(kOnes32), allNone, std::nullopt},
        {"FortyCharactersMarkTheirFrame", kInitialText.substr(0, 40), allNone, G::TextureFilter},
        {"ShiftFieldCutShort", std::string("0000000000000000000101"), allNone, std::nullopt},
        {"ShiftFieldComplete", std::string("000000000000000000010100"), allNone, G::Cycle},
        {"SixtyCharactersReadEveryField", std::string(60, '0'), allZero, std::nullopt},
        {"FiftyNineCharactersLoseAlphaDither", std::string(59, '0'), {none, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, std::nullopt},
        {"FortyFourCharactersKeepCycle", std::string(42, '0') + "11", {none, none, none, none, none, none, none, none, none, 3, 0}, std::nullopt},
        {"LongerWordReadsItsFirst64", kInitialText + "1111", {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, G::TextureFilter},
    };
    return cases;
}

class OtherModeHWordTest : public testing::TestWithParam<WordCase> {};

TEST_P(OtherModeHWordTest, Decodes)
{
    const OtherModeHFields fields = DecodeOtherModeH(GetParam().word);
    EXPECT_EQ(fields.options, GetParam().options);
    EXPECT_EQ(fields.highlighted, GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(Words, OtherModeHWordTest, testing::ValuesIn(wordCases()),
                         [](const testing::TestParamInfo<WordCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace dlscope
