#include "gbi/idioms.h"

#include <algorithm>
#include <array>
#include <string>

namespace dlscope::gbi {
namespace {

// --- Single rows by name ------------------------------------------------------

const MacroSpec* single(Ucode u, std::string_view name)
{
    for (const MacroSpec& m : allMacros())
        if ((m.ucodes & ucodeBit(u)) && m.name == name && m.opcode >= 0)
            return &m;
    return nullptr;
}

// The rows the expansions use, looked up once per microcode.
struct Rows {
    const MacroSpec *setTimg, *setTile, *loadSync, *pipeSync, *tileSync, *loadBlock, *loadTile, *setTileSize,
        *loadTlut, *moveWord, *light, *numLights, *lookAtX, *lookAtY, *tri1, *setGeo, *clearGeo;
    explicit Rows(Ucode u)
        : setTimg(single(u, "gsDPSetTextureImage")), setTile(single(u, "gsDPSetTile")),
          loadSync(single(u, "gsDPLoadSync")), pipeSync(single(u, "gsDPPipeSync")),
          tileSync(single(u, "gsDPTileSync")), loadBlock(single(u, "gsDPLoadBlock")),
          loadTile(single(u, "gsDPLoadTile")), setTileSize(single(u, "gsDPSetTileSize")),
          loadTlut(single(u, "gsDPLoadTLUTCmd")), moveWord(nullptr), light(single(u, "gsSPLight")),
          numLights(single(u, "gsSPNumLights")), lookAtX(single(u, "gsSPLookAtX")),
          lookAtY(single(u, "gsSPLookAtY")), tri1(single(u, "gsSP1Triangle")),
          setGeo(single(u, "gsSPSetGeometryMode")), clearGeo(single(u, "gsSPClearGeometryMode"))
    {
    }
};

const Rows& rows(Ucode u)
{
    static const Rows all[kUcodeCount] = {Rows(Ucode::F3D), Rows(Ucode::F3DEX), Rows(Ucode::F3DEX2), Rows(Ucode::F3DEX3)};
    return all[static_cast<std::size_t>(u)];
}

Words enc(const MacroSpec* m, std::initializer_list<std::int64_t> args)
{
    Words w;
    std::array<std::int64_t, kMaxArgs> a{};
    std::copy(args.begin(), args.end(), a.begin());
    if (m)
        encodeSingle(*m, a, w);
    return w;
}

std::uint8_t opcodeOf(Words w) { return static_cast<std::uint8_t>(w.w0 >> 24); }

std::uint8_t half1(Ucode u) { return isF3dex2Family(u) ? 0xE1 : 0xB4; }
std::uint8_t half2(Ucode u) { return isF3dex2Family(u) ? 0xF1 : 0xB3; }
std::uint8_t moveWordOp(Ucode u) { return isF3dex2Family(u) ? 0xDB : 0xBC; }

Words moveWord(Ucode u, std::uint32_t index, std::uint32_t offset, std::uint32_t data)
{
    if (isF3dex2Family(u))
        return {0xDB000000u | (index & 0xFF) << 16 | (offset & 0xFFFF), data};
    return {0xBC000000u | (offset & 0xFFFF) << 8 | (index & 0xFF), data};
}

// --- Texture loads --------------------------------------------------------------

enum P : std::uint8_t { Timg, Tmem, Rtile, Fmt, Siz, Wd, Ht, Uls, Ult, Lrs, Lrt, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt, PCount };

constexpr ArgSpec paramSpec(P p)
{
    switch (p) {
    case Timg: return {"timg", ArgKind::Addr, ConstTable::None, {}, {}, {}, {}};
    case Tmem: return {"tmem", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Rtile: return {"rtile", ArgKind::Tile, ConstTable::None, {}, {}, {}, {}};
    case Fmt: return {"fmt", ArgKind::Const, ConstTable::ImFmt, {}, {}, {}, {}};
    case Siz: return {"siz", ArgKind::Const, ConstTable::ImSiz, {}, {}, {}, {}};
    case Wd: return {"width", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Ht: return {"height", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Uls: return {"uls", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Ult: return {"ult", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Lrs: return {"lrs", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Lrt: return {"lrt", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Pal: return {"pal", ArgKind::Int, ConstTable::None, {}, {}, {}, {}};
    case Cms: return {"cms", ArgKind::Flags, ConstTable::TxCm, {}, {}, {}, {}};
    case Cmt: return {"cmt", ArgKind::Flags, ConstTable::TxCm, {}, {}, {}, {}};
    case Masks: return {"masks", ArgKind::Const, ConstTable::TxMask, {}, {}, {}, {}};
    case Maskt: return {"maskt", ArgKind::Const, ConstTable::TxMask, {}, {}, {}, {}};
    case Shifts: return {"shifts", ArgKind::Const, ConstTable::TxShift, {}, {}, {}, {}};
    case Shiftt: return {"shiftt", ArgKind::Const, ConstTable::TxShift, {}, {}, {}, {}};
    default: return {};
    }
}

template <std::size_t N>
constexpr std::array<ArgSpec, N> specs(const P (&ps)[N])
{
    std::array<ArgSpec, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = paramSpec(ps[i]);
    return out;
}

constexpr P kBlockArgs[] = {Timg, Fmt, Siz, Wd, Ht, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kBlockTmemArgs[] = {Timg, Tmem, Fmt, Siz, Wd, Ht, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kMultiBlockArgs[] = {Timg, Tmem, Rtile, Fmt, Siz, Wd, Ht, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kBlock4Args[] = {Timg, Fmt, Wd, Ht, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kBlock4TmemArgs[] = {Timg, Tmem, Fmt, Wd, Ht, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kMultiBlock4Args[] = {Timg, Tmem, Rtile, Fmt, Wd, Ht, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kTileArgs[] = {Timg, Fmt, Siz, Wd, Ht, Uls, Ult, Lrs, Lrt, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kMultiTileArgs[] = {Timg, Tmem, Rtile, Fmt, Siz, Wd, Ht, Uls, Ult, Lrs, Lrt, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kTile4Args[] = {Timg, Fmt, Wd, Ht, Uls, Ult, Lrs, Lrt, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};
constexpr P kMultiTile4Args[] = {Timg, Tmem, Rtile, Fmt, Wd, Ht, Uls, Ult, Lrs, Lrt, Pal, Cms, Cmt, Masks, Maskt, Shifts, Shiftt};

constexpr auto kBlockSpecs = specs(kBlockArgs);
constexpr auto kBlockTmemSpecs = specs(kBlockTmemArgs);
constexpr auto kMultiBlockSpecs = specs(kMultiBlockArgs);
constexpr auto kBlock4Specs = specs(kBlock4Args);
constexpr auto kBlock4TmemSpecs = specs(kBlock4TmemArgs);
constexpr auto kMultiBlock4Specs = specs(kMultiBlock4Args);
constexpr auto kTileSpecs = specs(kTileArgs);
constexpr auto kMultiTileSpecs = specs(kMultiTileArgs);
constexpr auto kTile4Specs = specs(kTile4Args);
constexpr auto kMultiTile4Specs = specs(kMultiTile4Args);

constexpr ArgSpec A(std::string_view name, ArgKind kind, ConstTable table = ConstTable::None)
{
    return {name, kind, table, {}, {}, {}, {}};
}

constexpr ArgSpec kTexRectArgs[] = {
    A("xl", ArgKind::Int), A("yl", ArgKind::Int), A("xh", ArgKind::Int), A("yh", ArgKind::Int),
    A("tile", ArgKind::Tile), A("s", ArgKind::Hex), A("t", ArgKind::Hex), A("dsdx", ArgKind::Hex), A("dtdy", ArgKind::Hex)};
constexpr ArgSpec kWordArgs[] = {A("wordhi", ArgKind::Hex), A("wordlo", ArgKind::Hex)};
constexpr ArgSpec kBranchZArgs[] = {A("dl", ArgKind::Addr), A("vtx", ArgKind::Int), A("zval", ArgKind::Hex)};
constexpr ArgSpec kUcodeArgs[] = {A("uc_start", ArgKind::Addr), A("uc_dstart", ArgKind::Addr)};
constexpr ArgSpec kUcodeExArgs[] = {A("uc_start", ArgKind::Addr), A("uc_dstart", ArgKind::Addr), A("uc_dsize", ArgKind::Int)};
constexpr ArgSpec kClipArgs[] = {A("r", ArgKind::Const, ConstTable::Frustratio)};
constexpr ArgSpec kLightColorArgs[] = {A("n", ArgKind::Const, ConstTable::Light), A("col", ArgKind::Hex)};
constexpr ArgSpec kAddrArg[] = {A("la", ArgKind::Addr)};
constexpr ArgSpec kMtxArg[] = {A("mptr", ArgKind::Addr)};
constexpr ArgSpec kLightsArg[] = {A("name", ArgKind::Addr)};
constexpr ArgSpec kTlut16Args[] = {A("pal", ArgKind::Int), A("dram", ArgKind::Addr)};
constexpr ArgSpec kTlut256Args[] = {A("dram", ArgKind::Addr)};
constexpr ArgSpec kTlutArgs[] = {A("count", ArgKind::Int), A("tmemaddr", ArgKind::Int), A("dram", ArgKind::Addr)};
constexpr ArgSpec kTwoTriArgs[] = {A("v00", ArgKind::Int), A("v01", ArgKind::Int), A("v02", ArgKind::Int), A("flag0", ArgKind::Int),
                                   A("v10", ArgKind::Int), A("v11", ArgKind::Int), A("v12", ArgKind::Int), A("flag1", ArgKind::Int)};
constexpr ArgSpec kLightColor2Args[] = {A("n", ArgKind::Const, ConstTable::Light), A("col1", ArgKind::Hex), A("col2", ArgKind::Hex)};
constexpr ArgSpec kMemsetArgs[] = {A("dram", ArgKind::Addr), A("value", ArgKind::Hex), A("size", ArgKind::Int)};
constexpr ArgSpec kAmbOccArgs[] = {A("amb", ArgKind::Hex), A("dir", ArgKind::Hex), A("point", ArgKind::Hex)};
constexpr ArgSpec kGeoArgs[] = {A("c", ArgKind::Flags, ConstTable::GeometryMode), A("s", ArgKind::Flags, ConstTable::GeometryMode)};

enum class Kind : std::uint8_t {
    TexRect, TexRectFlip, Word, BranchZ, LoadUcode, LoadUcodeEx, ClipRatio, LightColor, LookAt, ForceMatrix,
    SetLights, Block, Tile, Tlut16, Tlut256, Tlut, TwoTriangles, GeometryMode, LightColor2, Memset, AmbOcclusion,
};

// Variant bits of the texture loads.
enum : std::uint8_t { kFour = 1, kNoDxt = 2, kTmem = 4, kRtile = 8 };

struct IdiomInfo {
    Kind kind;
    std::uint8_t variant; // texture loads: kFour | kNoDxt | ...; SetLights: the number of lights
    std::span<const P> params; // texture loads: where each argument goes
    bool sm64Only;
};

constexpr MacroSpec idiomRow(std::string_view name, std::uint8_t ucodes, std::span<const ArgSpec> args)
{
    return {name, ucodes, -1, {0, 0}, {0, 0}, args, Special::Idiom};
}

constexpr MacroSpec kIdiomRows[] = {
    idiomRow("gsSPTextureRectangle", 15, kTexRectArgs),
    idiomRow("gsSPTextureRectangleFlip", 15, kTexRectArgs),
    idiomRow("gsDPWord", 15, kWordArgs),
    idiomRow("gsSPBranchLessZraw", 14, kBranchZArgs),
    idiomRow("gsSPLoadUcode", 14, kUcodeArgs),
    idiomRow("gsSPLoadUcodeEx", 14, kUcodeExArgs),
    idiomRow("gsSPClipRatio", 7, kClipArgs),
    idiomRow("gsSPLightColor", 15, kLightColorArgs),
    idiomRow("gsSPLookAt", 7, kAddrArg),
    idiomRow("gsSPForceMatrix", 7, kMtxArg),
    idiomRow("gsSPSetLights0", 15, kLightsArg),
    idiomRow("gsSPSetLights1", 15, kLightsArg),
    idiomRow("gsSPSetLights2", 15, kLightsArg),
    idiomRow("gsSPSetLights3", 15, kLightsArg),
    idiomRow("gsSPSetLights4", 15, kLightsArg),
    idiomRow("gsSPSetLights5", 15, kLightsArg),
    idiomRow("gsSPSetLights6", 15, kLightsArg),
    idiomRow("gsSPSetLights7", 15, kLightsArg),
    idiomRow("gsSPSetLights8", 8, kLightsArg),
    idiomRow("gsSPSetLights9", 8, kLightsArg),
    // Texture block loads, in the order they are tried: the 4-bit forms first
    // (a 4-bit texture that fits their formulas is written with them).
    idiomRow("gsDPLoadTextureBlock_4b", 15, kBlock4Specs),
    idiomRow("gsDPLoadTextureBlock_4bS", 15, kBlock4Specs),
    idiomRow("_gsDPLoadTextureBlock_4b", 15, kBlock4TmemSpecs),
    idiomRow("gsDPLoadMultiBlock_4b", 15, kMultiBlock4Specs),
    idiomRow("gsDPLoadMultiBlock_4bS", 15, kMultiBlock4Specs),
    idiomRow("gsDPLoadTextureBlock", 15, kBlockSpecs),
    idiomRow("gsDPLoadTextureBlockS", 15, kBlockSpecs),
    idiomRow("_gsDPLoadTextureBlock", 15, kBlockTmemSpecs),
    idiomRow("gsDPLoadMultiBlock", 15, kMultiBlockSpecs),
    idiomRow("gsDPLoadMultiBlockS", 15, kMultiBlockSpecs),
    idiomRow("gsDPLoadTextureTile_4b", 15, kTile4Specs),
    idiomRow("gsDPLoadMultiTile_4b", 15, kMultiTile4Specs),
    idiomRow("gsDPLoadTextureTile", 15, kTileSpecs),
    idiomRow("gsDPLoadMultiTile", 15, kMultiTileSpecs),
    idiomRow("gsDPLoadTLUT_pal16", 15, kTlut16Args),
    idiomRow("gsDPLoadTLUT_pal256", 15, kTlut256Args),
    idiomRow("gsDPLoadTLUT", 15, kTlutArgs),
    idiomRow("gsSP2Triangles", 1, kTwoTriArgs),
    idiomRow("gsSPGeometryMode", 3, kGeoArgs),
    idiomRow("_gsSPLightColor2", 8, kLightColor2Args),
    idiomRow("gsSPMemset", 8, kMemsetArgs),
    idiomRow("gsSPAmbOcclusion", 8, kAmbOccArgs),
};

constexpr IdiomInfo kIdiomInfo[] = {
    {Kind::TexRect, 0, {}, false},
    {Kind::TexRectFlip, 0, {}, false},
    {Kind::Word, 0, {}, false},
    {Kind::BranchZ, 0, {}, false},
    {Kind::LoadUcode, 0, {}, false},
    {Kind::LoadUcodeEx, 0, {}, false},
    {Kind::ClipRatio, 0, {}, false},
    {Kind::LightColor, 0, {}, false},
    {Kind::LookAt, 0, {}, false},
    {Kind::ForceMatrix, 0, {}, false},
    {Kind::SetLights, 0, {}, false},
    {Kind::SetLights, 1, {}, false},
    {Kind::SetLights, 2, {}, false},
    {Kind::SetLights, 3, {}, false},
    {Kind::SetLights, 4, {}, false},
    {Kind::SetLights, 5, {}, false},
    {Kind::SetLights, 6, {}, false},
    {Kind::SetLights, 7, {}, false},
    {Kind::SetLights, 8, {}, false},
    {Kind::SetLights, 9, {}, false},
    {Kind::Block, kFour, kBlock4Args, false},
    {Kind::Block, kFour | kNoDxt, kBlock4Args, false},
    {Kind::Block, kFour | kTmem, kBlock4TmemArgs, false},
    {Kind::Block, kFour | kTmem | kRtile, kMultiBlock4Args, false},
    {Kind::Block, kFour | kNoDxt | kTmem | kRtile, kMultiBlock4Args, false},
    {Kind::Block, 0, kBlockArgs, false},
    {Kind::Block, kNoDxt, kBlockArgs, false},
    {Kind::Block, kTmem, kBlockTmemArgs, false},
    {Kind::Block, kTmem | kRtile, kMultiBlockArgs, false},
    {Kind::Block, kNoDxt | kTmem | kRtile, kMultiBlockArgs, false},
    {Kind::Tile, kFour, kTile4Args, false},
    {Kind::Tile, kFour | kTmem | kRtile, kMultiTile4Args, false},
    {Kind::Tile, 0, kTileArgs, false},
    {Kind::Tile, kTmem | kRtile, kMultiTileArgs, false},
    {Kind::Tlut16, 0, {}, false},
    {Kind::Tlut256, 0, {}, false},
    {Kind::Tlut, 0, {}, false},
    {Kind::TwoTriangles, 0, {}, true},
    {Kind::GeometryMode, 0, {}, true},
    {Kind::LightColor2, 0, {}, false},
    {Kind::Memset, 0, {}, false},
    {Kind::AmbOcclusion, 0, {}, false},
};
static_assert(std::size(kIdiomRows) == std::size(kIdiomInfo));

const IdiomInfo& infoOf(const MacroSpec& m)
{
    return kIdiomInfo[static_cast<std::size_t>(&m - kIdiomRows)];
}

// Size-derived tables of the header, indexed by G_IM_SIZ (4b, 8b, 16b, 32b).
constexpr std::int64_t kLoadBlock[4] = {2, 2, 2, 3};
constexpr std::int64_t kIncr[4] = {3, 1, 0, 0};
constexpr std::int64_t kShift[4] = {2, 1, 0, 0};
constexpr std::int64_t kBytes[4] = {0, 1, 2, 4};
constexpr std::int64_t kLineBytes[4] = {0, 1, 2, 2};
constexpr std::int64_t kTileBytes[4] = {0, 1, 2, 2};

std::int64_t calcDxt(std::int64_t width, std::int64_t bytes)
{
    const std::int64_t words = std::max<std::int64_t>(1, width * bytes / 8);
    return (2048 + words - 1) / words;
}
std::int64_t calcDxt4b(std::int64_t width)
{
    const std::int64_t words = std::max<std::int64_t>(1, width / 16);
    return (2048 + words - 1) / words;
}

using Params = std::array<std::int64_t, PCount>;

bool expandBlock(Ucode u, std::uint8_t variant, const Params& p, std::vector<Words>& out)
{
    const Rows& r = rows(u);
    const bool four = variant & kFour;
    const std::int64_t siz = four ? 0 : p[Siz];
    if (siz < 0 || siz > 3)
        return false;
    const std::int64_t loadSiz = four ? 2 : kLoadBlock[siz];
    const std::int64_t w = p[Wd], h = p[Ht];
    const std::int64_t texels = four ? ((w * h + 3) >> 2) - 1 : ((w * h + kIncr[siz]) >> kShift[siz]) - 1;
    const std::int64_t lrs = std::min<std::int64_t>(texels, 2047);
    const std::int64_t dxt = (variant & kNoDxt) ? 0 : four ? calcDxt4b(w) : calcDxt(w, kBytes[siz]);
    const std::int64_t line = four ? ((w >> 1) + 7) >> 3 : ((w * kLineBytes[siz]) + 7) >> 3;
    const std::int64_t tmem = (variant & kTmem) ? p[Tmem] : 0;
    const std::int64_t rtile = (variant & kRtile) ? p[Rtile] : 0;
    out.push_back(enc(r.setTimg, {p[Fmt], loadSiz, 1, p[Timg]}));
    out.push_back(enc(r.setTile, {p[Fmt], loadSiz, 0, tmem, 7, 0, p[Cmt], p[Maskt], p[Shiftt], p[Cms], p[Masks], p[Shifts]}));
    out.push_back(enc(r.loadSync, {}));
    out.push_back(enc(r.loadBlock, {7, 0, 0, lrs, dxt}));
    out.push_back(enc(r.pipeSync, {}));
    out.push_back(enc(r.setTile, {p[Fmt], four ? 0 : siz, line, tmem, rtile, p[Pal], p[Cmt], p[Maskt], p[Shiftt], p[Cms], p[Masks], p[Shifts]}));
    out.push_back(enc(r.setTileSize, {rtile, 0, 0, (w - 1) << 2, (h - 1) << 2}));
    return true;
}

bool expandTile(Ucode u, std::uint8_t variant, const Params& p, std::vector<Words>& out)
{
    const Rows& r = rows(u);
    const bool four = variant & kFour;
    const std::int64_t siz = four ? 0 : p[Siz];
    if (siz < 0 || siz > 3)
        return false;
    const std::int64_t span = p[Lrs] - p[Uls] + 1;
    const std::int64_t loadLine = four ? (((span >> 1) + 7) >> 3) : ((span * kTileBytes[siz]) + 7) >> 3;
    const std::int64_t line = four ? (((span >> 1) + 7) >> 3) : ((span * kLineBytes[siz]) + 7) >> 3;
    const std::int64_t tmem = (variant & kTmem) ? p[Tmem] : 0;
    const std::int64_t rtile = (variant & kRtile) ? p[Rtile] : 0;
    const std::int64_t loadSiz = four ? 1 : siz;
    const std::int64_t width = four ? (p[Wd] >> 1) : p[Wd];
    out.push_back(enc(r.setTimg, {p[Fmt], loadSiz, width, p[Timg]}));
    out.push_back(enc(r.setTile, {p[Fmt], loadSiz, loadLine, tmem, 7, 0, p[Cmt], p[Maskt], p[Shiftt], p[Cms], p[Masks], p[Shifts]}));
    out.push_back(enc(r.loadSync, {}));
    if (four)
        out.push_back(enc(r.loadTile, {7, p[Uls] << 1, p[Ult] << 2, p[Lrs] << 1, p[Lrt] << 2}));
    else
        out.push_back(enc(r.loadTile, {7, p[Uls] << 2, p[Ult] << 2, p[Lrs] << 2, p[Lrt] << 2}));
    out.push_back(enc(r.pipeSync, {}));
    out.push_back(enc(r.setTile, {p[Fmt], siz, line, tmem, rtile, p[Pal], p[Cmt], p[Maskt], p[Shiftt], p[Cms], p[Masks], p[Shifts]}));
    out.push_back(enc(r.setTileSize, {rtile, p[Uls] << 2, p[Ult] << 2, p[Lrs] << 2, p[Lrt] << 2}));
    return true;
}

void expandTlut(Ucode u, std::int64_t count, std::int64_t tmem, std::int64_t dram, std::vector<Words>& out)
{
    const Rows& r = rows(u);
    out.push_back(enc(r.setTimg, {0, 2, 1, dram}));
    out.push_back(enc(r.tileSync, {}));
    out.push_back(enc(r.setTile, {0, 0, 0, tmem, 7, 0, 0, 0, 0, 0, 0, 0}));
    out.push_back(enc(r.loadSync, {}));
    out.push_back(enc(r.loadTlut, {7, count - 1}));
    out.push_back(enc(r.pipeSync, {}));
}

std::uint32_t texRectWord0(std::uint8_t op, std::int64_t xh, std::int64_t yh)
{
    return static_cast<std::uint32_t>(op) << 24 | static_cast<std::uint32_t>(xh & 0xFFF) << 12 | static_cast<std::uint32_t>(yh & 0xFFF);
}

bool expand(Ucode u, const MacroSpec& m, std::span<const std::int64_t> a, std::vector<Words>& out)
{
    const IdiomInfo& info = infoOf(m);
    if (!(m.ucodes & ucodeBit(u)))
        return false;
    const Rows& r = rows(u);
    auto u32 = [](std::int64_t v) { return static_cast<std::uint32_t>(v); };
    switch (info.kind) {
    case Kind::TexRect:
    case Kind::TexRectFlip: {
        const std::uint8_t op = info.kind == Kind::TexRect ? 0xE4 : 0xE5;
        out.push_back({texRectWord0(op, a[2], a[3]), u32((a[4] & 7) << 24 | (a[0] & 0xFFF) << 12 | (a[1] & 0xFFF))});
        out.push_back({u32(half1(u)) << 24, u32((a[5] & 0xFFFF) << 16 | (a[6] & 0xFFFF))});
        out.push_back({u32(half2(u)) << 24, u32((a[7] & 0xFFFF) << 16 | (a[8] & 0xFFFF))});
        return true;
    }
    case Kind::Word:
        out.push_back({u32(half1(u)) << 24, u32(a[0])});
        out.push_back({u32(half2(u)) << 24, u32(a[1])});
        return true;
    case Kind::BranchZ: {
        const std::uint8_t op = isF3dex2Family(u) ? 0x04 : 0xB0;
        out.push_back({u32(half1(u)) << 24, u32(a[0])});
        out.push_back({u32(op) << 24 | u32((a[1] * 5) & 0xFFF) << 12 | u32((a[1] * 2) & 0xFFF), u32(a[2])});
        return true;
    }
    case Kind::LoadUcode:
    case Kind::LoadUcodeEx: {
        const std::uint8_t op = isF3dex2Family(u) ? 0xDD : 0xAF;
        const std::int64_t size = info.kind == Kind::LoadUcode ? 2048 : a[2];
        out.push_back({u32(half1(u)) << 24, u32(a[1])});
        out.push_back({u32(op) << 24 | u32((size - 1) & 0xFFFF), u32(a[0])});
        return true;
    }
    case Kind::ClipRatio:
        out.push_back(moveWord(u, 4, 0x04, u32(a[0])));
        out.push_back(moveWord(u, 4, 0x0C, u32(a[0])));
        out.push_back(moveWord(u, 4, 0x14, u32(0x10000 - a[0])));
        out.push_back(moveWord(u, 4, 0x1C, u32(0x10000 - a[0])));
        return true;
    case Kind::LightColor: {
        const std::int64_t stride = u == Ucode::F3DEX3 ? 0x10 : u == Ucode::F3DEX2 ? 0x18 : 0x20;
        // F3DEX3 drops the colour's low byte (the point-light factor there).
        const std::uint32_t col = u == Ucode::F3DEX3 ? u32(a[1]) & 0xFFFFFF00u : u32(a[1]);
        out.push_back(moveWord(u, 0xA, u32((a[0] - 1) * stride), col));
        out.push_back(moveWord(u, 0xA, u32((a[0] - 1) * stride + 4), col));
        return true;
    }
    case Kind::LightColor2:
        out.push_back(moveWord(u, 0xA, u32((a[0] - 1) * 0x10), u32(a[1])));
        out.push_back(moveWord(u, 0xA, u32((a[0] - 1) * 0x10 + 4), u32(a[2])));
        return true;
    case Kind::Memset:
        out.push_back({0xE1000000u, u32(a[1]) & 0xFFFFu});
        out.push_back({0xD5000000u | (u32(a[2]) & 0xFFFFF0u), u32(a[0])});
        return true;
    case Kind::AmbOcclusion:
        out.push_back({0xDB000000u, u32(a[0] & 0xFFFF) << 16 | u32(a[1] & 0xFFFF)});
        out.push_back({0xDB008004u, u32(a[2])});
        return true;
    case Kind::LookAt:
        out.push_back(enc(r.lookAtX, {a[0]}));
        out.push_back(enc(r.lookAtY, {a[0] + 16}));
        return true;
    case Kind::ForceMatrix:
        if (u == Ucode::F3DEX3)
            return false; // a no-op there
        if (u == Ucode::F3DEX2) {
            out.push_back({0xDC38000Eu, u32(a[0])});
            out.push_back({0xDB0C0000u, 0x00010000u});
        } else {
            const std::uint32_t index[4] = {0x9E, 0x98, 0x9A, 0x9C};
            for (int i = 0; i < 4; ++i)
                out.push_back({0x03000010u | index[i] << 16, u32(a[0] + 16 * i)});
        }
        return true;
    case Kind::SetLights: {
        if (u == Ucode::F3DEX3) {
            // The count, then every light and the ambient one in one load.
            const std::uint32_t n = info.variant;
            out.push_back({0xDB020000u, n * 0x10});
            out.push_back({0xDC00020Au | (((n * 0x10 + 8 - 1) / 8) & 0x1F) << 19, u32(a[0])});
            return true;
        }
        if (info.variant > 7)
            return false;
        const int n = std::max<int>(1, info.variant);
        out.push_back(enc(r.numLights, {n}));
        for (int i = 0; i < n; ++i)
            out.push_back(enc(r.light, {a[0] + 8 + 16 * i, i + 1}));
        out.push_back(enc(r.light, {a[0], n + 1}));
        return true;
    }
    case Kind::Block:
    case Kind::Tile: {
        Params p{};
        for (std::size_t i = 0; i < info.params.size(); ++i)
            p[info.params[i]] = a[i];
        return info.kind == Kind::Block ? expandBlock(u, info.variant, p, out) : expandTile(u, info.variant, p, out);
    }
    case Kind::Tlut16: expandTlut(u, 16, 256 + (a[0] & 15) * 16, a[1], out); return true;
    case Kind::Tlut256: expandTlut(u, 256, 256, a[0], out); return true;
    case Kind::Tlut: expandTlut(u, a[0], a[1], a[2], out); return true;
    case Kind::TwoTriangles:
        if (u != Ucode::F3D)
            return false;
        out.push_back(enc(r.tri1, {a[0], a[1], a[2], a[3]}));
        out.push_back(enc(r.tri1, {a[4], a[5], a[6], a[7]}));
        return true;
    case Kind::GeometryMode:
        if (isF3dex2Family(u))
            return false;
        out.push_back(enc(r.clearGeo, {a[0]}));
        out.push_back(enc(r.setGeo, {a[1]}));
        return true;
    }
    return false;
}

// --- Recovering the arguments -------------------------------------------------

// Decodes an entry with a given single row; false when the row does not hold it.
bool fields(const MacroSpec* m, Words w, std::int64_t (&out)[kMaxArgs])
{
    if (!m || (w.w0 & m->fixedMask[0]) != m->fixedValue[0] || (w.w1 & m->fixedMask[1]) != m->fixedValue[1])
        return false;
    for (std::size_t i = 0; i < m->args.size(); ++i)
        if (!decodeArg(m->args[i], w, out[i]))
            return false;
    return true;
}

// Arguments a texture load would need to give these entries; the expansion
// then decides whether they really do.
bool recoverTexLoad(Ucode u, std::span<const Words> e, Params& p)
{
    const Rows& r = rows(u);
    std::int64_t timg[kMaxArgs], tile[kMaxArgs], size[kMaxArgs];
    if (!fields(r.setTimg, e[0], timg) || !fields(r.setTile, e[5], tile) || !fields(r.setTileSize, e[6], size))
        return false;
    p = {};
    p[Timg] = timg[3];
    p[Wd] = timg[2];
    p[Fmt] = tile[0];
    p[Siz] = tile[1];
    p[Tmem] = tile[3];
    p[Rtile] = tile[4];
    p[Pal] = tile[5];
    p[Cmt] = tile[6];
    p[Maskt] = tile[7];
    p[Shiftt] = tile[8];
    p[Cms] = tile[9];
    p[Masks] = tile[10];
    p[Shifts] = tile[11];
    p[Uls] = size[1] >> 2;
    p[Ult] = size[2] >> 2;
    p[Lrs] = size[3] >> 2;
    p[Lrt] = size[4] >> 2;
    return true;
}

bool matches(std::span<const Words> entries, const std::vector<Words>& expected)
{
    return entries.size() >= expected.size() && std::equal(expected.begin(), expected.end(), entries.begin());
}

} // namespace

std::span<const MacroSpec> idiomMacros() { return kIdiomRows; }

bool expandIdiom(Ucode ucode, const MacroSpec& macro, std::span<const std::int64_t> args, std::vector<Words>& out)
{
    if (macro.special != Special::Idiom || &macro < kIdiomRows || &macro >= kIdiomRows + std::size(kIdiomRows))
        return false;
    return expand(ucode, macro, args, out);
}

bool foldIdiom(Ucode u, std::span<const Words> e, const DecodeOptions& options, const AddressNamer* namer, Command& out)
{
    if (e.size() < 2)
        return false;
    const std::uint8_t op0 = opcodeOf(e[0]);
    const std::uint8_t op1 = opcodeOf(e[1]);
    // Triangles and geometry-mode clears start only the sm64 forms (see the
    // end): without those names nothing folds, and lists are full of them.
    if ((op0 == 0xBF || op0 == 0xB6) && options.names != Names::Sm64)
        return false;
    thread_local std::vector<Words> expected;
    std::int64_t args[kMaxArgs] = {};
    std::size_t argCount = 0;

    auto accept = [&](std::size_t rowIndex) -> bool {
        const MacroSpec& m = kIdiomRows[rowIndex];
        if (!(m.ucodes & ucodeBit(u)))
            return false;
        if (kIdiomInfo[rowIndex].sm64Only && options.names != Names::Sm64)
            return false;
        expected.clear();
        if (!expand(u, m, std::span<const std::int64_t>(args, argCount), expected) || !matches(e, expected))
            return false;
        out = Command{};
        out.macro = &m;
        out.status = Status::Ok;
        out.ucode = u;
        out.length = static_cast<std::uint8_t>(expected.size());
        out.first = e[0];
        std::copy(args, args + argCount, out.args.begin());
        return true;
    };
    auto tryRow = [&](std::string_view name, std::initializer_list<std::int64_t> values) -> bool {
        argCount = values.size();
        std::copy(values.begin(), values.end(), args);
        for (std::size_t i = 0; i < std::size(kIdiomRows); ++i)
            if (kIdiomRows[i].name == name && accept(i))
                return true;
        return false;
    };

    // Texture rectangles and their half-commands.
    if ((op0 == 0xE4 || op0 == 0xE5) && e.size() >= 3 && op1 == half1(u) && opcodeOf(e[2]) == half2(u)) {
        const Words t = e[0];
        return tryRow(op0 == 0xE4 ? "gsSPTextureRectangle" : "gsSPTextureRectangleFlip",
                      {(t.w1 >> 12) & 0xFFF, t.w1 & 0xFFF, (t.w0 >> 12) & 0xFFF, t.w0 & 0xFFF, (t.w1 >> 24) & 7,
                       e[1].w1 >> 16, e[1].w1 & 0xFFFF, e[2].w1 >> 16, e[2].w1 & 0xFFFF});
    }
    if (op0 == half1(u)) {
        if (op1 == half2(u))
            return tryRow("gsDPWord", {e[0].w1, e[1].w1});
        if (u != Ucode::F3D && op1 == (isF3dex2Family(u) ? 0x04 : 0xB0))
            return tryRow("gsSPBranchLessZraw", {e[0].w1, (e[1].w0 & 0xFFF) / 2, e[1].w1});
        if (u == Ucode::F3DEX3 && op1 == 0xD5)
            return tryRow("gsSPMemset", {e[1].w1, e[0].w1 & 0xFFFF, e[1].w0 & 0xFFFFF0});
        if (u != Ucode::F3D && op1 == (isF3dex2Family(u) ? 0xDD : 0xAF)) {
            const std::int64_t size = (e[1].w0 & 0xFFFF) + 1;
            if (size == 2048 && tryRow("gsSPLoadUcode", {e[1].w1, e[0].w1}))
                return true;
            return tryRow("gsSPLoadUcodeEx", {e[1].w1, e[0].w1, size});
        }
        return false;
    }
    const std::uint8_t moveMem = isF3dex2Family(u) ? 0xDC : 0x03;
    if (op0 == moveWordOp(u)) {
        const std::uint32_t index = isF3dex2Family(u) ? (e[0].w0 >> 16) & 0xFF : e[0].w0 & 0xFF;
        const std::uint32_t offset = isF3dex2Family(u) ? e[0].w0 & 0xFFFF : (e[0].w0 >> 8) & 0xFFFF;
        if (u == Ucode::F3DEX3) {
            if (e[0].w0 == 0xDB000000u && e[1].w0 == 0xDB008004u)
                return tryRow("gsSPAmbOcclusion", {e[0].w1 >> 16, e[0].w1 & 0xFFFF, e[1].w1});
            if (index == 0xA && offset % 0x10 == 0 && offset / 0x10 < 10)
                return tryRow("gsSPLightColor", {offset / 0x10 + 1, e[0].w1})
                    || tryRow("_gsSPLightColor2", {offset / 0x10 + 1, e[0].w1, e[1].w1});
            if (index == 2 && namer && e[0].w1 % 0x10 == 0 && e[0].w1 / 0x10 <= 9) {
                const std::uint32_t name = e[1].w1;
                std::string text;
                const std::uint32_t n = e[0].w1 / 0x10;
                if ((n == 1 && (options.f3dex3Options & kKazeGbiHacks)) || !namer->name(name, text)
                    || text.find('+') != std::string::npos)
                    return false;
                return tryRow("gsSPSetLights" + std::to_string(n), {name});
            }
            return false;
        }
        if (index == 4 && e.size() >= 4 && e[0].w1 >= 1 && e[0].w1 <= 6)
            return tryRow("gsSPClipRatio", {e[0].w1});
        if (index == 0xA) {
            const std::uint32_t stride = u == Ucode::F3DEX2 ? 0x18 : 0x20;
            if (offset % stride == 0 && offset / stride < 8)
                return tryRow("gsSPLightColor", {offset / stride + 1, e[0].w1});
            return false;
        }
        if (index == 2 && namer) {
            // gsSPSetLightsN takes a Lights structure by name: fold only where
            // the ambient light's address names one.
            const std::uint32_t w1 = e[0].w1;
            const std::int64_t n = u == Ucode::F3DEX2 ? w1 / 24 : (static_cast<std::int64_t>(w1) - 0x80000000LL) / 32 - 1;
            if (n < 1 || n > 7 || e.size() < static_cast<std::size_t>(n + 2))
                return false;
            const std::uint32_t ambient = e[static_cast<std::size_t>(n + 1)].w1;
            std::string name;
            if (!namer->name(ambient, name) || name.find('+') != std::string::npos)
                return false;
            const std::string rowName = "gsSPSetLights" + std::to_string(n);
            if (tryRow(rowName, {ambient}))
                return true;
            return n == 1 && tryRow("gsSPSetLights0", {ambient});
        }
        return false;
    }
    if (op0 == moveMem && e.size() >= 2 && u != Ucode::F3DEX3) {
        if (opcodeOf(e[1]) == moveMem && tryRow("gsSPLookAt", {e[0].w1}))
            return true;
        if (tryRow("gsSPForceMatrix", {e[0].w1}))
            return true;
        return false;
    }
    // Texture and palette loads start with the texture image. (F3DEX3 built
    // without the syncs in them writes loads these forms do not describe:
    // such lists print command by command.)
    if (op0 == 0xFD && e.size() >= 6 && !(u == Ucode::F3DEX3 && (options.f3dex3Options & kNoSyncsInTextureLoads))) {
        if (opcodeOf(e[1]) == 0xE8 && opcodeOf(e[4]) == 0xF0) {
            const std::int64_t tmem = e[2].w0 & 0x1FF;
            const std::int64_t count = ((e[4].w1 >> 14) & 0x3FF) + 1;
            const std::int64_t dram = e[0].w1;
            if (count == 16 && tmem >= 256 && (tmem - 256) % 16 == 0 && tryRow("gsDPLoadTLUT_pal16", {(tmem - 256) / 16, dram}))
                return true;
            if (count == 256 && tmem == 256 && tryRow("gsDPLoadTLUT_pal256", {dram}))
                return true;
            return tryRow("gsDPLoadTLUT", {count, tmem, dram});
        }
        if (e.size() < 7 || opcodeOf(e[1]) != 0xF5 || opcodeOf(e[2]) != 0xE6 || opcodeOf(e[4]) != 0xE7
            || opcodeOf(e[5]) != 0xF5 || opcodeOf(e[6]) != 0xF2)
            return false;
        Params p;
        if (!recoverTexLoad(u, e, p))
            return false;
        const bool block = opcodeOf(e[3]) == 0xF3;
        if (!block && opcodeOf(e[3]) != 0xF4)
            return false;
        if (block) {
            p[Ht] = (p[Lrt]) + 1;
            p[Wd] = p[Lrs] + 1;
        } else {
            // The height is not stored: the last row loaded plus one.
            p[Ht] = p[Lrt] + 1;
        }
        for (std::size_t i = 0; i < std::size(kIdiomRows); ++i) {
            const IdiomInfo& info = kIdiomInfo[i];
            if (info.kind != (block ? Kind::Block : Kind::Tile))
                continue;
            Params q = p;
            if (!block && (info.variant & kFour))
                q[Wd] = 2 * p[Wd]; // the image width field holds (width >> 1) - 1
            else if (!block)
                q[Wd] = p[Wd];
            argCount = info.params.size();
            for (std::size_t k = 0; k < argCount; ++k)
                args[k] = q[info.params[k]];
            if (accept(i))
                return true;
        }
        return false;
    }
    if (options.names == Names::Sm64 && u == Ucode::F3D && op0 == 0xBF && op1 == 0xBF) {
        const auto tri = [](Words w, int i) -> std::int64_t { return static_cast<std::int64_t>((w.w1 >> (16 - 8 * i)) & 0xFF) / 10; };
        return tryRow("gsSP2Triangles", {tri(e[0], 0), tri(e[0], 1), tri(e[0], 2), e[0].w1 >> 24,
                                         tri(e[1], 0), tri(e[1], 1), tri(e[1], 2), e[1].w1 >> 24});
    }
    if (options.names == Names::Sm64 && !isF3dex2Family(u) && op0 == 0xB6 && op1 == 0xB7)
        return tryRow("gsSPGeometryMode", {e[0].w1, e[1].w1});
    return false;
}

void printIdiom(const Command& c, const PrintOptions& options, TextSink& out)
{
    const MacroSpec& m = *c.macro;
    // Reuse the single-command printer: an idiom prints like a row whose
    // arguments have no fields.
    MacroSpec plain = m;
    plain.special = Special::None;
    Command copy = c;
    copy.macro = &plain;
    printCommand(copy, options, out);
}

} // namespace dlscope::gbi
