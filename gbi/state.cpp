#include "gbi/state.h"

#include "gbi/macro_table.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <unordered_set>
#include <utility>

namespace dlscope::gbi {
namespace {

constexpr std::size_t ucodeIndex(Ucode u) { return static_cast<std::size_t>(u); }

// --- Command kinds by header name ---------------------------------------------

struct KindName {
    std::string_view name;
    CommandKind kind;
};

constexpr KindName kKindNames[] = {
    {"G_SPNOOP", CommandKind::Noop}, {"G_NOOP", CommandKind::Noop}, {"G_RESERVED0", CommandKind::Noop},
    {"G_RESERVED1", CommandKind::Noop}, {"G_RESERVED2", CommandKind::Noop}, {"G_RESERVED3", CommandKind::Noop},
    {"G_SPRITE2D_BASE", CommandKind::Noop}, {"G_SPECIAL_1", CommandKind::Noop}, {"G_SPECIAL_2", CommandKind::Noop},
    {"G_SPECIAL_3", CommandKind::Noop}, {"G_DMA_IO", CommandKind::Noop},
    {"G_MTX", CommandKind::Matrix}, {"G_POPMTX", CommandKind::PopMatrix}, {"G_MOVEMEM", CommandKind::MoveMem},
    {"G_MOVEWORD", CommandKind::MoveWord}, {"G_VTX", CommandKind::Vertex}, {"G_MODIFYVTX", CommandKind::ModifyVertex},
    {"G_TRI1", CommandKind::Tri1}, {"G_TRI2", CommandKind::Tri2}, {"G_QUAD", CommandKind::Quad},
    {"G_LINE3D", CommandKind::Line3D}, {"G_CULLDL", CommandKind::CullDL}, {"G_BRANCH_Z", CommandKind::BranchZ},
    {"G_DL", CommandKind::DisplayList}, {"G_ENDDL", CommandKind::EndDL}, {"G_LOAD_UCODE", CommandKind::LoadUcode},
    {"G_RDPHALF_1", CommandKind::RdpHalf1}, {"G_RDPHALF_2", CommandKind::RdpHalf2},
    {"G_RDPHALF_CONT", CommandKind::RdpHalf2}, {"G_TEXTURE", CommandKind::Texture},
    {"G_SETGEOMETRYMODE", CommandKind::SetGeometry}, {"G_CLEARGEOMETRYMODE", CommandKind::ClearGeometry},
    {"G_GEOMETRYMODE", CommandKind::Geometry}, {"G_SETOTHERMODE_H", CommandKind::OtherModeH},
    {"G_SETOTHERMODE_L", CommandKind::OtherModeL},
    {"G_TEXRECT", CommandKind::TexRect}, {"G_TEXRECTFLIP", CommandKind::TexRectFlip},
    {"G_RDPLOADSYNC", CommandKind::LoadSync}, {"G_RDPPIPESYNC", CommandKind::PipeSync},
    {"G_RDPTILESYNC", CommandKind::TileSync}, {"G_RDPFULLSYNC", CommandKind::FullSync},
    {"G_SETKEYGB", CommandKind::SetKeyGB}, {"G_SETKEYR", CommandKind::SetKeyR}, {"G_SETCONVERT", CommandKind::SetConvert},
    {"G_SETSCISSOR", CommandKind::SetScissor}, {"G_SETPRIMDEPTH", CommandKind::SetPrimDepth},
    {"G_RDPSETOTHERMODE", CommandKind::SetOtherMode}, {"G_LOADTLUT", CommandKind::LoadTlut},
    {"G_SETTILESIZE", CommandKind::SetTileSize}, {"G_LOADBLOCK", CommandKind::LoadBlock},
    {"G_LOADTILE", CommandKind::LoadTile}, {"G_SETTILE", CommandKind::SetTile}, {"G_FILLRECT", CommandKind::FillRect},
    {"G_SETFILLCOLOR", CommandKind::SetFillColor}, {"G_SETFOGCOLOR", CommandKind::SetFogColor},
    {"G_SETBLENDCOLOR", CommandKind::SetBlendColor}, {"G_SETPRIMCOLOR", CommandKind::SetPrimColor},
    {"G_SETENVCOLOR", CommandKind::SetEnvColor}, {"G_SETCOMBINE", CommandKind::SetCombine},
    {"G_SETTIMG", CommandKind::SetTextureImage}, {"G_SETZIMG", CommandKind::SetDepthImage},
    {"G_SETCIMG", CommandKind::SetColorImage},
};

constexpr std::string_view kKindLabels[] = {
    "invalid", "no-op", "vertex", "modify vertex", "triangle", "two triangles", "quadrangle", "line", "cull",
    "branch on Z", "display list", "end", "microcode load", "half 1", "half 2", "texture", "set geometry",
    "clear geometry", "geometry", "other mode high", "other mode low", "matrix", "pop matrix", "move word",
    "move memory", "texture rectangle", "flipped texture rectangle", "load sync", "pipe sync", "tile sync",
    "full sync", "key GB", "key R", "convert", "scissor", "prim depth", "other mode", "TLUT load", "tile size",
    "block load", "tile load", "tile", "fill rectangle", "fill colour", "fog colour", "blend colour",
    "prim colour", "env colour", "combine", "texture image", "depth image", "colour image",
};
static_assert(std::size(kKindLabels) == static_cast<std::size_t>(CommandKind::Count));

using KindTable = std::array<std::array<CommandKind, 256>, kAllUcodes.size()>;

const KindTable& kindTable()
{
    static const KindTable table = [] {
        KindTable t{};
        for (Ucode u : kAllUcodes)
            for (unsigned op = 0; op < 256; ++op) {
                const auto opcode = static_cast<std::uint8_t>(op);
                CommandKind k = CommandKind::Invalid;
                if (opcodeDefined(u, opcode)) {
                    k = CommandKind::Noop;
                    const std::string_view name = opcodeName(u, opcode);
                    for (const KindName& kn : kKindNames)
                        if (kn.name == name)
                            k = kn.kind;
                }
                t[ucodeIndex(u)][op] = k;
            }
        return t;
    }();
    return table;
}

// --- Per-microcode traits and field layouts ----------------------------------

std::uint32_t flagValue(Ucode u, std::string_view name)
{
    return static_cast<std::uint32_t>(constantValue(u, name).value_or(0));
}

UcodeTraits makeTraits(Ucode u)
{
    UcodeTraits t{};
    t.ucode = u;
    // Buffer sizes and stack depths from the check rules (vtx-range,
    // dl-depth, lights-count).
    t.matrixStackLimit = 10;
    t.maxLights = 7;
    if (u == Ucode::F3D) {
        t.vertexBuffer = 16, t.vertexLoadMax = 16, t.callDepthLimit = 10;
    } else if (u == Ucode::F3DEX) {
        t.vertexBuffer = 32, t.vertexLoadMax = 32, t.callDepthLimit = 10;
    } else { // F3DEX2 and the microcodes built on it
        t.vertexBuffer = 32, t.vertexLoadMax = 32, t.callDepthLimit = 18;
        if (ucodeName(u) == "f3dex3")
            t.vertexBuffer = 56, t.vertexLoadMax = 56, t.maxLights = 9;
    }
    t.zbuffer = flagValue(u, "G_ZBUFFER");
    t.shade = flagValue(u, "G_SHADE");
    t.shadingSmooth = flagValue(u, "G_SHADING_SMOOTH");
    t.cullFront = flagValue(u, "G_CULL_FRONT");
    t.cullBack = flagValue(u, "G_CULL_BACK");
    t.fog = flagValue(u, "G_FOG");
    t.lighting = flagValue(u, "G_LIGHTING");
    t.textureGen = flagValue(u, "G_TEXTURE_GEN");
    t.textureGenLinear = flagValue(u, "G_TEXTURE_GEN_LINEAR");
    t.clipping = flagValue(u, "G_CLIPPING");
    t.lod = flagValue(u, "G_LOD");
    t.textureEnable = flagValue(u, "G_TEXTURE_ENABLE");
    t.lightToAlpha = flagValue(u, "G_LIGHTTOALPHA");
    t.fresnelAlpha = flagValue(u, "G_FRESNEL_ALPHA");
    t.vertexTimeFlags = t.lighting | t.fog | t.textureGen | t.textureGenLinear | t.clipping;
    for (const NamedValue& v : constTable(ConstTable::GeometryMode, u))
        t.geometryNamed |= static_cast<std::uint32_t>(v.value);
    // F3DEX3's per-vertex features (names the other microcodes do not define).
    for (std::string_view name : {"G_PACKED_NORMALS", "G_LIGHTTOALPHA", "G_LIGHTING_SPECULAR", "G_FRESNEL_COLOR",
                                  "G_FRESNEL_ALPHA", "G_AMBOCCLUSION", "G_ATTROFFSET_ST_ENABLE"})
        t.vertexTimeFlags |= flagValue(u, name);
    t.mtxProjection = flagValue(u, "G_MTX_PROJECTION");
    t.mtxLoad = flagValue(u, "G_MTX_LOAD");
    t.mtxPush = flagValue(u, "G_MTX_PUSH");
    return t;
}

// Where the walker finds its fields, taken from the macro rows so that a
// microcode's layout lives in one place.
using IndexField = VertexIndexLayout::Field;

// An argument of a row with what reading it takes: a field as it stands
// (most of them) is read without the encoding's general rule.
struct ArgField {
    const ArgSpec* argument = nullptr;
    bool plain = false;

