// The assembler: C source to command words.
//
// The words every macro must give come from the fact sheet itself (fields.tsv
// evaluated by a small model of its own here, the compiled listings of
// idioms.md, the preset tables), and from the printer: whatever it prints
// must parse back to the same words.

#include "gbi/disassembler.h"
#include "gbi/idioms.h"
#include "gbi/parser.h"
#include "gbi/printer.h"
#include "gbi/symbols.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace dlscope::gbi;

namespace {

// The microcodes of the fact sheet this file checks.
constexpr Ucode kUcodes[] = {Ucode::F3D, Ucode::F3DEX, Ucode::F3DEX2};

// --- Helpers --------------------------------------------------------------------

std::string hex8(std::uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

std::string show(const std::vector<Words>& words)
{
    std::string s;
    for (const Words& w : words)
        s += hex8(w.w0) + " " + hex8(w.w1) + "\n";
    return s;
}

std::string show(const std::vector<AsmMessage>& messages)
{
    std::string s;
    for (const AsmMessage& m : messages)
        s += formatAsmMessage(m) + "\n";
    return s;
}

AsmOptions opts(Ucode u = Ucode::F3DEX2, Names names = Names::Libultra)
{
    AsmOptions o;
    o.ucode = u;
    o.names = names;
    return o;
}

const AsmMessage* find(const AsmResult& r, Severity s, const std::string& text)
{
    for (const AsmMessage& m : r.messages)
        if (m.severity == s && m.text.find(text) != std::string::npos)
            return &m;
    return nullptr;
}

std::vector<std::vector<std::string>> readTsv(const std::string& name)
{
    std::ifstream in(std::string(DLSCOPE_FACTS_DIR) + "/" + name);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::size_t p = 0;
        for (;;) {
            const std::size_t t = line.find('\t', p);
            cols.push_back(line.substr(p, t == std::string::npos ? std::string::npos : t - p));
            if (t == std::string::npos)
                break;
            p = t + 1;
        }
        rows.push_back(std::move(cols));
    }
    return rows;
}

std::int64_t number(const std::string& s)
{
    std::string t = s;
    bool negative = false;
    if (!t.empty() && t[0] == '-') {
        negative = true;
        t = t.substr(1);
    }
    const std::int64_t v = std::stoll(t, nullptr, t.size() > 1 && (t[1] == 'x' || t[1] == 'X') ? 16 : 10);
    return negative ? -v : v;
}

std::vector<Ucode> ucodesOf(const std::string& group)
{
    if (group == "all")
        return {Ucode::F3D, Ucode::F3DEX, Ucode::F3DEX2};
    std::vector<Ucode> out;
    std::stringstream ss(group);
    std::string item;
    while (std::getline(ss, item, ','))
        out.push_back(*parseUcode(item));
    return out;
}

// Constants of the fact sheet: table -> (name, value) per microcode.
struct FactConstants {
    struct Entry {
        std::string table, ucode, name;
        std::int64_t value;
    };
    std::vector<Entry> entries;
    FactConstants()
    {
        for (const auto& r : readTsv("constants.tsv")) {
            if (r.size() < 5 || r[4].find("HW1 only") != std::string::npos)
                continue;
            entries.push_back({r[0], r[1], r[2], number(r[3])});
        }
    }
    static bool applies(const std::string& group, Ucode u)
    {
        for (Ucode x : ucodesOf(group))
            if (x == u)
                return true;
        return false;
    }
    std::vector<const Entry*> table(const std::string& t, Ucode u) const
    {
        std::vector<const Entry*> out;
        for (const Entry& e : entries)
            if (e.table == t && applies(e.ucode, u))
                out.push_back(&e);
        return out;
    }
    std::int64_t value(const std::string& name, Ucode u) const
    {
        for (const Entry& e : entries)
            if (e.name == name && applies(e.ucode, u))
                return e.value;
        ADD_FAILURE() << "no constant " << name;
        return 0;
    }
};

const FactConstants& constants()
{
    static const FactConstants c;
    return c;
}

// --- An independent reading of fields.tsv's encode column ------------------------------

// Evaluates the small C-like expressions of the encode column: x, argument
// names, numbers, + - * / % << >> & | ^ ~, parentheses, (int) casts, and the
// size-table helpers.
class EncodeExpr {
public:
    EncodeExpr(const std::string& text, const std::map<std::string, std::int64_t>& vars, Ucode u)
        : s_(text), vars_(vars), u_(u)
    {
    }
    std::optional<std::int64_t> eval()
    {
        const std::int64_t v = orExpr();
        skip();
        if (bad_ || p_ != s_.size())
            return std::nullopt;
        return v;
    }

private:
    void skip()
    {
        while (p_ < s_.size() && s_[p_] == ' ')
            ++p_;
    }
    bool eat(const std::string& op)
    {
        skip();
        if (s_.compare(p_, op.size(), op) == 0) {
            // Do not take '<' of '<<' and the like.
            if (op.size() == 1 && p_ + 1 < s_.size() && (op == "<" || op == ">" || op == "&" || op == "|") && s_[p_ + 1] == op[0])
                return false;
            p_ += op.size();
            return true;
        }
        return false;
    }
    std::int64_t orExpr()
    {
        std::int64_t v = xorExpr();
        while (eat("|"))
            v |= xorExpr();
        return v;
    }
    std::int64_t xorExpr()
    {
        std::int64_t v = andExpr();
        while (eat("^"))
            v ^= andExpr();
        return v;
    }
    std::int64_t andExpr()
    {
        std::int64_t v = shiftExpr();
        while (eat("&"))
            v &= shiftExpr();
        return v;
    }
    std::int64_t shiftExpr()
    {
        std::int64_t v = addExpr();
        for (;;) {
            if (eat("<<"))
                v = v << addExpr();
            else if (eat(">>"))
                v = v >> addExpr();
            else
                return v;
        }
    }
    std::int64_t addExpr()
    {
        std::int64_t v = mulExpr();
        for (;;) {
            if (eat("+"))
                v += mulExpr();
            else if (eat("-"))
                v -= mulExpr();
            else
                return v;
        }
    }
    std::int64_t mulExpr()
    {
        std::int64_t v = unary();
        for (;;) {
            if (eat("*")) {
                v *= unary();
            } else if (eat("/")) {
                const std::int64_t d = unary();
                if (d == 0) {
                    bad_ = true;
                    return 0;
                }
                v /= d;
            } else {
                return v;
            }
        }
    }
    std::int64_t unary()
    {
        if (eat("~"))
            return ~unary();
        if (eat("-"))
            return -unary();
        if (eat("(int)"))
            return unary();
        return primary();
    }
    std::string sizeName(std::int64_t siz) const
    {
        static const char* names[] = {"4b", "8b", "16b", "32b"};
        return siz >= 0 && siz < 4 ? names[siz] : "bad";
    }
    std::int64_t primary()
    {
        skip();
        if (eat("(")) {
            const std::int64_t v = orExpr();
            if (!eat(")"))
                bad_ = true;
            return v;
        }
        const std::size_t start = p_;
        if (p_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[p_]))) {
            while (p_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[p_])) || s_[p_] == '.'))
                ++p_;
            std::string t = s_.substr(start, p_ - start);
            if (const std::size_t dot = t.find('.'); dot != std::string::npos)
                t = t.substr(0, dot); // 4.0 with an integer x
            return number(t);
        }
        while (p_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[p_])) || s_[p_] == '_'))
            ++p_;
        const std::string id = s_.substr(start, p_ - start);
        if (id.empty()) {
            bad_ = true;
            return 0;
        }
        if (eat("(")) {
            std::vector<std::int64_t> a;
            if (!eat(")")) {
                do
                    a.push_back(orExpr());
                while (eat(","));
                if (!eat(")"))
                    bad_ = true;
            }
            if (bad_)
                return 0;
            if (id == "MIN" && a.size() == 2)
                return std::min(a[0], a[1]);
            if (id == "CALC_DXT" && a.size() == 2) {
                const std::int64_t words = std::max<std::int64_t>(1, a[0] * a[1] / 8);
                return (2048 + words - 1) / words;
            }
            if (id == "CALC_DXT_4b" && a.size() == 1) {
                const std::int64_t words = std::max<std::int64_t>(1, a[0] / 16);
                return (2048 + words - 1) / words;
            }
            static const std::map<std::string, std::string> tables = {{"LOAD_BLOCK", "_LOAD_BLOCK"}, {"INCR", "_INCR"},
                {"SHIFT", "_SHIFT"}, {"BYTES", "_BYTES"}, {"LINE_BYTES", "_LINE_BYTES"}, {"TILE_BYTES", "_TILE_BYTES"}};
            if (const auto it = tables.find(id); it != tables.end() && a.size() == 1)
                return constants().value("G_IM_SIZ_" + sizeName(a[0]) + it->second, u_);
            bad_ = true;
            return 0;
        }
        if (const auto it = vars_.find(id); it != vars_.end())
            return it->second;
        bad_ = true;
        return 0;
    }

    std::string s_;
    const std::map<std::string, std::int64_t>& vars_;
    Ucode u_;
    std::size_t p_ = 0;
    bool bad_ = false;
};

struct FieldRow {
    std::string arg, word, bits, encode, type;
};
struct Signature {
    std::string ucodes, macro, source, args;
    int commands = 1;
    std::vector<FieldRow> rows;
};

