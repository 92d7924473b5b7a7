#include "texture.h"

#include <algorithm>

namespace dlscope {
namespace {

// The characters of the field that exist in the word (all, some or none).
std::string_view existingCharacters(std::string_view word, BitField field)
{
    const auto start = static_cast<std::size_t>(field.first - 1);
    if (start >= word.size())
        return {};
    return word.substr(start, std::min(static_cast<std::size_t>(field.width), word.size() - start));
}

// A complete field of '0'/'1' characters as its decimal digit plus offset;
// anything else stays as read.
std::string shownText(std::string_view characters, const TextureTextLayout &row)
{
    if (row.shown != TextureShown::Digit || characters.size() != static_cast<std::size_t>(row.bits.width))
        return std::string(characters);
    int value = 0;
    for (const char c : characters) {
        if (c != '0' && c != '1')
            return std::string(characters);
        value = value * 2 + (c - '0');
    }
    return std::to_string(value + row.offset);
}

} // namespace

TextureFields DecodeTexture(std::string_view word)
{
    TextureFields fields;
    fields.on = readFlag(word, kTextureOnPosition).value_or(false);
    for (const TextureTextLayout &row : kTextureTextLayout)
        fields.*row.field = shownText(existingCharacters(word, row.bits), row);
    return fields;
}

} // namespace dlscope
