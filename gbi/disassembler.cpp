#include "gbi/disassembler.h"

#include <algorithm>

namespace dlscope::gbi {

namespace {

// A snake ends at the first index byte with bit 7 set, counted from the
// first entry's w0[7:0] on; until then every following entry is index data.
constexpr bool holdsLastIndex(std::uint32_t word) { return (word & 0x80808080u) != 0; }

void decodeSnake(Command& c, std::span<const Words> entries, const DecodeOptions& options)
{
    decodeSingleInto(c, Ucode::F3DEX3, entries[0], options);
    bool ended = (entries[0].w0 & 0x80u) != 0 || holdsLastIndex(entries[0].w1);
    std::size_t k = 1;
    while (!ended) {
        if (k >= entries.size()) {
            c.status = Status::Truncated; // the list ends inside the snake
            break;
        }
        c.continuation.push_back(entries[k]);
        ended = holdsLastIndex(entries[k].w0) || holdsLastIndex(entries[k].w1);
        ++k;
    }
    c.length = static_cast<std::uint8_t>(std::min<std::size_t>(k, 255));
    if (k > 255) {
        c.continuation.resize(254);
        c.status = Status::Truncated;
    }
}

} // namespace

Command decodeAt(Ucode ucode, std::span<const Words> entries, const ListOptions& options)
{
    // One named result, filled in place, so that it is returned without a
    // copy (the list decoders call this once per command).
    Command c;
    const auto opcode = static_cast<std::uint8_t>(entries[0].w0 >> 24);
    if (ucode == Ucode::F3DEX3 && opcode == 0x08) {
        decodeSnake(c, entries, options.decode);
        return c;
    }
    if (options.fold && entries.size() >= 2 && mayStartIdiom(ucode, opcode)
        && foldIdiom(ucode, entries, options.decode, options.namer, c))
        return c;
    decodeSingleInto(c, ucode, entries[0], options.decode);
    if (opcode == 0xE4 || opcode == 0xE5) {
        // A texture rectangle is three entries: without its two half-commands
        // the command is cut short.
        const std::uint8_t half1 = isF3dex2Family(ucode) ? 0xE1 : 0xB4;
        const std::uint8_t half2 = isF3dex2Family(ucode) ? 0xF1 : 0xB3;
        if (entries.size() < 3 || (entries[1].w0 >> 24) != half1 || (entries[2].w0 >> 24) != half2)
            c.status = Status::Truncated;
    }
    return c;
}

std::vector<Command> decodeList(Ucode ucode, std::span<const Words> entries, const ListOptions& options)
{
    std::vector<Command> out;
    out.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size();) {
        out.push_back(decodeAt(ucode, entries.subspan(i), options));
        i += out.back().length;
    }
    return out;
}

bool encodeCommand(const Command& command, std::vector<Words>& out)
{
    if (!command.macro)
        return false;
    if (command.macro->special == Special::Idiom)
        return expandIdiom(command.ucode, *command.macro, command.args, out);
    Words w;
    if (!encodeSingle(*command.macro, command.args, w))
        return false;
    out.push_back(w);
    // A snake's continuation entries are index data, kept as they are.
    out.insert(out.end(), command.continuation.begin(), command.continuation.end());
    return true;
}

} // namespace dlscope::gbi
