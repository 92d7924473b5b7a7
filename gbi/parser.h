#pragma once

// Assembling display-list C source into command words: the other direction
// of the printer. Every macro the printer writes, and every macro of the
// header facts, static (gsXxx(...)) or dynamic (gXxx(pointer, ...)), gives
// back the words the standard GBI header compiles it to.
//
// What a source may hold
//   `Gfx name[] = { ... };` arrays (several per file; two-dimensional
//   `Gfx table[][6] = { {...}, {...} };` too, padded with zero entries to
//   their declared size as C does), bare macro lines (`gsDPPipeSync(),`),
//   dynamic statements (`gSPDisplayList(POLY_OPA_DISP++, dl);`) anywhere,
//   raw entries (`{{0xE7000000, 0}}`) inside arrays, comments, and
//   preprocessor lines. Object-like `#define NAME value` lines are kept as
//   constants; every other preprocessor line is skipped with a note.
//   Declarations of other arrays (`Vtx v[] = {...}`, `Lights1 l = ...`) are
//   read only for their element type, so that `&v[4]` and `v + 4` count
//   elements as C does.
//
// Arguments are C constant expressions evaluated with the N64's C types
// (32-bit int and long, 64-bit long long): numbers with suffixes, floats,
// casts with truncation, the integer and comparison operators, `?:`, the
// header's named constants and presets, GBL_c1/GBL_c2, the texture-load
// helpers, the fixed-point q helpers, and symbols. Addresses: a symbol from
// the resolver or a define, `sym + n`, `&sym[i]` (with a known element
// size), and the members of light structures (`&name.a`, `&name.l[i]`).
//
// Bad input never stops the assembly: each problem is a message with line,
// column and what was expected, and the rest of the source is still
// assembled. Recursion is bounded, and the time is linear in the input.

#include "gbi/command.h"
#include "gbi/ucode.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace dlscope::gbi {

enum class Severity : std::uint8_t { Note, Warning, Error };

std::string_view severityName(Severity severity); // "note", "warning", "error"

struct AsmMessage {
    std::uint64_t line = 0;   // 1-based
    std::uint32_t column = 0; // 1-based byte column
    Severity severity = Severity::Error;
    std::string text;
};

// "FILE:LINE:COLUMN: error: text" (without FILE when it is empty).
std::string formatAsmMessage(const AsmMessage& message, std::string_view file = {});

// What a name stands for: its address and, when known, the size of one
// element (so that `&name[3]` and `name + 3` count elements).
struct SymbolInfo {
    std::uint32_t address = 0;
    std::uint32_t elementSize = 0; // 0: unknown
};

// Resolves identifiers that are neither header constants nor defines.
class SymbolResolver {
public:
    virtual ~SymbolResolver() = default;
    virtual std::optional<SymbolInfo> resolve(std::string_view name) const = 0;
};

// A resolver over a table filled by the caller.
class MapResolver final : public SymbolResolver {
public:
    void add(std::string name, SymbolInfo info) { map_[std::move(name)] = info; }
    std::size_t size() const { return map_.size(); }
    std::optional<SymbolInfo> resolve(std::string_view name) const override;

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, SymbolInfo, Hash, std::equal_to<>> map_;
};

class SymbolTable;

// Resolves names through a symbol table (gbi/symbols.h); element sizes are
// not known from it.
class SymbolTableResolver final : public SymbolResolver {
public:
    explicit SymbolTableResolver(const SymbolTable& table) : table_(table) {}
    std::optional<SymbolInfo> resolve(std::string_view name) const override;

private:
    const SymbolTable& table_;
};

struct AsmOptions {
    Ucode ucode = Ucode::F3DEX2;
    Names names = Names::Libultra;
    const SymbolResolver* resolver = nullptr;
    // --define NAME=VALUE: checked before everything else.
    std::unordered_map<std::string, std::int64_t> defines;
    // Address of the first entry of the source: with it the display lists
    // of the file get addresses (laid out one after another) and may refer
    // to each other by name.
    std::optional<std::uint32_t> base;
    // Keep the words written in comments after each macro (the
    // `/* 00000010: FC127E03 FFFFF3F8 */` that dlscope-dis --words writes).
    bool collectExpected = false;
    std::size_t messageLimit = 1000; // messages kept; the rest are counted
};

// Where the macro that produced an entry starts.
struct AsmLine {
    std::uint64_t line = 0;
    std::uint32_t column = 0;
};

// One `Gfx name[] = {...}` array of the source: its entries are
// words[first .. first + count).
struct AsmList {
    std::string name;
    std::size_t first = 0;
    std::size_t count = 0;
    std::uint64_t line = 0;
};

// The words written in the comments after one macro, and the entries the
// macro produced.
struct AsmExpected {
    std::size_t firstEntry = 0;
    std::size_t entryCount = 0;
    std::uint64_t line = 0; // the macro's line
    std::vector<Words> words;
};

struct AsmResult {
    std::vector<Words> words;
    std::vector<AsmLine> lines; // one per entry of `words`
    std::vector<AsmMessage> messages;
    std::vector<AsmList> lists;
    std::vector<AsmExpected> expected; // with AsmOptions::collectExpected
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::uint64_t suppressed = 0; // messages beyond the limit
    bool ok() const { return errors == 0; }
};

AsmResult assemble(std::string_view source, const AsmOptions& options);

// One macro on its own (a window's edit cell): `gsDPPipeSync()`, with or
// without a trailing comma or semicolon, static or dynamic. Columns in the
// messages count from the start of `text`, on line 1.
struct MacroResult {
    std::vector<Words> words;
    std::vector<AsmMessage> messages;
    bool ok = false;
};
MacroResult parseMacro(std::string_view text, const AsmOptions& options);

// The same, reusable for many macros without setting up each time.
class MacroParser {
public:
    explicit MacroParser(const AsmOptions& options);
    ~MacroParser();
    MacroParser(const MacroParser&) = delete;
    MacroParser& operator=(const MacroParser&) = delete;

    // Appends the entries of `text` to `out`; false (and nothing appended)
    // on an error, described by messages().
    bool parse(std::string_view text, std::vector<Words>& out);
    const std::vector<AsmMessage>& messages() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace dlscope::gbi
