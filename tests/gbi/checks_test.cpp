// The state walker and the checks, through their public API: every rule's
// triggering and clean example lists from the fact sheet's check rules,
// the edges of the conditions, real-looking lists that must stay clean,
// bad input (loops, deep nesting, unresolvable calls, no end, garbage), the
// per-entry state index, and the cost of a walk over a million commands.

#include "gbi/checks.h"
#include "gbi/disassembler.h"
#include "gbi/idioms.h"
#include "gbi/printer.h"
#include "gbi/state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace dlscope::gbi;

// The microcodes the fact sheet's examples are written for.
const std::vector<Ucode> kTested = {Ucode::F3D, Ucode::F3DEX, Ucode::F3DEX2};

// --- Lists written as macro text ------------------------------------------------
//
// Builds entries from GBI macro calls written the way the check examples are:
// "gsSPVertex(v, 3, 0), gsSP1Triangle(0, 1, 2, 0)". Arguments are C
// expressions over numbers, header constants, a few symbols (FB, ZB, tex,
// tex2, pal, v, m, F2) and GPACK_RGBA5551 / GBL_c1 / GBL_c2. Raw entries are
// written {{w0, w1}}. The example shorthands (P, V, T, LT, ...) expand in
// place.

const std::map<std::string, std::string>& shorthands()
{
    static const std::map<std::string, std::string> m = {
        {"P", "gsDPPipeSync(), gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, FB),"
              "gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 320, 240), gsDPSetCycleType(G_CYC_1CYCLE),"
              "gsDPSetTexturePersp(G_TP_PERSP), gsDPSetTextureLUT(G_TT_NONE), gsDPSetTextureLOD(G_TL_TILE),"
              "gsDPSetAlphaCompare(G_AC_NONE), gsDPSetDepthSource(G_ZS_PIXEL),"
              "gsDPSetRenderMode(G_RM_OPA_SURF, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_SHADE),"
              "gsSPTexture(0, 0, 0, G_TX_RENDERTILE, G_OFF),"
              "gsSPClearGeometryMode(G_ZBUFFER | G_CULL_BOTH | G_FOG | G_LIGHTING | G_TEXTURE_GEN | "
              "G_TEXTURE_GEN_LINEAR), gsSPSetGeometryMode(G_SHADE | G_SHADING_SMOOTH)"},
        {"V", "gsSPVertex(v, 3, 0)"},
        {"T", "gsSP1Triangle(0, 1, 2, 0)"},
        {"LT", "gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, "
               "G_TX_NOLOD, G_TX_NOLOD)"},
        {"TX", "gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON),"
               "gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB)"},
        {"C2", "gsDPSetCycleType(G_CYC_2CYCLE)"},
        {"FL", "gsDPSetCycleType(G_CYC_FILL), gsDPSetRenderMode(G_RM_NOOP, G_RM_NOOP2)"},
        {"CP", "gsDPSetCycleType(G_CYC_COPY), gsDPSetTexturePersp(G_TP_NONE), gsDPSetRenderMode(G_RM_NOOP, G_RM_NOOP2)"},
        {"TR", "gsSPTextureRectangle(0, 0, 31 << 2, 31 << 2, G_TX_RENDERTILE, 0, 0, 4 << 10, 1 << 10)"},
        {"END", "gsDPPipeSync(), gsDPFullSync(), gsSPEndDisplayList()"},
        {"END1", "gsDPFullSync(), gsSPEndDisplayList()"}, // for lists that already end with a pipe sync
        {"CI8", "gsDPLoadTextureBlock(tex, G_IM_FMT_CI, G_IM_SIZ_8b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, "
                "G_TX_NOLOD, G_TX_NOLOD)"},
    };
    return m;
}

const std::map<std::string, std::int64_t>& symbols()
{
    static const std::map<std::string, std::int64_t> m = {
        {"FB", 0x00200000}, {"ZB", 0x00300000}, {"tex", 0x05000000}, {"tex2", 0x05001000},
        {"pal", 0x05002000}, {"v", 0x04000000}, {"m", 0x0D000000}, {"F2", 0x00010001},
    };
    return m;
}

std::string trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

std::vector<std::string> splitTop(std::string_view s)
{
    std::vector<std::string> out;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '(' || s[i] == '{')
            ++depth;
        else if (s[i] == ')' || s[i] == '}')
            --depth;
        else if (s[i] == ',' && depth == 0) {
            out.push_back(trim(s.substr(start, i - start)));
            start = i + 1;
        }
    }
    if (const std::string last = trim(s.substr(start)); !last.empty())
        out.push_back(last);
    return out;
}

class ListText {
public:
    explicit ListText(Ucode u) : u_(u) {}

    std::vector<Words> build(std::string_view text)
    {
        std::vector<Words> out;
        for (const std::string& item : splitTop(text))
            add(item, out);
        return out;
    }

private:
    void add(const std::string& item, std::vector<Words>& out)
    {
        if (const auto it = shorthands().find(item); it != shorthands().end()) {
            for (const std::string& sub : splitTop(it->second))
                add(sub, out);
            return;
        }
        if (item.starts_with("{{")) {
            const auto parts = splitTop(std::string_view(item).substr(2, item.size() - 4));
            out.push_back({static_cast<std::uint32_t>(eval(parts.at(0))), static_cast<std::uint32_t>(eval(parts.at(1)))});
            return;
        }
        const auto open = item.find('(');
        if (open == std::string::npos || item.back() != ')')
            throw std::runtime_error("not a macro call: " + item);
        const std::string name = trim(std::string_view(item).substr(0, open));
        const auto argText = splitTop(std::string_view(item).substr(open + 1, item.size() - open - 2));
        for (const MacroSpec* m : macrosNamed(u_, name)) {
            std::vector<std::int64_t> args(kMaxArgs, 0);
            if (m->special == Special::CombineMode || m->special == Special::CombineLerp) {
                combinerCodes(*m, argText, args);
            } else {
                if (argText.size() != m->args.size())
                    continue;
                for (std::size_t i = 0; i < argText.size(); ++i)
                    args[i] = eval(argText[i]);
            }
            if (m->special == Special::Idiom) {
                if (expandIdiom(u_, *m, args, out))
                    return;
                continue;
            }
            Words w;
            if (encodeSingle(*m, args, w)) {
                out.push_back(w);
                return;
            }
        }
        throw std::runtime_error("cannot encode " + item + " for " + std::string(ucodeName(u_)));
    }

    static void combinerCodes(const MacroSpec& m, const std::vector<std::string>& text, std::vector<std::int64_t>& args)
    {
        if (m.special == Special::CombineMode) {
            for (std::size_t cycle = 0; cycle < 2; ++cycle) {
                const CombinePreset* found = nullptr;
                for (const CombinePreset& p : combinePresets())
                    if (p.name == text.at(cycle) && p.libultra)
                        found = &p;
                if (!found)
                    throw std::runtime_error("no combine preset " + text.at(cycle));
                for (std::size_t i = 0; i < 8; ++i)
                    args[cycle * 8 + i] = found->codes[i];
            }
            return;
        }
        for (std::size_t i = 0; i < 16; ++i) {
            const auto names = muxNames(m.args[i].table);
            const auto it = std::find(names.begin(), names.end(), text.at(i));
            if (it == names.end())
                throw std::runtime_error("no combiner input " + text.at(i));
            args[i] = it - names.begin();
        }
    }

    // C expressions: | << >> + - * unary -, parentheses, calls.
    std::int64_t eval(const std::string& text)
    {
        src_ = text;
        pos_ = 0;
        const std::int64_t v = parseOr();
        skip();
        if (pos_ != src_.size())
            throw std::runtime_error("bad expression: " + text);
        return v;
    }
    void skip()
    {
        while (pos_ < src_.size() && std::isspace(static_cast<unsigned char>(src_[pos_])))
            ++pos_;
    }
    bool eat(std::string_view op)
    {
        skip();
        if (src_.compare(pos_, op.size(), op) == 0) {
            pos_ += op.size();
            return true;
        }
        return false;
    }
    std::int64_t parseOr()
    {
        std::int64_t v = parseShift();
        while (eat("|"))
            v |= parseShift();
        return v;
    }
    std::int64_t parseShift()
    {
        std::int64_t v = parseAdd();
        for (;;) {
            if (eat("<<"))
                v <<= parseAdd();
            else if (eat(">>"))
                v >>= parseAdd();
            else
                return v;
        }
    }
    std::int64_t parseAdd()
    {
        std::int64_t v = parseMul();
        for (;;) {
            if (eat("+"))
                v += parseMul();
            else if (eat("-"))
                v -= parseMul();
            else
                return v;
        }
    }
    std::int64_t parseMul()
    {
        std::int64_t v = parseUnary();
        while (eat("*"))
            v *= parseUnary();
        return v;
    }
    std::int64_t parseUnary()
    {
        if (eat("-"))
            return -parseUnary();
        if (eat("(")) {
            const std::int64_t v = parseOr();
            if (!eat(")"))
                throw std::runtime_error("missing ) in " + src_);
            return v;
        }
        skip();
        const std::size_t start = pos_;
        while (pos_ < src_.size() && (std::isalnum(static_cast<unsigned char>(src_[pos_])) || src_[pos_] == '_'))
            ++pos_;
        const std::string word = src_.substr(start, pos_ - start);
        if (word.empty())
            throw std::runtime_error("bad expression: " + src_);
        if (std::isdigit(static_cast<unsigned char>(word[0])))
            return std::stoll(word, nullptr, 0);
        if (eat("(")) {
            std::vector<std::int64_t> a;
            do
                a.push_back(parseOr());
            while (eat(","));
            if (!eat(")"))
                throw std::runtime_error("missing ) in " + src_);
            if (word == "GPACK_RGBA5551")
                return ((a.at(0) >> 3) << 11) | ((a.at(1) >> 3) << 6) | ((a.at(2) >> 3) << 1) | (a.at(3) & 1);
            if (word == "GBL_c1")
                return (a.at(0) << 30) | (a.at(1) << 26) | (a.at(2) << 22) | (a.at(3) << 18);
            if (word == "GBL_c2")
                return (a.at(0) << 28) | (a.at(1) << 24) | (a.at(2) << 20) | (a.at(3) << 16);
            throw std::runtime_error("unknown function " + word);
        }
        if (const auto it = symbols().find(word); it != symbols().end())
            return it->second;
        if (const auto v = constantValue(u_, word))
            return *v;
        throw std::runtime_error("unknown name " + word);
    }

