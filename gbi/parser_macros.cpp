// Macro calls to entries: the name index, argument conversion (combiner
// tokens, presets, pasted names, floats), range checks, and the macros of
// the facts that the command tables hold no row for.

#include "gbi/idioms.h"
#include "gbi/parser_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

namespace dlscope::gbi::asm_detail {
namespace {

struct ExtraSpec {
    std::string_view name;
    Extra extra;
    std::uint8_t ucodes; // bit per Ucode
    bool sm64Only;
    std::string_view args; // comma-separated argument names
};

// Macros of the facts outside the command tables, and the dynamic-only
// macros (reported as such).
constexpr ExtraSpec kExtras[] = {
    {"gsDma1p", Extra::Dma1p, 7, false, "c, s, l, p"}, // the command tables have it for F3D and F3DEX only
    {"gsDma2p", Extra::Dma2p, 7, false, "c, adrs, len, idx, ofs"},
    {"gsImmp0", Extra::Immp0, 7, false, "c"},
    {"gsImmp2", Extra::Immp2, 7, false, "c, p0, p1"},
    {"gsImmp3", Extra::Immp3, 7, false, "c, p0, p1, p2"},
    {"gsImmp21", Extra::Immp21, 7, false, "c, p0, p1, dat"},
    {"gsSetImage", Extra::SetImage, 7, false, "cmd, fmt, siz, width, i"},
    {"gsDPNoParam", Extra::NoParam, 7, false, "cmd"},
    {"gsDPParam", Extra::Param, 7, false, "cmd, param"},
    {"gsDPSetColor", Extra::SetColor, 7, false, "c, d"},
    {"sDPRGBColor", Extra::RGBColor, 7, false, "cmd, r, g, b, a"},
    {"gsDPLoadTileGeneric", Extra::LoadTileGeneric, 7, false, "c, tile, uls, ult, lrs, lrt"},
    {"gsDPSetBlendMask", Extra::BlendMask, 7, false, "mask"},
    {"gsSPFogPosition", Extra::FogPosition, 7, false, "min, max"},
    {"gsSPBranchLessZ", Extra::BranchLessZ, 6, false, "dl, vtx, zval, near, far, flag"},
    {"gsSPBranchLessZrg", Extra::BranchLessZrg, 6, false, "dl, vtx, zval, near, far, flag, zmin, zmax"},
    {"gsDPSetMaskImage", Extra::MaskImage, 7, false, "i"},
    {"gsDPTextureRectangle", Extra::DPTexRect, 7, false, "xl, yl, xh, yh, tile, s, t, dsdx, dtdy"},
    {"gsDPTextureRectangleFlip", Extra::DPTexRectFlip, 7, false, "xl, yl, xh, yh, tile, s, t, dsdx, dtdy"},
    {"_gsDPLoadTextureBlockTile", Extra::BlockTile, 7, false,
     "timg, tmem, rtile, fmt, siz, width, height, pal, cms, cmt, masks, maskt, shifts, shiftt"},
    {"gsSPGeometryModeSetFirst", Extra::GeometryModeSetFirst, 7, true, "c, s"},
    {"gsSPLoadUcodeL", Extra::LoadUcodeL, 6, false, "ucode"},
    {"gsDPLoadTextureBlockYuv", Extra::NoStaticForm, 7, false, ""},
    {"gsDPLoadTextureBlockYuvS", Extra::NoStaticForm, 7, false, ""},
    {"gsDPSetHilite1Tile", Extra::NoStaticForm, 7, false, ""},
    {"gsDPSetHilite2Tile", Extra::NoStaticForm, 7, false, ""},
    {"gsDPScisFillRectangle", Extra::NoStaticForm, 7, false, ""},
    {"gsSPScisTextureRectangle", Extra::NoStaticForm, 7, false, ""},
};

// Names macrosNamed() answers beyond the generated rows and the idioms.
constexpr std::string_view kBuilderNames[] = {"gsDPSetCombineMode", "gsDPSetCombineLERP", "gsDPSetCombine",
                                              "gsDma0p", "gsDma1p", "gsImmp1"};

// The number of arguments a row's macro is written with.
std::size_t writtenArgs(const MacroSpec& row) { return row.special == Special::CombineMode ? 2 : row.args.size(); }

std::string dynamicOf(std::string_view staticName)
{
    // gsXxx -> gXxx, _gsXxx -> _gXxx
    const std::size_t s = staticName.find("gs");
    if (s > 1)
        return {};
    std::string d(staticName.substr(0, s + 1));
    d.append(staticName.substr(s + 2));
    return d;
}

struct Index {
    std::array<NameMap<MacroEntry>, kAllUcodes.size()> entries;
    std::array<NameMap<const MacroEntry*>, kAllUcodes.size()> dynamic;
    NameMap<std::uint8_t> anywhere; // static and dynamic names -> microcodes that define them

    void add(Ucode u, MacroEntry entry)
    {
        const auto ui = static_cast<std::size_t>(u);
        const std::string name(entry.name);
        auto [it, inserted] = entries[ui].emplace(name, std::move(entry));
        if (!inserted)
            return;
        anywhere[name] |= ucodeBit(u);
        const std::string d = dynamicOf(name);
        if (!d.empty()) {
            dynamic[ui].emplace(d, &it->second);
            anywhere[d] |= ucodeBit(u);
        }
    }

