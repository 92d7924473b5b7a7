#pragma once

// Decoding whole display lists: each command alone, or folded with the
// entries after it into one multi-command macro.

#include "gbi/command.h"
#include "gbi/idioms.h"
#include "gbi/printer.h"

#include <span>
#include <vector>

namespace dlscope::gbi {

struct ListOptions {
    DecodeOptions decode;
    bool fold = true;
    const AddressNamer* namer = nullptr;
};

// Entries a caller streaming a list should keep ahead of the command it
// decodes: enough for every multi-command macro and for triangle snakes of
// any sensible length (a longer snake is reported as cut short).
inline constexpr std::size_t kMaxLookahead = 1024;

// Decodes the command that starts at entries[0]; `entries` is the rest of the
// list (at least kMaxLookahead entries of it when there are that many).
Command decodeAt(Ucode ucode, std::span<const Words> entries, const ListOptions& options);

// Decodes a whole list.
std::vector<Command> decodeList(Ucode ucode, std::span<const Words> entries, const ListOptions& options);

// The entries a decoded command stands for, encoded again from its
// arguments (the property every printed command must keep).
bool encodeCommand(const Command& command, std::vector<Words>& out);

} // namespace dlscope::gbi