std::vector<Signature> signatures()
{
    std::vector<Signature> out;
    std::map<std::string, std::size_t> byKey;
    for (const auto& r : readTsv("fields.tsv")) {
        if (r.size() < 10)
            continue;
        const std::string key = r[0] + "|" + r[1] + "|" + r[8];
        if (r[2] == "(signature)") {
            Signature s;
            s.ucodes = r[0];
            s.macro = r[1];
            s.source = r[8];
            s.args = r[5];
            s.commands = std::atoi(r[9].c_str());
            byKey[key] = out.size();
            out.push_back(s);
            continue;
        }
        const auto it = byKey.find(key);
        if (it != byKey.end())
            out[it->second].rows.push_back({r[2], r[3], r[4], r[5], r[7]});
    }
    // The argpos column is not needed: take the type from the row itself.
    for (const auto& r : readTsv("fields.tsv")) {
        if (r.size() < 10 || r[2] == "(signature)")
            continue;
        const auto it = byKey.find(r[0] + "|" + r[1] + "|" + r[8]);
        if (it == byKey.end())
            continue;
        for (FieldRow& f : out[it->second].rows)
            if (f.arg == r[2] && f.word == r[3] && f.bits == r[4])
                f.type = r[6];
    }
    return out;
}

std::vector<std::string> splitArgs(const std::string& sig)
{
    std::vector<std::string> out;
    const std::size_t open = sig.find('('), close = sig.rfind(')');
    std::stringstream ss(sig.substr(open + 1, close - open - 1));
    std::string a;
    while (std::getline(ss, a, ',')) {
        while (!a.empty() && a.front() == ' ')
            a.erase(a.begin());
        if (!a.empty())
            out.push_back(a);
    }
    return out;
}

// An argument for a field type: the text written and the value the encode
// column computes with.
struct Arg {
    std::string text;
    std::int64_t value;
};

Arg argFor(const std::string& type, const std::string& name, Ucode u, std::mt19937& rng)
{
    auto pick = [&](std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
    };
    auto num = [&](std::int64_t v) { return Arg{std::to_string(v), v}; };
    auto named = [&](const std::string& table, const std::string& prefix = "") {
        auto entries = constants().table(table, u);
        std::vector<const FactConstants::Entry*> fit;
        for (const auto* e : entries)
            if (e->name.rfind(prefix, 0) == 0)
                fit.push_back(e);
        const auto* e = fit[rng() % fit.size()];
        return Arg{e->name, e->value};
    };
    auto has = [&](const char* s) { return type.find(s) != std::string::npos; };
    if (has("G_CCMUX_ suffix")) {
        Arg a = named("G_CCMUX");
        return {a.text.substr(8), a.value};
    }
    if (has("G_ACMUX_ suffix")) {
        Arg a = named("G_ACMUX");
        return {a.text.substr(8), a.value};
    }
    if (has("token FRUSTRATIO")) {
        const std::int64_t n = pick(1, 6);
        return {"FRUSTRATIO_" + std::to_string(n), n};
    }
    if (has("token LIGHT"))
        return named("LIGHT");
    if (has("G_IM_SIZ token")) {
        static const char* sizes[] = {"G_IM_SIZ_4b", "G_IM_SIZ_8b", "G_IM_SIZ_16b", "G_IM_SIZ_32b"};
        const std::int64_t siz = pick(0, 3);
        return {sizes[siz], siz};
    }
    if (has("pre-shifted constant")) {
        const std::string table = type.substr(0, type.find(' '));
        return named(table);
    }
    if (has("NUMLIGHTS"))
        return num(pick(1, 7));
    if (has("LIGHT_1..LIGHT_8"))
        return num(pick(1, 8));
    if (has("G_ON/G_OFF"))
        return named("G_ON");
    if (has("G_MTX_MODELVIEW/G_MTX_PROJECTION")) {
        const bool p = rng() % 2;
        return {p ? "G_MTX_PROJECTION" : "G_MTX_MODELVIEW", p ? constants().value("G_MTX_PROJECTION", u) : 0};
    }
    if (has("G_MTX flags"))
        return num(pick(0, 7));
    if (has("G_MWO_POINT"))
        return named("G_MWO", "G_MWO_POINT_");
    if (has("G_MWO_MATRIX"))
        return named("G_MWO", "G_MWO_MATRIX_");
    if (has("opcode G_SETOTHERMODE")) {
        const bool h = rng() % 2;
        return {h ? "G_SETOTHERMODE_H" : "G_SETOTHERMODE_L", u == Ucode::F3DEX2 ? (h ? 0xE3 : 0xE2) : (h ? 0xBA : 0xB9)};
    }
    if (has("G_SETCIMG/"))
        return num(0xFD + pick(0, 2));
    if (has("G_GEOMETRY_MODE")) {
        std::int64_t v = 0;
        for (const auto* e : constants().table("G_GEOMETRY_MODE", u))
            if (rng() % 3 == 0)
                v |= e->value;
        return num(v);
    }
    if (has("OR of G_PM"))
        return num(pick(0, 0xFFFFFF));
    if (has("OR of G_AC") || has("u32") || has("addr") || has("object"))
        return num(static_cast<std::int64_t>(rng() & 0xFFFFFFF8u));
    if (has("G_TX_cm"))
        return num(pick(0, 3));
    if (has("G_IM_FMT"))
        return named("G_IM_FMT");
    if (has("G_IM_SIZ"))
        return num(pick(0, 3));
    if (has("G_SC"))
        return named("G_SC");
    if (has("G_MW"))
        return num(pick(0, 15));
    if (has("int9"))
        return num(pick(-256, 255));
    if (has("int16") || has("fixed s"))
        return num(pick(-32768, 32767));
    if (has("fixed 0.16") || has("16-bit"))
        return num(pick(0, 0xFFFF));
    if (has("fixed 10.2") || has("12-bit") || has("fixed 1.11"))
        return num(pick(0, 0xFFF));
    if (has("24-bit"))
        return num(pick(0, 0xFFFFFF));
    if (has("1-4096") || has("bytes 1-4096"))
        return num(pick(1, 4096));
    if (has("entries 1-1024"))
        return num(pick(1, 1024));
    if (has("int 1-63"))
        return num(pick(1, 63));
    if (has("int 1-16"))
        return num(pick(1, 16));
    if (has("int 1-255"))
        return num(pick(1, 255));
    if (has("multiple of 8"))
        return num(8 * pick(1, 31));
    if (has("0-255") || has("8-bit"))
        return num(pick(0, 255));
    if (has("0-127"))
        return num(pick(0, 127));
    if (has("0-7"))
        return num(pick(0, 7));
    if (has("0-3"))
        return num(pick(0, 3));
    if (has("0-2"))
        return num(pick(0, 2));
    if (has("0-1"))
        return num(pick(0, 1));
    if (has("TMEM"))
        return num(pick(0, 511));
    if (has("texel") || has("pixels"))
        return num(pick(1, 64));
    if (has("shift"))
        return num(pick(0, 23));
    if (has("length"))
        return num(pick(1, 8));
    (void)name;
    return num(pick(0, 15));
}

// Macros this test leaves to others: prose encodings (presets, float depth
// ratios, flag rotations are covered by their own tests).
bool skippedMacro(const std::string& m)
{
    return m == "gsDPSetCombineMode" || m == "gsSPBranchLessZ" || m == "gsSPBranchLessZrg" || m == "gsDPSetRenderMode"
        || m == "gsSPFogPosition";
}

TEST(FactsMacros, EveryMacroOfEveryMicrocodeGivesTheWordsItsFieldsDescribe)
{
    std::mt19937 rng(20261208);
    std::size_t checked = 0;
    std::set<std::string> macros;
    for (const Signature& sig : signatures()) {
        if (sig.source.find("HW_VERSION_1") != std::string::npos || skippedMacro(sig.macro))
            continue;
        const std::vector<std::string> names = splitArgs(sig.args);
        for (Ucode u : ucodesOf(sig.ucodes)) {
            for (int sample = 0; sample < 6; ++sample) {
                std::map<std::string, std::int64_t> vars;
                std::string text = sig.macro + "(";
                for (std::size_t i = 0; i < names.size(); ++i) {
                    std::string type;
                    for (const FieldRow& f : sig.rows)
                        if (f.arg == names[i] && !f.type.empty())
                            type = f.type;
                    Arg a = argFor(type, names[i], u, rng);
                    if (names[i].rfind("flag", 0) == 0)
                        a = {"0", 0}; // the rotations have their own test
                    if (sig.macro == "gsSPCullDisplayList" && u == Ucode::F3D && names[i] == "vend")
                        a = {std::to_string(a.value % 15), a.value % 15};
                    vars[names[i]] = a.value;
                    text += (i ? ", " : "") + a.text;
                }
                text += ")";
                const AsmOptions o = opts(u, sig.source == "sm64-only" ? Names::Sm64 : Names::Libultra);
                const AsmResult r = assemble(text, o);
                EXPECT_EQ(r.errors, 0u) << ucodeName(u) << " " << text << "\n" << show(r.messages);
                if (r.errors)
                    continue;
                std::vector<Words> expected(static_cast<std::size_t>(sig.commands));
                bool describable = true;
                for (const FieldRow& f : sig.rows) {
                    if (f.bits == "-" || f.bits.empty())
                        continue;
                    int cmd = 0, word;
                    if (f.word == "w0" || f.word == "w1") {
                        word = f.word[1] - '0';
                    } else if (f.word.size() == 5 && f.word[0] == 'c' && f.word[2] == '.') {
                        cmd = f.word[1] - '1';
                        word = f.word[4] - '0';
                    } else {
                        continue; // prose over both words (quadrangle flags)
                    }
                    const int hi = std::stoi(f.bits.substr(0, f.bits.find('-')));
                    const int lo = std::stoi(f.bits.substr(f.bits.find('-') + 1));
                    std::int64_t v;
                    if (f.encode.rfind("= ", 0) == 0) {
                        v = number(f.encode.substr(2, f.encode.find(' ', 2) - 2));
                    } else {
                        std::string e = f.encode;
                        if (const std::size_t p = e.find(" (flag"); p != std::string::npos)
                            e = e.substr(0, p);
                        auto local = vars;
                        if (f.arg.find(',') == std::string::npos)
                            local["x"] = vars[f.arg];
                        const std::optional<std::int64_t> ev = EncodeExpr(e, local, u).eval();
                        if (!ev) {
                            if (e.find("flag") == std::string::npos && e.find("rotation") == std::string::npos
                                && e.find("not encoded") == std::string::npos)
                                describable = false;
                            continue;
                        }
                        v = *ev;
                    }
                    const int width = hi - lo + 1;
                    const std::uint64_t mask = width >= 32 ? 0xFFFFFFFFull : (1ull << width) - 1;
                    std::uint32_t& target = word == 0 ? expected[static_cast<std::size_t>(cmd)].w0 : expected[static_cast<std::size_t>(cmd)].w1;
                    target |= static_cast<std::uint32_t>((static_cast<std::uint64_t>(v) & mask) << lo);
                }
                ASSERT_TRUE(describable) << sig.macro;
                EXPECT_EQ(show(r.words), show(expected)) << ucodeName(u) << " " << text;
                ++checked;
                macros.insert(sig.macro);
            }
        }
    }
    EXPECT_GT(macros.size(), 130u);
    EXPECT_GT(checked, 2000u);
}