    Index()
    {
        for (Ucode u : kAllUcodes) {
            const std::uint8_t bit = ucodeBit(u);
            std::vector<std::string_view> names;
            for (const MacroSpec& m : allMacros())
                if (m.ucodes & bit)
                    names.push_back(m.name);
            for (const MacroSpec& m : f3dex3Macros())
                if (m.ucodes & bit)
                    names.push_back(m.name);
            if (continueSnakeMacro().ucodes & bit)
                names.push_back(continueSnakeMacro().name); // a snake's continuation entries
            for (const MacroSpec& m : idiomMacros())
                if (m.ucodes & bit)
                    names.push_back(m.name);
            for (std::string_view n : kBuilderNames)
                names.push_back(n);
            for (std::string_view n : names) {
                if (entries[static_cast<std::size_t>(u)].contains(n))
                    continue;
                MacroEntry e;
                e.name = n;
                e.rows = macrosNamed(u, n);
                if (e.rows.empty())
                    continue;
                e.argCount = static_cast<std::uint8_t>(writtenArgs(*e.rows.front()));
                e.sm64Only = e.rows.front()->special == Special::Idiom && (n == "gsSP2Triangles" || n == "gsSPGeometryMode");
                if (n == "gsDPSetScissor")
                    e.rule = RowRule::Scissor;
                else if (u != Ucode::F3D && e.rows.front()->special != Special::Idiom
                         && (n == "gsSP1Triangle" || n == "gsSP2Triangles" || n == "gsSP1Quadrangle" || n == "gsSPLine3D"
                             || n == "gsSPLineW3D"))
                    e.rule = RowRule::Flagged;
                e.signature = std::string(n) + "(";
                if (e.rows.front()->special == Special::CombineMode) {
                    e.signature += "a, b";
                } else {
                    for (std::size_t i = 0; i < e.rows.front()->args.size(); ++i) {
                        if (i)
                            e.signature += ", ";
                        e.signature += e.rows.front()->args[i].name;
                    }
                }
                e.signature += ")";
                add(u, std::move(e));
            }
            for (const ExtraSpec& x : kExtras) {
                if (!(x.ucodes & bit))
                    continue;
                MacroEntry e;
                e.name = x.name;
                e.extra = x.extra;
                e.sm64Only = x.sm64Only;
                e.argCount = x.args.empty() ? 0 : static_cast<std::uint8_t>(1 + std::count(x.args.begin(), x.args.end(), ','));
                e.signature = std::string(x.name) + "(" + std::string(x.args) + ")";
                add(u, std::move(e));
            }
        }
    }
};

const Index& index()
{
    static const Index instance;
    return instance;
}

// The name of argument i of a signature "name(a, b, c)".
std::string_view argName(const MacroEntry& e, std::size_t i)
{
    std::string_view s = e.signature;
    const std::size_t open = s.find('(');
    s = s.substr(open + 1, s.size() - open - 2);
    for (std::size_t k = 0; k < i; ++k) {
        const std::size_t comma = s.find(',');
        if (comma == std::string_view::npos)
            return {};
        s = s.substr(comma + 2);
    }
    return s.substr(0, s.find(','));
}

struct Range {
    std::int64_t lo;
    std::int64_t hi;
    bool hard; // outside is an error, not a masked value
};
constexpr Range kWord = {-2147483648ll, 0xFFFFFFFFll, true};
constexpr Range kAny = {INT64_MIN, INT64_MAX, false};

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// What each argument of a multi-command macro may hold: beyond it the
// header's _SHIFTL masks the value (a warning), or the macro cannot work
// (an error).
Range idiomRange(const MacroSpec& row, std::size_t i)
{
    const ArgSpec& a = row.args[i];
    const std::string_view n = a.name;
    const std::string_view m = row.name;
    const bool texRect = startsWith(m, "gsSPTextureRectangle");
    const bool tileLoad = m.find("Tile") != std::string_view::npos;
    if (a.kind == ArgKind::Addr)
        return kWord;
    if (n == "xl" || n == "yl" || n == "xh" || n == "yh")
        return {0, 0xFFF, false};
    if (n == "tile" || n == "rtile")
        return {0, 7, false};
    if (texRect && (n == "s" || n == "t" || n == "dsdx" || n == "dtdy"))
        return {-0x8000, 0xFFFF, false};
    if (n == "vtx")
        return {0, 0xFFF / 5, false};
    if (n == "uc_dsize")
        return {1, 0x10000, false};
    if (n == "fmt")
        return {0, 7, false};
    if (n == "siz")
        return {0, 3, true};
    if (n == "width")
        return tileLoad ? Range{1, 4096, false} : Range{1, 1024, false};
    if (n == "height")
        return tileLoad ? kAny : Range{1, 1024, false};
    if (n == "uls" || n == "ult" || n == "lrs" || n == "lrt")
        return {0, 1023, false};
    if (n == "pal" || n == "masks" || n == "maskt" || n == "shifts" || n == "shiftt")
        return {0, 15, false};
    if (n == "cms" || n == "cmt")
        return {0, 3, false};
    if (n == "tmem" || n == "tmemaddr")
        return {0, 511, false};
    if (n == "count")
        return {1, 1024, false};
    if (n == "v00" || n == "v01" || n == "v02" || n == "v10" || n == "v11" || n == "v12")
        return {0, 25, false};
    if (n == "flag0" || n == "flag1")
        return {0, 255, false};
    return kWord;
}

std::int64_t storedValue(std::int64_t x, const Encoding& e)
{
    if (e.max >= 0 && x > e.max)
        x = e.max; // the header clamps it (MIN)
    std::int64_t v = x * e.mul + e.add;
    if (e.div != 1)
        v /= static_cast<std::int64_t>(e.div);
    return v;
}

bool fits(std::int64_t stored, int width, bool negativeOk)
{
    if (width >= 64)
        return true;
    if (stored >= 0)
        return stored < (std::int64_t{1} << width);
    return negativeOk && stored >= -(std::int64_t{1} << (width - 1));
}

std::string show(std::int64_t v)
{
    if (v >= -256 && v < 256)
        return std::to_string(v);
    return v < 0 ? "-" + hex(0 - static_cast<std::uint64_t>(v)) : hex(static_cast<std::uint64_t>(v));
}

constexpr std::uint8_t otherModeL(Ucode u) { return isF3dex2Family(u) ? 0xE2 : 0xB9; }
constexpr std::uint8_t otherModeH(Ucode u) { return isF3dex2Family(u) ? 0xE3 : 0xBA; }

constexpr std::string_view kLerpSlots[16] = {"a0", "b0", "c0", "d0", "Aa0", "Ab0", "Ac0", "Ad0",
                                             "a1", "b1", "c1", "d1", "Aa1", "Ab1", "Ac1", "Ad1"};
constexpr bool alphaSlot(std::size_t i) { return (i % 8) >= 4; }

} // namespace

MacroLookup findMacro(Ucode ucode, std::string_view name)
{
    const Index& idx = index();
    const auto ui = static_cast<std::size_t>(ucode);
    MacroLookup out;
    if (const auto it = idx.entries[ui].find(name); it != idx.entries[ui].end()) {
        out.entry = &it->second;
        return out;
    }
    if (const auto it = idx.dynamic[ui].find(name); it != idx.dynamic[ui].end()) {
        out.entry = it->second;
        out.dynamic = true;
        return out;
    }
    if (const auto it = idx.anywhere.find(name); it != idx.anywhere.end())
        out.otherUcodes = it->second;
    return out;
}

bool looksLikeMacro(std::string_view n)
{
    while (!n.empty() && n.front() == '_')
        n.remove_prefix(1);
    auto upperAt = [&](std::size_t i) { return i < n.size() && n[i] >= 'A' && n[i] <= 'Z'; };
    if (startsWith(n, "gs") && upperAt(2))
        return true;
    if (startsWith(n, "gSP") || startsWith(n, "gDP") || startsWith(n, "gDma") || startsWith(n, "gImmp")
        || startsWith(n, "gMoveWd") || startsWith(n, "gSetImage") || startsWith(n, "sDP"))
        return true;
    return false;
}

// --- The conversion of one call -----------------------------------------------------

namespace {

class CallAssembler {
public:
    CallAssembler(Engine& engine, const Call& call, const MacroLookup& macro)
        : e_(engine), call_(call), entry_(*macro.entry), first_(macro.dynamic ? 1 : 0)
    {
    }

