// Every decoder on arbitrary bytes of any length: never a crash or an
// out-of-bounds read, and on a complete word every field is read.

#include "core/geometry_mode.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace dlscope;
    const std::string_view text(reinterpret_cast<const char *>(data), size);

    const GeometryModeFlags flags = DecodeGeometryMode(text);
    for (const GeometryModeFlagLayout &row : kGeometryModeLayout) {
        const bool expected = text.size() >= static_cast<std::size_t>(row.position) &&
                              text[static_cast<std::size_t>(row.position - 1)] == '1';
        FUZZ_CHECK(flags.*row.flag == expected);
    }
    return 0;
}
