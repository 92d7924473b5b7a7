#pragma once

// Reading display lists: every command as its two 32-bit words (w0, w1), from
// text or binary, in one pass over the input, without being told its form.
//
// The reader pulls bytes from a ByteSource in chunks (1 MiB by default) and
// hands out commands through read(), so memory stays flat whatever the input
// size: nothing is kept per line or per command except the labels and symbol
// names of assembly input, and at most ReadOptions::messageLimit messages.
// Time is linear in the input. Nothing is read past the end of the input; bad
// input gives messages, never a crash. The result does not depend on how the
// source delivers its bytes nor on how many commands read() is asked for.
//
// Binary input
//   Chosen by form = Binary, or with Auto when the first 4 KiB are not text:
//   more than one byte in ten is a NUL, another control byte (tab, newline,
//   carriage return, form feed, vertical tab and escape are text) or a byte
//   that is not part of valid UTF-8. A text with a stray NUL stays text.
//   Input starting with a UTF-16 byte-order mark is refused with a message.
//   Each 8-byte command is taken in the chosen byte order:
//     big     bytes 0..7 are w0 then w1, most significant first (N64 memory)
//     little  the 64-bit command stored least significant byte first, as PC
//             ports hold it: w0 is the upper half of the reversed 8 bytes
//     v64     bytes swapped in pairs (.v64 ROM images)
//     n64     each 32-bit word byte-reversed (.n64 ROM images)
//   `offset` bytes are skipped first; RawCommand::offset is the file offset.
//
// Text input
//   Lines end at '\n'; '\r' counts as a space; a UTF-8 byte-order mark is
//   skipped. Columns in messages are byte columns, 1-based. Comments are
//   skipped wherever they stand: `#`, `//` and `;` at the start of a line,
//   `//` and `#` after data, and `/* */`, which may span lines. Each line is
//   recognised on its own, so forms may be mixed; form() reports the form of
//   the first line that carries data (or a C declaration or a label). The
//   bytes of all lines join into one stream of commands: a command may be
//   split across lines (one word per line, or bytes in rows), and one line may
//   hold many commands. The rules, in the order they are tried:
//
//   Decompiler output (form "decomp"): a line holding `words.w0` or
//     `words.w1`: `PTR->words.w0 = VALUE;` with VALUE decimal or hex, maybe
//     negative or cast, or a symbol (`(u32) &D_80123456`, kept as w1Symbol).
//     Words are paired per pointer text (PTR); commands come out in the order
//     their first word was written. A pointer whose w0 (or w1) is written
//     again before its other word starts a new command; the unfinished one is
//     reported and dropped, as is a command whose value is not a constant.
//     Other code lines (holding ; { } = or a call) are ignored silently.
//   Trace (form "trace"); other text on these lines is ignored:
//     a line holding `W0=` and `W1=` keys (any case); an `ADDRESS:` at the
//       start is the address: `0x0012A3F0: CMD=0xE7 W0=0xE7000000 W1=0x00000000`;
//     a line holding `(c0:HEX, c1:HEX)`; the hex number just before the
//       parenthesis is the address: `RDP 0012a3f0 (c0:e7000000, c1:00000000): ...`;
//     `[ADDRESS]` then the command: `[0xa0100208] e700000000000000  SYNC_PIPE`;
//     `ADDRESS:W0-W1` with no spaces: `80123450:e7000000-00000000:gsDPPipeSync(),`;
//     16 hex digits then a name (a token starting with a letter or '_' that
//       is not all hex digits): `e700000000000000  Sync_Pipe`.
//     Trace addresses may jump backwards (calls and branches) silently.
//   Assembly (form "asm"): lines starting with '.': `.word`, `.4byte`,
//     `.long`, `.int` (32-bit), `.dword`, `.8byte`, `.quad` (64-bit), `.half`,
//     `.short`, `.hword`, `.2byte` (16-bit), `.byte` (8-bit) with
//     comma-separated values; other directives are ignored. Labels:
//     `glabel NAME`, `dlabel NAME`, `NAME:` (data may follow on the line). A
//     value may be a symbol with an optional `+ N`/`- N`: as the second word
//     of a command it is kept as RawCommand::w1Symbol, with w1 the address
//     its name encodes (D_800E8D40 -> 0x800E8D40) or 0, plus N. Values
//     without 0x are decimal, as the assembler reads them.
//   Rows with an address column: the first token is a hex number and either
//     ends in ':' (`80123450: E7000000 ...`, `00002b00: e700 0000 ...`),
//     or the row holds a lone '-' separator (`00657654 00000000 00000000 -
//     00000000 00000000`), or the next tokens are narrower 2- or 4-digit
//     groups (`00002B00  E7 00 00 ...`, hexdump). The groups have the width of
//     the first one (2, 4, 8 or 16 digits); one shorter group of an even
//     count may end the row (xxd's odd last byte). The hex area ends at the
//     end of the line, or before an ASCII column: after a gap of two or more
//     spaces (except the double space after the 8th byte of a 1-byte-group
//     row, and around a '-'), at a '|', or at a non-hex token right after
//     1-byte groups. So the ASCII column is never read, even when it looks
//     like hex. Each command's address is the row address plus the position
//     of its first byte. Reported as "bytes" for 1-byte groups, "xxd" for
//     2-byte groups, "memview" for wider groups or a '-' separator. An
//     address column going backwards is noted once; the rows are still read.
//     A hexdump '*' line (repeated rows left out) is reported.
//   Byte-spaced hex (form "bytes"): a line whose first two tokens are both
//     2-digit (or both 4-digit) hex groups without 0x: `E7 00 00 00 ...`.
//   C (form "c"): declarations (`Gfx dl[] = {`, maybe with values after the
//     brace), `};`; a macro call (`gsDPPipeSync(),`) takes its words from the
//     comment on its line, which may start with an address column
//     (`/* 00000000: E7000000 00000000 */`: that is the command's address,
//     not a word); a macro without one is reported.
//   Hex words (forms "hex" and "c"): everything else starting with a number
//     or a brace: words separated by spaces, commas, braces or ';', with or
//     without 0x, any case. Without 0x a word has 8 or 16 digits; a longer
//     run of digits is read as bytes (`xxd -p`), and the line after such a
//     run may end the dump with a shorter even run. With 0x a number has 1 to
//     16 digits; more than 8 digits or an `LL` suffix make it a whole
//     command. C suffixes (u, l, ul, ll, ull in any case) are allowed. A
//     number without 0x is a C decimal literal when it has a suffix, or on a
//     line that writes 0x (or after a C declaration) unless it is 8 or 16
//     digits with a leading zero, or on a braced line when it is not 8 or 16
//     digits long: `{{0xE7000000, 0}}`, `{{0xB6000000, 131072}}`. Reported as
//     "c" when 0x words stand between commas or braces, a suffix or decimal
//     is used or a declaration was seen, else as "hex".
//   Anything else gets a message ("expected hex words, found 'zz'").
//
//   A bad token ends the reading of its line: the message names line,
//   column and what was expected; the commands completed before it are kept,
//   and the command it interrupted is dropped, so that the next line starts
//   a fresh command (a pairing shifted by one word would spoil every command
//   after it).
//
//   Lines longer than the buffer: hex words, rows and comments are read in
//   pieces to the end of the line; any other kind of line is recognised and
//   read from its first half buffer (512 KiB by default) only.
//
//   Forcing a form reads every line by that form's rules only (lines of
//   other forms get a message) and settles its ambiguities: "memview" and
//   "xxd" always take the first number as the address, "hex" never does,
//   "trace" takes 16 hex digits followed by anything as a trace line. Auto
//   waits for 4 KiB (or the end) before the first command, to tell binary
//   from text; a forced form does not.
//
//   A trailing partial command (binary: fewer than 8 bytes; text: one word,
//   or any bytes short of a command) is reported and not emitted.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dlscope::gbi {