    ArgField() = default;
    ArgField(const ArgSpec* a) // NOLINT: taken from argOf() as it stands
        : argument(a), plain(a && a->plainField())
    {
    }
};

struct Layout {
    const ArgSpec* vtxN = nullptr;
    const ArgSpec* vtxV0 = nullptr;
    bool vtxStoresEnd = false;
    VertexIndexLayout indices;
    ArgField texS, texT, texLevel, texTile, texOn;
    const ArgSpec* mtxP = nullptr;
    const ArgSpec* popWhich = nullptr; // F3D/F3DEX: which stack
    const ArgSpec* popCount = nullptr; // F3DEX2: matrices to pop
    const ArgSpec *mwIndex = nullptr, *mwOffset = nullptr, *mwData = nullptr;
    const ArgSpec* numLights = nullptr;
    bool otherModeShiftInverted = false;
    std::uint32_t mwSegment = 0, mwNumLight = 0, mwFog = 0, mtxModelview = 0;
};

const MacroSpec* singleRow(Ucode u, std::string_view name)
{
    for (const MacroSpec* m : macrosNamed(u, name))
        if (m->special != Special::Idiom && m->special != Special::Raw)
            return m;
    return nullptr;
}

const ArgSpec* argOf(const MacroSpec* m, std::string_view arg)
{
    if (!m)
        return nullptr;
    for (const ArgSpec& a : m->args)
        if (a.name == arg)
            return &a;
    return nullptr;
}

IndexField indexField(const ArgSpec* a)
{
    return a ? IndexField{a->field.word, a->field.lo} : IndexField{};
}

Layout makeLayout(Ucode u)
{
    Layout l;
    const MacroSpec* vtx = singleRow(u, "gsSPVertex");
    l.vtxN = argOf(vtx, "n");
    l.vtxV0 = argOf(vtx, "v0");
    l.vtxStoresEnd = vtx && vtx->special == Special::VertexEnd;
    const MacroSpec* tri = singleRow(u, "gsSP1Triangle");
    for (int i = 0; i < 3; ++i)
        l.indices.tri1[i] =
            indexField(argOf(tri, std::array<std::string_view, 3>{"v0", "v1", "v2"}[static_cast<std::size_t>(i)]));
    if (const ArgSpec* v0 = argOf(tri, "v0"))
        l.indices.scale = static_cast<int>(v0->enc.mul);
    const MacroSpec* tri2 = singleRow(u, "gsSP2Triangles");
    constexpr std::array<std::string_view, 6> tri2Names = {"v00", "v01", "v02", "v10", "v11", "v12"};
    for (std::size_t i = 0; i < 6; ++i)
        l.indices.tri2[i] = indexField(argOf(tri2, tri2Names[i]));
    const MacroSpec* line = singleRow(u, "gsSPLine3D");
    l.indices.line[0] = indexField(argOf(line, "v0"));
    l.indices.line[1] = indexField(argOf(line, "v1"));
    const MacroSpec* tex = singleRow(u, "gsSPTexture");
    l.texS = argOf(tex, "s");
    l.texT = argOf(tex, "t");
    l.texLevel = argOf(tex, "level");
    l.texTile = argOf(tex, "tile");
    l.texOn = argOf(tex, "on");
    l.mtxP = argOf(singleRow(u, "gsSPMatrix"), "p");
    if (const MacroSpec* popN = singleRow(u, "gsSPPopMatrixN"))
        l.popCount = argOf(popN, "num");
    else
        l.popWhich = argOf(singleRow(u, "gsSPPopMatrix"), "n");
    const MacroSpec* mw = singleRow(u, "gsMoveWd");
    l.mwIndex = argOf(mw, "index");
    l.mwOffset = argOf(mw, "offset");
    l.mwData = argOf(mw, "data");
    l.numLights = argOf(singleRow(u, "gsSPNumLights"), "n");
    if (const MacroSpec* om = singleRow(u, "gsSPSetOtherMode"))
        l.otherModeShiftInverted = om->special == Special::OtherModeShiftFields;
    l.mwSegment = flagValue(u, "G_MW_SEGMENT");
    l.mwNumLight = flagValue(u, "G_MW_NUMLIGHT");
    l.mwFog = flagValue(u, "G_MW_FOG");
    l.mtxModelview = flagValue(u, "G_MTX_MODELVIEW");
    return l;
}

struct UcodeData {
    UcodeTraits traits;
    Layout layout;
};

const UcodeData& ucodeData(Ucode u)
{
    static const std::array<UcodeData, kAllUcodes.size()> data = [] {
        std::array<UcodeData, kAllUcodes.size()> d{};
        for (Ucode uc : kAllUcodes)
            d[ucodeIndex(uc)] = {makeTraits(uc), makeLayout(uc)};
        return d;
    }();
    return data[ucodeIndex(u)];
}

std::int64_t argValue(const ArgSpec* a, Words w, std::int64_t fallback = -1)
{
    std::int64_t v = 0;
    if (!a || !decodeArg(*a, w, v))
        return fallback;
    return v;
}

[[gnu::always_inline]] inline std::int64_t argValue(const ArgField& a, Words w, std::int64_t fallback = -1)
{
    if (a.plain)
        return fieldValue(a.argument->field, w);
    return argValue(a.argument, w, fallback);
}

// --- Combiner slots ------------------------------------------------------------

struct CombinerTables {
    FieldRef slot[16];                    // a0 b0 c0 d0 Aa0 Ab0 Ac0 Ad0, then the second set
    std::array<std::array<CcInput, 32>, 16> input{};
};

CcInput inputNamed(std::string_view name, bool alphaSlot)
{
    struct Pair {
        std::string_view name;
        CcInput rgb, alpha;
    };
    static constexpr Pair kPairs[] = {
        {"COMBINED", CcInput::Combined, CcInput::CombinedAlpha},
        {"TEXEL0", CcInput::Texel0, CcInput::Texel0Alpha},
        {"TEXEL1", CcInput::Texel1, CcInput::Texel1Alpha},
        {"PRIMITIVE", CcInput::Primitive, CcInput::PrimitiveAlpha},
        {"SHADE", CcInput::Shade, CcInput::ShadeAlpha},
        {"ENVIRONMENT", CcInput::Environment, CcInput::EnvAlpha},
        {"1", CcInput::One, CcInput::One},
        {"0", CcInput::Zero, CcInput::Zero},
        {"NOISE", CcInput::Noise, CcInput::Noise},
        {"CENTER", CcInput::Center, CcInput::Center},
        {"K4", CcInput::K4, CcInput::K4},
        {"SCALE", CcInput::Scale, CcInput::Scale},
        {"K5", CcInput::K5, CcInput::K5},
        {"COMBINED_ALPHA", CcInput::CombinedAlpha, CcInput::CombinedAlpha},
        {"TEXEL0_ALPHA", CcInput::Texel0Alpha, CcInput::Texel0Alpha},
        {"TEXEL1_ALPHA", CcInput::Texel1Alpha, CcInput::Texel1Alpha},
        {"PRIMITIVE_ALPHA", CcInput::PrimitiveAlpha, CcInput::PrimitiveAlpha},
        {"SHADE_ALPHA", CcInput::ShadeAlpha, CcInput::ShadeAlpha},
        {"ENV_ALPHA", CcInput::EnvAlpha, CcInput::EnvAlpha},
        {"LOD_FRACTION", CcInput::LodFraction, CcInput::LodFraction},
        {"PRIM_LOD_FRAC", CcInput::PrimLodFrac, CcInput::PrimLodFrac},
    };
    for (const Pair& p : kPairs)
        if (p.name == name)
            return alphaSlot ? p.alpha : p.rgb;
    return CcInput::Zero;
}

const CombinerTables& combinerTables()
{
    static const CombinerTables tables = [] {
        CombinerTables t{};
        const MacroSpec* lerp = nullptr;
        for (const MacroSpec* m : macrosNamed(Ucode::F3DEX2, "gsDPSetCombineLERP"))
            lerp = m;
        if (!lerp || lerp->args.size() != 16)
            return t;
        for (std::size_t i = 0; i < 16; ++i) {
            const ArgSpec& a = lerp->args[i];
            t.slot[i] = a.field;
            const bool alpha = (i % 8) >= 4;
            const bool subtractSlot = (i % 8) < 2; // colour a and b
            const auto names = muxNames(a.table);
            for (std::size_t code = 0; code < 32; ++code) {
                CcInput in = CcInput::Zero;
                // The 4-bit colour a/b selectors have inputs only for codes
                // 0-7; 8 to 15 select zero.
                if (code < names.size() && !(subtractSlot && code >= 8))
                    in = inputNamed(names[code], alpha);
                t.input[i][code] = in;
            }
        }
        return t;
    }();
    return tables;
}

std::uint32_t readsOf(const CcInput in[4])
{
    std::uint32_t r = ccBit(in[3]);
    if (in[0] != in[1]) {
        r |= ccBit(in[2]);
        if (in[2] != CcInput::Zero)
            r |= ccBit(in[0]) | ccBit(in[1]);
    }
    return r & ~(ccBit(CcInput::Zero) | ccBit(CcInput::One));
}

// --- Texture memory ------------------------------------------------------------

void markTmem(RenderState& s, int begin, int end)
{
    // One bit per 8 bytes, 64 bits per array word.
    const int first = std::clamp(begin, 0, kTmemBytes) >> 3;
    const int last = (std::clamp(end, 0, kTmemBytes) + 7) >> 3; // exclusive
    for (int w = first; w < last;) {
        const int bit = w & 63;
        const int n = std::min(64 - bit, last - w);
        const std::uint64_t bits = n == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << n) - 1) << bit;
        s.tmemWritten[static_cast<std::size_t>(w >> 6)] |= bits;
        w += n;
    }
}

