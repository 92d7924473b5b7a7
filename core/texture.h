#pragma once

// G_TEXTURE (opcode BB): the on flag, tile, level and bowtie byte of the
// command's upper word, a 32-character text (bit n at position 32 - n).

#include "bits.h"

#include <string>
#include <string_view>

namespace dlscope {

struct TextureFields {
    bool on = false;     // cleared as well when position 32 does not exist
    std::string tile;    // "0".."7", or the characters that exist of a cut-short field
    std::string level;   // "1".."8", likewise
    std::string bowtie;  // the eight characters unchanged (fewer in a short word)

    bool operator==(const TextureFields &) const = default;
};

inline constexpr int kTextureOnPosition = 32;  // bit 0

// How a text field is shown: unchanged, or a complete three-character field
// as one decimal digit with an offset added.
enum class TextureShown { Characters, Digit };

struct TextureTextLayout {
    std::string TextureFields::*field;
    BitField bits;
    TextureShown shown;
    int offset;  // added to the field's value when it is shown as a digit
};

// In the order the window shows them.
inline constexpr TextureTextLayout kTextureTextLayout[] = {
    {&TextureFields::tile, {22, 3}, TextureShown::Digit, 0},         // bits 8-10
    {&TextureFields::level, {19, 3}, TextureShown::Digit, 1},        // bits 11-13
    {&TextureFields::bowtie, {9, 8}, TextureShown::Characters, 0},   // bits 16-23
};

// Never fails: in a short word each field holds the characters that exist at
// its positions, possibly none, and only a complete field becomes a digit.
TextureFields DecodeTexture(std::string_view word);

} // namespace dlscope
