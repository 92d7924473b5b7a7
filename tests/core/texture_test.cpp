#include "core/command_text.h"
#include "core/texture.h"

#include <gtest/gtest.h>

#include <string>

namespace dlscope {
namespace {

// A 32-character word of zeros with the three characters of one field set.
std::string withField(int first, std::string_view code)
{
    std::string word(32, '0');
    word.replace(static_cast<std::size_t>(first - 1), code.size(), code);
    return word;
}

// --- Every value of tile and level --------------------------------------------

struct NumberCase {
    const char *code;
    const char *tile;
    const char *level;
};

std::ostream &operator<<(std::ostream &out, const NumberCase &c) { return out << c.code; }

const NumberCase kNumberCases[] = {
    {"000", "0", "1"}, {"001", "1", "2"}, {"010", "2", "3"}, {"011", "3", "4"},
    {"100", "4", "5"}, {"101", "5", "6"}, {"110", "6", "7"}, {"111", "7", "8"},
};

class TextureNumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(TextureNumberTest, TileIsTheValue)
{
    const TextureFields fields = DecodeTexture(withField(22, GetParam().code));
    EXPECT_EQ(fields.tile, GetParam().tile);
    EXPECT_EQ(fields.level, "1");
    EXPECT_EQ(fields.bowtie, "00000000");
    EXPECT_FALSE(fields.on);
}

TEST_P(TextureNumberTest, LevelIsTheValuePlusOne)
{
    const TextureFields fields = DecodeTexture(withField(19, GetParam().code));
    EXPECT_EQ(fields.level, GetParam().level);
    EXPECT_EQ(fields.tile, "0");
}

INSTANTIATE_TEST_SUITE_P(EveryValue, TextureNumberTest, testing::ValuesIn(kNumberCases),
                         [](const testing::TestParamInfo<NumberCase> &p) { return std::string("Bits") + p.param.code; });

// --- Whole and short words ----------------------------------------------------------

struct WordCase {
    const char *name;
    std::string word;
    TextureFields expected;
};

std::ostream &operator<<(std::ostream &out, const WordCase &c) { return out << c.name; }

const std::string kInitialText = "10111011000000000010100000000001";

std::vector<WordCase> wordCases()
{
    return {
        {"InitialText", kInitialText, {true, "0", "6", "00000000"}},
        {"InitialTextAsHex", HexToBinary("BB002801").binary.substr(32), {true, "0", "6", "00000000"}},
        {"ResetText", std::string(kOnes32), {true, "7", "8", "11111111"}},
        {"OnlyBitZeroIsOn", "000000000000000000000000" "11111110", {false, "0", "1", "00000000"}},
        {"OpcodeIgnored", "00000000" "10100101" "00" "011" "110" "00000001", {true, "6", "4", "10100101"}},
        // Bits 1-7 and positions 17-18 belong to no field.
        {"UnreadBits", "00000000" "00000000" "11" "000" "000" "1111111" "0", {false, "0", "1", "00000000"}},
        // Short words: the characters that exist, unchanged; no digit.
        {"Empty", "", {false, "", "", ""}},
        {"EightCharacters", "10111011", {false, "", "", ""}},
        {"TwelveCharacters", "101110110110", {false, "", "", "0110"}},
        {"TwentyCharacters", "10111011000000001110", {false, "", "10", "00000000"}},
        {"TwentyThreeCharacters", "10111011000000001110110", {false, "10", "6", "00000000"}},
        {"ThirtyOneCharacters", "1011101100000000001010000000000", {false, "0", "6", "00000000"}},
        {"LongerWordReadsItsPosition32", kInitialText + "0", {true, "0", "6", "00000000"}},
    };
}

class TextureWordTest : public testing::TestWithParam<WordCase> {};

TEST_P(TextureWordTest, Decodes) { EXPECT_EQ(DecodeTexture(GetParam().word), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Words, TextureWordTest, testing::ValuesIn(wordCases()),
                         [](const testing::TestParamInfo<WordCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace dlscope
