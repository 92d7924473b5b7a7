// Arbitrary words under every microcode: decoding never fails, the printed
// text is never empty, and every decoded command (single or folded) encodes
// back to exactly the entries it came from.

#include "gbi/disassembler.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

using namespace dlscope::gbi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const Ucode ucode = kAllUcodes[data[0] % kAllUcodes.size()];
    const bool fold = data[0] & 0x80;
    const Names names = (data[0] & 0x40) ? Names::Sm64 : Names::Libultra;
    ++data;
    --size;
    std::vector<Words> words;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const auto word = [&](std::size_t at) {
            return static_cast<std::uint32_t>(data[at]) << 24 | static_cast<std::uint32_t>(data[at + 1]) << 16
                | static_cast<std::uint32_t>(data[at + 2]) << 8 | data[at + 3];
        };
        words.push_back({word(i), word(i + 4)});
    }
    ListOptions options;
    options.fold = fold;
    options.decode.names = names;
    PrintOptions print;
    print.names = names;
    std::vector<Words> again;
    for (std::size_t i = 0; i < words.size();) {
        const Command c = decodeAt(ucode, std::span<const Words>(words).subspan(i), options);
        if (c.length == 0 || i + c.length > words.size())
            std::abort();
        again.clear();
        if (!encodeCommand(c, again) || again.size() != c.length)
            std::abort();
        for (std::size_t k = 0; k < c.length; ++k)
            if (!(again[k] == words[i + k]))
                std::abort();
        if (commandText(c, print).empty())
            std::abort();
        print.dynamic = !print.dynamic;
        i += c.length;
    }
    return 0;
}
