#include "geometry_mode.h"

#include "bits.h"

namespace dlscope {

GeometryModeFlags DecodeGeometryMode(std::string_view word)
{
    GeometryModeFlags flags;
    for (const auto &row : kGeometryModeLayout)
        flags.*row.flag = readFlag(word, row.position).value_or(false);
    return flags;
}

} // namespace dlscope
