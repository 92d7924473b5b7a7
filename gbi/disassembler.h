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

// Decodes the command that starts at entries[0]; `entries` is the rest of the
// list (at least kMaxIdiomLength entries of it when there are that many).
Command decodeAt(Ucode ucode, std::span<const Words> entries, const ListOptions& options);

// Decodes a whole list.
std::vector<Command> decodeList(Ucode ucode, std::span<const Words> entries, const ListOptions& options);

// The entries a decoded command stands for, encoded again from its
// arguments (the property every printed command must keep).
bool encodeCommand(const Command& command, std::vector<Words>& out);

} // namespace dlscope::gbi
