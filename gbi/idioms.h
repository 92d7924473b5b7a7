#pragma once

// Multi-command macros: texture and palette loads, texture rectangles with
// their half-commands, light and matrix loads, branch and microcode loads.
// A run of entries folds into one such macro only when the macro, expanded
// as the header defines it, gives back exactly the same words.

#include "gbi/command.h"
#include "gbi/printer.h"

#include <span>
#include <vector>

namespace dlscope::gbi {

// Every multi-command macro row (Special::Idiom), for listing and parsing.
std::span<const MacroSpec> idiomMacros();

// The most entries any multi-command macro covers.
inline constexpr std::size_t kMaxIdiomLength = 9;

// Tries to fold the entries at the start of `entries` (the rest of the list,
// or at least kMaxIdiomLength entries of it) into one multi-command macro.
// `namer` lets the light loads, which take a structure's name, fold only
// where the address has one.
bool foldIdiom(Ucode ucode, std::span<const Words> entries, const DecodeOptions& options,
               const AddressNamer* namer, Command& out);

// Expands a multi-command macro with the given arguments into its entries.
bool expandIdiom(Ucode ucode, const MacroSpec& macro, std::span<const std::int64_t> args, std::vector<Words>& out);

void printIdiom(const Command& command, const PrintOptions& options, TextSink& out);

} // namespace dlscope::gbi
