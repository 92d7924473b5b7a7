// dlscope-as: display-list C source in, command words out.

#include "gbi/parser.h"
#include "gbi/symbols.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace dlscope::gbi;

constexpr std::string_view kProgram = "dlscope-as";

constexpr std::string_view kHelp = R"(usage: dlscope-as [options] [FILE...]

Reads display-list C source and writes the command words that the standard
GBI header compiles it to. The source may hold Gfx arrays (several, and
two-dimensional ones), bare macro lines, gXxx(pointer, ...) statements,
comments and preprocessor lines (#define NAME VALUE is used, other lines are
skipped). With no FILE, or FILE '-', reads standard input.

Microcode and names
  --ucode f3d|f3dex|f3dex2   microcode of the source (default: the one named
                              in a '/* microcode: ... */' comment, as
                              dlscope-dis writes it, else f3dex2)
  --names libultra|sm64       extra names of a project flavour (default
                              libultra: only names the standard header has)

Values
  --symbols FILE              addresses of names: lines 'ADDRESS NAME', the
                              output of nm / nm -S, or 'NAME = ADDRESS;'
  -D, --define NAME=VALUE     a value for a name (decimal or 0x hex);
                              repeatable, checked before everything else
  --base ADDRESS              address of the first entry: the source's display
                              lists then have addresses and may name each other

Output
  --format hex|c|binary       hex: one command a line, 'E7000000 00000000'
                              (default); c: unsigned int arrays, one per Gfx
                              array of the source; binary: big-endian words
  -o, --output FILE           write to FILE instead of standard output

Checking
  --check                     compare the words made with the words written
                              beside the macros, as dlscope-dis --words does:
                              gsDPPipeSync(), /* 00000010: E7000000 00000000 */
                              and report each difference with its line
  --expected FILE             compare with the hex words of FILE instead (one
                              command a line, or any run of 8-digit words)

Messages go to standard error as FILE:LINE:COLUMN: error: MESSAGE. Each
problem is reported and the rest of the source is still assembled.

Exit status: 0 everything assembled (and, when checking, equal), 1 errors in
the source or differences, 2 a usage or input/output error.

Examples
  dlscope-as model.c
  dlscope-as --ucode f3d --format binary -o model.bin model.c
  dlscope-as --symbols syms.txt -D TEX=0x05000000 level.c
  dlscope-dis -r dl.bin | dlscope-as --check
  dlscope-as --expected words.txt model.c
)";

enum class Format { Hex, C, Binary };

struct Options {
    std::optional<Ucode> ucode;
    Names names = Names::Libultra;
    std::unordered_map<std::string, std::int64_t> defines;
    std::optional<std::uint32_t> base;
    Format format = Format::Hex;
    std::string output;
    bool check = false;
    std::string expectedFile;
    std::string symbolsFile;
    std::vector<std::string> files;
};

void complain(std::string_view message)
{
    std::string s(kProgram);
    s += ": ";
    s += message;
    s += '\n';
    std::fwrite(s.data(), 1, s.size(), stderr);
}

bool readWhole(const std::string& path, std::string& out, std::string& error)
{
    std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    out.clear();
    char buf[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        out.append(buf, n);
        if (n < sizeof buf)
            break;
    }
    const bool failed = std::ferror(f) != 0;
    if (failed)
        error = "read error";
    if (f != stdin)
        std::fclose(f);
    return !failed;
}

