// dlscope-dis: display lists in, one macro per line out.

#include "cli/cli_common.h"
#include "gbi/checks.h"
#include "gbi/disassembler.h"
#include "gbi/reader.h"
#include "gbi/symbols.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace dlscope;
using namespace dlscope::gbi;

constexpr std::string_view kProgram = "dlscope-dis";

constexpr std::string_view kHelp = R"(usage: dlscope-dis [options] [FILE...]

Reads display lists and writes one C macro per line, each ending in a comma
(a Gfx initialiser body), or with --dynamic a statement ending in ';'.
The text compiles with the microcode's standard GBI header to the same words.
With no FILE, or FILE '-', reads standard input.

Microcode and names
  --ucode auto|f3d|f3dex|f3dex2|f3dex3
                                  microcode of the list (default auto: the one
                                  under which the list decodes best; the choice
                                  and the runner-up are given in a comment)
  --f3dex3-option NAME            a build switch of the F3DEX3 header that
                                  changes the words (repeatable; all off by
                                  default):
                                    F3DEX2_SEGMENTS  gsSPSegment writes the
                                      F3DEX2 moveword form (0xDB 06)
                                    NO_SYNCS_IN_TEXTURE_LOADS  texture loads have
                                      no syncs (they then print command by command)
                                    RISKY_RDP_SYNCS  gsDPPipeSync writes a tile sync
                                    DISABLE_AA  the AA render-mode presets lose
                                      AA_EN and IM_RD (render modes then print as
                                      flags)
                                    KAZE_GBI_HACKS  gsSPSetLights1 and
                                      gsDPSetEnvColor write no-ops
  --names libultra|sm64           extra names of a project flavour (default
                                  libultra: only names the standard header has)
  -g, --dynamic EXPR              gXxx(EXPR, ...); statements, e.g.
                                  --dynamic 'POLY_OPA_DISP++'
  -x, --no-fold                   print every command alone, never as one
                                  multi-command macro (texture loads, texture
                                  rectangles, light loads ...)
  -r, --words                     append each command's offset (or address)
                                  and words as a comment:
                                  /* 00000010: FC127E03 FFFFF3F8 */
  -i                              keep going past invalid commands (always so)

Input
  -f FILE                         read FILE (same as naming it)
  -d HEX...                       the bytes given as arguments:
                                  -d E7 00 00 00 00 00 00 00
  -w WORD...                      32-bit words given as arguments:
                                  -w E7000000 00000000
  --format FORM                   auto hex bytes xxd memview c asm decomp trace
                                  binary (default auto: each line recognised)
  --binary                        same as --format binary
  --byte-order big|little|v64|n64 binary: big-endian commands (default), PC
                                  port order, .v64 or .n64 ROM byte order
  --offset N, --count N           binary: skip N bytes first; read at most N
                                  commands (decimal or 0x hex)
  --stop-at-end                   stop after the first end-of-list command

Checks
  --check                         after each command, what is wrong with it as
                                  a comment (missing syncs, a texture that does
                                  not fit TMEM, a vertex never loaded ...), and
                                  a count by severity at the end
  --check-only                    only the findings, one a line:
                                  FILE:LINE: severity: message [rule-id]
  --disable-check ID              switch a check off by its id (repeatable)
  --base ADDR                     address of the list's first entry (hex), so
                                  that calls into the same input are followed

Addresses
  --segment N=ADDR                segment N starts at ADDR (repeatable); resolved
                                  addresses show beside segmented ones in --words
  --symbols FILE                  name addresses: lines 'ADDRESS NAME', or the
                                  output of nm / nm -S (then NAME + 0x10 inside
                                  a known object)

Exit status: 0 every command decoded, 1 some were invalid (printed in a raw
form that still holds their words) or a check found an error, 2 a usage or
input/output error.

Examples
  dlscope-dis dl.txt
  dlscope-dis --ucode f3d -r -w B9000031D 00552078
  dlscope-dis --binary --offset 0x1A2B0 --stop-at-end --segment 6=0x80200000 rom.z64
  xclip -o | dlscope-dis --dynamic 'gDisplayListHead++'
)";