    Ucode u_;
    std::string src_;
    std::size_t pos_ = 0;
};

std::vector<Words> list(Ucode u, std::string_view text) { return ListText(u).build(text); }

CheckOptions exampleOptions(bool frameRoot = false)
{
    CheckOptions o;
    o.walk.baseAddress = 0x06000000;
    if (frameRoot)
        o.walk.roots = {{0, true}};
    return o;
}

std::string describe(const CheckReport& r)
{
    std::string s;
    for (const Finding& f : r.findings)
        s += "  " + entryAddress(f.entry, std::nullopt) + " " + std::string(severityName(f.severity)) + " ["
            + std::string(ruleId(f)) + "] " + f.message + "\n";
    return s;
}

bool has(const CheckReport& r, std::string_view id)
{
    return std::any_of(r.findings.begin(), r.findings.end(), [&](const Finding& f) { return ruleId(f) == id; });
}

const Finding* find(const CheckReport& r, std::string_view id)
{
    for (const Finding& f : r.findings)
        if (ruleId(f) == id)
            return &f;
    return nullptr;
}

CheckReport check(Ucode u, std::string_view text, CheckOptions options = exampleOptions())
{
    const auto words = list(u, text);
    return checkList(u, words, options);
}

// --- The fact sheet's examples ------------------------------------------------------

struct Example {
    const char* rule;
    const char* ucodes; // "all", or one microcode name
    const char* triggers;
    const char* passes;
    bool frameRoot = false;
};

std::string repeated(const std::string& item, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += (i ? ", " : "") + item;
    return s;
}

const std::string kElevenPushes = "P, " + repeated("gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_MUL | G_MTX_PUSH)", 11) + ", END";
const std::string kPushPop =
    "P, " + repeated("gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_MUL | G_MTX_PUSH), gsSPPopMatrix(G_MTX_MODELVIEW)", 11)
    + ", END";
const std::string kZRectPasses = "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2),"
                                 "gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPSetDepthSource(G_ZS_PRIM),"
                                 "gsDPSetPrimDepth(0, 0), gsDPFillRectangle(10, 10, 20, 20), END";

