#pragma once

// A display list open for inspection and editing: its entries (two words
// each) with where they came from and whether they were edited, the
// microcode it is decoded with, and the rows it is shown in.
//
// Memory stays small per entry: the words (8 bytes), one flag byte, and an
// address or a symbol index only once some entry has one. Rows are found in
// one pass that only tries to fold multi-command macros at the opcodes that
// may start one; nothing is decoded or printed until a row is asked for.
// With folding on, each row costs one more 32-bit start index.

#include "gbi/command.h"
#include "gbi/printer.h"
#include "gbi/symbols.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dlscope::gbi {

// One entry with its side data: what a splice inserts and what undo keeps.
struct Entry {
    Words words;
    bool edited = false;
    std::optional<std::uint32_t> address; // from the input's address column
    std::string symbol;                   // the name the input wrote w1 as, or empty
    friend bool operator==(const Entry&, const Entry&) = default;
};

// A run of entries in the document's own compact layout, for splices of
// whole lists and for undo: 9 bytes an entry, more only for entries with an
// address or a symbol.
struct EntryRun {
    std::vector<Words> words;
    std::vector<bool> edited;                                      // empty: none edited
    std::vector<std::optional<std::uint32_t>> addresses;           // empty: none has one
    std::vector<std::pair<std::uint32_t, std::string>> symbols;    // (index in the run, name)

    std::size_t size() const { return words.size(); }
    Entry at(std::size_t i) const;
    void push_back(const Entry& e);
    // Every entry of the run marked as edited.
    void markEdited();
};

// How a list decodes under one microcode. Invalid commands and list ends are
// counted over the whole list; commands only a generic builder holds are
// counted over the first `sampled` entries.
struct UcodeScore {
    Ucode ucode = Ucode::F3DEX2;
    std::size_t invalid = 0;
    std::size_t raw = 0;
    std::size_t ends = 0;
    std::size_t total = 0;
};

// Every microcode's score, best first: fewest invalid, then fewest raw,
// then most list ends, then the newest microcode.
std::vector<UcodeScore> scoreUcodes(std::span<const Words> entries, Names names, std::size_t rawSample = 1u << 16);

// One line about the microcode in use, for above the table:
// "31 of 40 commands are invalid as f3d; f3dex2 decodes all 40".
std::string ucodeHint(std::span<const UcodeScore> best, Ucode used, bool automatic);

// Formats for copying rows and saving lists.
enum class CopyFormat : std::uint8_t {
    Static,  // gsDPPipeSync(),
    Dynamic, // gDPPipeSync(gDisplayListHead++);
    Hex,     // E7000000 00000000
    CWords,  // {{0xE7000000, 0x00000000}},
    Source,  // gsDPPipeSync(), /* E7000000 00000000 */ inside a Gfx array: reads back exactly
};

// Names addresses by the symbols the user gave; an address in a segment
// with a base is also looked up at the address it stands for.
class ListNamer final : public AddressNamer {
public:
    bool name(std::uint32_t address, std::string& out) const override;
    bool empty() const;

    SymbolTable symbols;
    SegmentTable segments;
};

class ListDocument {
public:
    struct Options {
        std::optional<Ucode> ucode; // none: chosen from the words
        Names names = Names::Libultra;
        bool fold = true;
        friend bool operator==(const Options&, const Options&) = default;
    };

    ListDocument();

    // --- Entries -------------------------------------------------------------
    std::size_t size() const { return words_.size(); }
    std::span<const Words> words() const { return words_; }
    bool edited(std::size_t entry) const { return flags_[entry] & kEdited; }
    std::optional<std::uint32_t> address(std::size_t entry) const;
    std::string_view symbol(std::size_t entry) const;
    bool hasAddresses() const { return !addresses_.empty(); }
    // Byte offset of an entry: the binary read offset plus 8 per entry.
    std::uint64_t offset(std::size_t entry) const { return baseOffset_ + 8 * entry; }
    void setBaseOffset(std::uint64_t offset) { baseOffset_ = offset; }
    std::uint64_t baseOffset() const { return baseOffset_; }

    Entry entry(std::size_t index) const;
    std::vector<Entry> entries(std::size_t first, std::size_t count) const;
    EntryRun run(std::size_t first, std::size_t count) const;

    // Replaces `count` entries from `first` with `with`, then updates the
    // microcode choice and the rows (only those the change can reach).
    void splice(std::size_t first, std::size_t count, const EntryRun& with);
    void splice(std::size_t first, std::size_t count, std::span<const Entry> with);

    // --- Decoding options and the microcode ----------------------------------
    const Options& options() const { return options_; }
    void setOptions(const Options& options);
    Ucode ucode() const { return ucode_; }
    const std::vector<UcodeScore>& scores() const { return scores_; }
    std::string hint() const;

    // Symbols and segments that name addresses. Folding the light loads
    // depends on names, so setting them finds the rows again.
    const ListNamer& namer() const { return namer_; }
    void setNamer(ListNamer namer);

    // --- Rows ------------------------------------------------------------------
    std::size_t rowCount() const { return folding() ? rowStarts_.size() : words_.size(); }
    std::size_t rowStart(std::size_t row) const { return folding() ? rowStarts_[row] : row; }
    std::size_t rowLength(std::size_t row) const;
    std::size_t rowOf(std::size_t entry) const;
    bool rowEdited(std::size_t row) const;

    // A multi-command macro shown as its single commands, by first entry.
    bool unfolded(std::size_t entry) const;
    void setUnfolded(std::size_t entry, bool on);

    Command decodeRow(std::size_t row) const;
    std::string rowText(std::size_t row, const PrintOptions& print) const;
    std::string rowText(const Command& command, std::size_t row, const PrintOptions& print) const;

    // The rows (in the given order) in a copy format.
    std::string format(std::span<const std::size_t> rows, CopyFormat format, const PrintOptions& print) const;
    // The whole list, each entry 8 bytes big-endian.
    std::string binary() const;

    // Bytes held beyond the words themselves.
    std::size_t sideBytes() const;

private:
    static constexpr std::uint8_t kEdited = 1;
    static constexpr std::uint8_t kHasAddress = 2;

    bool folding() const { return options_.fold; }
    void rescore();
    void findRows();
    void refindRows(std::size_t first, std::size_t oldCount, std::size_t newCount);
    std::size_t foldedLength(std::size_t entry) const;
    void countOpcodes(std::size_t first, std::size_t count, int sign);

    std::vector<Words> words_;
    std::vector<std::uint8_t> flags_;
    std::vector<std::uint32_t> addresses_;  // empty until some entry has an address
    std::vector<std::int32_t> symbolIndex_; // empty until some entry has a symbol
    std::vector<std::string> symbolNames_;
    std::vector<std::uint32_t> rowStarts_;  // with folding on
    std::vector<std::uint32_t> unfolded_;   // sorted first entries
    std::array<std::size_t, 256> opcodeCounts_{};
    std::array<std::size_t, 256> bareCounts_{}; // entries that are the opcode and nothing else
    std::uint64_t baseOffset_ = 0;
    Options options_;
    Ucode ucode_ = Ucode::F3DEX2;
    std::vector<UcodeScore> scores_;
    ListNamer namer_;
};

} // namespace dlscope::gbi