// --- The compiled listings of idioms.md ---------------------------------------------

TEST(FactsIdioms, EveryCompiledListingAssemblesToItsWords)
{
    std::ifstream in(std::string(DLSCOPE_FACTS_DIR) + "/idioms.md");
    std::string line, call, header;
    bool inBlock = false;
    std::vector<Words> words;
    std::size_t listings = 0;
    auto finish = [&] {
        if (call.empty() || header.find("F3D_OLD") != std::string::npos)
            return;
        const std::size_t open = header.rfind('(');
        const std::string inside = header.substr(open + 1, header.find(')', open) - open - 1);
        const Ucode u = *parseUcode(inside.substr(0, inside.find(',')));
        const bool sm64 = inside.find("sm64") != std::string::npos;
        // The light listings were compiled with the structure at address 0.
        MapResolver objects;
        for (int n = 0; n <= 7; ++n)
            objects.add("LOBJ" + std::to_string(n), {0, 0});
        AsmOptions o = opts(u, sm64 ? Names::Sm64 : Names::Libultra);
        o.resolver = &objects;
        const AsmResult r = assemble(call, o);
        EXPECT_EQ(r.errors, 0u) << call << "\n" << show(r.messages);
        EXPECT_EQ(show(r.words), show(words)) << ucodeName(u) << ": " << call;
        ++listings;
    };
    while (std::getline(in, line)) {
        if (line.rfind("```", 0) == 0) {
            if (inBlock) {
                finish();
                call.clear();
                words.clear();
            }
            inBlock = !inBlock;
            continue;
        }
        if (inBlock) {
            if (line.size() >= 17)
                words.push_back({static_cast<std::uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16)),
                                 static_cast<std::uint32_t>(std::stoul(line.substr(9, 8), nullptr, 16))});
            continue;
        }
        const std::size_t tick = line.rfind("` (");
        if (tick != std::string::npos && line.find(" (f3d") != std::string::npos) {
            const std::size_t start = line.rfind('`', tick - 1);
            call = line.substr(start + 1, tick - start - 1);
            header = line;
        }
    }
    EXPECT_GE(listings, 40u);
}

// --- Presets ------------------------------------------------------------------------

TEST(FactsPresets, EveryRenderModePairGivesItsSetRenderModeWord)
{
    std::size_t n = 0;
    for (const auto& r : readTsv("rendermodes.tsv")) {
        if (r.size() < 13 || r[2] == "-" || r[2].empty())
            continue;
        const Names names = r[12] == "sm64" ? Names::Sm64 : Names::Libultra;
        for (Ucode u : kUcodes) {
            const AsmResult a = assemble("gsDPSetRenderMode(" + r[0] + ", " + r[2] + ")", opts(u, names));
            ASSERT_EQ(a.errors, 0u) << r[0] << show(a.messages);
            ASSERT_EQ(a.words.size(), 1u);
            EXPECT_EQ(hex8(a.words[0].w1), hex8(static_cast<std::uint32_t>(number(r[4])))) << r[0];
            EXPECT_EQ(hex8(a.words[0].w0), u == Ucode::F3DEX2 ? "E200001C" : "B900031D");
            ++n;
        }
    }
    EXPECT_GT(n, 100u);
    // A preset of the sm64 header needs the sm64 names.
    EXPECT_GT(assemble("gsDPSetRenderMode(G_RM_CUSTOM_AA_ZB_XLU_SURF, G_RM_CUSTOM_AA_ZB_XLU_SURF2)", opts()).errors, 0u);
}

TEST(FactsPresets, EveryCombinePresetInEitherCycleGivesItsBits)
{
    struct Preset {
        std::string name;
        std::uint32_t c1w0, c1w1, c2w0, c2w1;
        bool libultra, sm64;
    };
    std::vector<Preset> presets;
    for (const auto& r : readTsv("combinemodes.tsv")) {
        if (r.size() < 19)
            continue;
        const bool sm64Only = r[18] == "sm64 only";
        presets.push_back({r[0], static_cast<std::uint32_t>(number(r[14])), static_cast<std::uint32_t>(number(r[15])),
                           static_cast<std::uint32_t>(number(r[16])), static_cast<std::uint32_t>(number(r[17])),
                           !sm64Only && r[18].find("ultralib") != std::string::npos, r[18].find("sm64") != std::string::npos});
    }
    ASSERT_GT(presets.size(), 60u);
    std::mt19937 rng(7);
    std::size_t n = 0;
    for (const Preset& a : presets) {
        for (int k = 0; k < 4; ++k) {
            const Preset& b = k == 0 ? a : presets[rng() % presets.size()];
            for (const Names names : {Names::Libultra, Names::Sm64}) {
                const bool sm = names == Names::Sm64;
                if ((sm ? !a.sm64 : !a.libultra) || (sm ? !b.sm64 : !b.libultra))
                    continue;
                const AsmResult r = assemble("gsDPSetCombineMode(" + a.name + ", " + b.name + ")", opts(Ucode::F3DEX, names));
                ASSERT_EQ(r.errors, 0u) << a.name << " " << b.name << show(r.messages);
                EXPECT_EQ(hex8(r.words[0].w0), hex8(0xFC000000u | a.c1w0 | b.c2w0)) << a.name << ", " << b.name;
                EXPECT_EQ(hex8(r.words[0].w1), hex8(a.c1w1 | b.c2w1)) << a.name << ", " << b.name;
                ++n;
            }
        }
    }
    EXPECT_GT(n, 300u);
}

TEST(FactsPresets, PresetsOfTheOtherFlavourAreReported)
{
    // G_CC_FADE exists only in the sm64 header; G_CC_ADDRGB differs between them.
    const AsmResult lib = assemble("gsDPSetCombineMode(G_CC_FADE, G_CC_FADE)", opts());
    ASSERT_NE(find(lib, Severity::Error, "only by the sm64 header"), nullptr) << show(lib.messages);
    const AsmResult a = assemble("gsDPSetCombineMode(G_CC_ADDRGB, G_CC_ADDRGB)", opts(Ucode::F3DEX2, Names::Libultra));
    const AsmResult b = assemble("gsDPSetCombineMode(G_CC_ADDRGB, G_CC_ADDRGB)", opts(Ucode::F3DEX2, Names::Sm64));
    ASSERT_EQ(a.words.size(), 1u);
    ASSERT_EQ(b.words.size(), 1u);
    EXPECT_NE(a.words[0], b.words[0]);
}

// --- Every printed command parses back to its words ------------------------------------

long iterations(long fallback)
{
    if (const char* s = std::getenv("DLSCOPE_ROUNDTRIP_COUNT"))
        return std::atol(s);
    return fallback;
}

// Words biased toward the shapes macros take: small fields, zero runs.
Words randomWords(std::mt19937_64& rng, long k)
{
    const std::uint64_t r = rng();
    Words w{static_cast<std::uint32_t>(rng() & 0xFF) << 24 | static_cast<std::uint32_t>(r & 0xFFFFFF), static_cast<std::uint32_t>(r >> 32)};
    switch (k % 6) {
    case 1: w.w1 &= 0xFFFF; break;
    case 2:
        w.w0 &= 0xFF00FFFF;
        w.w1 &= 0x00FF00FF;
        break;
    case 3:
        w.w0 &= 0xFF0000FF;
        w.w1 &= 0xFF;
        break;
    case 4: w.w1 &= 0xF0F0F0F0; break;
    default: break;
    }
    return w;
}

TEST(RoundTrip, EveryPrintedSingleCommandParsesToItsWords)
{
    const long perFlavour = iterations(60000);
    std::mt19937_64 rng(1);
    long total = 0;
    for (Ucode u : kUcodes) {
        for (Names names : {Names::Libultra, Names::Sm64}) {
            const AsmOptions o = opts(u, names);
            MacroParser parser(o);
            std::vector<Words> out;
            DecodeOptions d;
            d.names = names;
            for (long k = 0; k < perFlavour; ++k) {
                const Words w = randomWords(rng, k);
                const Command c = decodeSingle(u, w, d);
                for (bool dynamic : {false, true}) {
                    const std::string text = commandText(c, PrintOptions{dynamic, "POLY_OPA_DISP++", names, nullptr});
                    out.clear();
                    const bool ok = parser.parse(text, out);
                    ASSERT_TRUE(ok && out.size() == 1 && out[0] == w)
                        << ucodeName(u) << " " << hex8(w.w0) << " " << hex8(w.w1) << ": " << text << "\n"
                        << show(parser.messages()) << show(out);
                    ++total;
                }
            }
        }
    }
    EXPECT_EQ(total, perFlavour * 12);
}

// A resolver that knows every name the namer below gives.
class PatternResolver final : public SymbolResolver {
public:
    std::optional<SymbolInfo> resolve(std::string_view n) const override
    {
        if (n.substr(0, 4) != "sym_")
            return std::nullopt;
        return SymbolInfo{static_cast<std::uint32_t>(std::stoul(std::string(n.substr(4)), nullptr, 16)), 0};
    }
};
class PatternNamer final : public AddressNamer {
public:
    bool name(std::uint32_t a, std::string& out) const override
    {
        if ((a & 0xFF) != 0x40)
            return false;
        out = "sym_" + hex8(a);
        return true;
    }
};