constexpr KindMask kModeChangingKinds = kindBit(CommandKind::Texture) | kindBit(CommandKind::SetGeometry)
    | kindBit(CommandKind::ClearGeometry) | kindBit(CommandKind::Geometry) | kindBit(CommandKind::OtherModeH)
    | kindBit(CommandKind::OtherModeL) | kindBit(CommandKind::SetKeyGB) | kindBit(CommandKind::SetKeyR)
    | kindBit(CommandKind::SetConvert) | kindBit(CommandKind::SetScissor) | kindBit(CommandKind::SetPrimDepth)
    | kindBit(CommandKind::SetOtherMode) | kLoadKinds | kindBit(CommandKind::SetTileSize)
    | kindBit(CommandKind::SetTile) | kindBit(CommandKind::SetFillColor) | kindBit(CommandKind::SetFogColor)
    | kindBit(CommandKind::SetBlendColor) | kindBit(CommandKind::SetPrimColor) | kindBit(CommandKind::SetEnvColor)
    | kindBit(CommandKind::SetCombine) | kindBit(CommandKind::SetTextureImage)
    | kindBit(CommandKind::SetDepthImage) | kindBit(CommandKind::SetColorImage);

} // namespace

// --- Public helpers --------------------------------------------------------------

CommandKind commandKind(Ucode ucode, std::uint8_t opcode) { return kindTable()[ucodeIndex(ucode)][opcode]; }

std::string_view commandKindName(CommandKind kind)
{
    const auto i = static_cast<std::size_t>(kind);
    return i < std::size(kKindLabels) ? kKindLabels[i] : std::string_view{};
}

const UcodeTraits& ucodeTraits(Ucode ucode) { return ucodeData(ucode).traits; }

RenderState::RenderState()
{
    vertexAt.fill(kNotSet);
    segmentKnown = 1; // segment 0 maps to physical address 0
}

int RenderState::otherHField(int shift, int length) const
{
    const std::uint32_t mask = ((1u << length) - 1u) << shift;
    return (knownH & mask) == mask ? static_cast<int>((otherH & mask) >> shift) : -1;
}

int RenderState::otherLField(int shift, int length) const
{
    const std::uint32_t mask = ((1u << length) - 1u) << shift;
    return (knownL & mask) == mask ? static_cast<int>((otherL & mask) >> shift) : -1;
}

bool RenderState::tmemWrittenRange(int begin, int end) const
{
    begin = std::clamp(begin, 0, kTmemBytes);
    end = std::clamp(end, 0, kTmemBytes);
    for (int b = begin & ~7; b < end; b += 8)
        if (!tmemWrittenAt(b))
            return false;
    return true;
}

Combiner decodeCombiner(Words w)
{
    const CombinerTables& t = combinerTables();
    Combiner c{};
    for (std::size_t cycle = 0; cycle < 2; ++cycle) {
        CombinerCycle& cc = c.cycle[cycle];
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t slot = cycle * 8 + i;
            const std::uint32_t code = fieldValue(t.slot[slot], w);
            const CcInput in = t.input[slot][code & 31];
            (i < 4 ? cc.rgb[i] : cc.alpha[i - 4]) = in;
        }
        cc.rgbReads = readsOf(cc.rgb);
        cc.reads = cc.rgbReads | readsOf(cc.alpha);
    }
    return c;
}

