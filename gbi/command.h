#pragma once

// A decoded command: which macro prints it and the values of its arguments.
// Decoding a 64-bit entry tries the rows of its opcode in order and takes the
// first whose arguments encode back to exactly the same words; when none
// does, the opcode's generic builder holds the words as they are, so nothing
// is ever lost.

#include "gbi/macro_table.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dlscope::gbi {

inline constexpr std::size_t kMaxArgs = kMaxRowArgs;

struct Words {
    std::uint32_t w0 = 0;
    std::uint32_t w1 = 0;
    friend constexpr bool operator==(const Words&, const Words&) = default;
};

// The bits of one field of the words, as they stand.
constexpr std::uint32_t fieldValue(FieldRef f, Words words)
{
    return static_cast<std::uint32_t>(((f.word == 0 ? words.w0 : words.w1) >> f.lo) & ((1ull << f.width) - 1));
}

enum class Status : std::uint8_t {
    Ok,        // a macro of the header prints it
    Raw,       // a known opcode whose words no named macro holds: the generic builder prints it
    Invalid,   // an opcode the microcode does not define
    Truncated, // a multi-command macro whose later commands are missing
};

// Which extra names the printer and decoder may use.
enum class Names : std::uint8_t { Libultra, Sm64 };

struct DecodeOptions {
    Names names = Names::Libultra;
    std::uint8_t f3dex3Options = 0; // F3dex3Option bits: the header's build switches
};

// The names the header of this microcode defines: F3DEX3's header has the
// combiner and render-mode presets of the sm64 flavour.
constexpr Names effectiveNames(Ucode ucode, Names names)
{
    return ucode == Ucode::F3DEX3 ? Names::Sm64 : names;
}

struct Command {
    const MacroSpec* macro = nullptr;
    Status status = Status::Ok;
    Ucode ucode = Ucode::F3DEX2;
    std::uint8_t length = 1; // display-list entries the command covers
    Words first;             // the first entry's words
    // Argument values in the macro's argument order. Rows with a preset
    // (render and combine modes) keep the preset indices after their own
    // arguments (see printer.cpp).
    std::array<std::int64_t, kMaxArgs> args;
    // F3DEX3 triangle snakes: the entries after the first that hold more
    // indices (gsSPContinueSnake), up to the one with the last-index mark.
    std::vector<Words> continuation;
};

// Decodes one entry on its own.
Command decodeSingle(Ucode ucode, Words words, const DecodeOptions& options = {});
// The same into an existing command, every field of it rewritten: a list
// decoder fills its result in place instead of moving a command per entry.
void decodeSingleInto(Command& command, Ucode ucode, Words words, const DecodeOptions& options = {});

// Encodes a single-command row's arguments. Returns false (and leaves `out`
// unspecified) when the values do not fit the row.
bool encodeSingle(const MacroSpec& macro, std::span<const std::int64_t> args, Words& out);

// Reads one argument from the words by its field and encoding; false when
// the field's value is not one that the encoding can produce.
bool decodeArgEncoded(const ArgSpec& arg, Words words, std::int64_t& value);
inline bool decodeArg(const ArgSpec& arg, Words words, std::int64_t& value)
{
    if (arg.plainField()) {
        // The common case inline: the walker and the checks read arguments
        // this way for most commands.
        value = fieldValue(arg.field, words);
        return true;
    }
    return decodeArgEncoded(arg, words, value);
}

} // namespace dlscope::gbi