TEST(RoundTrip, EveryFoldedMacroParsesToTheEntriesItCovers)
{
    const long perIdiom = iterations(60000) / 500 + 20;
    std::mt19937_64 rng(2);
    PatternResolver resolver;
    PatternNamer namer;
    std::set<std::string> printed;
    for (Ucode u : kUcodes) {
        for (Names names : {Names::Libultra, Names::Sm64}) {
            AsmOptions o = opts(u, names);
            o.resolver = &resolver;
            MacroParser parser(o);
            for (const MacroSpec& m : idiomMacros()) {
                if (!(m.ucodes & ucodeBit(u)))
                    continue;
                for (long k = 0; k < perIdiom; ++k) {
                    std::int64_t a[kMaxArgs] = {};
                    for (std::size_t i = 0; i < m.args.size(); ++i) {
                        const std::string_view n = m.args[i].name;
                        std::int64_t v = static_cast<std::int64_t>(rng() % (k % 2 ? 8 : 64));
                        if (n == "siz")
                            v = static_cast<std::int64_t>(rng() % 4);
                        else if (n == "fmt")
                            v = static_cast<std::int64_t>(rng() % 5);
                        else if (n == "width" || n == "height")
                            v = 1 + static_cast<std::int64_t>(rng() % (k % 3 ? 64 : 1024));
                        else if (m.args[i].kind == ArgKind::Addr)
                            v = static_cast<std::int64_t>((rng() & 0xFFFFFF00u) | (k % 3 == 0 ? 0x40u : 0u));
                        else if (n == "r")
                            v = 1 + static_cast<std::int64_t>(rng() % 6);
                        else if (n == "n")
                            v = 1 + static_cast<std::int64_t>(rng() % 8);
                        else if (n == "tmem" || n == "tmemaddr")
                            v = static_cast<std::int64_t>(rng() % 512);
                        else if (n == "count")
                            v = 1 + static_cast<std::int64_t>(rng() % 256);
                        else if (n == "uls" || n == "ult")
                            v = static_cast<std::int64_t>(rng() % 32);
                        else if (n == "lrs" || n == "lrt")
                            v = 32 + static_cast<std::int64_t>(rng() % 64);
                        else if (n == "cms" || n == "cmt")
                            v = static_cast<std::int64_t>(rng() % 4);
                        else if (n == "rtile")
                            v = static_cast<std::int64_t>(rng() % 8);
                        else if (n == "pal" || n == "masks" || n == "maskt" || n == "shifts" || n == "shiftt")
                            v = static_cast<std::int64_t>(rng() % 16);
                        else if (n == "xl" || n == "yl" || n == "xh" || n == "yh")
                            v = static_cast<std::int64_t>(rng() % 4096);
                        else if (n == "s" || n == "t" || n == "dsdx" || n == "dtdy" || n == "wordhi" || n == "wordlo" || n == "zval" || n == "col")
                            v = static_cast<std::int64_t>(rng() & 0xFFFF);
                        if (m.name == "gsSPGeometryMode")
                            v = static_cast<std::int64_t>(rng() & 0xFFFFFFFFu);
                        a[i] = v;
                    }
                    std::vector<Words> words;
                    if (!expandIdiom(u, m, std::span<const std::int64_t>(a, m.args.size()), words))
                        continue;
                    ListOptions lo;
                    lo.decode.names = names;
                    lo.namer = &namer;
                    for (bool dynamic : {false, true}) {
                        std::vector<Words> got;
                        std::string texts;
                        for (const Command& c : decodeList(u, words, lo)) {
                            const std::string t = commandText(c, PrintOptions{dynamic, "gfx++", names, &namer});
                            texts += t + "\n";
                            printed.insert(std::string(c.macro->name));
                            ASSERT_TRUE(parser.parse(t, got)) << ucodeName(u) << ": " << t << "\n" << show(parser.messages());
                        }
                        ASSERT_EQ(show(got), show(words)) << ucodeName(u) << " " << m.name << ":\n" << texts;
                    }
                }
            }
        }
    }
    // Every multi-command macro was printed folded at least once.
    for (const MacroSpec& m : idiomMacros()) {
        if ((m.ucodes & 7) && m.name != "gsSPSetLights0" && m.name != "gsDPLoadMultiBlock") {
            EXPECT_TRUE(printed.count(std::string(m.name))) << m.name;
        }
    }
}

TEST(RoundTrip, RandomListsDecodedWithFoldingParseBack)
{
    // Runs of opcodes that start and continue multi-command macros, so that
    // folding, partial matches and truncated macros all occur.
    const std::uint8_t interesting[] = {0xFD, 0xF5, 0xE6, 0xF3, 0xF4, 0xE7, 0xF2, 0xE8, 0xF0, 0xE4, 0xE5, 0xE1, 0xF1,
                                        0xB4, 0xB3, 0xB2, 0xDB, 0xBC, 0xDC, 0x03, 0x04, 0xB0, 0xDD, 0xAF, 0xBF, 0xB6, 0xB7, 0xD9};
    const long lists = iterations(60000) / 40 + 100;
    std::mt19937_64 rng(3);
    PatternResolver resolver;
    PatternNamer namer;
    for (Ucode u : kUcodes) {
        for (Names names : {Names::Libultra, Names::Sm64}) {
            AsmOptions o = opts(u, names);
            o.resolver = &resolver;
            MacroParser parser(o);
            for (long k = 0; k < lists; ++k) {
                std::vector<Words> words(12);
                for (Words& w : words) {
                    w = randomWords(rng, static_cast<long>(rng() % 6));
                    if (rng() % 4)
                        w.w0 = (w.w0 & 0x00FFFFFF) | static_cast<std::uint32_t>(interesting[rng() % std::size(interesting)]) << 24;
                    if (rng() % 3 == 0)
                        w.w1 = (w.w1 & ~0xFFu) | 0x40u;
                }
                ListOptions lo;
                lo.decode.names = names;
                lo.namer = &namer;
                std::vector<Words> got;
                for (const Command& c : decodeList(u, words, lo)) {
                    const std::string t = commandText(c, PrintOptions{k % 2 == 1, "gfx++", names, &namer});
                    ASSERT_TRUE(parser.parse(t, got)) << t << "\n" << show(parser.messages());
                }
                ASSERT_EQ(show(got), show(words)) << ucodeName(u);
            }
        }
    }
}

// --- Expressions ----------------------------------------------------------------------

// The value an expression gives, through a macro that stores a whole word.
std::optional<std::uint32_t> wordOf(const std::string& expr, const AsmOptions& o = opts())
{
    const AsmResult r = assemble("gsDPSetFillColor(" + expr + ")", o);
    if (r.errors || r.words.size() != 1)
        return std::nullopt;
    return r.words[0].w1;
}

TEST(Expressions, CConstantExpressionsWithTheN64Types)
{
    const struct {
        const char* expr;
        std::uint32_t value;
    } cases[] = {
        {"42", 42},
        {"0x2A", 42},
        {"052", 42},
        {"0b101010", 42},
        {"42u", 42},
        {"42UL", 42},
        {"42ll", 42},
        {"42LLU", 42},
        {"'A'", 65},
        {"'\\n'", 10},
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"7 / 2", 3},
        {"-7 / 2", 0xFFFFFFFD},       // truncates toward zero
        {"-7 % 3", 0xFFFFFFFF},
        {"1 << 31", 0x80000000},
        {"0xFFFFFFFF >> 4", 0x0FFFFFFF}, // unsigned int: logical shift
        {"-16 >> 2", 0xFFFFFFFC},        // int: arithmetic shift
        {"~0", 0xFFFFFFFF},
        {"!0 + !5", 1},
        {"0xF0 & 0x3C | 0x100 ^ 0x1", 0x131},
        {"3 < 4", 1},
        {"3 >= 4", 0},
        {"2 == 2 && 3 != 3", 0},
        {"0 || 7", 1},
        {"1 ? 10 : 20", 10},
        {"0 ? 10 : 1 ? 30 : 40", 30},
        {"-1 < 0u", 0},                // -1 converts to unsigned int
        {"-1 < 0ll", 1},
        {"(u8)0x1FF", 0xFF},
        {"(s8)0xFF", 0xFFFFFFFF},
        {"(u16)-1", 0xFFFF},
        {"(s16)0x8000", 0xFFFF8000},
        {"(u32)-1", 0xFFFFFFFF},
        {"(unsigned char)300", 44},
        {"(int)2.9", 2},
        {"(int)-2.9", 0xFFFFFFFE},
        {"(u32)(1.5 * 4)", 6},
        {"0x100000000 >> 32", 1},       // long long
        {"4294967296 / 2", 0x80000000},
        {"sizeof(Vtx)", 16},
        {"sizeof(Mtx) + sizeof(Gfx)", 72},
        {"sizeof(Lights2)", 40},
        {"G_IM_FMT_IA", 3},
        {"G_CCMUX_TEXEL0", 1},
        {"AA_EN | Z_CMP", 0x18},
        {"G_RM_AA_ZB_OPA_SURF", 0x00442078},
        {"G_RM_AA_ZB_OPA_SURF2", 0x00112078},
        {"GBL_c1(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_MEM, G_BL_A_MEM)", 0x00440000},
        {"GBL_c2(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_MEM, G_BL_A_MEM)", 0x00110000},
        {"GBL_c1(3, 3, 3, 3)", 0xCCCC0000},
        {"(32 - 1) << G_TEXTURE_IMAGE_FRAC", 124},
        {"CALC_DXT(32, G_IM_SIZ_16b_BYTES)", 0x100},
        {"CALC_DXT_4b(64)", 0x200},
        {"TXL2WORDS(32, 2)", 8},
        {"TXL2WORDS_4b(64)", 4},
        {"MIN(5, 3)", 3},
        {"qu016(0.5)", 0x8000},
        {"qu102(10.25)", 41},
        {"qs105(-1)", 0xFFFFFFE0},
        {"qs510(1.0)", 0x400},
        {"qs1616(-1.5)", 0xFFFE8000},
        {"FTOFIX32(2.5)", 0x28000},
        {"_SHIFTL(0x1FF, 4, 8)", 0xFF0},
        {"_SHIFTR(0xABCD, 8, 4)", 0xB},
        {"GPACK_RGBA5551(255, 0, 0, 1)", 0xF801},
        {"GPACK_RGBA5551(255, 0, 0, 1) << 16 | GPACK_RGBA5551(255, 0, 0, 1)", 0xF801F801},
        {"GPACK_ZDZ(G_MAXFBZ, 0)", 0xFFFC},
        {"FR_NEG_FRUSTRATIO_3", 3},
        {"1.75e1", 17},
        {"0x1p4", 16},
    };
    for (const auto& c : cases) {
        const std::optional<std::uint32_t> v = wordOf(c.expr);
        ASSERT_TRUE(v.has_value()) << c.expr << "\n" << show(assemble(std::string("gsDPSetFillColor(") + c.expr + ")", opts()).messages);
        EXPECT_EQ(hex8(*v), hex8(c.value)) << c.expr;
    }
}