std::uint8_t sampledTiles(const RenderState& s, CommandKind draw, int rectTile)
{
    int tile = 0;
    int levels = 0;
    const bool rect = draw == CommandKind::TexRect || draw == CommandKind::TexRectFlip;
    if (rect) {
        tile = rectTile & 7;
        levels = 1;
    } else if ((kindBit(draw) & kTriangleKinds) != 0) {
        if (s.texture.at < 0 || !s.texture.on)
            return 0;
        tile = s.texture.tile;
        levels = s.texture.level;
    } else {
        return 0;
    }
    std::uint32_t mask = 1u << tile;
    const int cycle = s.cycleType();
    if (cycle == 2 || cycle == 3) // copy mode reads one tile; fill mode none
        return cycle == 2 ? static_cast<std::uint8_t>(mask) : 0;
    auto add = [&](int t) { mask |= 1u << (t & 7); };
    if (s.textureLod() == 1) {
        for (int l = 1; l <= levels; ++l)
            add(tile + l);
    } else if (cycle == 1 && s.combineAt >= 0) {
        const Combiner c = decodeCombiner(s.combine);
        if ((c.cycle[0].reads & kCcTexel1) || (c.cycle[1].reads & kCcTexel0))
            add(tile + 1);
    }
    return static_cast<std::uint8_t>(mask);
}

const VertexIndexLayout& vertexIndexLayout(Ucode ucode) { return ucodeData(ucode).layout.indices; }

int vertexIndices(Ucode ucode, Words w, CommandKind kind, std::array<int, 6>& out, bool& malformed)
{
    return vertexIndexLayout(ucode).decode(w, kind, out, malformed);
}

bool vertexLoad(Ucode ucode, Words w, int& v0, int& n)
{
    const Layout& l = ucodeData(ucode).layout;
    const std::int64_t count = argValue(l.vtxN, w);
    std::int64_t first = argValue(l.vtxV0, w);
    if (count < 0 || first < 0)
        return false;
    if (l.vtxStoresEnd)
        first -= count;
    if (first < 0)
        return false;
    v0 = static_cast<int>(first);
    n = static_cast<int>(count);
    return true;
}

std::optional<std::uint32_t> physicalAddress(const RenderState& s, std::uint32_t address)
{
    const unsigned seg = (address >> 24) & 15;
    if (!(s.segmentKnown & (1u << seg)))
        return std::nullopt;
    return (s.segments[seg] + (address & 0x00FFFFFFu)) & 0x00FFFFFFu;
}

TmemLoad tmemWrite(const RenderState& s, Words w, CommandKind kind)
{
    const std::size_t tileIndex = (w.w1 >> 24) & 7;
    const TileState& t = s.tiles[tileIndex];
    const int uls = static_cast<int>((w.w0 >> 12) & 0xFFF), ult = static_cast<int>(w.w0 & 0xFFF);
    const int lrs = static_cast<int>((w.w1 >> 12) & 0xFFF), lrt = static_cast<int>(w.w1 & 0xFFF);
    TmemLoad rec;
    rec.kind = kind;
    rec.tile = static_cast<std::uint8_t>(tileIndex);
    rec.imageKnown = s.textureImage.at >= 0;
    rec.fmt = s.textureImage.fmt;
    rec.siz = s.textureImage.siz;
    const int begin = t.tmem * 8;
    int bytes = 0;
    if (kind == CommandKind::LoadBlock) {
        const int texels = lrs - uls + 1;
        rec.dxt = static_cast<std::uint16_t>(lrt);
        rec.split = t.siz == 3;
        bytes = texels <= 0 ? 0 : rec.split ? texels * 2 : (texels << t.siz) >> 1;
    } else if (kind == CommandKind::LoadTile) {
        const int rows = (lrt >> 2) - (ult >> 2) + 1;
        rec.split = t.siz == 3;
        bytes = rows <= 0 ? 0 : rows * t.line * 8;
    } else if (kind == CommandKind::LoadTlut) {
        const int count = (lrs >> 2) - (uls >> 2) + 1;
        bytes = count <= 0 ? 0 : count * 8;
    }
    bytes = (bytes + 7) & ~7;
    const int end = begin + bytes;
    rec.overflow = end > (rec.split ? kTmemBytes / 2 : kTmemBytes);
    rec.begin = static_cast<std::uint16_t>(std::min(begin, kTmemBytes));
    rec.end = static_cast<std::uint16_t>(std::min(end, kTmemBytes));
    return rec;
}

TmemRange tileRange(const TileState& t)
{
    TmemRange r;
    if (t.setAt < 0 || !t.hasExtents())
        return r;
    const int rows = std::max(t.height(), 1);
    r.begin = t.tmem * 8;
    r.end = r.begin + rows * t.line * 8;
    r.split = (t.fmt == 0 && t.siz == 3) || t.fmt == 1;
    r.known = true;
    return r;
}

MatrixParams matrixParams(Ucode ucode, Words w)
{
    const UcodeData& d = ucodeData(ucode);
    const std::int64_t p = argValue(d.layout.mtxP, w, 0);
    return {(p & d.traits.mtxProjection) != 0, (p & d.traits.mtxLoad) != 0, (p & d.traits.mtxPush) != 0};
}

int popMatrixCount(Ucode ucode, Words w)
{
    const Layout& l = ucodeData(ucode).layout;
    if (l.popCount)
        return static_cast<int>(w.w1 / 64);
    return static_cast<std::uint32_t>(argValue(l.popWhich, w, 0)) == l.mtxModelview ? 1 : 0;
}

int lightCount(Ucode ucode, Words w)
{
    const Layout& l = ucodeData(ucode).layout;
    if (argValue(l.mwIndex, w) != l.mwNumLight || argValue(l.mwOffset, w) != 0)
        return -1;
    return static_cast<int>(argValue(l.numLights, w, -1));
}

// --- The walker -------------------------------------------------------------------

struct WalkFrame {
    std::uint32_t returnEntry = 0;
    std::uint32_t activation = 0;
};

struct WalkControl {
    std::size_t pc = 0;
    std::array<WalkFrame, kMaxCallDepth> stack{};
    std::uint32_t activation = 0;
    std::uint32_t activations = 0; // activation ids handed out
    std::uint32_t epochs = 0;      // mode epochs handed out
    CommandKind lastKind = CommandKind::Invalid;
};

struct WalkCheckpoint {
    std::uint64_t step = 0;
    RenderState state;
    WalkControl control;
};

struct StateIndex::Data {
    Ucode ucode = Ucode::F3DEX2;
    std::span<const Words> entries;
    WalkOptions options;
    std::size_t interval = 256;
    std::vector<WalkCheckpoint> checkpoints;
    std::vector<std::uint64_t> firstStep; // max(): never reached
};

class ListWalker {
public:
    ListWalker(Ucode ucode, std::span<const Words> entries, const WalkOptions& options, WalkObserver* observer,
           StateIndex::Data* index)
        : ucode_(ucode), data_(ucodeData(ucode)), kinds_(kindTable()[ucodeIndex(ucode)]), entries_(entries),
          options_(options), observer_(observer), index_(index)
    {
        vertexBuffer_ = std::clamp(options.vertexBuffer > 0 ? options.vertexBuffer : data_.traits.vertexBuffer, 1,
                                   kMaxVertexSlots);
        callLimit_ = std::clamp(options.callDepthLimit > 0 ? options.callDepthLimit : data_.traits.callDepthLimit, 1,
                                kMaxCallDepth);
        maxSteps_ = options.maxSteps ? options.maxSteps : 16 * static_cast<std::uint64_t>(entries.size()) + 1'000'000;
    }