std::optional<std::int64_t> parseValue(std::string_view text)
{
    std::string s(text);
    if (s.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (errno != 0 || end != s.c_str() + s.size()) {
        // Unsigned 64-bit values beyond LLONG_MAX.
        errno = 0;
        const unsigned long long u = std::strtoull(s.c_str(), &end, 0);
        if (errno != 0 || end != s.c_str() + s.size() || s[0] == '-')
            return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    return v;
}

bool validName(std::string_view n)
{
    if (n.empty() || !(std::isalpha(static_cast<unsigned char>(n[0])) || n[0] == '_'))
        return false;
    for (char c : n)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return false;
    return true;
}

std::optional<std::uint32_t> parseHexAddress(std::string_view t)
{
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t.remove_prefix(2);
    if (t.empty() || t.size() > 16)
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : t) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v << 4 | static_cast<unsigned>(d);
    }
    const std::uint64_t high = v >> 32;
    if (high != 0 && high != 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

// Hex words of an --expected file: 8-digit words (0x optional) in pairs, or
// 16-digit commands; address columns ('00000010:') and comments are skipped.
std::vector<Words> hexWords(std::string_view text)
{
    std::vector<std::uint32_t> words;
    std::size_t p = 0;
    while (p < text.size()) {
        const char c = text[p];
        if (c == '/' && p + 1 < text.size() && text[p + 1] == '/') {
            while (p < text.size() && text[p] != '\n')
                ++p;
            continue;
        }
        if (c == '#' || c == ';') {
            while (p < text.size() && text[p] != '\n')
                ++p;
            continue;
        }
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            ++p;
            continue;
        }
        std::size_t q = p;
        while (q < text.size() && (std::isalnum(static_cast<unsigned char>(text[q])) || text[q] == '_'))
            ++q;
        std::string_view tok = text.substr(p, q - p);
        const bool address = q < text.size() && text[q] == ':';
        p = q;
        if (address)
            continue;
        bool prefixed = false;
        if (tok.size() > 2 && tok[0] == '0' && (tok[1] == 'x' || tok[1] == 'X')) {
            tok.remove_prefix(2);
            prefixed = true;
        }
        while (!tok.empty() && (tok.back() == 'u' || tok.back() == 'U' || tok.back() == 'l' || tok.back() == 'L'))
            tok.remove_suffix(1);
        if (tok.size() == 16) {
            if (const auto a = parseHexAddress(tok.substr(0, 8)), b = parseHexAddress(tok.substr(8)); a && b) {
                words.push_back(*a);
                words.push_back(*b);
            }
        } else if (tok.size() == 8 || (prefixed && !tok.empty() && tok.size() < 8)) {
            if (const auto a = parseHexAddress(tok))
                words.push_back(*a);
        }
    }
    std::vector<Words> out;
    for (std::size_t i = 0; i + 1 < words.size(); i += 2)
        out.push_back({words[i], words[i + 1]});
    return out;
}

void putHex8(std::string& out, std::uint32_t v)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    char b[8];
    for (int i = 7; i >= 0; --i) {
        b[i] = digits[v & 15];
        v >>= 4;
    }
    out.append(b, 8);
}

std::string pair(const Words& w)
{
    std::string s;
    putHex8(s, w.w0);
    s += ' ';
    putHex8(s, w.w1);
    return s;
}

// C identifiers for the arrays of the c format, unique in the output.
std::string arrayName(std::string base, std::set<std::string>& used)
{
    std::string name = base;
    for (int n = 2; used.count(name); ++n)
        name = base + "_" + std::to_string(n);
    used.insert(name);
    return name;
}

struct Output {
    std::string text;
    std::set<std::string> names;
};

void writeC(Output& out, const AsmResult& r, const std::string& file, Ucode ucode)
{
    out.text += "/* " + file + " assembled by dlscope-as for " + std::string(ucodeName(ucode)) + " */\n";
    auto array = [&](const std::string& name, std::size_t first, std::size_t count) {
        out.text += "unsigned int " + arrayName(name, out.names) + "[] = {\n";
        for (std::size_t i = first; i < first + count; ++i) {
            out.text += "    0x";
            putHex8(out.text, r.words[i].w0);
            out.text += ", 0x";
            putHex8(out.text, r.words[i].w1);
            out.text += ",\n";
        }
        out.text += "};\n";
    };
    std::size_t next = 0;
    for (const AsmList& list : r.lists) {
        if (list.first > next)
            array("words", next, list.first - next);
        if (list.count)
            array(list.name + "_words", list.first, list.count);
        next = list.first + list.count;
    }
    if (next < r.words.size())
        array("words", next, r.words.size() - next);
}

// The microcode a dlscope-dis listing names in its first comment.
std::optional<Ucode> ucodeNamedIn(std::string_view source)
{
    const std::size_t at = source.substr(0, 1 << 16).find("/* microcode: ");
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = source.substr(at + 14);
    std::size_t n = 0;
    while (n < rest.size() && std::isalnum(static_cast<unsigned char>(rest[n])))
        ++n;
    return parseUcode(rest.substr(0, n));
}

struct Totals {
    std::size_t errors = 0;
    std::size_t differences = 0;
    std::size_t checked = 0;
};

void reportMessages(const AsmResult& r, const std::string& file)
{
    std::string s;
    for (const AsmMessage& m : r.messages) {
        s += formatAsmMessage(m, file);
        s += '\n';
    }
    if (r.suppressed)
        s += file + ": " + std::to_string(r.suppressed) + " more messages not shown\n";
    std::fwrite(s.data(), 1, s.size(), stderr);
}