    bool run(std::vector<Words>& out)
    {
        switch (entry_.extra) {
        case Extra::None: break;
        default: return extra(out);
        }
        for (const MacroSpec* row : entry_.rows) {
            if (writtenArgs(*row) != entry_.argCount)
                continue;
            return encodeRow(*row, out);
        }
        e_.error(call_.name, "no form of " + std::string(entry_.name) + " takes " + std::to_string(entry_.argCount) + " arguments");
        return false;
    }

private:
    std::span<const Token> arg(std::size_t i) const { return call_.arg(first_ + i); }
    const Token& at(std::size_t i) const
    {
        const auto a = arg(i);
        return a.empty() ? call_.ends[first_ + i] : a.front();
    }
    const std::string& what(std::size_t i)
    {
        what_.assign("argument ");
        what_.append(std::to_string(first_ + i + 1));
        const std::string_view n = argName(entry_, i);
        if (!n.empty()) {
            what_.append(" (");
            what_.append(n);
            what_.append(")");
        }
        return what_;
    }

    std::optional<std::int64_t> integer(std::size_t i) { return e_.evaluateInt(arg(i), at(i), what(i)); }
    std::optional<Value> value(std::size_t i) { return e_.evaluate(arg(i), at(i), what(i)); }

    // Reports a value outside its field: an error for whole words (the
    // header casts them, it does not mask), a warning with the kept bits
    // otherwise. False stops the macro.
    bool check(std::size_t i, std::int64_t x, std::int64_t stored, int width, bool negativeOk)
    {
        if (fits(stored, width, negativeOk || width >= 32))
            return true;
        std::string text = what(i) + ": " + show(x);
        if (stored != x)
            text += " (stored as " + show(stored) + ")";
        if (width >= 32) {
            e_.error(at(i), text + " does not fit in 32 bits");
            return false;
        }
        const std::uint64_t kept = static_cast<std::uint64_t>(stored) & ((std::uint64_t{1} << width) - 1);
        e_.warning(at(i), text + " does not fit its " + std::to_string(width) + "-bit field; the header keeps the low bits: " + show(static_cast<std::int64_t>(kept)));
        return true;
    }
    bool checkRange(std::size_t i, std::int64_t x, const Range& r)
    {
        if (x >= r.lo && x <= r.hi)
            return true;
        if (r.hard) {
            if (r.lo == kWord.lo && r.hi == kWord.hi)
                e_.error(at(i), what(i) + ": " + show(x) + " does not fit in 32 bits");
            else
                e_.error(at(i), what(i) + ": " + show(x) + " is out of range (" + show(r.lo) + " to " + show(r.hi) + ")");
            return false;
        }
        e_.warning(at(i), what(i) + ": " + show(x) + " is out of range (" + show(r.lo) + " to " + show(r.hi) + "); the header masks it");
        return true;
    }

