#pragma once

// G_SETCOMBINE (opcode FC): the sixteen inputs of the colour combiner's two
// cycles, (a - b) X c + d for colour and for alpha.

#include "bits.h"

#include <cstddef>
#include <string_view>

namespace dlscope {

// The input names, one per slot, named after the window's input boxes:
// a0..d0 / a1..d1 the colour inputs of cycle 1 / 2, aa0..ad0 / aa1..ad1 the
// alpha inputs. Every name points at static text.
struct CombinerInputs {
    std::string_view a0, a1, b0, b1, c0, c1, d0, d1;
    std::string_view aa0, aa1, ab0, ab1, ac0, ac1, ad0, ad1;

    bool operator==(const CombinerInputs &) const = default;
};

// How a field's code becomes a name.
enum class InputNaming {
    Colour,   // colour a, c, d
    ColourB,  // colour b: 0111 is K4 rather than Noise
    Alpha,    // alpha a, b, d
    AlphaC,   // alpha c: the LOD fractions take codes 000 and 110
};

struct CombinerFieldLayout {
    std::string_view CombinerInputs::*input;
    BitField bits;          // position in the 64-character command word
    std::string_view box;   // form name of the window's text box
    InputNaming naming;
};

// The sixteen fields, in the order the record is filled. Positions 1 to 8
// hold the opcode and belong to no field.
inline constexpr CombinerFieldLayout kCombinerLayout[] = {
    {&CombinerInputs::a0, {9, 4}, "a0", InputNaming::Colour},     // bits 55-52
    {&CombinerInputs::a1, {24, 4}, "a1", InputNaming::Colour},    // bits 40-37
    {&CombinerInputs::b0, {33, 4}, "b0", InputNaming::ColourB},   // bits 31-28
    {&CombinerInputs::b1, {37, 4}, "b1", InputNaming::ColourB},   // bits 27-24
    {&CombinerInputs::c0, {13, 5}, "c0", InputNaming::Colour},    // bits 51-47
    {&CombinerInputs::c1, {28, 5}, "c1", InputNaming::Colour},    // bits 36-32
    {&CombinerInputs::d0, {47, 3}, "d0", InputNaming::Colour},    // bits 17-15
    {&CombinerInputs::d1, {56, 3}, "d1", InputNaming::Colour},    // bits 8-6
    {&CombinerInputs::aa0, {18, 3}, "aa0", InputNaming::Alpha},   // bits 46-44
    {&CombinerInputs::aa1, {41, 3}, "aa1", InputNaming::Alpha},   // bits 23-21
    {&CombinerInputs::ab0, {50, 3}, "ab0", InputNaming::Alpha},   // bits 14-12
    {&CombinerInputs::ab1, {59, 3}, "ab1", InputNaming::Alpha},   // bits 5-3
    {&CombinerInputs::ac0, {21, 3}, "ac0", InputNaming::AlphaC},  // bits 43-41
    {&CombinerInputs::ac1, {44, 3}, "ac1", InputNaming::AlphaC},  // bits 20-18
    {&CombinerInputs::ad0, {53, 3}, "ad0", InputNaming::Alpha},   // bits 11-9
    {&CombinerInputs::ad1, {62, 3}, "ad1", InputNaming::Alpha},   // bits 2-0
};

// Every position after the opcode belongs to exactly one field.
static_assert([] {
    int owners[65] = {};
    for (const auto &row : kCombinerLayout)
        for (int p = row.bits.first; p < row.bits.first + row.bits.width; ++p)
            ++owners[p];
    for (int p = 1; p <= 64; ++p)
        if (owners[p] != (p <= 8 ? 0 : 1))
            return false;
    return true;
}(), "combiner fields must tile positions 9 to 64");

struct InputName {
    std::string_view code;
    std::string_view name;
};

// Colour inputs by the last three characters of the field.
inline constexpr InputName kColourNames[] = {
    {"000", "Combined"}, {"001", "Texel0"},      {"010", "Texel1"}, {"011", "Primitive"},
    {"100", "SHADE"},    {"101", "Environment"}, {"110", "1.0"},    {"111", "0.0"},
};

// Four-bit colour codes (a and b) with a name of their own.
struct FourBitName {
    std::string_view code;
    std::string_view name;
    std::string_view nameForB;
};
inline constexpr FourBitName kColourFourBitNames[] = {
    {"0110", "Center", "Center"},
    {"0111", "Noise", "K4"},
};

// Five-bit colour codes (c) with a name of their own; the others keep the
// name of their last three characters.
inline constexpr InputName kColourFiveBitNames[] = {
    {"00110", "Scale"},           {"00111", "Combined_Alpha"},     {"01000", "Texel0_Alpha"},
    {"01001", "Texel1_Alpha"},    {"01010", "Primitive_Alpha"},    {"01011", "SHADE_Alpha"},
    {"01100", "ENVIRONMENT_Alpha"}, {"01101", "LOD_FRACTION"},     {"01110", "PRIMITIVE_LOD_FRAC"},
    {"01111", "K5"},              {"11111", "0"},
};

inline constexpr InputName kAlphaNames[] = {
    {"000", "Combined"}, {"001", "Texel0"},      {"010", "Texel1"}, {"011", "Primitive"},
    {"100", "SHADE"},    {"101", "ENVIRONMENT"}, {"110", "1.0"},    {"111", "0.0"},
};

// Alpha c replaces these two.
inline constexpr InputName kAlphaCNames[] = {
    {"000", "LOD_Fraction"},
    {"110", "Prim_LOD_FRAC"},
};

// The name of a colour input field of the given width (3, 4 or 5). A field
// that is not made of the listed codes (not '0'/'1', or too short) is
// named "".
std::string_view ColourInputName(std::string_view field, int width, bool isB);

// The name of a 3-character alpha input field; "" for a code not listed.
std::string_view AlphaInputName(std::string_view field, bool isC);

// Cuts the sixteen fields out of a 64-character command word and names
// them. The opcode is not examined. A field lying beyond the end of a short
// word is not read and gets the empty name.
CombinerInputs DecodeCombiner(std::string_view word);

} // namespace dlscope