// --check: each macro's words against the comment beside it.
void checkComments(const AsmResult& r, const std::string& file, std::string& report, Totals& t)
{
    for (const AsmExpected& e : r.expected) {
        const std::size_t n = std::max(e.words.size(), e.entryCount);
        for (std::size_t i = 0; i < n; ++i) {
            ++t.checked;
            const bool haveExpected = i < e.words.size(), haveMade = i < e.entryCount;
            if (haveExpected && haveMade && e.words[i] == r.words[e.firstEntry + i])
                continue;
            ++t.differences;
            report += file + ":" + std::to_string(e.line) + ": expected "
                + (haveExpected ? pair(e.words[i]) : std::string("nothing")) + ", assembled "
                + (haveMade ? pair(r.words[e.firstEntry + i]) : std::string("nothing")) + "\n";
        }
    }
}

// --expected FILE: the whole list against the file's words.
void checkWords(const AsmResult& r, const std::vector<Words>& expected, const std::string& file, std::string& report, Totals& t)
{
    const std::size_t n = std::max(expected.size(), r.words.size());
    for (std::size_t i = 0; i < n; ++i) {
        ++t.checked;
        const bool haveExpected = i < expected.size(), haveMade = i < r.words.size();
        if (haveExpected && haveMade && expected[i] == r.words[i])
            continue;
        ++t.differences;
        const std::string where = !haveMade ? std::string("end")
            : r.lines[i].line ? std::to_string(r.lines[i].line) : "command " + std::to_string(i + 1);
        report += file + ":" + where + ": expected " + (haveExpected ? pair(expected[i]) : std::string("nothing")) + ", assembled "
            + (haveMade ? pair(r.words[i]) : std::string("nothing")) + "\n";
    }
}