TEST(Expressions, ConstantsFollowTheMicrocode)
{
    EXPECT_EQ(wordOf("G_CULL_BACK", opts(Ucode::F3D)), 0x2000u);
    EXPECT_EQ(wordOf("G_CULL_BACK", opts(Ucode::F3DEX2)), 0x400u);
    EXPECT_EQ(wordOf("G_MTX_PUSH", opts(Ucode::F3DEX)), 4u);
    EXPECT_EQ(wordOf("G_MTX_PUSH", opts(Ucode::F3DEX2)), 1u);
    EXPECT_EQ(wordOf("G_SETOTHERMODE_H", opts(Ucode::F3D)), 0xBAu);
    EXPECT_EQ(wordOf("G_SETOTHERMODE_H", opts(Ucode::F3DEX2)), 0xE3u);
    EXPECT_FALSE(wordOf("G_MV_L0", opts(Ucode::F3DEX2)).has_value()); // F3D/F3DEX only
}

TEST(Expressions, ErrorsNameWhatIsWrongAndWhere)
{
    const struct {
        const char* expr;
        const char* message;
        std::uint32_t column; // in "gsDPSetFillColor(" + expr + ")"
    } cases[] = {
        {"FOO", "unknown identifier 'FOO'", 18},
        {"1 +", "expected a value, found the end of the argument", 21},
        {"(1 + 2 3)", "expected ')', found '3'", 25},
        {"1 2", "unexpected '2' after the expression", 20},
        {"1 / 0", "division by zero", 20},
        {"5 % 0", "remainder by zero", 20},
        {"1 << 32", "shift count 32 is out of range", 20},
        {"1 << -1", "shift count -1 is out of range", 20},
        {"0x1FFFFFFFFFFFFFFFFF", "too large", 18},
        {"12abc", "invalid suffix 'abc'", 18},
        {"09", "invalid digit '9' in octal constant", 18},
        {"1.5 << 2", "needs integer operands", 22},
        {"~1.5", "needs an integer operand", 18},
        {"\"text\"", "a string is not a number", 18},
        {"*ptr", "cannot read memory", 18},
        {"x++", "unknown identifier 'x'", 18},
        {"UNKNOWN_FN(1)", "unknown function 'UNKNOWN_FN'", 18},
        {"gsDPPipeSync()", "is a display-list macro, not a value", 18},
        {"MIN(1)", "MIN takes 2 arguments, found 1", 18},
        {"sizeof(x)", "sizeof needs a type name", 18},
        {"0x100000000", "does not fit in 32 bits", 18},
        {"", "gsDPSetFillColor takes 1 argument, found 0: gsDPSetFillColor(d)", 18},
    };
    for (const auto& c : cases) {
        const std::string src = std::string("gsDPSetFillColor(") + c.expr + ")";
        const AsmResult r = assemble(src, opts());
        ASSERT_EQ(r.errors, 1u) << c.expr << "\n" << show(r.messages);
        const AsmMessage* m = find(r, Severity::Error, c.message);
        ASSERT_NE(m, nullptr) << c.expr << "\n" << show(r.messages);
        EXPECT_EQ(m->line, 1u);
        EXPECT_EQ(m->column, c.column) << c.expr << ": " << m->text;
        EXPECT_TRUE(r.words.empty());
    }
    const AsmResult empty = assemble("gsDPSetPrimColor(0, , 0, 0, 0, 0)", opts());
    ASSERT_NE(find(empty, Severity::Error, "argument 2 (l) is empty"), nullptr) << show(empty.messages);
    EXPECT_EQ(find(empty, Severity::Error, "argument 2 (l) is empty")->column, 21u);
    // Not evaluated, so not an error: the branch C does not take.
    EXPECT_EQ(wordOf("0 && 1 / 0"), 0u);
    EXPECT_EQ(wordOf("1 ? 2 : 1 / 0"), 2u);
}

TEST(Expressions, FloatsWhereTheHeaderTakesFloats)
{
    // gsDPSetScissor: (int)(x * 4.0f) quarter pixels.
    const AsmResult r = assemble("gsDPSetScissor(G_SC_NON_INTERLACE, 10.25, 0.5, 319.75, 239)", opts());
    ASSERT_EQ(r.errors, 0u) << show(r.messages);
    EXPECT_EQ(show(r.words), "ED029002 004FF3BC\n");
    // Elsewhere a fraction is dropped with a warning.
    const AsmResult w = assemble("gsDPSetPrimColor(0, 0, 12.5, 0, 0, 0)", opts());
    EXPECT_EQ(show(w.words), "FA000000 0C000000\n");
    EXPECT_NE(find(w, Severity::Warning, "fraction"), nullptr) << show(w.messages);
    // gsSPFogPosition: C integer division.
    EXPECT_EQ(show(assemble("gsSPFogPosition(980, 1000)", opts(Ucode::F3D)).words), "BC000008 1900E800\n");
    EXPECT_NE(find(assemble("gsSPFogPosition(5, 5)", opts()), Severity::Error, "divides by max - min"), nullptr);
    // gsSPBranchLessZ in single precision, both projections.
    EXPECT_EQ(show(assemble("gsSPBranchLessZ(0x06001000, 5, 500, 10, 1000, G_BZ_PERSP)", opts(Ucode::F3DEX)).words),
              "B4000000 06001000\nB001900A 03F3AD2C\n");
    const AsmResult ortho = assemble("gsSPBranchLessZrg(0x06001000, 5, 500.0, 0, 1000, G_BZ_ORTHO, 0, 1023)", opts());
    ASSERT_EQ(ortho.errors, 0u) << show(ortho.messages);
    EXPECT_EQ(ortho.words.size(), 2u);
    EXPECT_EQ(ortho.words[1].w1, 32768u * 1022u); // r = 0.5
}

// --- Addresses and symbols ----------------------------------------------------------------

TEST(Addresses, SymbolsDefinesMembersAndElements)
{
    MapResolver symbols;
    symbols.add("dl_body", {0x06001000, 0});
    symbols.add("verts", {0x06002000, 16});
    symbols.add("blob", {0x06003000, 0});
    symbols.add("light", {0x06004000, 0});
    AsmOptions o = opts(Ucode::F3DEX2);
    o.resolver = &symbols;
    o.defines["TEX"] = 0x05000000;
    const struct {
        const char* src;
        const char* words;
    } cases[] = {
        {"gsSPDisplayList(dl_body)", "DE000000 06001000\n"},
        {"gsSPDisplayList(&dl_body)", "DE000000 06001000\n"},
        {"gsSPDisplayList(dl_body + 0x10)", "DE000000 06001010\n"}, // element size unknown: bytes
        {"gsSPVertex(&verts[4], 4, 0)", "01004008 06002040\n"},
        {"gsSPVertex(verts + 4, 4, 0)", "01004008 06002040\n"},
        {"gsSPVertex((u8 *)verts + 4, 4, 0)", "01004008 06002004\n"},
        {"gsSPVertex(&blob[0], 4, 0)", "01004008 06003000\n"},
        {"gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, TEX + 0x800)", "FD100000 05000800\n"},
        {"gsSPLight(&light.l[1], 2)", "DC08090A 06004018\n"},
        {"gsSPLight(&light.a, 3)", "DC080C0A 06004000\n"},
        {"gsSPLight(&light.l[0].l, 1)", "DC08060A 06004008\n"},
        {"gsSPSetLights1(light)", "DB020000 00000018\nDC08060A 06004008\nDC08090A 06004000\n"},
        {"gsSPDisplayList(NULL)", "DE000000 00000000\n"},
    };
    for (const auto& c : cases) {
        const AsmResult r = assemble(c.src, o);
        EXPECT_EQ(r.errors, 0u) << c.src << "\n" << show(r.messages);
        EXPECT_EQ(show(r.words), c.words) << c.src;
    }
    // Element sizes come from declarations in the source as well.
    MapResolver plain;
    plain.add("v", {0x100, 0});
    plain.add("lit", {0x200, 0});
    AsmOptions p = opts(Ucode::F3DEX2);
    p.resolver = &plain;
    const AsmResult declared = assemble("Vtx v[] = { {{{0,0,0},0,{0,0},{0,0,0,0}}} };\n"
                                        "Lights2 lit = gdSPDefLights2(0,0,0, 0,0,0,0,0,0, 0,0,0,0,0,0);\n"
                                        "Gfx dl[] = { gsSPVertex(&v[2], 1, 0), gsSPVertex(v + 1, 1, 0), gsSPLight(&lit.l[1], 1) };\n",
                                        p);
    EXPECT_EQ(declared.errors, 0u) << show(declared.messages);
    // An array of light structures: index, then member.
    plain.add("suns", {0x400, 0});
    const AsmResult suns = assemble("Lights2 suns[3];\ngsSPLight(&suns[2].l[1], 1);\ngsSPSetLights2(suns[1]);", p);
    EXPECT_TRUE(suns.messages.empty()) << show(suns.messages); // a structure is what gsSPSetLights2 takes
    ASSERT_EQ(suns.words.size(), 5u);
    EXPECT_EQ(suns.words[0].w1, 0x400u + 2 * 40 + 8 + 16);
    EXPECT_EQ(suns.words[2].w1, 0x400u + 40 + 8); // its l[0]
    EXPECT_EQ(suns.words[4].w1, 0x400u + 40);     // its a
    EXPECT_EQ(show(declared.words), "01001002 00000120\n01001002 00000110\nDC08060A 00000218\n");
}