    // Packs x into bits lo .. lo+width-1 of a word, checking it first.
    bool put(std::uint32_t& word, int lo, int width, std::size_t i, std::int64_t x, std::int64_t stored, bool negativeOk = false)
    {
        if (!check(i, x, stored, width, negativeOk))
            return false;
        const std::uint64_t mask = width >= 32 ? 0xFFFFFFFFull : (std::uint64_t{1} << width) - 1;
        word |= static_cast<std::uint32_t>((static_cast<std::uint64_t>(stored) & mask) << lo);
        return true;
    }

    // Values whose magnitude would overflow the encoders' arithmetic are cut
    // to 32 bits, as the header's int arithmetic would.
    static std::int64_t tame(std::int64_t x)
    {
        if (x > (std::int64_t{1} << 40) || x < -(std::int64_t{1} << 40))
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(x));
        return x;
    }

    // --- Rows of the command tables

    bool encodeRow(const MacroSpec& row, std::vector<Words>& out)
    {
        switch (row.special) {
        case Special::Idiom: return encodeIdiom(row, out);
        case Special::CombineMode: return encodeCombineMode(row, out);
        case Special::CombineLerp: return encodeLerp(row, out);
        default: break;
        }
        const std::size_t n = row.args.size();
        std::array<std::int64_t, kMaxArgs> v{};
        const RowRule rule = entry_.rule;
        const bool rotates = rule == RowRule::Flagged;
        bool ok = true;
        for (std::size_t i = 0; i < n; ++i) {
            const ArgSpec& a = row.args[i];
            if (a.kind == ArgKind::NotStored && !(rotates && startsWith(a.name, "flag")))
                continue;
            std::optional<std::int64_t> x;
            if (rule == RowRule::Scissor && i >= 1)
                x = scissorQuarter(i);
            else
                x = integer(i);
            if (!x) {
                ok = false;
                continue;
            }
            v[i] = tame(*x);
        }
        if (!ok)
            return false;
        const MacroSpec* target = &row;
        if (rule == RowRule::Scissor) {
            // The float pixels are now quarter pixels: the Frac form's fields.
            const MacroLookup frac = findMacro(e_.ucode, "gsDPSetScissorFrac");
            if (frac.entry && !frac.entry->rows.empty())
                target = frac.entry->rows.front();
        }
        if (!checkRow(*target, v))
            return false;
        Words w;
        if (!encodeSingle(*target, std::span<const std::int64_t>(v.data(), n), w)) {
            e_.error(call_.name, std::string(entry_.name) + ": the arguments do not encode");
            return false;
        }
        checkOtherModeData(w);
        out.push_back(w);
        return true;
    }

    // gsDPSetScissor: (int)((float)x * 4.0F).
    std::optional<std::int64_t> scissorQuarter(std::size_t i)
    {
        std::optional<Value> x = value(i);
        if (!x)
            return std::nullopt;
        const float f = static_cast<float>(x->asReal()) * 4.0f;
        if (!(f > -2147483648.0f && f < 2147483648.0f)) {
            e_.error(at(i), what(i) + ": the coordinate is out of range");
            return std::nullopt;
        }
        return static_cast<std::int32_t>(f);
    }

    bool checkRow(const MacroSpec& row, std::array<std::int64_t, kMaxArgs>& v)
    {
        const std::size_t n = row.args.size();
        switch (row.special) {
        case Special::RenderMode:
            for (std::size_t i = 0; i < 2; ++i)
                if (!check(i, v[i], v[i], 32, true))
                    return false;
            return true;
        case Special::OtherModeShiftFields: // (cmd, sft, len, data) with 32 - sft - len and len - 1
            return check(0, v[0], v[0], 8, false) && check(1, v[1], 32 - v[1] - v[2], 8, false)
                && check(2, v[2], v[2] - 1, 8, false) && check(3, v[3], v[3], 32, true);
        case Special::VertexEnd: // (v, n, v0): v0 + n is stored
            return check(0, v[0], v[0], 32, true) && check(1, v[1], v[1], row.args[1].field.width, false)
                && check(2, v[2], v[2] + v[1], row.args[2].field.width, false);
        case Special::ConvertK2:
            for (std::size_t i = 0; i < n; ++i)
                if (!check(i, v[i], v[i], 9, true))
                    return false;
            return true;
        case Special::ModifyVertexF3d: // (vtx, where, val): vtx * 40 + where in 16 bits
            return check(0, v[0], v[0] * 40 + v[1], 16, false) && check(2, v[2], v[2], 32, true);
        case Special::CullEndF3d: // the header masks both with 15
            return check(0, v[0], v[0], 4, false) && check(1, v[1], v[1], 4, false);
        default: break;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const ArgSpec& a = row.args[i];
            if (!a.field.present())
                continue;
            const bool negativeOk = a.kind == ArgKind::SInt || a.kind == ArgKind::Hex || a.kind == ArgKind::Addr;
            if (!check(i, v[i], storedValue(v[i], a.enc), a.field.width, negativeOk))
                return false;
            if (a.field2.present() && fits(storedValue(v[i], a.enc), a.field.width, negativeOk)
                && !check(i, v[i], storedValue(v[i], a.enc2), a.field2.width, negativeOk))
                return false;
        }
        return true;
    }

