// HexToBinary on arbitrary bytes: only '0'/'1' out, at least 64 characters,
// four per hex digit consumed, and the stop at the first bad character.

#include "core/command_text.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const dlscope::HexConversion result = dlscope::HexToBinary(text);

    std::size_t digits = 0;
    bool bad = false;
    for (const char c : text) {
        if (c == ' ')
            continue;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) {
            ++digits;
            continue;
        }
        bad = true;
        break;
    }
    FUZZ_CHECK(result.badCharacter == bad);
    FUZZ_CHECK(result.binary.size() == (digits * 4 < 64 ? 64 : digits * 4));
    for (const char c : result.binary)
        FUZZ_CHECK(c == '0' || c == '1');
    // The last four characters are the last digit consumed.
    if (digits > 0) {
        char last = 0;
        for (const char c : text) {
            if (c == ' ')
                continue;
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
                break;
            last = c;
        }
        const int value = last <= '9' ? last - '0' : last - 'A' + 10;
        const std::string_view tail = std::string_view(result.binary).substr(result.binary.size() - 4);
        for (int bit = 0; bit < 4; ++bit)
            FUZZ_CHECK(tail[static_cast<std::size_t>(bit)] == (((value >> (3 - bit)) & 1) ? '1' : '0'));
    }
    return 0;
}