    WalkSummary run()
    {
        reached_.assign(entries_.size(), 0);
        if (index_) {
            index_->firstStep.assign(entries_.size(), std::numeric_limits<std::uint64_t>::max());
            index_->checkpoints.clear();
        }
        // Without roots the walk starts at entry 0, unless that is a call
        // target and other lists are left to walk first.
        std::vector<WalkRoot> roots = options_.roots;
        if (roots.empty() && !options_.walkUnreached && !entries_.empty())
            roots.push_back({0, false});
        for (const WalkRoot& r : roots) {
            if (stopped_)
                break;
            if (r.entry < entries_.size())
                walk(r);
        }
        if (options_.walkUnreached && !stopped_ && reachedCount_ < entries_.size()) {
            // First the lists no call names (entries that follow the end of
            // a list), then whatever is left.
            const std::vector<std::uint8_t> targets = staticTargets();
            for (int pass = 0; pass < 2 && !stopped_ && reachedCount_ < entries_.size(); ++pass)
                for (std::size_t i = 0; i < entries_.size() && !stopped_ && reachedCount_ < entries_.size(); ++i)
                    if (!reached_[i] && (pass == 1 || (!targets[i] && startsList(i))))
                        walk({i, false});
        }
        WalkSummary summary;
        summary.steps = steps_;
        summary.walks = walks_;
        summary.reached = reachedCount_;
        summary.stepLimitReached = stopped_;
        return summary;
    }

    // Replays from a checkpoint up to (not including) step `target`; false
    // when the walk ends first.
    bool replay(const WalkCheckpoint& from, std::uint64_t target)
    {
        s_ = from.state;
        c_ = from.control;
        steps_ = from.step;
        replaying_ = true;
        while (steps_ < target)
            if (execute() != Outcome::Continue)
                return steps_ >= target;
        return true;
    }

    const RenderState& state() const { return s_; }
    const WalkControl& control() const { return c_; }

    // The state at the first execution of `entry`, plus `extra` commands.
    static std::optional<std::pair<RenderState, WalkControl>> replayTo(const StateIndex::Data& d, std::size_t entry,
                                                                   int extra)
    {
        if (entry >= d.firstStep.size() || d.firstStep[entry] == std::numeric_limits<std::uint64_t>::max())
            return std::nullopt;
        const std::uint64_t target = d.firstStep[entry];
        auto it = std::upper_bound(d.checkpoints.begin(), d.checkpoints.end(), target,
                                   [](std::uint64_t step, const WalkCheckpoint& c) { return step < c.step; });
        if (it == d.checkpoints.begin())
            return std::nullopt;
        --it;
        ListWalker walker(d.ucode, d.entries, d.options, nullptr, nullptr);
        walker.replay(*it, target + static_cast<std::uint64_t>(extra));
        return std::make_pair(walker.state(), walker.control());
    }

private:
    enum class Outcome { Continue, Ended, Stopped };

    void walk(const WalkRoot& root)
    {
        startWalk(root);
        while (execute() == Outcome::Continue) {
        }
        ++walks_;
    }

    void startWalk(const WalkRoot& root)
    {
        s_ = RenderState();
        s_.walk = walks_;
        s_.frame = root.frame;
        for (std::size_t i = 0; i < 16; ++i)
            if (options_.segments[i]) {
                s_.segments[i] = *options_.segments[i];
                s_.segmentKnown |= static_cast<std::uint16_t>(1u << i);
            }
        if (options_.strictSync)
            setSyncBusy();
        s_.modeEpoch = ++c_.epochs;
        c_.pc = root.entry;
        c_.activation = ++c_.activations;
        c_.lastKind = CommandKind::Invalid;
        if (index_)
            addCheckpoint();
    }

    void setSyncBusy()
    {
        s_.sync.pipeBusy = kClobbered;
        s_.sync.tmemBusy = kClobbered;
        s_.sync.tileBusy.fill(kClobbered);
        ++s_.sync.pipeEpisode;
        ++s_.sync.tmemEpisode;
        for (auto& e : s_.sync.tileEpisode)
            ++e;
    }

    void addCheckpoint()
    {
        if (!index_->checkpoints.empty() && index_->checkpoints.back().step == steps_)
            index_->checkpoints.back() = {steps_, s_, c_};
        else
            index_->checkpoints.push_back({steps_, s_, c_});
    }

    Step makeStep(std::size_t pc) const
    {
        Step st;
        st.index = steps_;
        st.entry = pc;
        st.words = entries_[pc];
        st.kind = kinds_[st.words.w0 >> 24];
        if ((st.kind == CommandKind::TexRect || st.kind == CommandKind::TexRectFlip) && pc + 2 < entries_.size()
            && kinds_[entries_[pc + 1].w0 >> 24] == CommandKind::RdpHalf1
            && kinds_[entries_[pc + 2].w0 >> 24] == CommandKind::RdpHalf2)
            st.halves = &entries_[pc + 1];
        return st;
    }

    Outcome execute()
    {
        if (!replaying_ && steps_ >= maxSteps_) {
            if (observer_)
                observer_->event(WalkEvent::StepLimit, makeStep(lastEntry_), s_, 0);
            stopped_ = true;
            return Outcome::Stopped;
        }
        const std::size_t pc = c_.pc;
        if (pc >= entries_.size()) {
            if (!replaying_ && observer_ && c_.lastKind != CommandKind::CullDL && c_.lastKind != CommandKind::BranchZ)
                observer_->event(WalkEvent::RanOffEnd, makeStep(lastEntry_), s_, 0);
            return Outcome::Ended;
        }
        const Step st = makeStep(pc);
        if (!replaying_) {
            if (index_) {
                if (steps_ % index_->interval == 0)
                    addCheckpoint();
                auto& first = index_->firstStep[pc];
                if (first == std::numeric_limits<std::uint64_t>::max())
                    first = steps_;
            }
            reachedCount_ += reached_[pc] ^ 1u;
            reached_[pc] = 1;
            if (st.kind == CommandKind::Invalid) {
                if (observer_)
                    observer_->event(WalkEvent::InvalidOpcode, st, s_, 0);
                return Outcome::Ended;
            }
            if (observer_)
                observer_->command(st, s_);
            lastEntry_ = pc;
        } else if (st.kind == CommandKind::Invalid) {
            return Outcome::Ended;
        }
        ++steps_;
        c_.lastKind = st.kind;
        return apply(st);
    }

    // --- State changes ---------------------------------------------------------