struct Options {
    std::optional<Ucode> ucode; // none: auto
    std::uint8_t f3dex3Options = 0;
    PrintOptions print;
    bool fold = true;
    bool words = false;
    bool stopAtEnd = false;
    ReadOptions read;
    std::vector<std::string> files;
    std::string argumentBytes; // from -d / -w, as text for the reader
    bool haveArgumentBytes = false;
    SegmentTable segments;
    bool haveSegments = false;
    std::string symbolsFile;
    std::string dynamicPointer;
    bool check = false;     // findings as comments after the commands
    bool checkOnly = false; // only the findings, one per line
    std::vector<std::string> disabledChecks;
    std::optional<std::uint32_t> base; // address of the list's first entry
};

// Names addresses through the symbol file and the segments, and prints a
// symbol written in the input in place of a second word as that symbol.
class Namer final : public AddressNamer {
public:
    const SymbolTable* symbols = nullptr;
    const SegmentTable* segments = nullptr;
    std::uint32_t currentW1 = 0;
    std::string_view currentW1Symbol;

    bool name(std::uint32_t address, std::string& out) const override
    {
        if (!currentW1Symbol.empty() && address == currentW1) {
            out.assign(currentW1Symbol);
            return true;
        }
        if (!symbols)
            return false;
        if (const auto match = symbols->lookup(address)) {
            out = formatSymbol(*match);
            return true;
        }
        if (segments) {
            if (const auto resolved = segments->resolve(address); resolved && *resolved != address) {
                if (const auto match = symbols->lookup(*resolved)) {
                    out = formatSymbol(*match);
                    return true;
                }
            }
        }
        return false;
    }
};

