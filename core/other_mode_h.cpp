#include "other_mode_h.h"

namespace dlscope {

OtherModeHFields DecodeOtherModeH(std::string_view word)
{
    OtherModeHFields fields;
    for (const OtherModeHGroupLayout &row : kOtherModeHLayout) {
        const auto value = readField(word, row.field);
        if (!value)
            continue;
        for (const OtherModeHValue &listed : row.values)
            if (!listed.code.empty() && listed.code == *value) {
                fields.options[static_cast<std::size_t>(row.group)] = listed.option;
                break;
            }
    }

    // Only the low five bits of the shift byte are compared; a shift that
    // names no field leaves every frame unmarked.
    if (const auto shift = readField(word, kOtherModeHShiftField))
        for (const OtherModeHGroupLayout &row : kOtherModeHLayout)
            if (row.shiftCode == *shift) {
                fields.highlighted = row.group;
                break;
            }
    return fields;
}

} // namespace dlscope