TEST(Addresses, NamesFromASymbolTable)
{
    SymbolTable table;
    table.load("06001000 body\nshade = 0x06002000;\n");
    const SymbolTableResolver resolver(table);
    AsmOptions o = opts();
    o.resolver = &resolver;
    const AsmResult r = assemble("gsSPDisplayList(body + 8), gsSPLight(&shade.l[0], 1), gsSPDisplayList(elsewhere)", o);
    EXPECT_EQ(show(r.words), "DE000000 06001008\nDC08060A 06002008\n");
    EXPECT_NE(find(r, Severity::Error, "unknown identifier 'elsewhere'"), nullptr) << show(r.messages);
}

TEST(Addresses, UnknownOrUnsizedSymbolsAreReported)
{
    MapResolver symbols;
    symbols.add("blob", {0x06003000, 0});
    AsmOptions o = opts();
    o.resolver = &symbols;
    const struct {
        const char* src;
        const char* message;
    } cases[] = {
        {"gsSPDisplayList(nowhere)", "unknown identifier 'nowhere'"},
        {"gsSPDisplayList(&blob[2])", "the element size of 'blob' is unknown"},
        {"gsSPDisplayList(blob.x)", "unsupported member 'x'"},
        {"gsSPDisplayList(blob->l)", "cannot read memory through '->'"},
        {"Gfx other[] = { gsSPEndDisplayList() };\nGfx dl[] = { gsSPDisplayList(other) };", "the address of 'other' is unknown"},
    };
    for (const auto& c : cases) {
        const AsmResult r = assemble(c.src, o);
        EXPECT_NE(find(r, Severity::Error, c.message), nullptr) << c.src << "\n" << show(r.messages);
    }
    // A structure without '&' still gives its address, with a warning.
    const AsmResult w = assemble("gsSPLight(blob.l[0], 1)", o);
    EXPECT_EQ(w.errors, 0u);
    EXPECT_NE(find(w, Severity::Warning, "write '&' before it"), nullptr) << show(w.messages);
}

TEST(Addresses, ListsOfTheFileGetAddressesFromTheBase)
{
    AsmOptions o = opts(Ucode::F3DEX2);
    o.base = 0x06000000;
    const AsmResult r = assemble("Gfx a[] = { gsSPDisplayList(b), gsSPBranchList(&b[1]), gsSPEndDisplayList() };\n"
                                 "Gfx b[] = { gsDPPipeSync(), gsSPEndDisplayList() };\n",
                                 o);
    EXPECT_EQ(r.errors, 0u) << show(r.messages);
    EXPECT_EQ(show(r.words), "DE000000 06000018\nDE010000 06000020\nDF000000 00000000\nE7000000 00000000\nDF000000 00000000\n");
    ASSERT_EQ(r.lists.size(), 2u);
    EXPECT_EQ(r.lists[1].name, "b");
    EXPECT_EQ(r.lists[1].first, 3u);
    EXPECT_EQ(r.lists[1].count, 2u);
}

// --- Sources as people write them --------------------------------------------------------

TEST(Sources, ArraysStatementsCommentsAndDirectives)
{
    const char* src = R"(// A model's display lists
#include <ultra64.h>
#define TEX_W 32
#define END gsSPEndDisplayList()

static Vtx quad_v[] = {
    {{{ -10, 0, 0 }, 0, { 0, 0 }, { 0xFF, 0xFF, 0xFF, 0xFF }}},
};

Gfx first[] = {
    gsDPPipeSync(), /* a comment */
    gsDPSetPrimColor(0, 0, 255, 128, 64, TEX_W),
    END,
};

const Gfx second[4] = { gsDPFullSync() };

Gfx table[][2] = {
    { gsDPPipeSync(), gsDPTileSync() },
    { gsDPLoadSync() },
};

void draw(Gfx** gfxp) {
    Gfx* gfx = *gfxp;
    if (x) {
        gDPPipeSync(gfx++);
    }
    gSPDisplayList(POLY_OPA_DISP++, 0x06000000);
    *gfxp = gfx;
}
gsDPNoOp(),
Gfx raw[] = { {{0xE7000000, 0}}, { 0xE9000000, 0x00000000 } };
)";
    const AsmResult r = assemble(src, opts());
    EXPECT_EQ(r.errors, 0u) << show(r.messages);
    EXPECT_EQ(show(r.words),
              "E7000000 00000000\nFA000000 FF804020\nDF000000 00000000\n"          // first
              "E9000000 00000000\n00000000 00000000\n00000000 00000000\n00000000 00000000\n" // second, padded to 4
              "E7000000 00000000\nE8000000 00000000\nE6000000 00000000\n00000000 00000000\n" // table, rows padded to 2
              "E7000000 00000000\nDE000000 06000000\n"                              // the function's statements
              "00000000 00000000\n"                                                 // bare line (F3DEX2 gsDPNoOp)
              "E7000000 00000000\nE9000000 00000000\n");                            // raw entries
    ASSERT_EQ(r.lists.size(), 4u);
    EXPECT_EQ(r.lists[0].name, "first");
    EXPECT_EQ(r.lists[0].count, 3u);
    EXPECT_EQ(r.lists[2].name, "table");
    EXPECT_EQ(r.lists[2].count, 4u);
    // The #include is noted, the defines are used.
    EXPECT_NE(find(r, Severity::Note, "preprocessor line skipped: '#include <ultra64.h>'"), nullptr) << show(r.messages);
    // Each entry knows its line.
    ASSERT_EQ(r.lines.size(), r.words.size());
    EXPECT_EQ(r.lines[0].line, 11u);
    EXPECT_EQ(r.lines[0].column, 5u);
    EXPECT_EQ(r.lines[2].line, 13u); // END, at its use
    EXPECT_EQ(r.lines[11].line, 26u);
}

TEST(Sources, ExcessEntriesAreDroppedAsCDropsThem)
{
    const AsmResult r = assemble("Gfx dl[2] = { gsDPPipeSync(), gsDPTileSync(), gsDPLoadSync() };", opts());
    EXPECT_EQ(show(r.words), "E7000000 00000000\nE8000000 00000000\n");
    EXPECT_NE(find(r, Severity::Warning, "excess entries in 'dl'"), nullptr) << show(r.messages);
}

TEST(Sources, MacrosOfOneMicrocodeOnlyAndTheSm64Flavour)
{
    // gsSP2Triangles on F3D is the sm64 header's: two G_TRI1.
    const AsmResult lib = assemble("gsSP2Triangles(0, 1, 2, 0, 0, 2, 3, 0)", opts(Ucode::F3D));
    EXPECT_NE(find(lib, Severity::Error, "only by the sm64 header"), nullptr) << show(lib.messages);
    EXPECT_EQ(show(assemble("gsSP2Triangles(0, 1, 2, 0, 0, 2, 3, 0)", opts(Ucode::F3D, Names::Sm64)).words),
              "BF000000 00000A14\nBF000000 0000141E\n");
    EXPECT_EQ(show(assemble("gsSPGeometryMode(G_LIGHTING, G_FOG)", opts(Ucode::F3D, Names::Sm64)).words),
              "B6000000 00020000\nB7000000 00010000\n");
    EXPECT_EQ(show(assemble("gsSPGeometryModeSetFirst(G_LIGHTING, G_FOG)", opts(Ucode::F3DEX, Names::Sm64)).words),
              "B7000000 00010000\nB6000000 00020000\n");
    EXPECT_EQ(show(assemble("gsSPGeometryModeSetFirst(G_CULL_BOTH, G_CULL_BACK)", opts(Ucode::F3DEX2, Names::Sm64)).words),
              "D9FFF9FF 00000400\n");
    // A macro another microcode has.
    const AsmResult quad = assemble("gsSP1Quadrangle(0, 1, 2, 3, 0)", opts(Ucode::F3D));
    EXPECT_NE(find(quad, Severity::Error, "does not exist on f3d (it does on f3dex, f3dex2"), nullptr) << show(quad.messages);
    EXPECT_NE(find(assemble("gsSPInsertMatrix(0, 0)", opts(Ucode::F3DEX2)), Severity::Error, "does not exist on f3dex2"), nullptr);
}