enum class InputForm : std::uint8_t { Auto, Hex, Bytes, Xxd, MemView, CArray, Asm, Decomp, Trace, Binary };
enum class ByteOrder : std::uint8_t { Big, Little, V64, N64 };

// Names: auto hex bytes xxd memview c asm decomp trace binary.
std::string_view inputFormName(InputForm form);
std::optional<InputForm> parseInputForm(std::string_view name);
// Names: big little v64 n64.
std::string_view byteOrderName(ByteOrder order);
std::optional<ByteOrder> parseByteOrder(std::string_view name);

struct ReadOptions {
    InputForm form = InputForm::Auto;
    ByteOrder order = ByteOrder::Big;     // binary only
    std::uint64_t offset = 0;             // binary only: bytes skipped first
    std::optional<std::uint64_t> count;   // at most this many commands
    std::size_t bufferBytes = 1u << 20;   // read buffer (at least 256); longer lines are read in pieces
    std::size_t messageLimit = 1000;      // messages kept; the rest are counted only
};

struct RawCommand {
    std::uint32_t w0 = 0;
    std::uint32_t w1 = 0;
    std::uint64_t offset = 0;              // byte offset in the list (text: 8 per command; binary: file offset)
    std::optional<std::uint32_t> address;  // from the address column or trace address of the line, if any
    std::uint64_t line = 0;                // 1-based line where the command's first byte was written (0: binary)
    std::int32_t w1Symbol = -1;            // index for ListReader::symbolName() when w1 was written as a symbol
};