std::string upperHex8(std::uint32_t v)
{
    char b[9];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

struct Run {
    const Options& options;
    TextSink out;
    std::uint64_t invalid = 0;
    std::uint64_t unread = 0; // input the reader reported and skipped
    std::array<std::uint64_t, 3> findings{}; // by severity
    std::uint64_t total = 0;
    bool ioError = false;
    Namer namer;

    explicit Run(const Options& o) : options(o) {}

    void flush(bool force)
    {
        if (out.size() >= (1u << 20) || (force && out.size() > 0)) {
            if (!cli::writeAll(stdout, out.view()))
                ioError = true;
            out.clear();
        }
    }
};

// How well a list decodes under a microcode: invalid commands weigh most,
// then commands that only a generic builder holds.
struct Score {
    Ucode ucode;
    std::size_t invalid = 0;
    std::size_t raw = 0;
    std::size_t ends = 0;
    std::size_t total = 0;
};

Score scoreUnder(Ucode u, std::span<const Words> words, Names names, std::uint8_t f3dex3Options)
{
    Score s{u};
    DecodeOptions d{names, f3dex3Options};
    for (const Words& w : words) {
        const Command c = decodeSingle(u, w, d);
        ++s.total;
        if (c.status == Status::Invalid)
            ++s.invalid;
        else if (c.status == Status::Raw)
            ++s.raw;
        if ((w.w0 >> 24) == endListOpcode(u) && w.w1 == 0 && (w.w0 & 0xFFFFFF) == 0)
            ++s.ends;
    }
    return s;
}

bool better(const Score& a, const Score& b)
{
    if (a.invalid != b.invalid)
        return a.invalid < b.invalid;
    if (a.raw != b.raw)
        return a.raw < b.raw;
    if (a.ends != b.ends)
        return a.ends > b.ends;
    // When the words cannot tell them apart: F3DEX2 (the most common), then
    // F3DEX3, F3DEX, F3D.
    constexpr int rank[] = {3, 2, 0, 1};
    return rank[static_cast<int>(a.ucode)] < rank[static_cast<int>(b.ucode)];
}

std::string describeScore(const Score& s)
{
    std::string t(ucodeName(s.ucode));
    if (s.invalid == 0)
        t += " decodes all " + std::to_string(s.total);
    else
        t += ": " + std::to_string(s.invalid) + " of " + std::to_string(s.total) + " invalid";
    return t;
}

// Chooses the microcode for a list from its first entries, and writes the
// choice (or, for a given microcode that decodes badly, a hint) as a comment.
Ucode chooseUcode(Run& run, std::span<const Words> sample)
{
    std::vector<Score> scores;
    for (Ucode u : kAllUcodes)
        scores.push_back(scoreUnder(u, sample, run.options.print.names, run.options.f3dex3Options));
    std::sort(scores.begin(), scores.end(), better);
    if (run.options.ucode) {
        const Ucode chosen = *run.options.ucode;
        const auto it = std::find_if(scores.begin(), scores.end(), [&](const Score& s) { return s.ucode == chosen; });
        if (it != scores.end() && it->invalid > 0 && it->invalid * 4 >= it->total && scores.front().invalid < it->invalid) {
            const std::string hint = std::to_string(it->invalid) + " of " + std::to_string(it->total)
                + " commands are invalid as " + std::string(ucodeName(chosen)) + "; " + describeScore(scores.front());
            cli::complain(kProgram, "hint: " + hint);
            if (!run.options.checkOnly) {
                run.out.reserve(hint.size() + 16);
                run.out.put("/* hint: ");
                run.out.put(hint);
                run.out.put(" */\n");
            }
        }
        return chosen;
    }
    if (sample.empty())
        return Ucode::F3DEX2;
    std::string note = "/* microcode: " + std::string(ucodeName(scores[0].ucode)) + " (auto: " + describeScore(scores[0]);
    if (scores.size() > 1) {
        const Score& second = scores[1];
        if (second.invalid == scores[0].invalid && second.raw == scores[0].raw)
            note += "; the words are equally valid as " + std::string(ucodeName(second.ucode));
        else
            note += "; runner-up " + describeScore(second);
    }
    note += ") */\n";
    if (!run.options.checkOnly) {
        run.out.reserve(note.size());
        run.out.put(note);
    }
    return scores[0].ucode;
}

void putWordsComment(Run& run, std::span<const RawCommand> entries, std::size_t count)
{
    const RawCommand& first = entries[0];
    run.out.reserve(64 + 20 * count);
    run.out.put(" /* ");
    const std::uint64_t where = first.address ? *first.address : first.offset;
    char b[40];
    const int n = std::snprintf(b, sizeof b, "%08llX:", static_cast<unsigned long long>(where));
    run.out.put(std::string_view(b, static_cast<std::size_t>(n)));
    for (std::size_t i = 0; i < count; ++i) {
        run.out.put(' ');
        run.out.put(upperHex8(entries[i].w0));
        run.out.put(' ');
        run.out.put(upperHex8(entries[i].w1));
    }
    // A segmented address in the second word, resolved.
    if (run.namer.segments && count == 1) {
        if (const auto r = run.namer.segments->resolve(first.w1); r && *r != first.w1) {
            run.out.put(" -> ");
            run.out.put(upperHex8(*r));
        }
    }
    run.out.put(" */");
}

std::optional<std::uint32_t> checkBase(const Options& o, const std::vector<RawCommand>& raw)
{
    return o.base ? o.base : (!raw.empty() ? raw.front().address : std::nullopt);
}

// Decodes and prints one input. Returns false on a read error.
bool disassemble(Run& run, ByteSource& source, std::string_view inputName, const ListReader* /*unused*/ = nullptr)
{
    const Options& o = run.options;
    ListReader reader(source, o.read);
    std::vector<RawCommand> raw;
    std::vector<Words> words;
    constexpr std::size_t kBatch = 8192;
    bool atEnd = false;

    auto reportMessages = [&] {
        for (const ReadMessage& m : reader.takeMessages()) {
            cli::complain(kProgram, std::string(inputName) + ": " + formatMessage(m));
            ++run.unread;
        }
    };
    auto refill = [&](std::size_t keepFrom) {
        raw.erase(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(keepFrom));
        words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(keepFrom));
        const std::size_t have = raw.size();
        raw.resize(have + kBatch);
        const std::size_t got = atEnd ? 0 : reader.read(std::span(raw).subspan(have));
        raw.resize(have + got);
        if (got == 0)
            atEnd = true;
        for (std::size_t i = have; i < raw.size(); ++i)
            words.push_back({raw[i].w0, raw[i].w1});
        reportMessages();
    };

    refill(0);
    // The first batch decides the microcode; fill it up for small pipes.
    // Checking follows calls anywhere in the list, so it reads it whole.
    while (!atEnd && (raw.size() < kBatch || o.check || o.checkOnly))
        refill(0);
    const Ucode ucode = chooseUcode(run, words);

    // The findings of the checks, by entry.
    CheckReport report;
    std::vector<std::uint32_t> firstFinding; // per entry: index into report.findings, or none
    if (o.check || o.checkOnly) {
        CheckOptions co;
        co.disabled = o.disabledChecks;
        co.walk.baseAddress = o.base ? o.base : (!raw.empty() ? raw.front().address : std::nullopt);
        for (unsigned seg = 0; seg < SegmentTable::kCount; ++seg)
            co.walk.segments[seg] = o.segments.base(seg);
        report = checkList(ucode, words, co);
        for (const std::string& unknown : report.unknownRules)
            cli::complain(kProgram, "no check is named '" + unknown + "'");
        firstFinding.assign(words.size() + 1, UINT32_MAX);
        for (std::size_t f = report.findings.size(); f-- > 0;)
            if (report.findings[f].entry < words.size())
                firstFinding[report.findings[f].entry] = static_cast<std::uint32_t>(f);
        for (std::size_t sev = 0; sev < 3; ++sev)
            run.findings[sev] += report.counts[sev];
    }
    if (o.checkOnly) {
        for (const Finding& f : report.findings) {
            std::string where = std::string(inputName);
            const RawCommand* r = f.entry < raw.size() ? &raw[f.entry] : nullptr;
            if (r && r->line > 0)
                where += ":" + std::to_string(r->line);
            else
                where += ":" + entryAddress(f.entry, checkBase(o, raw));
            std::string line = where + ": " + std::string(severityName(f.severity)) + ": " + f.message + " ["
                + std::string(ruleId(f)) + "]\n";
            run.out.reserve(line.size());
            run.out.put(line);
            run.flush(false);
        }
        reportMessages();
        return !(dynamic_cast<FileSource*>(&source) && static_cast<FileSource&>(source).failed());
    }

    ListOptions lo;
    lo.decode.names = o.print.names;
    lo.decode.f3dex3Options = o.f3dex3Options;
    lo.fold = o.fold;
    lo.namer = &run.namer;
    const std::string_view terminator = o.print.dynamic ? ";" : ",";

    std::size_t i = 0;
    bool stopped = false;
    while (!stopped) {
        if (i + kMaxLookahead > raw.size() && !atEnd) {
            refill(i);
            i = 0;
            continue;
        }
        if (i >= raw.size())
            break;
        const std::span<const Words> rest = std::span<const Words>(words).subspan(i);
        const RawCommand& r = raw[i];
        run.namer.currentW1 = r.w1;
        run.namer.currentW1Symbol = r.w1Symbol >= 0 ? reader.symbolName(r.w1Symbol) : std::string_view{};
        const Command c = decodeAt(ucode, rest, lo);
        printCommand(c, o.print, run.out);
        run.out.put(terminator);
        if (o.words)
            putWordsComment(run, std::span<const RawCommand>(raw).subspan(i), c.length);
        if (c.status == Status::Invalid) {
            ++run.invalid;
            run.out.put(" /* invalid: opcode not defined in ");
            run.out.put(ucodeName(ucode));
            run.out.put(" */");
        } else if (c.status == Status::Truncated) {
            run.out.put(" /* cut short: the list ends before this command does */");
            ++run.invalid;
        } else if (c.macro && (c.macro->name == "gsSPLoadUcode" || c.macro->name == "gsSPLoadUcodeEx")) {
            run.out.put(" /* loads another microcode: the commands after it run under that one */");
        }
        run.out.put('\n');
        if (!firstFinding.empty()) {
            // The findings of every entry the command covers, as comments.
            for (std::size_t e = i; e < i + c.length && e < words.size(); ++e) {
                for (std::uint32_t f = firstFinding[e]; f != UINT32_MAX && f < report.findings.size()
                     && report.findings[f].entry == e; ++f) {
                    const Finding& finding = report.findings[f];
                    std::string line = "/* " + std::string(severityName(finding.severity)) + ": " + finding.message
                        + " [" + std::string(ruleId(finding)) + "] */\n";
                    run.out.reserve(line.size());
                    run.out.put(line);
                }
            }
        }
        run.total += c.length;
        const bool end = (r.w0 >> 24) == endListOpcode(ucode) && c.length == 1;
        i += c.length;
        run.flush(false);
        if (o.stopAtEnd && end)
            stopped = true;
    }
    if (o.check) {
        const std::string summary = "/* checks: " + std::to_string(countOf(report, Severity::Error)) + " errors, "
            + std::to_string(countOf(report, Severity::Warning)) + " warnings, "
            + std::to_string(countOf(report, Severity::Note)) + " notes */\n";
        run.out.reserve(summary.size());
        run.out.put(summary);
    }
    reportMessages();
    return !(dynamic_cast<FileSource*>(&source) && static_cast<FileSource&>(source).failed());
}

