#include "gbi/disassembler.h"

namespace dlscope::gbi {

Command decodeAt(Ucode ucode, std::span<const Words> entries, const ListOptions& options)
{
    if (options.fold && entries.size() >= 2 && mayStartIdiom(ucode, static_cast<std::uint8_t>(entries[0].w0 >> 24))) {
        Command folded;
        if (foldIdiom(ucode, entries, options.decode, options.namer, folded))
            return folded;
    }
    return decodeSingle(ucode, entries[0], options.decode);
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
    return true;
}

} // namespace dlscope::gbi
