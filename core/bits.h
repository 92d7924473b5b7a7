#pragma once

// Reading fields out of a command word held as text.
//
// A command word is a string of '0'/'1' characters, most significant bit
// first. Fields are addressed by 1-based character position from the left:
// bit n of a 64-bit command sits at position 64 - n, bit n of a 32-bit word
// at position 32 - n. Every read here is bounds-checked: a field that runs
// past the end of a short word is reported as missing, never read.

#include <optional>
#include <string_view>

namespace dlscope {

struct BitField {
    int first;  // 1-based position of the most significant character
    int width;  // number of characters
};

// The characters of the field, unchanged, or nothing if any of its positions
// lies beyond the end of the word.
constexpr std::optional<std::string_view> readField(std::string_view word, BitField field)
{
    if (field.first < 1 || field.width < 1)
        return std::nullopt;
    const auto start = static_cast<std::size_t>(field.first - 1);
    const auto width = static_cast<std::size_t>(field.width);
    if (start + width > word.size())
        return std::nullopt;
    return word.substr(start, width);
}

// A one-character flag: true for '1', false for any other character, nothing
// if the position does not exist.
constexpr std::optional<bool> readFlag(std::string_view word, int position)
{
    const auto digit = readField(word, {position, 1});
    if (!digit)
        return std::nullopt;
    return (*digit)[0] == '1';
}

// Position of bit n of a word that is `wordBits` wide.
constexpr int positionOfBit(int wordBits, int bit) { return wordBits - bit; }

} // namespace dlscope