bool needValue(int i, int argc, std::string_view option)
{
    if (i + 1 >= argc) {
        cli::complain(kProgram, "option " + std::string(option) + " needs a value (see --help)");
        return false;
    }
    return true;
}

// Parses the command line; returns the exit status to end with, or -1 to go on.
int parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&]() -> std::string_view { return argv[++i]; };
        if (a == "--help" || a == "-h") {
            cli::writeAll(stdout, kHelp);
            return 0;
        } else if (a == "--ucode") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            if (v == "auto")
                o.ucode.reset();
            else if (const auto u = parseUcode(v))
                o.ucode = *u;
            else {
                cli::complain(kProgram, "unknown microcode '" + std::string(v) + "' (auto, f3d, f3dex, f3dex2, f3dex3)");
                return 2;
            }
        } else if (a == "--f3dex3-option") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            const auto option = parseF3dex3Option(v);
            if (!option) {
                cli::complain(kProgram, "unknown F3DEX3 build switch '" + std::string(v) + "' (see --help)");
                return 2;
            }
            o.f3dex3Options |= *option;
        } else if (a == "--names") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            if (v == "libultra")
                o.print.names = Names::Libultra;
            else if (v == "sm64")
                o.print.names = Names::Sm64;
            else {
                cli::complain(kProgram, "unknown names flavour '" + std::string(v) + "' (libultra, sm64)");
                return 2;
            }
        } else if (a == "--dynamic" || a == "-g") {
            if (!needValue(i, argc, a))
                return 2;
            o.dynamicPointer = value();
            o.print.dynamic = true;
        } else if (a == "--no-fold" || a == "-x") {
            o.fold = false;
        } else if (a == "--words" || a == "-r") {
            o.words = true;
        } else if (a == "-i") {
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "--check-only") {
            o.checkOnly = true;
        } else if (a == "--disable-check") {
            if (!needValue(i, argc, a))
                return 2;
            o.disabledChecks.emplace_back(value());
        } else if (a == "--base") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            const auto n = cli::parseNumber(v, true);
            if (!n || *n > 0xFFFFFFFFu) {
                cli::complain(kProgram, "not a 32-bit hex address: '" + std::string(v) + "' after --base");
                return 2;
            }
            o.base = static_cast<std::uint32_t>(*n);
        } else if (a == "--stop-at-end") {
            o.stopAtEnd = true;
        } else if (a == "-f") {
            if (!needValue(i, argc, a))
                return 2;
            o.files.emplace_back(value());
        } else if (a == "-d" || a == "-w") {
            // Every following argument that is not an option.
            bool any = false;
            const bool words = a == "-w";
            while (i + 1 < argc && argv[i + 1][0] != '-') {
                std::string v = argv[++i];
                if (v.starts_with("0x") || v.starts_with("0X"))
                    v.erase(0, 2);
                // -w: one 32-bit word each; -d: one byte, or a run of whole bytes.
                const bool fits = words ? v.size() <= 8 : v.size() == 1 || v.size() % 2 == 0;
                if (v.empty() || !fits || !cli::parseNumber(v.substr(0, 16), true)
                    || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                    cli::complain(kProgram, std::string("not ") + (words ? "a 32-bit hex word" : "hex bytes") + ": '"
                                                + v + "' after " + std::string(a));
                    return 2;
                }
                if (words)
                    v.insert(0, 8 - v.size(), '0');
                else if (v.size() == 1)
                    v.insert(0, 1, '0');
                else
                    for (std::size_t k = 2; k < v.size(); k += 3)
                        v.insert(k, 1, ' ');
                o.argumentBytes.append(v).push_back(' ');
                any = true;
            }
            if (!any) {
                cli::complain(kProgram, "option " + std::string(a) + " needs hex values (see --help)");
                return 2;
            }
            o.argumentBytes.push_back('\n');
            o.haveArgumentBytes = true;
        } else if (a == "--format") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            const auto f = parseInputForm(v);
            if (!f) {
                cli::complain(kProgram, "unknown input form '" + std::string(v) + "' (see --help)");
                return 2;
            }
            o.read.form = *f;
        } else if (a == "--binary") {
            o.read.form = InputForm::Binary;
        } else if (a == "--byte-order") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            const auto b = parseByteOrder(v);
            if (!b) {
                cli::complain(kProgram, "unknown byte order '" + std::string(v) + "' (big, little, v64, n64)");
                return 2;
            }
            o.read.order = *b;
        } else if (a == "--offset" || a == "--count") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            const auto n = cli::parseNumber(v);
            if (!n) {
                cli::complain(kProgram, "not a number: '" + std::string(v) + "' after " + std::string(a));
                return 2;
            }
            if (a == "--offset")
                o.read.offset = *n;
            else
                o.read.count = *n;
        } else if (a == "--segment") {
            if (!needValue(i, argc, a))
                return 2;
            const std::string_view v = value();
            if (const auto error = o.segments.assign(v)) {
                cli::complain(kProgram, "bad --segment '" + std::string(v) + "': " + *error);
                return 2;
            }
            o.haveSegments = true;
        } else if (a == "--symbols") {
            if (!needValue(i, argc, a))
                return 2;
            o.symbolsFile = value();
        } else if (a == "-") {
            o.files.emplace_back("-");
        } else if (!a.empty() && a[0] == '-') {
            cli::complain(kProgram, "unknown option '" + std::string(a) + "' (see --help)");
            return 2;
        } else {
            o.files.emplace_back(a);
        }
    }
    if (o.print.dynamic)
        o.print.pointer = o.dynamicPointer;
    if (o.files.empty() && !o.haveArgumentBytes)
        o.files.emplace_back("-");
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (const int status = parseOptions(argc, argv, o); status >= 0)
        return status;

    Run run(o);
    SymbolTable symbols;
    run.namer.segments = o.haveSegments ? &o.segments : nullptr;
    if (!o.symbolsFile.empty()) {
        std::string error;
        const auto text = cli::readFile(o.symbolsFile, error);
        if (!text) {
            cli::complain(kProgram, error);
            return 2;
        }
        for (const ReadMessage& m : symbols.load(*text))
            cli::complain(kProgram, o.symbolsFile + ": " + formatMessage(m));
        run.namer.symbols = &symbols;
    }
    o.print.addresses = &run.namer;

    bool inputError = false;
    if (o.haveArgumentBytes) {
        MemorySource source(o.argumentBytes);
        disassemble(run, source, "arguments");
    }
    for (const std::string& file : o.files) {
        if (file == "-") {
            FileSource source(stdin);
            if (!disassemble(run, source, "standard input")) {
                cli::complain(kProgram, "standard input: read error");
                inputError = true;
            }
            continue;
        }
        std::FILE* f = std::fopen(file.c_str(), "rb");
        if (!f) {
            cli::complain(kProgram, file + ": " + std::strerror(errno));
            inputError = true;
            continue;
        }
        FileSource source(f);
        if (!disassemble(run, source, file)) {
            cli::complain(kProgram, file + ": read error");
            inputError = true;
        }
        std::fclose(f);
    }
    run.flush(true);
    if (std::fflush(stdout) != 0 || run.ioError) {
        cli::complain(kProgram, "cannot write the output");
        return 2;
    }
    if (inputError)
        return 2;
    return run.invalid > 0 || run.unread > 0 || run.findings[static_cast<std::size_t>(Severity::Error)] > 0 ? 1 : 0;
}