// gsSPFogPosition(980, 1000) is written as the gsSPFogFactor it expands to.
const Example kExamples[] = {
    {"sync-pipe", "all", "P, V, T, gsDPSetEnvColor(255, 0, 0, 255), END",
     "P, V, T, gsDPPipeSync(), gsDPSetEnvColor(255, 0, 0, 255), END"},
    {"sync-pipe-after-load", "all",
     "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, tex), gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 0, 0, "
     "G_TX_LOADTILE, 0, 0, 0, 0, 0, 0, 0), gsDPLoadSync(), gsDPLoadBlock(G_TX_LOADTILE, 0, 0, 1023, 256), "
     "gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB), END",
     "P, LT, gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB), END"},
    {"sync-tile", "all", "P, LT, TX, V, T, gsDPSetTileSize(G_TX_RENDERTILE, 0, 0, 124, 124), END",
     "P, LT, TX, V, T, gsDPTileSync(), gsDPSetTileSize(G_TX_RENDERTILE, 0, 0, 124, 124), END"},
    {"sync-load", "all",
     "P, LT, TX, V, T, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, tex2), gsDPSetTile(G_IM_FMT_RGBA, "
     "G_IM_SIZ_16b, 0, 0, G_TX_LOADTILE, 0, 0, 0, 0, 0, 0, 0), gsDPLoadBlock(G_TX_LOADTILE, 0, 0, 1023, 256), END",
     "P, LT, TX, V, T, LT, END"},
    {"sync-full", "all", "P, V, T, gsDPPipeSync(), gsSPEndDisplayList()", "P, V, T, END"},
    {"sync-full-pipe", "all", "P, V, T, gsDPFullSync(), gsSPEndDisplayList()", "P, V, T, END"},
    {"sync-redundant", "all", "P, V, T, gsDPPipeSync(), gsDPPipeSync(), END1", "P, V, T, gsDPPipeSync(), END1"},
    {"cc-unset", "all",
     "gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, FB), gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 320, 240), "
     "gsDPSetCycleType(G_CYC_1CYCLE), gsDPSetRenderMode(G_RM_OPA_SURF, G_RM_OPA_SURF2), V, T, END",
     "gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, FB), gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 320, 240), "
     "gsDPSetCycleType(G_CYC_1CYCLE), gsDPSetRenderMode(G_RM_OPA_SURF, G_RM_OPA_SURF2), "
     "gsDPSetCombineMode(G_CC_SHADE, G_CC_SHADE), V, T, END"},
    {"cc-1cyc-mismatch", "all", "P, gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_SHADE), V, T, END",
     "P, gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), V, T, END"},
    {"cc-1cyc-combined", "all", "P, gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END"},
    {"cc-1cyc-texel1", "all",
     "P, LT, TX, gsDPSetCombineLERP(TEXEL1, 0, SHADE, 0, 0, 0, 0, SHADE, TEXEL1, 0, SHADE, 0, 0, 0, 0, SHADE), V, T, END",
     "P, LT, TX, V, T, END"},
    {"cc-2cyc-combined-first", "all",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_PASS2, G_CC_PASS2), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END"},
    {"cc-2cyc-texel1-second", "all",
     "P, LT, TX, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineLERP(NOISE, 0, SHADE, 0, 0, 0, 0, 0, "
     "COMBINED, TEXEL1, ENVIRONMENT, TEXEL1, 0, 0, 0, 1), V, T, END",
     "P, LT, TX, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_PASS2), "
     "V, T, END"},
    {"cc-2cyc-texel0-second", "all",
     "P, LT, TX, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineLERP(0, 0, 0, SHADE, 0, 0, 0, 1, "
     "TEXEL0, 0, COMBINED, 0, 0, 0, 0, 1), V, T, END",
     "P, LT, TX, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_PASS2), "
     "V, T, END"},
    {"cc-2cyc-alpha-compare", "all",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), "
     "gsDPSetAlphaCompare(G_AC_THRESHOLD), V, T, END",
     "P, gsDPSetAlphaCompare(G_AC_THRESHOLD), V, T, END"},
    {"cc-mul-combined", "all",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineLERP(0, 0, 0, 1, 0, 0, 0, 1, SHADE, 0, "
     "COMBINED, 0, 0, 0, 0, 1), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineLERP(SHADE, 0, PRIMITIVE, 0, 0, 0, 0, 1, "
     "SHADE, 0, COMBINED, 0, 0, 0, 0, 1), V, T, END"},
    {"cc-texel-no-texture", "all", "P, gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB), V, T, END",
     "P, LT, TX, V, T, END"},
    {"cc-shade-no-shade", "all", "P, gsDPFillRectangle(10, 10, 20, 20), END",
     "P, gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPFillRectangle(10, 10, 20, 20), END"},
    {"cc-texture-unused", "all", "P, LT, gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON), V, T, END",
     "P, LT, TX, V, T, END"},
    {"cc-shade-unused", "all", "P, gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), V, T, END", "P, V, T, END"},
    {"cc-lodfrac-rect", "all",
     "P, LT, gsDPSetTexturePersp(G_TP_NONE), gsDPSetCombineLERP(TEXEL0, 0, LOD_FRACTION, 0, 0, 0, 0, 1, TEXEL0, 0, "
     "LOD_FRACTION, 0, 0, 0, 0, 1), gsSPTextureRectangle(0, 0, 32 << 2, 32 << 2, G_TX_RENDERTILE, 0, 0, 1 << 10, "
     "1 << 10), END",
     "P, LT, gsDPSetTexturePersp(G_TP_NONE), gsDPSetCombineLERP(TEXEL0, 0, PRIMITIVE, 0, 0, 0, 0, 1, TEXEL0, 0, "
     "PRIMITIVE, 0, 0, 0, 0, 1), gsSPTextureRectangle(0, 0, 32 << 2, 32 << 2, G_TX_RENDERTILE, 0, 0, 1 << 10, "
     "1 << 10), END"},
    {"rm-2cyc-first-mem", "all",
     "P, C2, gsDPSetRenderMode(G_RM_XLU_SURF, G_RM_XLU_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_XLU_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END"},
    {"rm-2cyc-first-b", "all",
     "P, C2, gsDPSetRenderMode(GBL_c1(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_FOG, G_BL_1), G_RM_OPA_SURF2), "
     "gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, "
     "END"},
    {"rm-2cyc-second-shade", "all",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, GBL_c2(G_BL_CLR_FOG, G_BL_A_SHADE, G_BL_CLR_IN, G_BL_1MA) | FORCE_BL), "
     "gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), gsSPSetGeometryMode(G_FOG), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), "
     "gsSPSetGeometryMode(G_FOG), V, T, END"},
    {"rm-pair", "all",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_NOOP2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END"},
    {"rm-1cyc-second-half", "all", "P, gsDPSetRenderMode(G_RM_AA_OPA_SURF, G_RM_NOOP2), V, T, END",
     "P, gsDPSetRenderMode(G_RM_AA_OPA_SURF, G_RM_AA_OPA_SURF2), V, T, END"},
    {"rm-formula-ignored", "all",
     "P, gsDPSetRenderMode(IM_RD | GBL_c1(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_MEM, G_BL_1MA), IM_RD | "
     "GBL_c2(G_BL_CLR_IN, G_BL_A_IN, G_BL_CLR_MEM, G_BL_1MA)), V, T, END",
     "P, gsDPSetRenderMode(G_RM_XLU_SURF, G_RM_XLU_SURF2), V, T, END"},
    {"rm-fog", "all",
     "P, C2, gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), V, T, END",
     "P, C2, gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_OPA_SURF2), gsDPSetCombineMode(G_CC_SHADE, G_CC_PASS2), "
     "gsSPFogFactor(6400, -6144), gsSPSetGeometryMode(G_FOG), V, T, END"},
    {"z-no-image", "all",
     "P, gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), gsSPSetGeometryMode(G_ZBUFFER), V, T, END",
     "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), "
     "gsSPSetGeometryMode(G_ZBUFFER), V, T, END"},
    {"z-no-geom", "all",
     "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), V, T, END",
     "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), "
     "gsSPSetGeometryMode(G_ZBUFFER), V, T, END"},
    {"z-unused", "all", "P, gsSPSetGeometryMode(G_ZBUFFER), V, T, END", "P, V, T, END"},
    {"z-rect", "all",
     "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), "
     "gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPFillRectangle(10, 10, 20, 20), END",
     kZRectPasses.c_str()},
    {"z-prim-no-depth", "all",
     "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), "
     "gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPSetDepthSource(G_ZS_PRIM), "
     "gsDPFillRectangle(10, 10, 20, 20), END",
     kZRectPasses.c_str()},
    {"mode-tri-copyfill", "all", "P, FL, V, T, END", "P, V, T, END"},
    {"fill-lockup", "all",
     "P, gsDPSetCycleType(G_CYC_FILL), gsDPSetRenderMode(G_RM_XLU_SURF, G_RM_XLU_SURF2), gsDPSetFillColor(F2), "
     "gsDPFillRectangle(0, 0, 319, 239), END",
     "P, FL, gsDPSetFillColor(F2), gsDPFillRectangle(0, 0, 319, 239), END"},
    {"fill-color-16", "all",
     "P, FL, gsDPSetFillColor(GPACK_RGBA5551(255, 0, 0, 1)), gsDPFillRectangle(0, 0, 319, 239), END",
     "P, FL, gsDPSetFillColor(GPACK_RGBA5551(255, 0, 0, 1) << 16 | GPACK_RGBA5551(255, 0, 0, 1)), "
     "gsDPFillRectangle(0, 0, 319, 239), END"},
    {"rect-edge", "all", "P, FL, gsDPSetFillColor(F2), gsDPFillRectangle(0, 0, 320, 240), END",
     "P, FL, gsDPSetFillColor(F2), gsDPFillRectangle(0, 0, 319, 239), END"},
    {"fill-in-copy", "all", "P, CP, gsDPFillRectangle(0, 0, 31, 31), END",
     "P, FL, gsDPSetFillColor(F2), gsDPFillRectangle(0, 0, 31, 31), END"},
    {"fill-color-ignored", "all",
     "P, gsDPSetFillColor(F2), gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPFillRectangle(0, 0, 32, 32), END",
     "P, gsDPSetPrimColor(0, 0, 0, 0, 0, 255), gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), "
     "gsDPFillRectangle(0, 0, 32, 32), END"},
    {"copy-dsdx", "all",
     "P, LT, CP, gsSPTextureRectangle(0, 0, 31 << 2, 31 << 2, G_TX_RENDERTILE, 0, 0, 1 << 10, 1 << 10), END",
     "P, LT, CP, TR, END"},
    {"copy-z-persp", "all", "P, LT, CP, gsDPSetTexturePersp(G_TP_PERSP), TR, END", "P, LT, CP, TR, END"},
    {"copy-format", "all",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_32b, 32, 16, 0, G_TX_WRAP, G_TX_WRAP, 5, 4, G_TX_NOLOD, "
     "G_TX_NOLOD), CP, TR, END",
     "P, LT, CP, TR, END"},
    {"copyfill-scissor", "all", "P, LT, CP, gsDPSetScissor(G_SC_NON_INTERLACE, 8, 0, 320, 240), TR, END",
     "P, LT, CP, TR, END"},
    {"tex-tile-unset", "all", "P, TX, V, T, END", "P, LT, TX, V, T, END"},
    {"tex-size-from-load", "all",
     "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, tex), gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 8, 0, "
     "G_TX_RENDERTILE, 0, 0, 5, 0, 0, 5, 0), gsDPLoadSync(), gsDPLoadBlock(G_TX_RENDERTILE, 0, 0, 1023, 256), TX, V, "
     "T, END",
     "P, LT, TX, V, T, END"},
    {"tex-tmem-unloaded", "all",
     "P, LT, gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 8, 256, G_TX_RENDERTILE, 0, 0, 5, 0, 0, 5, 0), TX, V, T, END",
     "P, LT, TX, V, T, END"},
    {"tex-format-mismatch", "all",
     "P, LT, gsDPSetTile(G_IM_FMT_IA, G_IM_SIZ_16b, 8, 0, G_TX_RENDERTILE, 0, 0, 5, 0, 0, 5, 0), TX, V, T, END",
     "P, LT, TX, V, T, END"},
    {"tmem-overflow", "all",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_CI, G_IM_SIZ_8b, 64, 64, 0, G_TX_WRAP, G_TX_WRAP, 6, 6, G_TX_NOLOD, "
     "G_TX_NOLOD), gsDPLoadTLUT_pal256(pal), gsDPSetTextureLUT(G_TT_RGBA16), TX, V, T, END",
     "P, CI8, gsDPLoadTLUT_pal256(pal), gsDPSetTextureLUT(G_TT_RGBA16), TX, V, T, END"},
    {"loadblock-count", "all", "P, {{0xF3000000, 0x07FFF100}}, END",
     "P, gsDPLoadBlock(G_TX_LOADTILE, 0, 0, 2047, 256), END"},
    {"loadblock-dxt", "all",
     "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, tex), gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 0, 0, "
     "G_TX_LOADTILE, 0, G_TX_WRAP, 5, G_TX_NOLOD, G_TX_WRAP, 5, G_TX_NOLOD), gsDPLoadSync(), "
     "gsDPLoadBlock(G_TX_LOADTILE, 0, 0, 1023, 128), gsDPPipeSync(), gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 8, 0, "
     "G_TX_RENDERTILE, 0, G_TX_WRAP, 5, G_TX_NOLOD, G_TX_WRAP, 5, G_TX_NOLOD), "
     "gsDPSetTileSize(G_TX_RENDERTILE, 0, 0, 124, 124), END",
     "P, LT, END"},
    {"tile-mask", "all",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 6, 6, G_TX_NOLOD, "
     "G_TX_NOLOD), TX, V, T, END",
     "P, LT, TX, V, T, END"},
    {"tlut-mode", "all", "P, CI8, gsDPLoadTLUT_pal256(pal), TX, V, T, END",
     "P, CI8, gsDPLoadTLUT_pal256(pal), TX, gsDPSetTextureLUT(G_TT_RGBA16), V, T, END"},
    {"tlut-unloaded", "all", "P, CI8, gsDPSetTextureLUT(G_TT_RGBA16), TX, V, T, END",
     "P, CI8, gsDPLoadTLUT_pal256(pal), gsDPSetTextureLUT(G_TT_RGBA16), TX, V, T, END"},
    {"loadtlut-args", "all",
     "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, pal), gsDPSetTile(0, 0, 0, 0, G_TX_LOADTILE, 0, 0, 0, 0, "
     "0, 0, 0), gsDPLoadSync(), gsDPLoadTLUTCmd(G_TX_LOADTILE, 255), END",
     "P, gsDPLoadTLUT_pal256(pal), END"},
    {"load-lockup", "all",
     "P, gsDPSetTextureImage(G_IM_FMT_I, G_IM_SIZ_4b, 32, tex), gsDPSetTile(G_IM_FMT_I, G_IM_SIZ_4b, 2, 0, "
     "G_TX_LOADTILE, 0, 0, 0, 0, 0, 0, 0), gsDPLoadSync(), gsDPLoadTile(G_TX_LOADTILE, 0, 0, 31 << 2, 31 << 2), END",
     "P, gsDPLoadTextureTile_4b(tex, G_IM_FMT_I, 32, 32, 0, 0, 31, 31, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, G_TX_NOLOD, "
     "G_TX_NOLOD), END"},
    {"tex-persp-rect", "all",
     "P, LT, gsDPSetCombineMode(G_CC_DECALRGBA, G_CC_DECALRGBA), gsSPTextureRectangle(0, 0, 32 << 2, 32 << 2, "
     "G_TX_RENDERTILE, 0, 0, 1 << 10, 1 << 10), END",
     "P, LT, gsDPSetCombineMode(G_CC_DECALRGBA, G_CC_DECALRGBA), gsDPSetTexturePersp(G_TP_NONE), "
     "gsSPTextureRectangle(0, 0, 32 << 2, 32 << 2, G_TX_RENDERTILE, 0, 0, 1 << 10, 1 << 10), END"},
    {"tex-persp-tri", "all", "P, LT, TX, gsDPSetTexturePersp(G_TP_NONE), V, T, END", "P, LT, TX, V, T, END"},
    {"tex-lod", "all", "P, LT, TX, gsDPSetTextureLOD(G_TL_LOD), V, T, END", "P, LT, TX, V, T, END"},
    {"image-align", "all", "P, gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, 0x00100020), END",
     "P, gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, 0x00100040), END"},
    {"scissor-unset", "all",
     "gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, FB), gsDPSetCombineMode(G_CC_SHADE, G_CC_SHADE), V, T, END",
     "P, V, T, END"},
    {"scissor-bounds", "all", "P, gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 640, 240), V, T, END", "P, V, T, END"},
    {"cimg-unset", "all",
     "gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 320, 240), gsDPSetCombineMode(G_CC_SHADE, G_CC_SHADE), V, T, END",
     "P, V, T, END", true},
    {"cimg-format", "all", "P, gsDPSetColorImage(G_IM_FMT_IA, G_IM_SIZ_16b, 320, FB), V, T, END", "P, V, T, END"},
    {"vtx-range", "f3dex2", "P, gsSPVertex(v, 32, 8), END", "P, gsSPVertex(v, 24, 8), END"},
    {"tri-index", "f3dex2", "P, gsSPVertex(v, 32, 0), gsSP1Triangle(0, 1, 40, 0), END",
     "P, gsSPVertex(v, 32, 0), gsSP1Triangle(0, 1, 31, 0), END"},
    {"tri-index-unloaded", "all", "P, gsSPVertex(v, 3, 0), gsSP1Triangle(0, 1, 5, 0), END",
     "P, gsSPVertex(v, 6, 0), gsSP1Triangle(0, 1, 5, 0), END"},
    {"geom-vtx-time", "all", "P, V, gsSPSetGeometryMode(G_LIGHTING), T, END",
     "P, gsSPSetGeometryMode(G_LIGHTING), V, T, END"},
    {"geom-cull-both", "all", "P, gsSPSetGeometryMode(G_CULL_BOTH), V, T, END",
     "P, gsSPSetGeometryMode(G_CULL_BACK), V, T, END"},
    {"mtx-stack", "all", kElevenPushes.c_str(), kPushPop.c_str()},
    {"dl-no-end", "all", "P, V, T", "P, V, T, END"},
    {"ucode-geom-values", "f3dex2", "P, gsSPGeometryMode(0, G_SHADE | 0x00000200 | 0x00002000), V, T, END",
     "P, gsSPGeometryMode(0, G_SHADE | G_SHADING_SMOOTH | G_CULL_BACK), V, T, END"},
    {"ucode-texenable-bit", "f3dex2", "P, gsSPGeometryMode(0, G_SHADE | 0x00000002), V, T, END",
     "P, gsSPGeometryMode(0, G_SHADE), V, T, END"},
    {"ucode-noop", "f3dex2", "P, V, gsSPLine3D(0, 1, 0), END", "P, V, T, END"},
    {"lights-count", "f3dex2", "P, gsSPNumLights(8), END", "P, gsSPNumLights(NUMLIGHTS_2), END"},
};