    // Other-mode data outside the (shift, length) the command sets is
    // written to the register too: worth a warning.
    void checkOtherModeData(const Words& w)
    {
        const auto op = static_cast<std::uint8_t>(w.w0 >> 24);
        if (op != otherModeL(e_.ucode) && op != otherModeH(e_.ucode))
            return;
        int sft, len;
        if (isF3dex2Family(e_.ucode)) {
            len = static_cast<int>(w.w0 & 0xFF) + 1;
            sft = 32 - static_cast<int>((w.w0 >> 8) & 0xFF) - len;
        } else {
            sft = static_cast<int>((w.w0 >> 8) & 0xFF);
            len = static_cast<int>(w.w0 & 0xFF);
        }
        if (sft < 0 || len < 1 || sft + len > 32)
            return;
        const std::uint32_t mask = (len >= 32 ? 0xFFFFFFFFu : ((1u << len) - 1u)) << sft;
        if ((w.w1 & ~mask) != 0)
            e_.warning(call_.name, std::string(entry_.name) + ": the data " + hex(w.w1) + " has bits outside the field it sets (bits "
                                       + std::to_string(sft) + "-" + std::to_string(sft + len - 1) + "); they are written too");
    }

    // --- Combiner

    bool encodeCombineMode(const MacroSpec& row, std::vector<Words>& out)
    {
        std::array<std::int64_t, kMaxArgs> codes{};
        for (std::size_t cycle = 0; cycle < 2; ++cycle)
            if (!presetCodes(cycle, &codes[cycle * 8]))
                return false;
        Words w;
        encodeSingle(row, std::span<const std::int64_t>(codes.data(), 16), w);
        out.push_back(w);
        return true;
    }

    // The eight slot codes of a G_CC_ preset (or of a define holding eight
    // combiner inputs).
    bool presetCodes(std::size_t i, std::int64_t* codes)
    {
        const auto toks = arg(i);
        if (toks.size() != 1 || toks[0].kind != Tok::Ident) {
            e_.error(at(i), what(i) + ": expected a combine-mode preset name (G_CC_...)");
            return false;
        }
        const std::string_view name = toks[0].text;
        bool otherFlavour = false;
        for (const CombinePreset& p : combinePresets()) {
            if (p.name != name)
                continue;
            if (e_.sm64 ? p.sm64 : p.libultra) {
                for (std::size_t k = 0; k < 8; ++k)
                    codes[k] = p.codes[k];
                return true;
            }
            otherFlavour = true;
        }
        if (otherFlavour) {
            e_.error(at(i), what(i) + ": " + quote(name) + " is defined only by the "
                                + (e_.sm64 ? "libultra" : "sm64") + " header (see --names)");
            return false;
        }
        if (const auto it = e_.defines.find(name); it != e_.defines.end() && !it->second.functionLike) {
            // A preset of the source: eight comma-separated inputs.
            const auto& body = it->second.tokens;
            std::size_t k = 0, t = 0;
            while (k < 8 && t < body.size() && body[t].kind != Tok::Punct) {
                if (!muxCode(body[t], i * 8 + k, codes[k]))
                    return false;
                ++k;
                if (t + 1 < body.size() && !body[t + 1].is(","))
                    break;
                t += 2;
            }
            if (k == 8)
                return true;
            e_.error(at(i), what(i) + ": the definition of " + quote(name) + " is not eight combiner inputs");
            return false;
        }
        e_.error(at(i), what(i) + ": " + quote(name) + " is not a combine-mode preset");
        return false;
    }

    // A combiner input token in slot `slot` (0-15 in LERP order): the header
    // pastes G_CCMUX_ or G_ACMUX_ onto it.
    bool muxCode(const Token& t, std::size_t slot, std::int64_t& code)
    {
        name_.assign(alphaSlot(slot) ? "G_ACMUX_" : "G_CCMUX_");
        name_.append(t.text);
        const std::optional<std::int64_t> v = t.kind == Tok::Ident || t.kind == Tok::Number ? e_.headerConstant(name_) : std::nullopt;
        if (!v) {
            e_.error(t, "combiner input " + std::string(kLerpSlots[slot]) + ": " + quote(t.text) + " is not one (" + name_ + " is not defined)");
            return false;
        }
        code = *v;
        return true;
    }

    bool encodeLerp(const MacroSpec& row, std::vector<Words>& out)
    {
        std::array<std::int64_t, kMaxArgs> codes{};
        bool ok = true;
        for (std::size_t i = 0; i < 16; ++i) {
            const auto toks = arg(i);
            if (toks.size() != 1) {
                e_.error(at(i), what(i) + ": expected one combiner input name (the header pastes "
                                    + std::string(alphaSlot(i) ? "G_ACMUX_" : "G_CCMUX_") + " onto it)");
                ok = false;
                continue;
            }
            ok = muxCode(toks[0], i, codes[i]) && ok;
        }
        if (!ok)
            return false;
        Words w;
        encodeSingle(row, std::span<const std::int64_t>(codes.data(), 16), w);
        out.push_back(w);
        return true;
    }

    // --- Multi-command macros

