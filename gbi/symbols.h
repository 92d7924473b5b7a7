#pragma once

// Names for addresses, and the RSP segment table.
//
// SymbolTable reads symbol lists in the forms decompilation projects and
// toolchains produce, one symbol a line:
//   ADDRESS NAME                  a plain map (address in hex, 0x optional)
//   ADDRESS TYPE NAME             nm output (TYPE one character)
//   ADDRESS SIZE TYPE NAME        nm -S output (SIZE in hex)
//   NAME = ADDRESS; // size:0x40  linker-script assignments (size optional)
// Names may hold spaces in the nm forms (demangled names). Blank lines,
// lines starting with '#' or "//", and nm's undefined symbols (no address)
// are skipped. Addresses wider than 32 bits keep their low 32 bits when the
// high half is 0 or a sign extension (FFFFFFFF); otherwise the line is
// reported.
//
// The table is sorted once, on the first lookup after a change, so loading
// 100k symbols and looking them up costs O(n log n) in all. It is not safe
// to look up from several threads while the table is unsorted.

#include "gbi/reader.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dlscope::gbi {

struct SymbolMatch {
    std::string_view name;
    std::uint32_t delta = 0;  // address - symbol address: 0 for an exact match
};

class SymbolTable {
public:
    // Adds the symbols of a listing; returns a message per bad line (line
    // numbers counted from 1 in this text). The good lines are all added.
    std::vector<ReadMessage> load(std::string_view text);
    // size 0: unknown, the symbol only matches its own address.
    void add(std::uint32_t address, std::string_view name, std::uint32_t size = 0);

    // The symbol at the address, or the innermost symbol with a size that
    // holds it ("NAME + 0x10"), or nothing. Among several symbols at one
    // address the first added wins.
    std::optional<SymbolMatch> lookup(std::uint32_t address) const;
    std::optional<std::uint32_t> find(std::string_view name) const;
    std::size_t size() const { return symbols_.size(); }

private:
    struct Symbol {
        std::uint32_t address;
        std::uint32_t size;
        std::uint32_t order;   // insertion order, for stable ties
        std::int32_t parent;   // the nearest earlier sized symbol holding this one's address, or -1
        std::string name;
    };
    void build() const;

    mutable std::vector<Symbol> symbols_;
    mutable std::vector<std::uint32_t> byName_;  // indices into symbols_, sorted by name
    mutable std::vector<std::int32_t> sizedBefore_;  // per symbol: the last sized symbol at or before it, or -1
    mutable bool built_ = true;
};

// "NAME + 0x10", or just NAME for an exact match.
std::string formatSymbol(const SymbolMatch &match);

// The 16 segment bases of the RSP. A segmented address has a top byte below
// 0x10; its segment number is bits 27..24 and the rest is the offset into the
// segment. Addresses with a top byte of 0x80 or more are virtual or physical
// addresses, not segmented.
class SegmentTable {
public:
    static constexpr unsigned kCount = 16;

    void set(unsigned segment, std::uint32_t base);  // segments above 15 are ignored
    void clear(unsigned segment);
    std::optional<std::uint32_t> base(unsigned segment) const;

    // "N=ADDR": N decimal (0-15), or hex with 0x (0x0-0xF), or a single hex
    // letter (a-f); ADDR hex with or without 0x. Sets the segment and returns
    // nothing, or returns why the text was refused.
    std::optional<std::string> assign(std::string_view text);

    static bool isSegmented(std::uint32_t address) { return (address >> 24) < 0x10; }
    static unsigned segmentOf(std::uint32_t address) { return (address >> 24) & 0x0F; }

    // The address a segmented address stands for, when its segment is set.
    std::optional<std::uint32_t> resolve(std::uint32_t address) const;

private:
    std::array<std::optional<std::uint32_t>, kCount> bases_{};
};

} // namespace dlscope::gbi