std::vector<Ucode> ucodesOf(std::string_view set)
{
    if (set == "all")
        return kTested;
    return {*parseUcode(set)};
}

class FactExamples : public ::testing::TestWithParam<Example> {};

TEST_P(FactExamples, TriggeringListFires)
{
    const Example& ex = GetParam();
    for (Ucode u : ucodesOf(ex.ucodes)) {
        SCOPED_TRACE(ucodeName(u));
        const CheckReport r = check(u, ex.triggers, exampleOptions(ex.frameRoot));
        EXPECT_TRUE(has(r, ex.rule)) << describe(r);
    }
}

TEST_P(FactExamples, CleanListDoesNotFireAndRaisesNoError)
{
    const Example& ex = GetParam();
    for (Ucode u : ucodesOf(ex.ucodes)) {
        SCOPED_TRACE(ucodeName(u));
        const CheckReport r = check(u, ex.passes);
        EXPECT_FALSE(has(r, ex.rule)) << describe(r);
        EXPECT_EQ(countOf(r, Severity::Error), 0u) << describe(r);
    }
}

INSTANTIATE_TEST_SUITE_P(CheckRules, FactExamples, ::testing::ValuesIn(kExamples),
                         [](const ::testing::TestParamInfo<Example>& param) {
                             std::string name = param.param.rule;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// F3DEX3 rules run once the model knows F3DEX3 and its flags.
TEST(FactExamples, F3dex3ShadeAlphaHasOneOwner)
{
    const auto u = parseUcode("f3dex3");
    if (!u || !constantValue(*u, "G_LIGHTTOALPHA") || !constantValue(*u, "G_FRESNEL_ALPHA"))
        GTEST_SKIP() << "the model has no F3DEX3 light-to-alpha flags";
    try {
        EXPECT_TRUE(has(check(*u, "P, gsSPSetGeometryMode(G_LIGHTING | G_FOG | G_LIGHTTOALPHA), V, T, END"),
                        "ucode-f3dex3-alpha"));
        EXPECT_FALSE(has(check(*u, "P, gsSPSetGeometryMode(G_LIGHTING | G_LIGHTTOALPHA), V, T, END"),
                         "ucode-f3dex3-alpha"));
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << "the F3DEX3 macros are not complete yet: " << e.what();
    }
}

TEST(FactExamples, EveryRuleOfTheFactSheetHasAnExample)
{
    // The rules of the walk itself and the call-depth rule (tested below,
    // it needs several lists) have no row of their own.
    for (const RuleInfo& rule : checkRules()) {
        if (rule.id == "dl-depth" || rule.id == "dl-target" || rule.id == "walk-limit" || rule.id == "ucode-f3dex3-alpha")
            continue;
        EXPECT_TRUE(std::any_of(std::begin(kExamples), std::end(kExamples),
                                [&](const Example& e) { return e.rule == rule.id; }))
            << rule.id;
    }
}

// --- Edges of the conditions ----------------------------------------------------------

struct Edge {
    const char* name;
    const char* ucode;
    const char* text;
    const char* rule;
    int expected; // -1: no finding; otherwise the severity expected
};

constexpr int kNo = -1, kNote = 0, kWarn = 1, kErr = 2;

const Edge kEdges[] = {
    {"copy dsdx exactly 4", "f3dex2", "P, LT, CP, gsSPTextureRectangle(0, 0, 124, 124, 0, 0, 0, 0x1000, 0x400), END",
     "copy-dsdx", kNo},
    {"copy dsdx just above 4", "f3dex2", "P, LT, CP, gsSPTextureRectangle(0, 0, 124, 124, 0, 0, 0, 0x1001, 0x400), END",
     "copy-dsdx", kWarn},
    {"copy dsdx 5", "f3dex2", "P, LT, CP, gsSPTextureRectangle(0, 0, 124, 124, 0, 0, 0, 0x1400, 0x400), END",
     "copy-dsdx", kWarn},
    {"copy dsdx above 5", "f3dex2", "P, LT, CP, gsSPTextureRectangle(0, 0, 124, 124, 0, 0, 0, 0x1401, 0x400), END",
     "copy-dsdx", kErr},
    {"copy dsdx below 4", "f3dex2", "P, LT, CP, gsSPTextureRectangle(0, 0, 124, 124, 0, 0, 0, 0xFFF, 0x400), END",
     "copy-dsdx", kErr},
    {"vertices filling the buffer", "f3dex2", "P, gsSPVertex(v, 8, 24), END", "vtx-range", kNo},
    {"one vertex past the buffer", "f3dex2", "P, gsSPVertex(v, 9, 24), END", "vtx-range", kErr},
    {"no vertices", "f3dex2", "P, {{0x01000000, 0x04000000}}, END", "vtx-range", kErr},
    {"F3D buffer full", "f3d", "P, gsSPVertex(v, 1, 15), END", "vtx-range", kNo},
    {"F3D buffer overrun", "f3d", "P, gsSPVertex(v, 2, 15), END", "vtx-range", kErr},
    {"F3DEX 32 vertices", "f3dex", "P, gsSPVertex(v, 32, 0), END", "vtx-range", kNo},
    {"F3D last slot", "f3d", "P, gsSPVertex(v, 16, 0), gsSP1Triangle(0, 1, 15, 0), END", "tri-index", kNo},
    {"F3D slot 16", "f3d", "P, gsSPVertex(v, 16, 0), gsSP1Triangle(0, 1, 16, 0), END", "tri-index", kErr},
    {"F3D index not a multiple of 10", "f3d", "P, gsSPVertex(v, 16, 0), {{0xBF000000, 0x00000A19}}, END",
     "tri-index", kErr},
    {"F3DEX2 odd index", "f3dex2", "P, gsSPVertex(v, 16, 0), {{0x05000203, 0}}, END", "tri-index", kErr},
    {"F3DEX2 second triangle out of range", "f3dex2",
     "P, gsSPVertex(v, 32, 0), gsSP2Triangles(0, 1, 2, 0, 3, 4, 32, 0), END", "tri-index", kErr},
    {"block load of 2048 texels", "f3dex2", "P, gsDPLoadBlock(G_TX_LOADTILE, 0, 0, 2047, 256), END",
     "loadblock-count", kNo},
    {"block load of 2049 texels", "f3dex2", "P, {{0xF3000000, 0x07800100}}, END", "loadblock-count", kErr},
    {"ten pushes", "f3dex2",
     "P, gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), "
     "gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), "
     "gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), "
     "gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), "
     "gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), gsSPMatrix(m, G_MTX_MODELVIEW | G_MTX_PUSH), END",
     "mtx-stack", kNo},
    {"pop in a frame with nothing pushed", "f3d", "P, gsSPPopMatrix(G_MTX_MODELVIEW), END", "mtx-stack", kWarn},
    {"pop in an object list", "f3dex2", "gsSPPopMatrix(G_MTX_MODELVIEW), gsSPEndDisplayList()", "mtx-stack", kNo},
    {"push on the projection", "f3dex", "P, gsSPMatrix(m, G_MTX_PROJECTION | G_MTX_LOAD | G_MTX_PUSH), END",
     "mtx-stack", kWarn},
    {"fill to the last column", "f3dex2", "P, FL, gsDPSetFillColor(F2), gsDPFillRectangle(0, 0, 319, 239), END",
     "rect-edge", kNo},
    {"1-cycle fill ending at the last column", "f3dex2",
     "P, gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPFillRectangle(0, 0, 319, 239), END", "rect-edge",
     kNote},
    {"1-cycle fill one short", "f3dex2",
     "P, gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPFillRectangle(0, 0, 318, 239), END", "rect-edge",
     kNo},
    {"copy rectangle past the image", "f3dex2",
     "P, LT, CP, gsSPTextureRectangle(0, 0, 320 << 2, 31 << 2, 0, 0, 0, 4 << 10, 1 << 10), END", "rect-edge", kWarn},
    {"8-bit fill colour repeated", "f3dex2",
     "P, gsDPSetColorImage(G_IM_FMT_I, G_IM_SIZ_8b, 320, FB), FL, gsDPSetFillColor(0x01010101), "
     "gsDPFillRectangle(0, 0, 31, 31), END",
     "fill-color-16", kNo},
    {"8-bit fill colour mixed", "f3dex2",
     "P, gsDPSetColorImage(G_IM_FMT_I, G_IM_SIZ_8b, 320, FB), FL, gsDPSetFillColor(0x01010102), "
     "gsDPFillRectangle(0, 0, 31, 31), END",
     "fill-color-16", kWarn},
    {"scissor as wide as the image", "f3dex2", "P, gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 320, 240), V, T, END",
     "scissor-bounds", kNo},
    {"empty scissor", "f3dex2", "P, gsDPSetScissor(G_SC_NON_INTERLACE, 10, 10, 10, 20), V, T, END",
     "scissor-bounds", kWarn},
    {"texture address off by 4", "f3dex2", "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, 0x00100004), END",
     "image-align", kErr},
    {"segmented address, base unknown", "f3dex2",
     "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, 0x05000004), END", "image-align", kNo},
    {"segmented address, base set in the list", "f3dex2",
     "P, gsSPSegment(5, 0x00100000), gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, 0x05000004), END",
     "image-align", kErr},
    {"clamped mask beyond the texture", "f3dex2",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_CLAMP, G_TX_CLAMP, 6, 6, G_TX_NOLOD, "
     "G_TX_NOLOD), TX, V, T, END",
     "tile-mask", kNo},
    {"mask above 10", "f3dex2",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_CLAMP, G_TX_CLAMP, 11, 5, G_TX_NOLOD, "
     "G_TX_NOLOD), TX, V, T, END",
     "tile-mask", kNote},
    {"wrapping a width that is no power of two", "f3dex2",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_16b, 24, 32, 0, G_TX_WRAP, G_TX_WRAP, 4, 5, G_TX_NOLOD, "
     "G_TX_NOLOD), TX, V, T, END",
     "tile-mask", kWarn},
    {"seven lights", "f3d", "P, gsSPNumLights(NUMLIGHTS_7), END", "lights-count", kNo},
    {"no lights", "f3dex2", "P, gsSPNumLights(0), END", "lights-count", kWarn},
    {"CI8 tile ending at the palette", "f3dex2",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_CI, G_IM_SIZ_8b, 64, 32, 0, G_TX_WRAP, G_TX_WRAP, 6, 5, G_TX_NOLOD, "
     "G_TX_NOLOD), gsDPLoadTLUT_pal256(pal), gsDPSetTextureLUT(G_TT_RGBA16), TX, V, T, END",
     "tmem-overflow", kNo},
    {"RGBA32 filling both halves", "f3dex2",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_RGBA, G_IM_SIZ_32b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, G_TX_NOLOD, "
     "G_TX_NOLOD), TX, V, T, END",
     "tmem-overflow", kNo},
    {"block load past the end of TMEM", "f3dex2",
     "P, gsDPSetTextureImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 1, tex), gsDPSetTile(G_IM_FMT_RGBA, G_IM_SIZ_16b, 0, 256, "
     "G_TX_LOADTILE, 0, 0, 0, 0, 0, 0, 0), gsDPLoadSync(), gsDPLoadBlock(G_TX_LOADTILE, 0, 0, 2047, 256), END",
     "tmem-overflow", kErr},
    {"prim depth with a delta that is no power of two", "f3dex2",
     "P, gsDPSetDepthImage(ZB), gsDPSetRenderMode(G_RM_ZB_OPA_SURF, G_RM_ZB_OPA_SURF2), "
     "gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), gsDPSetDepthSource(G_ZS_PRIM), gsDPSetPrimDepth(0, 3), "
     "gsDPFillRectangle(10, 10, 20, 20), END",
     "z-prim-no-depth", kNote},
    {"mipmap levels with LOD off", "f3dex2",
     "P, LT, gsSPTexture(0xFFFF, 0xFFFF, 2, G_TX_RENDERTILE, G_ON), "
     "gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB), V, T, END",
     "tex-lod", kWarn},
    {"fog on, blender without shade alpha", "f3dex2", "P, gsSPSetGeometryMode(G_FOG), V, T, END", "rm-fog", kNote},
    {"smooth shading without shade", "f3dex2",
     "P, gsSPClearGeometryMode(G_SHADE), gsDPSetCombineMode(G_CC_PRIMITIVE, G_CC_PRIMITIVE), V, T, END",
     "cc-shade-unused", kNote},
    {"intensity texture in copy mode", "f3dex2",
     "P, gsDPLoadTextureBlock(tex, G_IM_FMT_I, G_IM_SIZ_8b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, G_TX_NOLOD, "
     "G_TX_NOLOD), CP, TR, END",
     "copy-format", kWarn},
    {"F3DEX2 smooth bit on F3D", "f3d", "P, gsSPSetGeometryMode(0x00200000), V, T, END", "ucode-geom-values", kWarn},
    {"F3DEX2 clipping flag", "f3dex2", "P, gsSPGeometryMode(0, G_CLIPPING), V, T, END", "ucode-noop", kNote},
    {"4-bit colour image", "f3dex2", "P, gsDPSetColorImage(G_IM_FMT_I, G_IM_SIZ_4b, 320, FB), END", "cimg-format",
     kErr},
    {"colour-indexed 8-bit image", "f3dex2", "P, gsDPSetColorImage(G_IM_FMT_CI, G_IM_SIZ_8b, 320, FB), END",
     "cimg-format", kNo},
};

class ConditionEdges : public ::testing::TestWithParam<Edge> {};

TEST_P(ConditionEdges, FireExactlyAtTheEdge)
{
    const Edge& e = GetParam();
    const CheckReport r = check(*parseUcode(e.ucode), e.text);
    const Finding* f = find(r, e.rule);
    if (e.expected == kNo) {
        EXPECT_EQ(f, nullptr) << describe(r);
    } else {
        ASSERT_NE(f, nullptr) << describe(r);
        EXPECT_EQ(static_cast<int>(f->severity), e.expected) << describe(r);
    }
}

INSTANTIATE_TEST_SUITE_P(Checks, ConditionEdges, ::testing::ValuesIn(kEdges),
                         [](const ::testing::TestParamInfo<Edge>& param) {
                             std::string name;
                             for (const char* c = param.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

// --- Sync bookkeeping --------------------------------------------------------------------

std::size_t countRule(const CheckReport& r, std::string_view id)
{
    return static_cast<std::size_t>(
        std::count_if(r.findings.begin(), r.findings.end(), [&](const Finding& f) { return ruleId(f) == id; }));
}

TEST(Sync, OneMissingPipeSyncIsReportedOnce)
{
    const CheckReport r = check(Ucode::F3DEX2, "P, V, T, gsDPSetEnvColor(255, 0, 0, 255), "
                                               "gsDPSetPrimColor(0, 0, 1, 2, 3, 4), gsDPSetFogColor(1, 2, 3, 4), END");
    EXPECT_EQ(countRule(r, "sync-pipe"), 1u) << describe(r);
    const Finding* f = find(r, "sync-pipe");
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(f->related);
    EXPECT_EQ(*f->related, 15u); // the triangle
}

TEST(Sync, FlagsCarryAcrossCallsAndReturns)
{
    const auto caller = list(Ucode::F3DEX2, "P, gsSPDisplayList(0x06000000), gsDPSetEnvColor(1, 2, 3, 4), END");
    auto entries = caller;
    const auto callee = list(Ucode::F3DEX2, "V, T, gsSPEndDisplayList()");
    entries[14].w1 = 0x06000000 + static_cast<std::uint32_t>(caller.size() * 8);
    entries.insert(entries.end(), callee.begin(), callee.end());
    const CheckReport r = checkList(Ucode::F3DEX2, entries, exampleOptions());
    const Finding* f = find(r, "sync-pipe");
    ASSERT_NE(f, nullptr) << describe(r);
    EXPECT_EQ(f->entry, 15u);
    EXPECT_EQ(*f->related, caller.size() + 1);
}

TEST(Sync, StrictWalksAssumeWorkInFlight)
{
    const std::string_view text = "gsDPSetCombineMode(G_CC_SHADE, G_CC_SHADE), gsSPEndDisplayList()";
    EXPECT_FALSE(has(check(Ucode::F3DEX2, text), "sync-pipe"));
    CheckOptions strict = exampleOptions();
    strict.walk.strictSync = true;
    EXPECT_TRUE(has(check(Ucode::F3DEX2, text, strict), "sync-pipe"));
}

// --- Bad input -------------------------------------------------------------------------

// Records the state before the first execution of every entry.
struct FirstStates : WalkObserver {
    std::map<std::size_t, RenderState> states;
    void command(const Step& step, const RenderState& before) override { states.emplace(step.entry, before); }
};

// Lists laid out one after the other at 0x06000000; `calls` names, per list,
// the entry whose w1 becomes the address of another list.
struct Layout {
    std::vector<Words> entries;
    std::vector<std::size_t> starts;
};

Layout layout(Ucode u, const std::vector<std::string>& lists)
{
    Layout l;
    for (const std::string& text : lists) {
        l.starts.push_back(l.entries.size());
        const auto words = list(u, text);
        l.entries.insert(l.entries.end(), words.begin(), words.end());
    }
    return l;
}

std::uint32_t addressOf(const Layout& l, std::size_t listIndex)
{
    return 0x06000000 + static_cast<std::uint32_t>(l.starts[listIndex] * 8);
}

// `levels` lists, each calling the next (the last one calls nothing).
Layout nestedCalls(Ucode u, int levels, bool lastHopBranches)
{
    std::vector<std::string> texts;
    for (int i = 0; i < levels; ++i)
        texts.push_back(i + 1 < levels ? (lastHopBranches && i + 2 == levels ? "gsSPBranchList(0)"
                                                                            : "gsSPDisplayList(0), gsSPEndDisplayList()")
                                       : "gsDPPipeSync(), gsSPEndDisplayList()");
    Layout l = layout(u, texts);
    for (int i = 0; i + 1 < levels; ++i)
        l.entries[l.starts[static_cast<std::size_t>(i)]].w1 = addressOf(l, static_cast<std::size_t>(i + 1));
    return l;
}

struct DepthCase {
    Ucode ucode;
    int levels;
    bool lastHopBranches;
    bool tooDeep;
};

class CallDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(CallDepth, NestingBeyondTheReturnStackIsAnErrorAndNotFollowed)
{
    const DepthCase& c = GetParam();
    const Layout l = nestedCalls(c.ucode, c.levels, c.lastHopBranches);
    const CheckReport r = checkList(c.ucode, l.entries, exampleOptions());
    EXPECT_EQ(has(r, "dl-depth"), c.tooDeep) << describe(r);
    EXPECT_FALSE(has(r, "dl-no-end")) << describe(r);
    EXPECT_EQ(r.walk.walks, c.tooDeep ? 2u : 1u) << describe(r); // the list not called is walked on its own
}

INSTANTIATE_TEST_SUITE_P(Walk, CallDepth,
                         ::testing::Values(DepthCase{Ucode::F3D, 10, false, false},
                                           DepthCase{Ucode::F3D, 11, false, true},
                                           DepthCase{Ucode::F3D, 11, true, false},
                                           DepthCase{Ucode::F3DEX, 11, false, true},
                                           DepthCase{Ucode::F3DEX2, 18, false, false},
                                           DepthCase{Ucode::F3DEX2, 19, false, true}));

TEST(BadInput, BranchBackIntoTheSameListIsAnEndlessLoop)
{
    const auto entries = list(Ucode::F3DEX2, "gsDPPipeSync(), V, T, gsSPBranchList(0x06000000)");
    const CheckReport r = checkList(Ucode::F3DEX2, entries, exampleOptions());
    const Finding* f = find(r, "dl-no-end");
    ASSERT_NE(f, nullptr) << describe(r);
    EXPECT_EQ(f->severity, Severity::Note);
    EXPECT_EQ(f->entry, 3u);
    EXPECT_LE(r.walk.steps, 8u);
}

TEST(BadInput, ListsBranchingToEachOtherEnd)
{
    Layout l = layout(Ucode::F3DEX, {"gsDPPipeSync(), gsSPBranchList(0)", "gsDPTileSync(), gsSPBranchList(0)"});
    l.entries[1].w1 = addressOf(l, 1);
    l.entries[3].w1 = addressOf(l, 0);
    const CheckReport r = checkList(Ucode::F3DEX, l.entries, exampleOptions());
    EXPECT_TRUE(has(r, "dl-no-end")) << describe(r);
    EXPECT_LE(r.walk.steps, 10u);
}

TEST(BadInput, ListCallingItselfStopsAtTheStackLimit)
{
    for (Ucode u : kTested) {
        const auto entries = list(u, "gsDPPipeSync(), gsSPDisplayList(0x06000000), gsSPEndDisplayList()");
        const CheckReport r = checkList(u, entries, exampleOptions());
        EXPECT_TRUE(has(r, "dl-depth")) << describe(r);
        EXPECT_LE(r.walk.steps, 3u * 18 + 3);
    }
}

TEST(BadInput, CallTreesGrowingExponentiallyHitTheStepCap)
{
    // 24 lists, each calling the next twice: 2^17 calls deep inside the
    // F3DEX2 stack limit, so the cap must stop the walk.
    std::vector<std::string> texts(24, "gsSPDisplayList(0), gsSPDisplayList(0), gsSPEndDisplayList()");
    Layout l = layout(Ucode::F3DEX2, texts);
    for (std::size_t i = 0; i + 1 < texts.size(); ++i)
        l.entries[l.starts[i]].w1 = l.entries[l.starts[i] + 1].w1 = addressOf(l, i + 1);
    CheckOptions o = exampleOptions();
    o.walk.maxSteps = 20000;
    const CheckReport r = checkList(Ucode::F3DEX2, l.entries, o);
    EXPECT_TRUE(r.walk.stepLimitReached);
    EXPECT_EQ(r.walk.steps, 20000u);
    EXPECT_TRUE(has(r, "walk-limit"));
}

TEST(BadInput, TargetsTheWalkCannotFollow)
{
    struct Case {
        std::uint32_t target;
        Severity severity;
    };
    for (const Case c : {Case{0x07000000, Severity::Note}, Case{0x06100000, Severity::Note},
                         Case{0x06000004, Severity::Warning}}) {
        auto entries = list(Ucode::F3DEX2, "gsDPPipeSync(), gsSPDisplayList(0), gsSPEndDisplayList()");
        entries[1].w1 = c.target;
        const CheckReport r = checkList(Ucode::F3DEX2, entries, exampleOptions());
        const Finding* f = find(r, "dl-target");
        ASSERT_NE(f, nullptr) << describe(r);
        EXPECT_EQ(f->severity, c.severity);
        EXPECT_EQ(f->entry, 1u);
    }
}

TEST(BadInput, AnUnfollowedCallMakesTheStateUnknown)
{
    // A frame that draws with nothing set: after a call the walk cannot
    // follow, the callee may have set it all.
    const std::string frame = "gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, FB), %, "
                              "gsDPSetCycleType(G_CYC_1CYCLE), V, T, gsSPEndDisplayList()";
    auto with = [&](const std::string& middle) {
        std::string s = frame;
        s.replace(s.find('%'), 1, middle);
        return check(Ucode::F3DEX2, s);
    };
    const CheckReport direct = with("gsDPPipeSync()");
    EXPECT_TRUE(has(direct, "cc-unset") && has(direct, "scissor-unset") && has(direct, "sync-full")) << describe(direct);
    const CheckReport called = with("gsSPDisplayList(0x07000000)");
    EXPECT_FALSE(has(called, "cc-unset") || has(called, "scissor-unset") || has(called, "sync-full"))
        << describe(called);
}

TEST(BadInput, RunningOffTheEndOrIntoAnUndefinedOpcode)
{
    EXPECT_TRUE(has(check(Ucode::F3D, "V, T"), "dl-no-end"));
    EXPECT_FALSE(has(check(Ucode::F3DEX2, "V, T, gsSPCullDisplayList(0, 2)"), "dl-no-end"));
    const CheckReport r = check(Ucode::F3DEX2, "V, {{0xC8000000, 0}}, T, gsSPEndDisplayList()");
    const Finding* f = find(r, "dl-no-end");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->entry, 1u);
}

TEST(BadInput, RandomWordsNeverHangOrCrash)
{
    std::mt19937 rng(1234);
    for (Ucode u : kTested) {
        std::vector<Words> entries(20000);
        for (Words& w : entries) {
            w = {static_cast<std::uint32_t>(rng()), static_cast<std::uint32_t>(rng())};
            // Steer a share of the commands to real opcodes and targets inside the buffer.
            if (rng() % 2)
                w.w0 = (w.w0 & 0x00FFFFFF) | (0xD8u + rng() % 40) << 24;
            if (rng() % 4 == 0)
                w.w1 = 0x06000000 + (rng() % (entries.size() * 8 + 64));
        }
        CheckOptions o = exampleOptions();
        o.walk.segments[6] = 0x00200000;
        o.commandText = true;
        const CheckReport r = checkList(u, entries, o);
        EXPECT_LE(r.walk.steps, 16 * entries.size() + 1'000'000);
        EXPECT_EQ(r.walk.reached, entries.size()); // every entry is walked from somewhere
        for (const Finding& f : r.findings)
            EXPECT_LT(f.entry, entries.size());
    }
}

TEST(BadInput, ReplayOfRandomListsMatchesTheWalk)
{
    // Random control flow (loops, deep calls, unfollowed targets) must
    // replay to exactly the state the walk saw.
    std::mt19937 rng(99);
    for (Ucode u : kTested) {
        std::vector<Words> entries(3000);
        const auto call = static_cast<std::uint32_t>(u == Ucode::F3DEX2 ? 0xDE : 0x06);
        const auto end = static_cast<std::uint32_t>(endListOpcode(u));
        for (Words& w : entries) {
            const auto r = rng() % 8;
            const std::uint32_t op = r == 0 ? call : r == 1 ? end : 0xE0u + rng() % 32;
            const auto low = static_cast<std::uint32_t>(r == 0 ? (rng() % 2) << 16 : rng() & 0xFFFFFF);
            w = {op << 24 | low, r == 0 ? 0x06000000 + static_cast<std::uint32_t>(rng() % (entries.size() * 8 + 16))
                                        : static_cast<std::uint32_t>(rng())};
        }
        WalkOptions o;
        o.baseAddress = 0x06000000;
        FirstStates first;
        walkList(u, entries, o, &first);
        const StateIndex index = StateIndex::build(u, entries, o, 7);
        for (const auto& [entry, state] : first.states)
            ASSERT_TRUE(*index.stateAt(entry) == state) << ucodeName(u) << " entry " << entry;
    }
}

// --- Calls, segments and roots ------------------------------------------------------------

TEST(Walk, CallTargetsResolveThroughSegments)
{
    struct Case {
        std::optional<std::uint32_t> base;
        std::optional<std::uint32_t> userSegment6;
        const char* setSegment;
    };
    const Case cases[] = {
        {0x06000000, std::nullopt, "gsDPPipeSync()"},                 // same segment as the base
        {0x80100000, std::nullopt, "gsSPSegment(6, 0x00100000)"},     // KSEG0 base, segment set in the list
        {0x00100000, 0x00100000, "gsDPPipeSync()"},                   // segment given by the user
    };
    for (const Case& c : cases) {
        auto entries = list(Ucode::F3DEX2, std::string(c.setSegment)
                                               + ", gsSPDisplayList(0x06000018), gsSPEndDisplayList(), "
                                                 "gsDPTileSync(), gsSPEndDisplayList()");
        CheckOptions o;
        o.walk.baseAddress = c.base;
        o.walk.segments[6] = c.userSegment6;
        StateIndex index;
        const CheckReport r = checkList(Ucode::F3DEX2, entries, o, &index);
        EXPECT_FALSE(has(r, "dl-target")) << describe(r);
        EXPECT_EQ(r.walk.walks, 1u);
        ASSERT_TRUE(index.stateAt(3));
        EXPECT_EQ(index.stateAt(3)->callDepth, 1);
        EXPECT_EQ(index.callStackAt(3), std::vector<std::size_t>{2});
    }
}

TEST(Walk, SubListsBeforeTheirCallerAreWalkedFromTheCaller)
{
    Layout l = layout(Ucode::F3DEX2, {"V, T, gsSPEndDisplayList()", "P, gsSPDisplayList(0), END"});
    l.entries[l.starts[1] + 14].w1 = addressOf(l, 0);
    StateIndex index;
    const CheckReport r = checkList(Ucode::F3DEX2, l.entries, exampleOptions(), &index);
    EXPECT_EQ(r.walk.walks, 1u);
    EXPECT_EQ(index.stateAt(0)->callDepth, 1);
    EXPECT_TRUE(index.stateAt(0)->frame);
    EXPECT_FALSE(has(r, "tri-index-unloaded")) << describe(r);
}

TEST(Walk, SeparateListsAreEachWalkedUnlessSwitchedOff)
{
    const auto entries = list(Ucode::F3DEX2, "V, T, gsSPEndDisplayList(), V, gsSP1Triangle(0, 1, 4, 0), "
                                             "gsSPEndDisplayList()");
    const CheckReport all = checkList(Ucode::F3DEX2, entries, exampleOptions());
    EXPECT_EQ(all.walk.walks, 2u);
    EXPECT_TRUE(has(all, "tri-index-unloaded"));
    CheckOptions first = exampleOptions();
    first.walk.walkUnreached = false;
    const CheckReport one = checkList(Ucode::F3DEX2, entries, first);
    EXPECT_EQ(one.walk.walks, 1u);
    EXPECT_EQ(one.walk.reached, 3u);
    EXPECT_FALSE(has(one, "tri-index-unloaded"));
}

// --- The state index -----------------------------------------------------------------------

TEST(StateIndex, ReplaysToTheSameStateWhateverTheInterval)
{
    Layout l = layout(Ucode::F3DEX2, {"P, LT, TX, gsSPDisplayList(0), gsSPDisplayList(0), gsDPPipeSync(), "
                                      "gsDPSetRenderMode(G_RM_XLU_SURF, G_RM_XLU_SURF2), gsSPDisplayList(0), END",
                                      "gsSPVertex(v, 6, 0), gsSP2Triangles(0, 1, 2, 0, 3, 4, 5, 0), "
                                      "gsSPEndDisplayList()",
                                      "gsDPSetEnvColor(1, 2, 3, 4), gsSPEndDisplayList()"});
    const std::size_t call = 14 + 7 + 2; // after P, LT and TX
    l.entries[call].w1 = l.entries[call + 1].w1 = l.entries[call + 4].w1 = addressOf(l, 1);
    const std::vector<Words> entries = l.entries;
    FirstStates first;
    const WalkOptions options = exampleOptions().walk;
    walkList(Ucode::F3DEX2, entries, options, &first);
    for (std::size_t interval : {1, 3, 256}) {
        const StateIndex index = StateIndex::build(Ucode::F3DEX2, entries, options, interval);
        for (std::size_t e = 0; e < entries.size(); ++e) {
            SCOPED_TRACE(e);
            const auto it = first.states.find(e);
            ASSERT_EQ(index.reached(e), it != first.states.end());
            if (it != first.states.end()) {
                EXPECT_TRUE(*index.stateAt(e) == it->second);
            }
        }
        EXPECT_GE(index.checkpoints(), 1u);
    }
    const StateIndex index = StateIndex::build(Ucode::F3DEX2, entries, options, 4);
    EXPECT_EQ(index.stateAt(l.starts[1])->callDepth, 1);
    EXPECT_EQ(index.stateAfter(call + 1)->callDepth, 1); // into the second call
    EXPECT_EQ(index.stateAfter(l.starts[1] + 1)->vertexAt[5], static_cast<Origin>(l.starts[1]));
    EXPECT_EQ(index.stateAt(call + 3)->otherLAt, 9);          // the render mode of P
    EXPECT_EQ(index.stateAfter(call + 3)->otherLAt, static_cast<Origin>(call + 3));
    EXPECT_EQ(index.stateAt(l.starts[2])->walk, 1u); // the third list is never called: walked on its own
    EXPECT_EQ(index.stateAt(l.starts[2])->callDepth, 0);
}

// --- Real-looking lists ---------------------------------------------------------------------

const char* const kOpaqueMesh =
    "gsDPPipeSync(), gsDPSetCycleType(G_CYC_1CYCLE), gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2), "
    "gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB), gsDPSetTexturePersp(G_TP_PERSP), "
    "gsDPSetTextureLOD(G_TL_TILE), gsDPSetTextureLUT(G_TT_NONE), gsDPSetTextureFilter(G_TF_BILERP), "
    "gsDPSetAlphaCompare(G_AC_NONE), gsDPSetDepthSource(G_ZS_PIXEL), "
    "gsSPClearGeometryMode(G_TEXTURE_GEN | G_TEXTURE_GEN_LINEAR | G_FOG | G_CULL_FRONT), "
    "gsSPSetGeometryMode(G_ZBUFFER | G_SHADE | G_CULL_BACK | G_LIGHTING | G_SHADING_SMOOTH), "
    "gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON), LT, "
    "gsSPVertex(v, 16, 0), gsSP2Triangles(0, 1, 2, 0, 2, 3, 0, 0), gsSP2Triangles(4, 5, 6, 0, 6, 7, 4, 0), "
    "gsSP2Triangles(8, 9, 10, 0, 10, 11, 8, 0), gsSP1Triangle(12, 13, 14, 0), "
    "gsSPVertex(v + 256, 16, 0), gsSP2Triangles(0, 1, 2, 0, 3, 4, 5, 0), gsSP1Triangle(13, 14, 15, 0), "
    "gsSPTexture(0, 0, 0, G_TX_RENDERTILE, G_OFF), gsSPEndDisplayList()";

const char* const kFogSetup =
    "gsDPPipeSync(), gsDPSetCycleType(G_CYC_2CYCLE), gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_AA_ZB_OPA_SURF2), "
    "gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_PASS2), gsDPSetFogColor(64, 64, 96, 255), gsSPFogFactor(6400, -6144), "
    "gsDPSetTexturePersp(G_TP_PERSP), gsDPSetTextureLOD(G_TL_TILE), gsDPSetTextureLUT(G_TT_NONE), "
    "gsDPSetAlphaCompare(G_AC_NONE), gsDPSetDepthSource(G_ZS_PIXEL), "
    "gsSPClearGeometryMode(G_TEXTURE_GEN | G_TEXTURE_GEN_LINEAR | G_CULL_FRONT), "
    "gsSPSetGeometryMode(G_FOG | G_ZBUFFER | G_SHADE | G_LIGHTING | G_SHADING_SMOOTH | G_CULL_BACK), "
    "gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON), LT, gsSPVertex(v, 8, 0), "
    "gsSP2Triangles(0, 1, 2, 0, 4, 5, 6, 0), gsDPPipeSync(), gsDPSetCycleType(G_CYC_1CYCLE), "
    "gsSPClearGeometryMode(G_FOG), gsSPEndDisplayList()";

const char* const kTwoTextures =
    "gsDPPipeSync(), gsDPSetCycleType(G_CYC_2CYCLE), gsDPSetRenderMode(G_RM_FOG_SHADE_A, G_RM_AA_ZB_OPA_SURF2), "
    "gsDPSetCombineLERP(TEXEL1, TEXEL0, ENV_ALPHA, TEXEL0, 0, 0, 0, 1, COMBINED, 0, SHADE, 0, 0, 0, 0, COMBINED), "
    "gsDPSetEnvColor(255, 255, 255, 128), gsDPSetFogColor(20, 20, 40, 255), gsSPFogFactor(6400, -6144), "
    "gsDPSetTexturePersp(G_TP_PERSP), gsDPSetTextureLOD(G_TL_TILE), gsDPSetTextureLUT(G_TT_NONE), "
    "gsDPSetAlphaCompare(G_AC_NONE), gsDPSetDepthSource(G_ZS_PIXEL), "
    "gsSPClearGeometryMode(G_TEXTURE_GEN | G_TEXTURE_GEN_LINEAR | G_CULL_FRONT), "
    "gsSPSetGeometryMode(G_FOG | G_ZBUFFER | G_SHADE | G_LIGHTING | G_SHADING_SMOOTH | G_CULL_BACK), "
    "gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON), LT, "
    "gsDPLoadMultiBlock(tex2, 256, 1, G_IM_FMT_RGBA, G_IM_SIZ_16b, 32, 32, 0, G_TX_WRAP, G_TX_WRAP, 5, 5, G_TX_NOLOD, "
    "G_TX_NOLOD), gsSPVertex(v, 8, 0), gsSP2Triangles(0, 1, 2, 0, 4, 5, 6, 0), gsSPEndDisplayList()";

const char* const kFillClear =
    "gsDPPipeSync(), gsDPSetCycleType(G_CYC_FILL), gsDPSetRenderMode(G_RM_NOOP, G_RM_NOOP2), "
    "gsDPSetScissor(G_SC_NON_INTERLACE, 0, 0, 320, 240), gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, ZB), "
    "gsDPSetFillColor(0xFFFCFFFC), gsDPFillRectangle(0, 0, 319, 239), gsDPPipeSync(), "
    "gsDPSetColorImage(G_IM_FMT_RGBA, G_IM_SIZ_16b, 320, FB), gsDPSetFillColor(F2), "
    "gsDPFillRectangle(0, 0, 319, 239), gsDPPipeSync(), gsDPFullSync(), gsSPEndDisplayList()";

TEST(RealLists, TypicalListsRaiseNoErrorOrWarning)
{
    for (const char* text : {kOpaqueMesh, kFogSetup, kTwoTextures, kFillClear})
        for (Ucode u : kTested) {
            SCOPED_TRACE(ucodeName(u));
            const CheckReport r = check(u, text);
            EXPECT_EQ(countOf(r, Severity::Error) + countOf(r, Severity::Warning), 0u) << text << "\n" << describe(r);
        }
}

TEST(RealLists, TheFillClearIsAFrame)
{
    StateIndex index;
    const auto entries = list(Ucode::F3DEX2, kFillClear);
    checkList(Ucode::F3DEX2, entries, exampleOptions(), &index);
    EXPECT_FALSE(index.stateAt(0)->frame);
    EXPECT_TRUE(index.stateAt(6)->frame); // promoted by the colour image set before any draw
}

// --- Options and the rule table ------------------------------------------------------------

TEST(Options, RulesSwitchOffByIdAndSeverityFilters)
{
    const std::string_view text = "P, V, T, gsDPSetEnvColor(255, 0, 0, 255), gsDPPipeSync(), gsDPPipeSync(), END1";
    CheckOptions o = exampleOptions();
    ASSERT_TRUE(has(check(Ucode::F3DEX2, text, o), "sync-pipe"));
    o.disabled = {"sync-pipe", "no-such-rule"};
    const CheckReport off = check(Ucode::F3DEX2, text, o);
    EXPECT_FALSE(has(off, "sync-pipe"));
    EXPECT_TRUE(has(off, "sync-redundant"));
    EXPECT_EQ(off.unknownRules, std::vector<std::string>{"no-such-rule"});
    o.disabled.clear();
    o.minimum = Severity::Warning;
    const CheckReport errors = check(Ucode::F3DEX2, text, o);
    EXPECT_TRUE(has(errors, "sync-pipe"));
    EXPECT_FALSE(has(errors, "sync-redundant"));
}

TEST(Options, FindingsCarryTextOrderAndLimit)
{
    CheckOptions o = exampleOptions();
    o.commandText = true;
    const CheckReport r = check(Ucode::F3DEX2, "P, V, T, gsDPSetEnvColor(255, 0, 0, 255), END", o);
    const Finding* f = find(r, "sync-pipe");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->command, "gsDPSetEnvColor(255, 0, 0, 255)");
    EXPECT_TRUE(std::is_sorted(r.findings.begin(), r.findings.end(),
                               [](const Finding& a, const Finding& b) { return a.entry < b.entry; }));
    o.maxFindings = 1;
    const CheckReport few = check(Ucode::F3DEX2, "P, gsDPSetColorImage(G_IM_FMT_IA, G_IM_SIZ_4b, 320, FB), "
                                                 "gsDPSetColorImage(G_IM_FMT_IA, G_IM_SIZ_4b, 320, FB), END", o);
    EXPECT_EQ(few.findings.size(), 1u);
    EXPECT_GE(few.dropped, 1u);
    EXPECT_EQ(few.counts[0] + few.counts[1] + few.counts[2], few.findings.size() + few.dropped);
}

TEST(Options, RuleIdsAreUniqueAndAddressesFormat)
{
    std::vector<std::string_view> ids;
    for (const RuleInfo& rule : checkRules())
        ids.push_back(rule.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(findRule("sync-pipe"), std::optional<std::size_t>(0));
    EXPECT_EQ(entryAddress(0x25, std::nullopt), "0x0128");
    EXPECT_EQ(entryAddress(2, 0x80123450), "0x80123460");
}

// --- Cost ---------------------------------------------------------------------------------

TEST(Performance, WalkAndChecksCostLittleNextToDecodeAndPrint)
{
    // A million entries of meshes: material changes with texture loads,
    // vertex loads and runs of triangle pairs.
    const auto material = list(Ucode::F3DEX2, "gsDPPipeSync(), gsDPSetCombineMode(G_CC_MODULATERGB, G_CC_MODULATERGB), "
                                              "gsDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2), "
                                              "gsSPTexture(0xFFFF, 0xFFFF, 0, G_TX_RENDERTILE, G_ON), LT");
    const auto mesh = list(Ucode::F3DEX2, "gsSPVertex(v, 32, 0), " + repeated("gsSP2Triangles(0, 1, 2, 0, 3, 4, 5, 0)", 20));
    std::vector<Words> entries;
    entries.reserve(1'000'100);
    while (entries.size() < 1'000'000) {
        entries.insert(entries.end(), material.begin(), material.end());
        for (int i = 0; i < 8; ++i)
            entries.insert(entries.end(), mesh.begin(), mesh.end());
    }
    entries.push_back({0xDF000000, 0});
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    ListOptions lo;
    const auto commands = decodeList(Ucode::F3DEX2, entries, lo);
    TextSink sink;
    for (const Command& c : commands) {
        sink.reserve(kCommandTextReserve);
        printCommand(c, {}, sink);
        sink.put('\n');
        if (sink.size() > (1u << 20))
            sink.clear();
    }
    const auto t1 = Clock::now();
    const CheckReport r = checkList(Ucode::F3DEX2, entries, exampleOptions());
    const auto t2 = Clock::now();
    const double base = std::chrono::duration<double>(t1 - t0).count();
    const double extra = std::chrono::duration<double>(t2 - t1).count();
    std::printf("decode+print %.3f s, walk+checks %.3f s (%.0f %%)\n", base, extra, 100.0 * extra / base);
    EXPECT_EQ(r.walk.steps, entries.size());
    EXPECT_EQ(countOf(r, Severity::Error), 0u) << describe(r).substr(0, 2000);
    // The cost beside decoding is measured (and printed) here, not asserted:
    // bench/gbi_report.py records it in the performance report.
}

} // namespace
