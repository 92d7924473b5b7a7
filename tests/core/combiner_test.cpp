#include "core/combiner.h"
#include "core/command_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dlscope {

// Readable failures: the sixteen names in the record's order.
void PrintTo(const CombinerInputs &in, std::ostream *out)
{
    for (const std::string_view name : {in.a0, in.a1, in.b0, in.b1, in.c0, in.c1, in.d0, in.d1, in.aa0, in.aa1,
                                        in.ab0, in.ab1, in.ac0, in.ac1, in.ad0, in.ad1})
        *out << '"' << name << "\" ";
}

namespace {

// The input slots and where each sits in the command word, kept here
// independently of the decoder's own table.
struct Slot {
    const char *box;
    std::string_view CombinerInputs::*input;
    int first;
    int width;
};

constexpr Slot kColourA[] = {{"a0", &CombinerInputs::a0, 9, 4}, {"a1", &CombinerInputs::a1, 24, 4}};
constexpr Slot kColourB[] = {{"b0", &CombinerInputs::b0, 33, 4}, {"b1", &CombinerInputs::b1, 37, 4}};
constexpr Slot kColourC[] = {{"c0", &CombinerInputs::c0, 13, 5}, {"c1", &CombinerInputs::c1, 28, 5}};
constexpr Slot kColourD[] = {{"d0", &CombinerInputs::d0, 47, 3}, {"d1", &CombinerInputs::d1, 56, 3}};
constexpr Slot kAlphaABD[] = {{"aa0", &CombinerInputs::aa0, 18, 3}, {"aa1", &CombinerInputs::aa1, 41, 3},
                              {"ab0", &CombinerInputs::ab0, 50, 3}, {"ab1", &CombinerInputs::ab1, 59, 3},
                              {"ad0", &CombinerInputs::ad0, 53, 3}, {"ad1", &CombinerInputs::ad1, 62, 3}};
constexpr Slot kAlphaC[] = {{"ac0", &CombinerInputs::ac0, 21, 3}, {"ac1", &CombinerInputs::ac1, 44, 3}};

// The names by code value, one list per kind of input.
const std::vector<std::string> kColourANames = {
    "Combined", "Texel0", "Texel1", "Primitive", "SHADE", "Environment", "Center", "Noise",
    "Combined", "Texel0", "Texel1", "Primitive", "SHADE", "Environment", "1.0",    "0.0"};
const std::vector<std::string> kColourBNames = {
    "Combined", "Texel0", "Texel1", "Primitive", "SHADE", "Environment", "Center", "K4",
    "Combined", "Texel0", "Texel1", "Primitive", "SHADE", "Environment", "1.0",    "0.0"};
const std::vector<std::string> kColourCNames = {
    "Combined",        "Texel0",      "Texel1",            "Primitive",    "SHADE",
    "Environment",     "Scale",       "Combined_Alpha",    "Texel0_Alpha", "Texel1_Alpha",
    "Primitive_Alpha", "SHADE_Alpha", "ENVIRONMENT_Alpha", "LOD_FRACTION", "PRIMITIVE_LOD_FRAC",
    "K5",              "Combined",    "Texel0",            "Texel1",       "Primitive",
    "SHADE",           "Environment", "1.0",               "0.0",          "Combined",
    "Texel0",          "Texel1",      "Primitive",         "SHADE",        "Environment",
    "1.0",             "0"};
const std::vector<std::string> kColourDNames = {"Combined", "Texel0",      "Texel1", "Primitive",
                                                "SHADE",    "Environment", "1.0",    "0.0"};
const std::vector<std::string> kAlphaABDNames = {"Combined", "Texel0",      "Texel1", "Primitive",
                                                 "SHADE",    "ENVIRONMENT", "1.0",    "0.0"};
const std::vector<std::string> kAlphaCNames = {"LOD_Fraction", "Texel0",        "Texel1", "Primitive",
                                               "SHADE",        "ENVIRONMENT",   "Prim_LOD_FRAC", "0.0"};

enum class Kind { ColourA, ColourB, ColourC, ColourD, AlphaABD, AlphaC };

struct CodeCase {
    Kind kind;
    Slot slot;
    std::string code;
    std::string name;
};

std::ostream &operator<<(std::ostream &out, const CodeCase &c) { return out << c.slot.box << '_' << c.code; }

std::string binary(int value, int width)
{
    std::string text(static_cast<std::size_t>(width), '0');
    for (int i = 0; i < width; ++i)
        if (value & (1 << (width - 1 - i)))
            text[static_cast<std::size_t>(i)] = '1';
    return text;
}

std::vector<CodeCase> codeCases()
{
    std::vector<CodeCase> cases;
    const auto add = [&](Kind kind, const auto &slots, const std::vector<std::string> &names) {
        for (const Slot &slot : slots) {
            EXPECT_EQ(names.size(), std::size_t{1} << slot.width);
            for (std::size_t code = 0; code < names.size(); ++code)
                cases.push_back({kind, slot, binary(static_cast<int>(code), slot.width), names[code]});
        }
    };
    add(Kind::ColourA, kColourA, kColourANames);
    add(Kind::ColourB, kColourB, kColourBNames);
    add(Kind::ColourC, kColourC, kColourCNames);
    add(Kind::ColourD, kColourD, kColourDNames);
    add(Kind::AlphaABD, kAlphaABD, kAlphaABDNames);
    add(Kind::AlphaC, kAlphaC, kAlphaCNames);
    return cases;
}

// The decode of 64 ones: what every slot holds when only one field differs.
const CombinerInputs kAllOnes = {"0.0", "0.0", "0.0", "0.0", "0", "0", "0.0", "0.0",
                                 "0.0", "0.0", "0.0", "0.0", "0.0", "0.0", "0.0", "0.0"};

class CombinerCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(CombinerCodeTest, NamingOperationGivesTheName)
{
    const CodeCase &c = GetParam();
    std::string_view name;
    switch (c.kind) {
    case Kind::ColourA:
    case Kind::ColourC:
    case Kind::ColourD:
        name = ColourInputName(c.code, c.slot.width, false);
        break;
    case Kind::ColourB:
        name = ColourInputName(c.code, c.slot.width, true);
        break;
    case Kind::AlphaABD:
        name = AlphaInputName(c.code, false);
        break;
    case Kind::AlphaC:
        name = AlphaInputName(c.code, true);
        break;
    }
    EXPECT_EQ(name, c.name);
}

// The code written into its slot's positions of a word of ones changes that
// slot's name and no other.
TEST_P(CombinerCodeTest, DecodeNamesTheSlotAtItsPositions)
{
    const CodeCase &c = GetParam();
    std::string word(kOnes64);
    word.replace(static_cast<std::size_t>(c.slot.first - 1), c.code.size(), c.code);
    CombinerInputs expected = kAllOnes;
    expected.*c.slot.input = c.name;
    EXPECT_EQ(DecodeCombiner(word), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryCode, CombinerCodeTest, testing::ValuesIn(codeCases()),
                         [](const testing::TestParamInfo<CodeCase> &p) {
                             return std::string(p.param.slot.box) + "_" + p.param.code;
                         });

struct WordCase {
    const char *name;
    std::string word;
    CombinerInputs expected;
};

std::ostream &operator<<(std::ostream &out, const WordCase &c) { return out << c.name; }

const std::string kDefaultCommand = "1111110000100110101000000000010000011111111111001001001111111100";

// a0 a1 b0 b1 c0 c1 d0 d1 aa0 aa1 ab0 ab1 ac0 ac1 ad0 ad1
const CombinerInputs kDefaultDecode = {
    "Texel1", "Combined", "Texel0", "0.0",          "LOD_FRACTION", "SHADE", "Texel0", "0.0",
    "Texel1", "0.0",      "Texel0", "0.0",          "LOD_Fraction", "0.0",   "Texel0", "SHADE"};

std::string withOpcode(std::string word, const char *opcode)
{
    word.replace(0, 8, opcode);
    return word;
}

std::vector<WordCase> wordCases()
{
    CombinerInputs shortWord = kAllOnes;
    shortWord.ad1 = {};  // positions 62-64: only 62 and 63 exist
    CombinerInputs notBinary = kAllOnes;
    notBinary.aa1 = {};  // no name for a code that is not binary
    std::string withBadDigit(kOnes64);
    withBadDigit[41] = '2';
    return {
        {"Default", kDefaultCommand, kDefaultDecode},
        {"DefaultFromHex", HexToBinary("FC26A0041FFC93FC").binary, kDefaultDecode},
        {"Reset", std::string(kOnes64), kAllOnes},
        {"OpcodeZeros", withOpcode(kDefaultCommand, "00000000"), kDefaultDecode},
        {"OpcodeOnes", withOpcode(kDefaultCommand, "11111111"), kDefaultDecode},
        {"OpcodeNotBinary", withOpcode(kDefaultCommand, "xyzxyzxy"), kDefaultDecode},
        {"ShortWord", std::string(63, '1'), shortWord},
        {"Empty", "", {}},
        {"NotBinaryDigit", withBadDigit, notBinary},
    };
}

class DecodeCombinerTest : public testing::TestWithParam<WordCase> {};

TEST_P(DecodeCombinerTest, Decodes) { EXPECT_EQ(DecodeCombiner(GetParam().word), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Words, DecodeCombinerTest, testing::ValuesIn(wordCases()),
                         [](const testing::TestParamInfo<WordCase> &p) { return p.param.name; });

} // namespace
} // namespace dlscope