    Outcome apply(const Step& st)
    {
        const Words w = st.words;
        const auto at = static_cast<Origin>(st.entry);
        const KindMask bit = kindBit(st.kind);
        if (bit & kModeChangingKinds)
            s_.modeEpoch = ++c_.epochs;
        if (bit & kRdpKinds) {
            s_.sync.lastRdp = at;
            s_.sync.lastRdpKind = st.kind;
            s_.sync.rdpWork = true;
            if (st.kind != CommandKind::FullSync)
                s_.sync.fullSync = kNotSet;
        }
        ++c_.pc;
        switch (st.kind) {
        case CommandKind::Vertex: loadVertices(w, at); break;
        case CommandKind::Tri1:
        case CommandKind::Tri2:
        case CommandKind::Quad:
        case CommandKind::TexRect:
        case CommandKind::TexRectFlip:
        case CommandKind::FillRect: draw(st, at); break;
        case CommandKind::DisplayList: return call(st);
        case CommandKind::EndDL: return leave();
        case CommandKind::LoadUcode: return Outcome::Ended;
        case CommandKind::RdpHalf1: s_.rdpHalf1 = w.w1; break;
        case CommandKind::Texture: {
            const Layout& l = data_.layout;
            s_.texture.on = argValue(l.texOn, w, 0) != 0;
            s_.texture.tile = static_cast<std::uint8_t>(argValue(l.texTile, w, 0) & 7);
            s_.texture.level = static_cast<std::uint8_t>(argValue(l.texLevel, w, 0) & 7);
            s_.texture.s = static_cast<std::uint16_t>(argValue(l.texS, w, 0));
            s_.texture.t = static_cast<std::uint16_t>(argValue(l.texT, w, 0));
            s_.texture.at = at;
            break;
        }
        case CommandKind::SetGeometry:
            s_.geometry |= w.w1, s_.geometryKnown |= w.w1, s_.geometryAt = at;
            updateStaleVertices();
            break;
        case CommandKind::ClearGeometry:
            s_.geometry &= ~w.w1, s_.geometryKnown |= w.w1, s_.geometryAt = at;
            updateStaleVertices();
            break;
        case CommandKind::Geometry: {
            const std::uint32_t keep = w.w0 & 0x00FFFFFFu;
            s_.geometry = (s_.geometry & (keep | 0xFF000000u)) | w.w1;
            s_.geometryKnown |= (~w.w0 & 0x00FFFFFFu) | w.w1;
            s_.geometryAt = at;
            updateStaleVertices();
            break;
        }
        case CommandKind::OtherModeH:
        case CommandKind::OtherModeL: setOtherMode(st.kind == CommandKind::OtherModeH, w, at); break;
        case CommandKind::SetOtherMode:
            s_.otherH = w.w0 & 0x00FFFFFFu, s_.otherL = w.w1;
            s_.knownH = s_.knownL = 0xFFFFFFFFu;
            s_.otherHAt = s_.otherLAt = at;
            break;
        case CommandKind::Matrix: matrix(w, at); break;
        case CommandKind::PopMatrix: popMatrix(w); break;
        case CommandKind::MoveWord: moveWord(w, at); break;
        case CommandKind::LoadSync:
            s_.sync.tmemBusy = kNotSet, s_.sync.lastSync = at;
            break;
        case CommandKind::TileSync:
            s_.sync.tmemBusy = kNotSet, s_.sync.tileBusy.fill(kNotSet), s_.sync.lastSync = at;
            break;
        case CommandKind::PipeSync:
        case CommandKind::FullSync:
            s_.sync.pipeBusy = s_.sync.tmemBusy = kNotSet;
            s_.sync.tileBusy.fill(kNotSet);
            s_.sync.loadPending = kNotSet;
            s_.sync.lastSync = at;
            if (st.kind == CommandKind::FullSync)
                s_.sync.fullSync = at;
            break;
        case CommandKind::SetKeyGB: s_.keyGBAt = at; break;
        case CommandKind::SetKeyR: s_.keyRAt = at; break;
        case CommandKind::SetConvert: s_.convertAt = at; break;
        case CommandKind::SetScissor:
            s_.scissor.mode = static_cast<std::uint8_t>((w.w1 >> 24) & 3);
            s_.scissor.ulx = static_cast<std::uint16_t>((w.w0 >> 12) & 0xFFF);
            s_.scissor.uly = static_cast<std::uint16_t>(w.w0 & 0xFFF);
            s_.scissor.lrx = static_cast<std::uint16_t>((w.w1 >> 12) & 0xFFF);
            s_.scissor.lry = static_cast<std::uint16_t>(w.w1 & 0xFFF);
            s_.scissor.at = at;
            break;
        case CommandKind::SetPrimDepth:
            s_.primDepth = {static_cast<std::uint16_t>(w.w1 >> 16), static_cast<std::uint16_t>(w.w1 & 0xFFFF), at};
            break;
        case CommandKind::SetTile: {
            TileState& t = s_.tiles[(w.w1 >> 24) & 7];
            t.fmt = static_cast<std::uint8_t>((w.w0 >> 21) & 7);
            t.siz = static_cast<std::uint8_t>((w.w0 >> 19) & 3);
            t.line = static_cast<std::uint16_t>((w.w0 >> 9) & 0x1FF);
            t.tmem = static_cast<std::uint16_t>(w.w0 & 0x1FF);
            t.palette = static_cast<std::uint8_t>((w.w1 >> 20) & 15);
            t.cmt = static_cast<std::uint8_t>((w.w1 >> 18) & 3);
            t.maskt = static_cast<std::uint8_t>((w.w1 >> 14) & 15);
            t.shiftt = static_cast<std::uint8_t>((w.w1 >> 10) & 15);
            t.cms = static_cast<std::uint8_t>((w.w1 >> 8) & 3);
            t.masks = static_cast<std::uint8_t>((w.w1 >> 4) & 15);
            t.shifts = static_cast<std::uint8_t>(w.w1 & 15);
            t.setAt = at;
            break;
        }
        case CommandKind::SetTileSize: setTileSize(w, at, st.kind); break;
        case CommandKind::LoadBlock:
        case CommandKind::LoadTile:
        case CommandKind::LoadTlut: load(w, at, st.kind); break;
        case CommandKind::SetFillColor:
            s_.fill = {w.w1, at};
            s_.sync.fillColor = at;
            break;
        case CommandKind::SetFogColor: s_.fog = {w.w1, at}; break;
        case CommandKind::SetBlendColor: s_.blend = {w.w1, at}; break;
        case CommandKind::SetPrimColor:
            s_.prim = {w.w1, at};
            s_.primMinLevel = static_cast<std::uint8_t>((w.w0 >> 8) & 0xFF);
            s_.primLodFrac = static_cast<std::uint8_t>(w.w0 & 0xFF);
            break;
        case CommandKind::SetEnvColor: s_.env = {w.w1, at}; break;
        case CommandKind::SetCombine:
            s_.combine = w;
            s_.combineAt = at;
            break;
        case CommandKind::SetTextureImage: setImage(s_.textureImage, w, at); break;
        case CommandKind::SetColorImage:
            setImage(s_.colorImage, w, at);
            if (!s_.drawSeen)
                s_.frame = true;
            break;
        case CommandKind::SetDepthImage: setImage(s_.depthImage, w, at); break;
        default: break;
        }
        return Outcome::Continue;
    }

    static void setImage(ImageState& img, Words w, Origin at)
    {
        img.fmt = static_cast<std::uint8_t>((w.w0 >> 21) & 7);
        img.siz = static_cast<std::uint8_t>((w.w0 >> 19) & 3);
        img.width = static_cast<std::uint16_t>((w.w0 & 0xFFF) + 1);
        img.address = w.w1;
        img.at = at;
    }

    void setOtherMode(bool high, Words w, Origin at)
    {
        int shift = 0, length = 0;
        if (data_.layout.otherModeShiftInverted) {
            length = static_cast<int>(w.w0 & 0xFF) + 1;
            shift = 32 - static_cast<int>((w.w0 >> 8) & 0xFF) - length;
        } else {
            shift = static_cast<int>((w.w0 >> 8) & 0xFF);
            length = static_cast<int>(w.w0 & 0xFF);
        }
        if (shift < 0 || length <= 0 || shift >= 32)
            return;
        const std::uint64_t wide = ((std::uint64_t{1} << std::min(length, 32)) - 1) << shift;
        const auto mask = static_cast<std::uint32_t>(wide);
        std::uint32_t& word = high ? s_.otherH : s_.otherL;
        word = (word & ~mask) | (w.w1 & mask);
        (high ? s_.knownH : s_.knownL) |= mask;
        (high ? s_.otherHAt : s_.otherLAt) = at;
    }