// line 0: binary input, the text names the byte offset.
struct ReadMessage {
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::string text;
};
// "line 12, column 5: expected hex words, found 'zz'".
std::string formatMessage(const ReadMessage &message);

struct Label {
    std::int32_t symbol = -1;              // ListReader::symbolName(symbol)
    std::uint64_t offset = 0;              // list offset of the next byte at the label
    std::optional<std::uint32_t> address;  // the address the name encodes (D_800E8D40), if any
    std::uint64_t line = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to n bytes into buf; 0 only at the end of the input.
    virtual std::size_t read(char *buf, std::size_t n) = 0;
    // Skips up to n bytes; returns how many were skipped (fewer only at the end).
    virtual std::uint64_t skip(std::uint64_t n);
};

// Reads a stdio stream from its current position. On POSIX systems it reads
// the descriptor directly, so that a pipe or terminal delivers what is there
// without waiting for a full buffer: do not mix with stdio reads of the same
// stream.
class FileSource final : public ByteSource {
public:
    explicit FileSource(std::FILE *file) : file_(file) {}
    std::size_t read(char *buf, std::size_t n) override;
    std::uint64_t skip(std::uint64_t n) override;
    bool failed() const { return failed_; }  // a read error ended the input

private:
    std::FILE *file_;
    bool failed_ = false;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view data) : data_(data) {}
    std::size_t read(char *buf, std::size_t n) override;
    std::uint64_t skip(std::uint64_t n) override;

private:
    std::string_view data_;
};

class ListReader {
public:
    explicit ListReader(ByteSource &source, ReadOptions options = {});
    ~ListReader();
    ListReader(ListReader &&) noexcept;
    ListReader &operator=(ListReader &&) noexcept;
    ListReader(const ListReader &) = delete;
    ListReader &operator=(const ListReader &) = delete;

    // Fills up to out.size() commands; 0 only at the end of the input.
    std::size_t read(std::span<RawCommand> out);
    // Messages since the last call, in input order.
    std::vector<ReadMessage> takeMessages();
    // Messages dropped beyond ReadOptions::messageLimit.
    std::uint64_t suppressedMessages() const;
    // The forced form, or the detected one once read() has seen data
    // (Auto before that, or when nothing carried data).
    InputForm form() const;

    std::span<const Label> labels() const;
    // Empty for an index that names no symbol.
    std::string_view symbolName(std::int32_t index) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace dlscope::gbi
