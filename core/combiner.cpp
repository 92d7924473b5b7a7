#include "combiner.h"

namespace dlscope {
namespace {

template <typename Row, std::size_t N>
constexpr const Row *findCode(const Row (&table)[N], std::string_view code)
{
    for (const Row &row : table)
        if (row.code == code)
            return &row;
    return nullptr;
}

constexpr std::string_view nameOf(const InputName *row, std::string_view otherwise)
{
    return row ? row->name : otherwise;
}

} // namespace

std::string_view ColourInputName(std::string_view field, int width, bool isB)
{
    // The low three bits name the input; the wider codes that mean something
    // else override that name.
    std::string_view name;
    if (field.size() >= 3)
        name = nameOf(findCode(kColourNames, field.substr(field.size() - 3)), name);
    if (width == 4) {
        if (const FourBitName *row = findCode(kColourFourBitNames, field))
            name = isB ? row->nameForB : row->name;
    } else if (width == 5) {
        name = nameOf(findCode(kColourFiveBitNames, field), name);
    }
    return name;
}

std::string_view AlphaInputName(std::string_view field, bool isC)
{
    std::string_view name = nameOf(findCode(kAlphaNames, field), {});
    if (isC)
        name = nameOf(findCode(kAlphaCNames, field), name);
    return name;
}

CombinerInputs DecodeCombiner(std::string_view word)
{
    CombinerInputs inputs;
    for (const CombinerFieldLayout &row : kCombinerLayout) {
        const auto field = readField(word, row.bits);
        if (!field)
            continue;
        std::string_view name;
        switch (row.naming) {
        case InputNaming::Colour:
            name = ColourInputName(*field, row.bits.width, false);
            break;
        case InputNaming::ColourB:
            name = ColourInputName(*field, row.bits.width, true);
            break;
        case InputNaming::Alpha:
            name = AlphaInputName(*field, false);
            break;
        case InputNaming::AlphaC:
            name = AlphaInputName(*field, true);
            break;
        }
        inputs.*row.input = name;
    }
    return inputs;
}

} // namespace dlscope