bool writeOut(const Options& o, const std::string& data)
{
    std::FILE* f = o.output.empty() ? stdout : std::fopen(o.output.c_str(), "wb");
    if (!f) {
        complain("cannot write '" + o.output + "': " + std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size() && std::fflush(f) == 0;
    if (f != stdout)
        ok = std::fclose(f) == 0 && ok;
    if (!ok)
        complain("cannot write '" + (o.output.empty() ? std::string("standard output") : o.output) + "'");
    return ok;
}

int usage(const std::string& message)
{
    complain(message + " (see --help)");
    return 2;
}

int run(int argc, char** argv)
{
    Options o;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view a = args[i];
        std::string_view value;
        bool hasValue = false;
        if (a.starts_with("--") && a.find('=') != std::string_view::npos) {
            value = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
            hasValue = true;
        }
        auto need = [&](std::string_view& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string_view v;
        if (a == "-h" || a == "--help") {
            std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
            return 0;
        } else if (a == "--ucode") {
            if (!need(v))
                return usage("--ucode needs a microcode");
            o.ucode = parseUcode(v);
            if (!o.ucode)
                return usage("unknown microcode '" + std::string(v) + "'");
        } else if (a == "--names") {
            if (!need(v))
                return usage("--names needs libultra or sm64");
            if (v == "libultra")
                o.names = Names::Libultra;
            else if (v == "sm64")
                o.names = Names::Sm64;
            else
                return usage("unknown names flavour '" + std::string(v) + "'");
        } else if (a == "-D" || a == "--define" || (a.starts_with("-D") && a.size() > 2)) {
            if (a.starts_with("-D") && a.size() > 2)
                v = a.substr(2);
            else if (!need(v))
                return usage("--define needs NAME=VALUE");
            const std::size_t eq = v.find('=');
            const std::string_view name = v.substr(0, eq);
            const std::optional<std::int64_t> number = eq == std::string_view::npos ? std::nullopt : parseValue(v.substr(eq + 1));
            if (!validName(name) || !number)
                return usage("bad --define '" + std::string(v) + "': expected NAME=VALUE with a decimal or 0x hex value");
            o.defines[std::string(name)] = *number;
        } else if (a == "--base") {
            if (!need(v))
                return usage("--base needs an address");
            const std::optional<std::int64_t> b = parseValue(v);
            if (!b || *b < 0 || *b > 0xFFFFFFFFll)
                return usage("bad --base '" + std::string(v) + "'");
            o.base = static_cast<std::uint32_t>(*b);
        } else if (a == "--format") {
            if (!need(v))
                return usage("--format needs hex, c or binary");
            if (v == "hex")
                o.format = Format::Hex;
            else if (v == "c")
                o.format = Format::C;
            else if (v == "binary")
                o.format = Format::Binary;
            else
                return usage("unknown format '" + std::string(v) + "'");
        } else if (a == "-o" || a == "--output") {
            if (!need(v) || v.empty())
                return usage("--output needs a file");
            o.output = std::string(v);
        } else if (a == "--check") {
            if (hasValue) {
                o.expectedFile = std::string(value);
            }
            o.check = true;
        } else if (a == "--expected") {
            if (!need(v) || v.empty())
                return usage("--expected needs a file");
            o.expectedFile = std::string(v);
            o.check = true;
        } else if (a == "--symbols") {
            if (!need(v) || v.empty())
                return usage("--symbols needs a file");
            o.symbolsFile = std::string(v);
        } else if (a == "-") {
            o.files.emplace_back("-");
        } else if (a.starts_with("-")) {
            return usage("unknown option '" + std::string(a) + "'");
        } else {
            o.files.emplace_back(a);
        }
    }
    if (o.files.empty())
        o.files.emplace_back("-");

    SymbolTable symbols;
    const SymbolTableResolver resolver(symbols);
    if (!o.symbolsFile.empty()) {
        std::string text, error;
        if (!readWhole(o.symbolsFile, text, error)) {
            complain("cannot read '" + o.symbolsFile + "': " + error);
            return 2;
        }
        // Bad lines are reported; the good ones are all used.
        for (const ReadMessage& m : symbols.load(text))
            complain(o.symbolsFile + ": " + formatMessage(m));
    }
    std::vector<Words> expectedWords;
    if (!o.expectedFile.empty()) {
        std::string text, error;
        if (!readWhole(o.expectedFile, text, error)) {
            complain("cannot read '" + o.expectedFile + "': " + error);
            return 2;
        }
        expectedWords = hexWords(text);
    }

    Totals totals;
    Output output;
    std::string report;
    std::vector<Words> all;
    std::string source;
    for (const std::string& path : o.files) {
        std::string error;
        if (!readWhole(path, source, error)) {
            complain("cannot read '" + path + "': " + error);
            return 2;
        }
        const std::string shown = path == "-" ? "<stdin>" : path;
        AsmOptions ao;
        ao.ucode = o.ucode ? *o.ucode : ucodeNamedIn(source).value_or(Ucode::F3DEX2);
        ao.names = o.names;
        ao.resolver = symbols.size() ? &resolver : nullptr;
        ao.defines = o.defines;
        ao.base = o.base;
        ao.collectExpected = o.check && o.expectedFile.empty();
        const AsmResult r = assemble(source, ao);
        reportMessages(r, shown);
        totals.errors += r.errors;
        if (o.check) {
            if (o.expectedFile.empty())
                checkComments(r, shown, report, totals);
            else
                all.insert(all.end(), r.words.begin(), r.words.end());
            if (o.expectedFile.empty() && r.expected.empty() && !r.words.empty())
                complain(shown + ": no words comments to check against (see --check in --help)");
            if (!o.expectedFile.empty() && o.files.size() == 1)
                checkWords(r, expectedWords, shown, report, totals);
            continue;
        }
        switch (o.format) {
        case Format::Hex:
            output.text.reserve(output.text.size() + r.words.size() * 18);
            for (const Words& w : r.words) {
                putHex8(output.text, w.w0);
                output.text += ' ';
                putHex8(output.text, w.w1);
                output.text += '\n';
            }
            break;
        case Format::C: writeC(output, r, shown, ao.ucode); break;
        case Format::Binary:
            for (const Words& w : r.words)
                for (std::uint32_t word : {w.w0, w.w1})
                    for (int shift = 24; shift >= 0; shift -= 8)
                        output.text += static_cast<char>((word >> shift) & 0xFF);
            break;
        }
    }
    if (o.check) {
        if (!o.expectedFile.empty() && o.files.size() > 1) {
            // Several sources: their words one after another.
            AsmResult joined;
            joined.words = all;
            joined.lines.assign(all.size(), AsmLine{0, 0});
            checkWords(joined, expectedWords, o.expectedFile, report, totals);
        }
        if (!writeOut(o, report))
            return 2;
        complain(std::to_string(totals.checked) + " commands checked, " + std::to_string(totals.differences) + " difference"
                 + (totals.differences == 1 ? "" : "s"));
        return totals.errors || totals.differences ? 1 : 0;
    }
    if (!writeOut(o, output.text))
        return 2;
    return totals.errors ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) { return run(argc, argv); }