    void loadVertices(Words w, Origin at)
    {
        int v0 = 0, n = 0;
        if (!vertexLoad(ucode_, w, v0, n))
            return;
        const std::uint32_t flags = data_.traits.vertexTimeFlags;
        const std::uint32_t known = s_.geometryKnown & flags;
        const int end = std::min(v0 + n, vertexBuffer_);
        if (v0 >= end)
            return;
        const auto first = static_cast<std::ptrdiff_t>(v0), last = static_cast<std::ptrdiff_t>(end);
        std::fill(s_.vertexAt.begin() + first, s_.vertexAt.begin() + last, at);
        std::fill(s_.vertexGeometry.begin() + first, s_.vertexGeometry.begin() + last, s_.geometry & flags);
        std::fill(s_.vertexGeometryKnown.begin() + first, s_.vertexGeometryKnown.begin() + last, known);
        if (v0 < 64) {
            const int top = std::min(end, 64);
            const std::uint64_t upTo = top >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << top) - 1;
            const std::uint64_t range = upTo & ~((std::uint64_t{1} << v0) - 1);
            s_.vertexUnset &= ~range;
            s_.vertexStale &= ~range;
        }
    }

    // After a geometry change: which loaded slots now differ in a
    // vertex-time flag.
    void updateStaleVertices()
    {
        const std::uint32_t flags = data_.traits.vertexTimeFlags;
        const std::uint32_t knownNow = s_.geometryKnown & flags;
        const std::uint32_t now = s_.geometry & flags;
        std::uint64_t stale = 0;
        const int slots = std::min(vertexBuffer_, 64);
        // Only slots a load has reached (their unset bit cleared) can hold a
        // vertex; most geometry changes come before any load.
        std::uint64_t loaded = ~s_.vertexUnset & (slots >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << slots) - 1);
        for (; loaded != 0; loaded &= loaded - 1) {
            const int i = std::countr_zero(loaded);
            const auto slot = static_cast<std::size_t>(i);
            if (s_.vertexAt[slot] >= 0
                && ((s_.vertexGeometry[slot] ^ now) & s_.vertexGeometryKnown[slot] & knownNow))
                stale |= std::uint64_t{1} << i;
        }
        s_.vertexStale = stale;
    }

    void draw(const Step& st, Origin at)
    {
        std::uint8_t tiles = 0;
        if (kindBit(st.kind) & kTriangleKinds) {
            if (triTilesEpoch_ != s_.modeEpoch) {
                triTiles_ = sampledTiles(s_, st.kind, 0);
                triTilesEpoch_ = s_.modeEpoch;
            }
            tiles = triTiles_;
        } else if (st.kind != CommandKind::FillRect) {
            tiles = sampledTiles(s_, st.kind, static_cast<int>((st.words.w1 >> 24) & 7));
        }
        SyncState& y = s_.sync;
        if (y.pipeBusy == kNotSet)
            ++y.pipeEpisode;
        y.pipeBusy = at;
        if (tiles) {
            for (unsigned m = tiles; m; m &= m - 1) {
                const auto t = static_cast<std::size_t>(std::countr_zero(m));
                if (y.tileBusy[t] == kNotSet)
                    ++y.tileEpisode[t];
                y.tileBusy[t] = at;
            }
            if (y.tmemBusy == kNotSet)
                ++y.tmemEpisode;
            y.tmemBusy = at;
        }
        y.loadPending = kNotSet;
        if (y.fillColor != kNotSet && s_.cycleType() == 3)
            y.fillColor = kNotSet;
        s_.drawSeen = true;
    }

    void matrix(Words w, Origin at)
    {
        const MatrixParams p = matrixParams(ucode_, w);
        if (p.projection) {
            s_.projectionAt = at;
        } else {
            s_.modelviewAt = at;
            if (p.push)
                ++s_.matrixDepth;
        }
    }

    void popMatrix(Words w)
    {
        s_.matrixDepth -= popMatrixCount(ucode_, w);
        if (s_.frame && s_.matrixDepth < 0)
            s_.matrixDepth = 0; // popping an empty stack leaves it empty
    }

    void moveWord(Words w, Origin at)
    {
        const Layout& l = data_.layout;
        const std::int64_t index = argValue(l.mwIndex, w);
        const std::int64_t offset = argValue(l.mwOffset, w);
        if (index < 0 || offset < 0)
            return;
        if (index == l.mwSegment) {
            const auto seg = static_cast<std::size_t>((offset / 4) & 15);
            s_.segments[seg] = w.w1;
            s_.segmentKnown |= static_cast<std::uint16_t>(1u << seg);
        } else if (index == l.mwNumLight && offset == 0) {
            s_.numLights = lightCount(ucode_, w);
            s_.numLightsAt = at;
        } else if (index == l.mwFog) {
            s_.fogFactorAt = at;
        }
    }

    void setTileSize(Words w, Origin at, CommandKind kind)
    {
        TileState& t = s_.tiles[(w.w1 >> 24) & 7];
        t.uls = static_cast<std::uint16_t>((w.w0 >> 12) & 0xFFF);
        t.ult = static_cast<std::uint16_t>(w.w0 & 0xFFF);
        t.lrs = static_cast<std::uint16_t>((w.w1 >> 12) & 0xFFF);
        t.lrt = static_cast<std::uint16_t>(w.w1 & 0xFFF);
        t.sizeAt = at;
        t.sizeFrom = kind;
    }

    void load(Words w, Origin at, CommandKind kind)
    {
        const std::size_t tileIndex = (w.w1 >> 24) & 7;
        TmemLoad rec = tmemWrite(s_, w, kind);
        rec.at = at;
        setTileSize(w, at, kind);
        markTmem(s_, rec.begin, rec.end);
        if (rec.split)
            markTmem(s_, rec.begin + kTmemBytes / 2, rec.end + kTmemBytes / 2);
        if (s_.loadCount == kTmemLoadsKept) {
            std::move(s_.loads.begin() + 1, s_.loads.end(), s_.loads.begin());
            --s_.loadCount;
        }
        s_.loads[s_.loadCount++] = rec;
        SyncState& y = s_.sync;
        if (y.tileBusy[tileIndex] == kNotSet)
            ++y.tileEpisode[tileIndex];
        y.tileBusy[tileIndex] = at;
        y.loadPending = at;
    }

    // --- Calls, branches and returns ------------------------------------------------

    // The entry an address lands on; `misaligned` when it lands inside the
    // buffer between entries.
    std::optional<std::size_t> resolve(std::uint32_t address, bool& misaligned) const
    {
        misaligned = false;
        if (!options_.baseAddress)
            return std::nullopt;
        const std::uint32_t base = *options_.baseAddress;
        std::int64_t offset = 0;
        const auto target = physicalAddress(s_, address);
        const auto origin = physicalAddress(s_, base);
        if (target && origin)
            offset = static_cast<std::int64_t>(*target) - static_cast<std::int64_t>(*origin);
        else if (!target && !origin && ((address ^ base) & 0x0F000000u) == 0)
            offset = static_cast<std::int64_t>(address & 0xFFFFFF) - static_cast<std::int64_t>(base & 0xFFFFFF);
        else
            return std::nullopt;
        if (offset < 0 || offset >= static_cast<std::int64_t>(entries_.size()) * 8)
            return std::nullopt;
        if (offset % 8 != 0) {
            misaligned = true;
            return std::nullopt;
        }
        return static_cast<std::size_t>(offset / 8);
    }

    Outcome call(const Step& st)
    {
        const bool push = ((st.words.w0 >> 16) & 0xFF) == 0;
        bool misaligned = false;
        const auto target = resolve(st.words.w1, misaligned);
        if (!target) {
            if (!replaying_ && observer_)
                observer_->event(misaligned ? WalkEvent::TargetMisaligned : WalkEvent::TargetUnresolved, st, s_,
                                 st.words.w1);
            clobber();
            return push ? Outcome::Continue : leave();
        }
        if (push) {
            // The current list is at level callDepth + 1; the callee would be one deeper.
            if (s_.callDepth + 2 > callLimit_) {
                if (!replaying_ && observer_)
                    observer_->event(WalkEvent::CallTooDeep, st, s_, st.words.w1);
                return Outcome::Continue;
            }
            c_.stack[static_cast<std::size_t>(s_.callDepth)] = {static_cast<std::uint32_t>(c_.pc), c_.activation};
            ++s_.callDepth;
            c_.activation = ++c_.activations;
        } else if (!replaying_) {
            const std::uint64_t key = (std::uint64_t{c_.activation} << 32) | st.entry;
            if (!branches_.insert(key).second) {
                if (observer_)
                    observer_->event(WalkEvent::EndlessLoop, st, s_, st.words.w1);
                return Outcome::Ended;
            }
        }
        c_.pc = *target;
        return Outcome::Continue;
    }

    Outcome leave()
    {
        if (s_.callDepth == 0)
            return Outcome::Ended;
        --s_.callDepth;
        const WalkFrame& f = c_.stack[static_cast<std::size_t>(s_.callDepth)];
        c_.pc = f.returnEntry;
        c_.activation = f.activation;
        return Outcome::Continue;
    }

    // A call the walk cannot follow may change anything the callee can reach.
    void clobber()
    {
        RenderState& s = s_;
        s.knownH = s.knownL = 0;
        s.otherHAt = s.otherLAt = s.combineAt = s.geometryAt = kClobbered;
        s.geometryKnown = 0;
        s.texture.at = kClobbered;
        for (TileState& t : s.tiles) {
            t.setAt = t.sizeAt = kClobbered;
            t.sizeFrom = CommandKind::Invalid;
        }
        s.loadCount = 0;
        s.textureImage.at = s.colorImage.at = s.depthImage.at = kClobbered;
        s.scissor.at = kClobbered;
        s.fill.at = s.fog.at = s.blend.at = s.prim.at = s.env.at = kClobbered;
        s.primDepth.at = s.convertAt = s.keyRAt = s.keyGBAt = kClobbered;
        s.vertexAt.fill(kClobbered);
        s.vertexUnset = s.vertexStale = 0;
        s.numLights = -1;
        s.numLightsAt = s.fogFactorAt = s.projectionAt = s.modelviewAt = kClobbered;
        SyncState& y = s.sync;
        y.pipeBusy = y.tmemBusy = kNotSet;
        y.tileBusy.fill(kNotSet);
        if (options_.strictSync)
            setSyncBusy();
        y.loadPending = y.fillColor = y.fullSync = y.lastSync = kNotSet;
        y.lastRdp = kClobbered;
        y.lastRdpKind = CommandKind::Invalid;
        y.rdpWork = true;
        s.frame = false;
        s.drawSeen = true;
        s.modeEpoch = ++c_.epochs;
    }

    // True when the entry follows the end of a list (or is the first).
    bool startsList(std::size_t i) const
    {
        if (i == 0)
            return true;
        const Words prev = entries_[i - 1];
        const CommandKind k = kinds_[prev.w0 >> 24];
        return k == CommandKind::EndDL || (k == CommandKind::DisplayList && ((prev.w0 >> 16) & 0xFF) != 0);
    }

    // Entries some call or branch of the list names, by the segment table
    // known before the walk.
    std::vector<std::uint8_t> staticTargets()
    {
        std::vector<std::uint8_t> targets(entries_.size(), 0);
        const RenderState saved = s_;
        s_ = RenderState();
        for (std::size_t i = 0; i < 16; ++i)
            if (options_.segments[i]) {
                s_.segments[i] = *options_.segments[i];
                s_.segmentKnown |= static_cast<std::uint16_t>(1u << i);
            }
        int callOpcode = -1, branchZOpcode = -1;
        for (int op = 0; op < 256; ++op) {
            if (kinds_[static_cast<std::size_t>(op)] == CommandKind::DisplayList)
                callOpcode = op;
            if (kinds_[static_cast<std::size_t>(op)] == CommandKind::BranchZ)
                branchZOpcode = op;
        }
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const auto op = static_cast<int>(entries_[i].w0 >> 24);
            if (op != callOpcode && op != branchZOpcode)
                continue;
            std::uint32_t address = 0;
            if (op == callOpcode)
                address = entries_[i].w1;
            else if (i > 0 && kinds_[entries_[i - 1].w0 >> 24] == CommandKind::RdpHalf1)
                address = entries_[i - 1].w1;
            else
                continue;
            bool misaligned = false;
            if (const auto t = resolve(address, misaligned))
                targets[*t] = 1;
        }
        s_ = saved;
        return targets;
    }

    Ucode ucode_;
    const UcodeData& data_;
    const std::array<CommandKind, 256>& kinds_;
    std::span<const Words> entries_;
    const WalkOptions& options_;
    WalkObserver* observer_;
    StateIndex::Data* index_;
    int vertexBuffer_ = 32;
    int callLimit_ = 10;
    std::uint64_t maxSteps_ = 0;

    RenderState s_;
    WalkControl c_;
    std::uint64_t steps_ = 0;
    std::uint32_t walks_ = 0;
    bool stopped_ = false;
    bool replaying_ = false;
    std::size_t lastEntry_ = 0;
    std::vector<std::uint8_t> reached_;
    std::size_t reachedCount_ = 0;
    std::unordered_set<std::uint64_t> branches_;
    std::uint32_t triTilesEpoch_ = 0;
    std::uint8_t triTiles_ = 0;
};

