#include "render_mode.h"

namespace dlscope {
namespace {

constexpr std::array<std::string_view, 4> kCodes = {"00", "01", "10", "11"};

const std::array<std::string_view, 4> &namesFor(std::string_view letter)
{
    if (letter == "A" || letter == "C")
        return kBlendNamesAC;
    if (letter == "D")
        return kBlendNamesD;
    return kBlendNamesB;
}

// The value of a field, most significant character first. Characters that
// are missing or not '1' count as 0.
int fieldValue(std::string_view word, BitField field)
{
    int value = 0;
    for (int i = 0; i < field.width; ++i)
        value = value * 2 + (readFlag(word, field.first + i).value_or(false) ? 1 : 0);
    return value;
}

} // namespace

std::string_view BlendInputName(std::string_view letter, std::string_view code)
{
    for (std::size_t i = 0; i < kCodes.size(); ++i)
        if (code == kCodes[i])
            return namesFor(letter)[i];
    return {};
}

RenderModeFields DecodeRenderMode(std::string_view word)
{
    RenderModeFields fields;
    for (const RenderModeFieldLayout &row : kRenderModeLayout) {
        const int value = fieldValue(word, row.bits);
        switch (row.kind) {
        case RenderModeFieldKind::BlendInput: {
            const auto input = static_cast<std::size_t>(row.input);
            fields.blend[static_cast<std::size_t>(row.cycle)][input] = {
                value, BlendInputName(kBlendLetters[input], kCodes[static_cast<std::size_t>(value)])};
            break;
        }
        case RenderModeFieldKind::Flag:
            fields.flags.set(row.flag, value != 0);
            break;
        case RenderModeFieldKind::ZMode:
            fields.zMode = value;
            break;
        case RenderModeFieldKind::Coverage:
            fields.coverage = value;
            break;
        }
    }
    return fields;
}

} // namespace dlscope