    // An argument the header pastes onto a prefix or suffix: the name must
    // be written out; a number is taken with a warning.
    std::optional<std::int64_t> pasted(std::size_t i, std::string_view prefix, std::int64_t lo, std::int64_t hi,
                                       std::string_view example)
    {
        const auto toks = arg(i);
        if (toks.size() == 1 && toks[0].kind == Tok::Ident && startsWith(toks[0].text, prefix)) {
            std::optional<std::int64_t> v = e_.headerConstant(toks[0].text);
            if (!v && prefix == "FRUSTRATIO_") {
                const std::string_view d = toks[0].text.substr(prefix.size());
                if (d.size() == 1 && d[0] >= '1' && d[0] <= '6')
                    v = d[0] - '0';
            }
            if (v && *v >= lo && *v <= hi)
                return v;
            e_.error(at(i), what(i) + ": " + quote(toks[0].text) + " is not one of the names the header accepts here (" + std::string(example) + ")");
            return std::nullopt;
        }
        if (toks.size() == 1 && toks[0].kind == Tok::Ident && prefix == "FRUSTRATIO_" && startsWith(toks[0].text, "FR_NEG_FRUSTRATIO_")) {
            const std::string_view d = toks[0].text.substr(18);
            if (d.size() == 1 && d[0] >= '1' && d[0] <= '6') {
                e_.warning(at(i), what(i) + ": the header pastes FR_NEG_ onto this argument: write FRUSTRATIO_" + std::string(d));
                return d[0] - '0';
            }
        }
        const std::optional<std::int64_t> v = integer(i);
        if (!v)
            return std::nullopt;
        if (*v < lo || *v > hi) {
            e_.error(at(i), what(i) + ": " + show(*v) + " is out of range (" + std::string(example) + ")");
            return std::nullopt;
        }
        e_.warning(at(i), what(i) + ": the header pastes this argument into a name: write it as " + std::string(example));
        return v;
    }

    bool encodeIdiom(const MacroSpec& row, std::vector<Words>& out)
    {
        std::array<std::int64_t, kMaxArgs> v{};
        const std::size_t n = row.args.size();
        bool ok = true;
        for (std::size_t i = 0; i < n; ++i) {
            const std::string_view an = row.args[i].name;
            std::optional<std::int64_t> x;
            if (row.name == "gsSPClipRatio")
                x = pasted(i, "FRUSTRATIO_", 1, 6, "FRUSTRATIO_1 to FRUSTRATIO_6");
            else if (row.name == "gsSPLightColor" && i == 0)
                x = pasted(i, "LIGHT_", 1, 8, "LIGHT_1 to LIGHT_8");
            else if (an == "siz")
                x = pasted(i, "G_IM_SIZ_", 0, 3, "G_IM_SIZ_4b, _8b, _16b or _32b");
            else
                x = e_.evaluateInt(arg(i), at(i), what(i), startsWith(row.name, "gsSPSetLights"));
            if (!x || !checkRange(i, *x, idiomRange(row, i))) {
                ok = false;
                continue;
            }
            v[i] = tame(*x);
        }
        if (!ok)
            return false;
        return expand(row, std::span<const std::int64_t>(v.data(), n), out);
    }

    bool expand(const MacroSpec& row, std::span<const std::int64_t> v, std::vector<Words>& out)
    {
        const std::size_t before = out.size();
        if (!expandIdiom(e_.ucode, row, v, out)) {
            out.resize(before);
            e_.error(call_.name, std::string(entry_.name) + ": these arguments do not expand");
            return false;
        }
        return true;
    }

    const MacroSpec* rowNamed(std::string_view name)
    {
        const MacroLookup m = findMacro(e_.ucode, name);
        return m.entry && !m.entry->rows.empty() ? m.entry->rows.front() : nullptr;
    }

    bool single(std::string_view name, std::initializer_list<std::int64_t> args, std::vector<Words>& out)
    {
        const MacroSpec* row = rowNamed(name);
        std::array<std::int64_t, kMaxArgs> a{};
        std::copy(args.begin(), args.end(), a.begin());
        Words w;
        if (!row || !encodeSingle(*row, std::span<const std::int64_t>(a.data(), row->args.size()), w)) {
            e_.error(call_.name, std::string(entry_.name) + ": " + std::string(name) + " is not available");
            return false;
        }
        out.push_back(w);
        return true;
    }

    // --- Macros outside the command tables