WalkSummary walkList(Ucode ucode, std::span<const Words> entries, const WalkOptions& options, WalkObserver* observer,
                     StateIndex* index)
{
    StateIndex::Data* data = nullptr;
    if (index) {
        if (!index->data_)
            index->data_ = std::make_unique<StateIndex::Data>();
        data = index->data_.get();
        data->ucode = ucode;
        data->entries = entries;
        data->options = options;
        if (data->interval == 0)
            data->interval = 256;
    }
    ListWalker walker(ucode, entries, data ? data->options : options, observer, data);
    return walker.run();
}

// --- StateIndex ----------------------------------------------------------------------

StateIndex::StateIndex(std::size_t interval) : data_(std::make_unique<Data>())
{
    data_->interval = interval ? interval : 256;
}
StateIndex::~StateIndex() = default;
StateIndex::StateIndex(StateIndex&&) noexcept = default;
StateIndex& StateIndex::operator=(StateIndex&&) noexcept = default;

StateIndex StateIndex::build(Ucode ucode, std::span<const Words> entries, const WalkOptions& options,
                             std::size_t interval)
{
    StateIndex index(interval);
    walkList(ucode, entries, options, nullptr, &index);
    return index;
}

bool StateIndex::reached(std::size_t entry) const
{
    return data_ && entry < data_->firstStep.size()
        && data_->firstStep[entry] != std::numeric_limits<std::uint64_t>::max();
}

std::size_t StateIndex::checkpoints() const { return data_ ? data_->checkpoints.size() : 0; }


std::optional<RenderState> StateIndex::stateAt(std::size_t entry) const
{
    if (!data_)
        return std::nullopt;
    auto r = ListWalker::replayTo(*data_, entry, 0);
    return r ? std::optional<RenderState>(r->first) : std::nullopt;
}

std::optional<RenderState> StateIndex::stateAfter(std::size_t entry) const
{
    if (!data_)
        return std::nullopt;
    auto r = ListWalker::replayTo(*data_, entry, 1);
    return r ? std::optional<RenderState>(r->first) : std::nullopt;
}

std::vector<std::size_t> StateIndex::callStackAt(std::size_t entry) const
{
    std::vector<std::size_t> out;
    if (!data_)
        return out;
    if (auto r = ListWalker::replayTo(*data_, entry, 0))
        for (int i = 0; i < r->first.callDepth; ++i)
            out.push_back(r->second.stack[static_cast<std::size_t>(i)].returnEntry);
    return out;
}

} // namespace dlscope::gbi