TEST(Sources, TriangleFlagsPickTheStoredVertexOrder)
{
    const struct {
        Ucode u;
        const char* src;
        const char* words;
    } cases[] = {
        {Ucode::F3D, "gsSP1Triangle(1, 2, 3, 2)", "BF000000 020A141E\n"}, // F3D stores the flag
        {Ucode::F3DEX, "gsSP1Triangle(1, 2, 3, 0)", "BF000000 00020406\n"},
        {Ucode::F3DEX, "gsSP1Triangle(1, 2, 3, 1)", "BF000000 00040602\n"},
        {Ucode::F3DEX, "gsSP1Triangle(1, 2, 3, 2)", "BF000000 00060204\n"},
        {Ucode::F3DEX2, "gsSP1Triangle(1, 2, 3, 7)", "05060204 00000000\n"},
        {Ucode::F3DEX2, "gsSP2Triangles(1, 2, 3, 1, 4, 5, 6, 2)", "06040602 000C080A\n"},
        {Ucode::F3DEX, "gsSP1Quadrangle(0, 1, 2, 3, 0)", "B1000204 00000406\n"},
        {Ucode::F3DEX, "gsSP1Quadrangle(0, 1, 2, 3, 1)", "B1020406 00020600\n"},
        {Ucode::F3DEX2, "gsSP1Quadrangle(0, 1, 2, 3, 2)", "07040600 00040002\n"},
        {Ucode::F3DEX2, "gsSP1Quadrangle(0, 1, 2, 3, 3)", "07060002 00060204\n"},
        {Ucode::F3DEX2, "gsSPLine3D(1, 2, 1)", "08040200 00000000\n"},
        {Ucode::F3DEX, "gsSPLineW3D(1, 2, 3, 0)", "B5000000 00020403\n"},
    };
    for (const auto& c : cases) {
        const AsmResult r = assemble(c.src, opts(c.u));
        EXPECT_EQ(r.errors, 0u) << c.src << show(r.messages);
        EXPECT_EQ(show(r.words), c.words) << ucodeName(c.u) << " " << c.src;
    }
}

TEST(Sources, PastedArgumentsAndCombinerInputs)
{
    EXPECT_EQ(show(assemble("gsSPLightColor(LIGHT_2, 0xFF8000FF)", opts(Ucode::F3D)).words),
              "BC00200A FF8000FF\nBC00240A FF8000FF\n");
    EXPECT_EQ(assemble("gsSPClipRatio(FRUSTRATIO_2)", opts()).words.size(), 4u);
    // The printer's spelling: accepted with a warning.
    const AsmResult neg = assemble("gsSPClipRatio(FR_NEG_FRUSTRATIO_2)", opts());
    EXPECT_EQ(neg.errors, 0u);
    EXPECT_NE(find(neg, Severity::Warning, "write FRUSTRATIO_2"), nullptr) << show(neg.messages);
    EXPECT_NE(find(assemble("gsSPClipRatio(FRUSTRATIO_9)", opts()), Severity::Error, "is not one of the names"), nullptr);
    EXPECT_NE(find(assemble("gsSPLightColor(2, 0)", opts()), Severity::Warning, "pastes this argument"), nullptr);
    EXPECT_NE(find(assemble("gsDPLoadTLUT_pal16(2, 0x100000000)", opts()), Severity::Error, "does not fit"), nullptr);
    // Combiner inputs are pasted onto G_CCMUX_ / G_ACMUX_ by slot.
    EXPECT_EQ(show(assemble("gsDPSetCombineLERP(TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0, TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0)",
                            opts()).words),
              show(assemble("gsDPSetCombineMode(G_CC_MODULATERGBDECALA, G_CC_MODULATERGBDECALA)", opts()).words));
    const AsmResult bad = assemble("gsDPSetCombineLERP(TEXEL0, 0, SHADE, 0, 0, 0, 0, BOGUS, TEXEL0, 0, SHADE, 0, 0, 0, 0, 1 + 1)", opts());
    EXPECT_NE(find(bad, Severity::Error, "'BOGUS' is not one (G_ACMUX_BOGUS is not defined)"), nullptr) << show(bad.messages);
    EXPECT_NE(find(bad, Severity::Error, "expected one combiner input name"), nullptr);
    // A preset defined in the source as eight inputs.
    EXPECT_EQ(show(assemble("#define MY_CC TEXEL0, 0, SHADE, 0, 0, 0, 0, TEXEL0\ngsDPSetCombineMode(MY_CC, MY_CC)", opts()).words),
              show(assemble("gsDPSetCombineMode(G_CC_MODULATERGBDECALA, G_CC_MODULATERGBDECALA)", opts()).words));
}

TEST(Sources, MacrosBeyondTheCommandTables)
{
    const struct {
        Ucode u;
        const char* src;
        const char* words;
    } cases[] = {
        {Ucode::F3DEX2, "gsDma2p(G_MTX, 0x06000000, 64, 3, 8)", "DA380103 06000000\n"},
        {Ucode::F3D, "gsImmp0(G_ENDDL)", "B8000000 00000000\n"},
        {Ucode::F3D, "gsImmp2(0xB7, 0x1234, 0x56)", "B7000000 12345600\n"},
        {Ucode::F3D, "gsImmp3(0xB7, 0x1234, 0x56, 0x78)", "B7000000 12345678\n"},
        {Ucode::F3D, "gsImmp21(0xBC, 0x1234, 0x56, 7)", "BC123456 00000007\n"},
        {Ucode::F3D, "gsSetImage(G_SETCIMG, G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, 0x80100000)", "FF10013F 80100000\n"},
        {Ucode::F3D, "gsDPNoParam(G_RDPFULLSYNC)", "E9000000 00000000\n"},
        {Ucode::F3D, "gsDPParam(G_SETFILLCOLOR, 0x00010001)", "F7000000 00010001\n"},
        {Ucode::F3D, "gsDPSetColor(G_SETENVCOLOR, 0x11223344)", "FB000000 11223344\n"},
        {Ucode::F3D, "sDPRGBColor(G_SETPRIMCOLOR, 1, 2, 3, 4)", "FA000000 01020304\n"},
        {Ucode::F3D, "gsDPLoadTileGeneric(G_LOADTILE, 7, 4, 8, 124, 128)", "F4004008 0707C080\n"},
        {Ucode::F3D, "gsDPSetBlendMask(0xFF)", "C0000000 00000000\n"},
        {Ucode::F3DEX2, "gsDPSetBlendMask(0xFF)", "00000000 00000000\n"},
        {Ucode::F3D, "gsDPSetMaskImage(0x80200000)", "FE000000 80200000\n"},
        {Ucode::F3DEX2, "gsDPTextureRectangle(0x50, 0x28, 0x190, 0xC8, G_TX_RENDERTILE, 0, 0, 0x400, 0x400)",
         "E41900C8 00050028\n00000000 04000400\n"},
        {Ucode::F3D, "_gsDPLoadTextureBlockTile(0x05000000, 0x100, 1, G_IM_FMT_IA, G_IM_SIZ_8b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, G_TX_NOLOD, G_TX_NOLOD)",
         "FD700000 05000000\nF5700100 07014050\nE6000000 00000000\nF3000000 071FF200\nE7000000 00000000\nF5680900 01014050\nF2000000 0107C07C\n"},
    };
    for (const auto& c : cases) {
        const AsmResult r = assemble(c.src, opts(c.u));
        EXPECT_EQ(r.errors, 0u) << c.src << show(r.messages);
        EXPECT_EQ(show(r.words), c.words) << ucodeName(c.u) << " " << c.src;
    }
    MapResolver ucode;
    ucode.add("gspF3DEX2_fifoTextStart", {0x80123000, 0});
    ucode.add("gspF3DEX2_fifoDataStart", {0x80145000, 0});
    AsmOptions o = opts(Ucode::F3DEX2);
    o.resolver = &ucode;
    EXPECT_EQ(show(assemble("gsSPLoadUcodeL(gspF3DEX2_fifo)", o).words), "E1000000 00145000\nDD0007FF 00123000\n");
    EXPECT_NE(find(assemble("gDPSetHilite1Tile(gfx++, 1, 2, 3, 4)", opts()), Severity::Error, "has no static form"), nullptr);
}

// --- Out-of-range arguments ------------------------------------------------------------------

TEST(Ranges, MaskedFieldsWarnAndWholeWordsAreErrors)
{
    const struct {
        const char* src;
        Severity severity;
        const char* message;
        const char* words; // "" when nothing is made
    } cases[] = {
        {"gsDPSetPrimColor(0, 0, 256, 0, 0, 0)", Severity::Warning,
         "argument 3 (r): 0x100 does not fit its 8-bit field; the header keeps the low bits: 0", "FA000000 00000000\n"},
        {"gsDPSetPrimColor(0, 0, -1, 0, 0, 0)", Severity::Warning, "-1 does not fit its 8-bit field", "FA000000 FF000000\n"},
        {"gsSPVertex(0, 200, 0)", Severity::Warning, "argument 3 (v0): 0 (stored as 200) does not fit its 7-bit field; the header keeps the low bits: 72",
         "010C8090 00000000\n"},
        {"gsDPSetTileSize(0, 0, 0, 0x1000, 0)", Severity::Warning, "0x1000 does not fit its 12-bit field", "F2000000 00000000\n"},
        {"gsSPDisplayList(0x100000000)", Severity::Error, "does not fit in 32 bits", ""},
        {"gsDPSetRenderMode(0x100000000, 0)", Severity::Error, "does not fit in 32 bits", ""},
        {"gsDPLoadTextureBlock(0, G_IM_FMT_RGBA, G_IM_SIZ_16b, 2000, 32, 0, 0, 0, 0, 0, 0, 0)", Severity::Warning,
         "argument 4 (width): 0x7D0 is out of range (1 to 0x400); the header masks it", nullptr},
        {"gsDPLoadTextureBlock(0, G_IM_FMT_RGBA, 7, 32, 32, 0, 0, 0, 0, 0, 0, 0)", Severity::Error, "out of range", ""},
        {"gsDPSetCycleType(G_CYC_2CYCLE | 1)", Severity::Warning, "has bits outside the field it sets (bits 20-21)",
         "E3000A01 00100001\n"},
        {"gsSPFogFactor(-1, -32768)", Severity::Warning, "", "DB080000 FFFF8000\n"}, // signed fields take negatives silently
    };
    for (const auto& c : cases) {
        const AsmResult r = assemble(c.src, opts());
        if (*c.message) {
            EXPECT_NE(find(r, c.severity, c.message), nullptr) << c.src << "\n" << show(r.messages);
        } else {
            EXPECT_TRUE(r.messages.empty()) << c.src << "\n" << show(r.messages);
        }
        if (c.words) {
            EXPECT_EQ(show(r.words), c.words) << c.src;
        }
    }
}