    bool extra(std::vector<Words>& out)
    {
        const std::size_t n = entry_.argCount;
        std::array<std::int64_t, kMaxArgs> v{};
        auto ints = [&](std::initializer_list<std::size_t> which) {
            bool ok = true;
            for (std::size_t i : which) {
                const std::optional<std::int64_t> x = integer(i);
                if (!x)
                    ok = false;
                else
                    v[i] = tame(*x);
            }
            return ok;
        };
        auto allInts = [&] {
            bool ok = true;
            for (std::size_t i = 0; i < n; ++i) {
                const std::optional<std::int64_t> x = integer(i);
                if (!x)
                    ok = false;
                else
                    v[i] = tame(*x);
            }
            return ok;
        };
        Words w;
        switch (entry_.extra) {
        case Extra::Dma1p: // (c, s, l, p)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w0, 16, 8, 3, v[3], v[3])
                || !put(w.w0, 0, 16, 2, v[2], v[2]) || !put(w.w1, 0, 32, 1, v[1], v[1], true))
                return false;
            break;
        case Extra::Dma2p: // (c, adrs, len, idx, ofs)
            if (!allInts())
                return false;
            if (!put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w0, 19, 5, 2, v[2], (v[2] - 1) / 8)
                || !put(w.w0, 8, 8, 4, v[4], v[4] / 8) || !put(w.w0, 0, 8, 3, v[3], v[3]) || !put(w.w1, 0, 32, 1, v[1], v[1], true))
                return false;
            break;
        case Extra::Immp0:
        case Extra::NoParam:
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]))
                return false;
            break;
        case Extra::Immp2: // (c, p0, p1)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w1, 16, 16, 1, v[1], v[1], true)
                || !put(w.w1, 8, 8, 2, v[2], v[2]))
                return false;
            break;
        case Extra::Immp3: // (c, p0, p1, p2)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w1, 16, 16, 1, v[1], v[1], true)
                || !put(w.w1, 8, 8, 2, v[2], v[2]) || !put(w.w1, 0, 8, 3, v[3], v[3]))
                return false;
            break;
        case Extra::Immp21: // (c, p0, p1, dat)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w0, 8, 16, 1, v[1], v[1], true)
                || !put(w.w0, 0, 8, 2, v[2], v[2]) || !put(w.w1, 0, 32, 3, v[3], v[3], true))
                return false;
            break;
        case Extra::SetImage: // (cmd, fmt, siz, width, i)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w0, 21, 3, 1, v[1], v[1])
                || !put(w.w0, 19, 2, 2, v[2], v[2]) || !put(w.w0, 0, 12, 3, v[3], v[3] - 1) || !put(w.w1, 0, 32, 4, v[4], v[4], true))
                return false;
            break;
        case Extra::Param:
        case Extra::SetColor:
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w1, 0, 32, 1, v[1], v[1], true))
                return false;
            break;
        case Extra::RGBColor: // (cmd, r, g, b, a)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]))
                return false;
            for (std::size_t i = 1; i <= 4; ++i)
                if (!put(w.w1, static_cast<int>(32 - 8 * i), 8, i, v[i], v[i]))
                    return false;
            break;
        case Extra::LoadTileGeneric: // (c, tile, uls, ult, lrs, lrt)
            if (!allInts() || !put(w.w0, 24, 8, 0, v[0], v[0]) || !put(w.w0, 12, 12, 2, v[2], v[2])
                || !put(w.w0, 0, 12, 3, v[3], v[3]) || !put(w.w1, 24, 3, 1, v[1], v[1]) || !put(w.w1, 12, 12, 4, v[4], v[4])
                || !put(w.w1, 0, 12, 5, v[5], v[5]))
                return false;
            break;
        case Extra::BlendMask: // the header emits a no-op; the mask is not used
            return single("gsDPNoOp", {}, out);
        case Extra::MaskImage:
            if (!allInts() || !check(0, v[0], v[0], 32, true))
                return false;
            return single("gsDPSetDepthImage", {v[0]}, out);
        case Extra::FogPosition: { // (min, max)
            if (!allInts())
                return false;
            const std::int64_t range = static_cast<std::int32_t>(v[1] - v[0]);
            if (range == 0) {
                e_.error(at(1), "gsSPFogPosition: max equals min, and the header divides by max - min");
                return false;
            }
            const std::int64_t fm = 128000 / range;
            const std::int64_t fo = static_cast<std::int32_t>((500 - v[0]) * 256) / range;
            if (!check(0, v[0], fm, 16, true) || !check(1, v[1], fo, 16, true))
                return false;
            return single("gsSPFogFactor", {fm, fo}, out);
        }
        case Extra::BranchLessZ:
        case Extra::BranchLessZrg: return branchLessZ(out);
        case Extra::DPTexRect:
        case Extra::DPTexRectFlip: { // (xl, yl, xh, yh, tile, s, t, dsdx, dtdy)
            if (!allInts())
                return false;
            Words a, b;
            a.w0 = (entry_.extra == Extra::DPTexRect ? 0xE4u : 0xE5u) << 24;
            if (!put(a.w0, 12, 12, 2, v[2], v[2]) || !put(a.w0, 0, 12, 3, v[3], v[3]) || !put(a.w1, 24, 3, 4, v[4], v[4])
                || !put(a.w1, 12, 12, 0, v[0], v[0]) || !put(a.w1, 0, 12, 1, v[1], v[1]) || !put(b.w0, 16, 16, 5, v[5], v[5], true)
                || !put(b.w0, 0, 16, 6, v[6], v[6], true) || !put(b.w1, 16, 16, 7, v[7], v[7], true)
                || !put(b.w1, 0, 16, 8, v[8], v[8], true))
                return false;
            out.push_back(a);
            out.push_back(b);
            return true;
        }
        case Extra::BlockTile: { // the same expansion as gsDPLoadMultiBlock
            const MacroSpec* row = rowNamed("gsDPLoadMultiBlock");
            if (!row) {
                e_.error(call_.name, "gsDPLoadMultiBlock is not available");
                return false;
            }
            return encodeIdiom(*row, out);
        }
        case Extra::GeometryModeSetFirst: { // (c, s): set, then clear
            if (!allInts() || !check(0, v[0], v[0], 32, true) || !check(1, v[1], v[1], 32, true))
                return false;
            if (isF3dex2Family(e_.ucode))
                return single("gsSPGeometryMode", {v[0], v[1]}, out);
            return single("gsSPSetGeometryMode", {v[1]}, out) && single("gsSPClearGeometryMode", {v[0]}, out);
        }
        case Extra::LoadUcodeL: return loadUcodeL(out);
        case Extra::NoStaticForm:
            e_.error(call_.name, quote(call_.name.text) + " has no static form in the header facts; write the commands it emits instead");
            return false;
        case Extra::None: break;
        }
        (void)ints;
        out.push_back(w);
        return true;
    }

    // gsSPBranchLessZ(dl, vtx, zval, near, far, flag[, zmin, zmax]): the
    // depth value is worked out in single-precision float.
    bool branchLessZ(std::vector<Words>& out)
    {
        const bool rg = entry_.extra == Extra::BranchLessZrg;
        std::optional<std::int64_t> dl = integer(0), vtx = integer(1), flag = integer(5);
        std::optional<Value> zval = value(2), nearV = value(3), farV = value(4);
        std::optional<Value> zmin = rg ? value(6) : Value::s32(0);
        std::optional<Value> zmax = rg ? value(7) : Value::s32(0x3FF);
        if (!dl || !vtx || !flag || !zval || !nearV || !farV || !zmin || !zmax)
            return false;
        const float z = static_cast<float>(zval->asReal()), nr = static_cast<float>(nearV->asReal()), fr = static_cast<float>(farV->asReal());
        const float r = *flag == 0 ? (1.0f - nr / z) / (1.0f - nr / fr) : (z - nr) / (fr - nr);
        const float scaled = r * 65536.0f;
        const float zminScaled = static_cast<float>(zmin->asReal()) * 65536.0f;
        if (!std::isfinite(scaled) || std::fabs(scaled) >= 2147483648.0f || !std::isfinite(zminScaled)
            || std::fabs(zminScaled) >= 2147483648.0f) {
            e_.error(at(2), "gsSPBranchLessZ: the depth ratio is not a finite number (check zval, near and far)");
            return false;
        }
        const auto zi = [](const Value& x) { return isFloat(x.type) ? static_cast<std::int64_t>(x.real) : x.asInt(); };
        const std::uint32_t span = static_cast<std::uint32_t>(zi(*zmax) - zi(*zmin)) & ~1u;
        const std::uint32_t w1 = static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled)) * span
            + static_cast<std::uint32_t>(static_cast<std::int32_t>(zminScaled));
        if (!checkRange(0, *dl, kWord) || !checkRange(1, *vtx, {0, 0xFFF / 5, false}))
            return false;
        const MacroSpec* row = rowNamed("gsSPBranchLessZraw");
        if (!row) {
            e_.error(call_.name, "gsSPBranchLessZraw is not available");
            return false;
        }
        const std::int64_t args[3] = {tame(*dl), tame(*vtx), w1};
        return expand(*row, args, out);
    }

    // gsSPLoadUcodeL(name): gsSPLoadUcode with the physical addresses of
    // nameTextStart and nameDataStart.
    bool loadUcodeL(std::vector<Words>& out)
    {
        const auto toks = arg(0);
        if (toks.size() != 1 || toks[0].kind != Tok::Ident) {
            e_.error(at(0), what(0) + ": expected a microcode name (the header pastes TextStart and DataStart onto it)");
            return false;
        }
        std::uint32_t addr[2];
        const char* suffix[2] = {"TextStart", "DataStart"};
        for (int k = 0; k < 2; ++k) {
            const std::string name = std::string(toks[0].text) + suffix[k];
            Token t = toks[0];
            t.text = name;
            std::optional<Value> v = e_.lookupIdentifier(t, 0, what(0));
            if (!v)
                return false;
            addr[k] = static_cast<std::uint32_t>(v->bits) & 0x1FFFFFFFu;
        }
        const MacroSpec* row = rowNamed("gsSPLoadUcode");
        if (!row) {
            e_.error(call_.name, "gsSPLoadUcode is not available");
            return false;
        }
        const std::int64_t args[2] = {addr[0], addr[1]};
        return expand(*row, args, out);
    }

    Engine& e_;
    const Call& call_;
    const MacroEntry& entry_;
    std::size_t first_;
    std::string what_;
    std::string name_;
};

} // namespace