// --- Bad input -----------------------------------------------------------------------------

TEST(BadInput, EachProblemIsReportedAndTheRestStillAssembles)
{
    const struct {
        const char* src;
        std::uint64_t line;
        std::uint32_t column;
        const char* message;
    } cases[] = {
        {"Gfx a[] = {\n  gsDPPipeSync(,\n  gsDPFullSync(),\n};", 3, 3, "expected ')' to close gsDPPipeSync( before 'gsDPFullSync'"},
        {"Gfx a[] = {\n  gsDPPipeSync(\n  gsDPFullSync(),\n};", 3, 3, "expected ')' to close gsDPPipeSync( before 'gsDPFullSync'"},
        {"Gfx a[] = {\n  gsDPSetPrimColor(0, 0, 0, 0, 0, 0;\n  gsDPFullSync(),\n};", 2, 36, "expected ')' to close gsDPSetPrimColor( before ';'"},
        {"Gfx a[] = {\n  gsFooBar(1),\n  gsDPFullSync(),\n};", 2, 3, "unknown macro 'gsFooBar'"},
        {"Gfx a[] = {\n  gsDPSetPrimColor(1, 2),\n  gsDPFullSync(),\n};", 2, 24,
         "gsDPSetPrimColor takes 6 arguments, found 2: gsDPSetPrimColor(m, l, r, g, b, a)"},
        {"Gfx a[] = {\n  gsDPSetPrimColor(1, 2, 3, 4, 5, 6, 7),\n  gsDPFullSync(),\n};", 2, 38, "takes 6 arguments, found 7"},
        {"Gfx a[] = {\n  gsDPPipeSync()\n  gsDPFullSync(),\n};", 3, 3, "expected ',' before 'gsDPFullSync'"},
        {"Gfx a[] = {\n  42,\n  gsDPFullSync(),\n};", 2, 3, "expected a display-list macro, found '42'"},
        {"Gfx a[] = {\n  gsDPFullSync(),\n", 1, 11, "missing '}': the array 'a' is not closed"},
        {"Gfx a[] = {\n  gsDPFullSync(),\n;", 3, 1, "expected '}' to close the array 'a' before ';'"},
        {"}\ngsDPFullSync();", 1, 1, "unbalanced '}'"},
        {"gsDPFullSync(); /* open", 1, 17, "unterminated comment"},
        {"gsDPFullSync(); \"open", 1, 17, "unterminated string"},
        {"gsDPFullSync(); \x01\x02 @", 1, 17, "unexpected character '\\x01'"},
        {"gSPDisplayList();\ngsDPFullSync();", 1, 15, "expected the display-list pointer as the first argument"},
        {"gsDPSetPrimColor(0, 0, 0, 0, 0, (1]);\ngsDPFullSync();", 1, 35, "expected ')' but found ']'"},
        {"#define A B\n#define B A\ngsDPSetFillColor(A);\ngsDPFullSync();", 2, 11, "refers to itself"},
    };
    for (const auto& c : cases) {
        const AsmResult r = assemble(c.src, opts());
        const AsmMessage* m = find(r, Severity::Error, c.message);
        ASSERT_NE(m, nullptr) << c.src << "\n" << show(r.messages);
        EXPECT_EQ(m->line, c.line) << c.src << ": " << m->text;
        EXPECT_EQ(m->column, c.column) << c.src << ": " << m->text;
        // The good macro after the problem is still there.
        EXPECT_NE(show(r.words).find("E9000000 00000000"), std::string::npos) << c.src << "\n" << show(r.messages);
    }
}

TEST(BadInput, DeepNestingHugeNumbersAndGarbageStayBounded)
{
    // 100000 nested parentheses: an error, no stack overflow.
    std::string deep = "gsDPSetFillColor(" + std::string(100000, '(') + "1" + std::string(100000, ')') + ");\ngsDPFullSync();";
    AsmResult r = assemble(deep, opts());
    EXPECT_NE(find(r, Severity::Error, "nested too deeply"), nullptr);
    EXPECT_EQ(show(r.words), "E9000000 00000000\n");
    std::string unary = "gsDPSetFillColor(" + std::string(100000, '~') + "1);";
    EXPECT_NE(find(assemble(unary, opts()), Severity::Error, "nested too deeply"), nullptr);
    // Blocks nested beyond the bound are counted, not kept; their macros still count.
    r = assemble(std::string(100000, '{') + "gsDPPipeSync();" + std::string(100000, '}') + "gsDPFullSync();", opts());
    EXPECT_NE(find(r, Severity::Error, "blocks nested too deeply"), nullptr);
    EXPECT_EQ(show(r.words), "E7000000 00000000\nE9000000 00000000\n");
    // A declared size too large to fill is refused, not allocated.
    r = assemble("Gfx x[100000000] = { gsDPPipeSync() };", opts());
    EXPECT_NE(find(r, Severity::Error, "too large to fill"), nullptr);
    EXPECT_EQ(r.words.size(), 1u);
    // A chain of defines deeper than the bound.
    std::string chain;
    for (int i = 0; i < 1000; ++i)
        chain += "#define D" + std::to_string(i + 1) + " D" + std::to_string(i) + "\n";
    chain += "#define D0 1\ngsDPSetFillColor(D1000);";
    EXPECT_NE(find(assemble(chain, opts()), Severity::Error, "too deeply"), nullptr);
    // Binary garbage: messages stay within the limit, no crash.
    std::mt19937 rng(5);
    std::string garbage(1 << 20, '\0');
    for (char& ch : garbage)
        ch = static_cast<char>(rng());
    AsmOptions o = opts();
    o.messageLimit = 50;
    r = assemble(garbage, o);
    EXPECT_EQ(r.messages.size(), 50u);
    EXPECT_GT(r.errors, 50u);
    EXPECT_GT(r.suppressed, 0u);
    for (const AsmMessage& m : r.messages) {
        EXPECT_GE(m.line, 1u);
        EXPECT_GE(m.column, 1u);
    }
}

TEST(BadInput, EveryBadLineIsReportedAndTheRestStillAssembles)
{
    // Each line holds two good macros and a broken one: the assembler must
    // recover at every line, however many there are (the time this takes is
    // measured in the benchmarks, not here).
    auto run = [](int lines) {
        std::string s = "Gfx dl[] = {\n";
        for (int i = 0; i < lines; ++i)
            s += "    gsDPSetPrimColor(0, 0, 255, 128, 64, 255), gsSPVertex(0x06000000 + 16 * 3, 4, 0), gsDPPipeSync( ,\n";
        s += "};\n";
        return assemble(s, opts());
    };
    const AsmResult small = run(500), large = run(4000);
    EXPECT_EQ(small.errors * 8, large.errors);
    EXPECT_EQ(small.words.size() * 8, large.words.size());
    EXPECT_GE(large.words.size(), 2u * 4000);
}

// --- Words written beside the macros ------------------------------------------------------------

TEST(Expected, WordsCommentsBelongToTheMacroBeforeThem)
{
    AsmOptions o = opts(Ucode::F3DEX2);
    o.collectExpected = true;
    const AsmResult r = assemble("/* microcode: f3dex2 */\n"
                                 "gsDPPipeSync(), /* 00000000: E7000000 00000000 */\n"
                                 "gsDPLoadTLUT_pal256(0x06000000), /* 00000008: FD100000 06000000 E8000000 00000000 */\n"
                                 "                                 /* F5000100 07000000 */\n"
                                 "gsDPFullSync(), /* not words */\n"
                                 "gsSPEndDisplayList(), /* 00000040: DF000000 00000001 -> 80000000 */\n",
                                 o);
    ASSERT_EQ(r.expected.size(), 3u);
    EXPECT_EQ(r.expected[0].firstEntry, 0u);
    EXPECT_EQ(r.expected[0].entryCount, 1u);
    EXPECT_EQ(r.expected[0].line, 2u);
    EXPECT_EQ(show(r.expected[1].words), "FD100000 06000000\nE8000000 00000000\nF5000100 07000000\n");
    EXPECT_EQ(r.expected[1].entryCount, 6u);
    EXPECT_EQ(r.expected[2].line, 6u);
    EXPECT_EQ(show(r.expected[2].words), "DF000000 00000001\n");
}

// --- One macro at a time ------------------------------------------------------------------------

TEST(ParseMacro, OneMacroWithColumnsFromItsStart)
{
    const MacroResult ok = parseMacro("  gsDPSetPrimColor(0, 0, 1, 2, 3, 4),  ", opts());
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(show(ok.words), "FA000000 01020304\n");
    EXPECT_TRUE(parseMacro("gDPPipeSync(gfx++);", opts()).ok);
    const struct {
        const char* text;
        std::uint32_t column;
        const char* message;
    } cases[] = {
        {"", 1, "expected a macro"},
        {"42", 1, "expected a macro, such as gsDPPipeSync(), found '42'"},
        {"gsDPPipeSync() gsDPPipeSync()", 16, "unexpected 'gsDPPipeSync' after the macro"},
        {"gsDPSetPrimColor(0, 0, X, 0, 0, 0)", 24, "argument 3 (r): unknown identifier 'X'"},
        {"gDPSetPrimColor(p, 0, 0, X, 0, 0, 0)", 26, "argument 4 (r): unknown identifier 'X'"},
        {"gsDPPipeSync(", 13, "missing ')'"},
        {"gsNope()", 1, "unknown macro 'gsNope'"},
    };
    for (const auto& c : cases) {
        const MacroResult r = parseMacro(c.text, opts());
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_TRUE(r.words.empty());
        ASSERT_FALSE(r.messages.empty()) << c.text;
        EXPECT_NE(r.messages[0].text.find(c.message), std::string::npos) << c.text << ": " << r.messages[0].text;
        EXPECT_EQ(r.messages[0].column, c.column) << c.text;
        EXPECT_EQ(r.messages[0].line, 1u);
    }
}

} // namespace