namespace {

bool emitEntries(Engine& e, const Call& call, const MacroLookup& macro);

} // namespace

bool Engine::emitCall(const Call& call, const MacroLookup& macro)
{
    const std::size_t before = out->size();
    const bool ok = emitEntries(*this, call, macro);
    if (options.collectExpected)
        recordMacro(call.name, before, out->size() - before);
    return ok;
}

namespace {

bool emitEntries(Engine& e, const Call& call, const MacroLookup& macro)
{
    const MacroEntry& entry = *macro.entry;
    const std::size_t first = macro.dynamic ? 1 : 0;
    if (macro.dynamic && (call.args.empty() || call.arg(0).empty())) {
        e.error(call.open, std::string(call.name.text) + ": expected the display-list pointer as the first argument");
        return false;
    }
    if (entry.extra == Extra::NoStaticForm) {
        e.error(call.name, quote(call.name.text) + " has no static form in the header facts; write the commands it emits instead");
        return false;
    }
    if (entry.sm64Only && !e.sm64) {
        e.error(call.name, quote(call.name.text) + " is defined for " + std::string(ucodeName(e.ucode))
                             + " only by the sm64 header (use the sm64 names)");
        return false;
    }
    const std::size_t count = call.args.size() - first;
    if (count != entry.argCount) {
        std::string sig = entry.signature;
        if (macro.dynamic)
            sig = std::string(call.name.text) + "(pointer" + (entry.argCount ? ", " : "") + sig.substr(sig.find('(') + 1);
        // Point at the first argument too many, or at the ')' when some are missing.
        const std::size_t extra = first + entry.argCount;
        const Token& where = count > entry.argCount ? (call.arg(extra).empty() ? call.ends[extra] : call.arg(extra).front()) : call.close;
        e.error(where,
              std::string(call.name.text) + " takes " + std::to_string(entry.argCount + first) + " argument"
                  + (entry.argCount + first == 1 ? "" : "s") + ", found " + std::to_string(call.args.size()) + ": " + sig);
        return false;
    }
    thread_local std::vector<Words> entries;
    entries.clear();
    CallAssembler assembler(e, call, macro);
    if (!assembler.run(entries))
        return false;
    const std::size_t start = e.out->size();
    e.out->insert(e.out->end(), entries.begin(), entries.end());
    if (e.out == &e.result.words)
        for (std::size_t i = start; i < e.out->size(); ++i)
            e.result.lines.push_back({call.name.line, call.name.column});
    return true;
}

} // namespace

} // namespace dlscope::gbi::asm_detail
