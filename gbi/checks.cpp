#include "gbi/checks.h"

#include "gbi/disassembler.h"
#include "gbi/printer.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

namespace dlscope::gbi {
namespace {

constexpr std::uint8_t kAllUcodeBits = [] {
    std::uint8_t m = 0;
    for (Ucode u : kAllUcodes)
        m = static_cast<std::uint8_t>(m | ucodeBit(u));
    return m;
}();
// F3DEX2 and every microcode built on it.
constexpr std::uint8_t kF3dex2OnBits =
    static_cast<std::uint8_t>(kAllUcodeBits & ~(ucodeBit(Ucode::F3D) | ucodeBit(Ucode::F3DEX)));

constexpr KindMask bitOf(CommandKind k) { return kindBit(k); }

// Render-mode flag bits of the other-mode low word.
constexpr std::uint32_t kAaEn = 0x8, kZCmp = 0x10, kZUpd = 0x20, kImRd = 0x40, kForceBl = 0x4000;
constexpr std::uint32_t kZBits = kZCmp | kZUpd;
constexpr std::uint32_t kFlagBits = 0xFFF8;        // bits 3-15
constexpr std::uint32_t kBlenderBits = 0xFFFF0000; // both blender sets

class Engine;

// What a draw sees, worked out once per draw (once per mode epoch for
// triangles).
struct DrawInfo {
    int cycle = -1;        // 0 1-cycle, 1 2-cycle, 2 copy, 3 fill, -1 unknown
    bool oneOrTwo = false; // known to be 1- or 2-cycle
    bool ccKnown = false;
    Combiner cc{};
    std::uint32_t reads = 0;    // inputs the combiner cycles in use read (valid with ccKnown && oneOrTwo)
    std::uint32_t rgbReads = 0;
    bool blenderKnown = false;  // both blender sets known
    bool rmKnown = false;       // blender sets and flags known
    std::uint32_t L = 0;
    int sets = 0;               // blender sets in use
    BlenderCycle bl[2]{};
    bool blenderShadeA = false; // a blender set in use reads G_BL_A_SHADE
    int rectTile = 0;
    std::uint8_t sampled = 0;
};

struct Hit {
    Severity severity = Severity::Error;
    Origin related = kNotSet;
    Origin entry = kNotSet; // when the finding concerns another entry than the command
    std::string detail;
};

struct Ctx {
    Ctx(Engine& engine, const Step& step, const RenderState& state, const UcodeTraits& traits)
        : e(engine), st(step), s(state), t(traits)
    {
    }

    Engine& e;
    const Step& st;
    const RenderState& s;
    const UcodeTraits& t;
    const DrawInfo* draw = nullptr;
    // Vertex indices of triangle, quadrangle and line commands: the first
    // `count` are set (the rest are never read, so not cleared per command).
    int count = 0;
    bool malformed = false;
    std::array<int, 6> idx;

    const DrawInfo& d();
    bool isTri() const { return (bitOf(st.kind) & kTriangleKinds) != 0; }
    bool isTexRect() const { return st.kind == CommandKind::TexRect || st.kind == CommandKind::TexRectFlip; }
    bool isFill() const { return st.kind == CommandKind::FillRect; }
    std::span<const int> indices() const { return {idx.data(), static_cast<std::size_t>(count)}; }
};

// Cheap conditions shared by several rules, worked out once per command so
// that rules which cannot fire are not even called.
enum Gate : std::uint8_t {
    kAlways = 0,
    kGateIndexBad = 1,      // an index outside the buffer, or a malformed one
    kGateIndexUnloaded = 2, // an index names a slot no load of the walk wrote
    kGateVertexTime = 4,    // a vertex-time flag changed since a vertex's load
    kGateFrameSync = 8,     // a frame walk at a return, or after its full sync
    kGatePipeBusy = 16,     // a primitive may still be drawing
    kGateLoadPending = 32,  // a load with no pipe sync after it
    kGateTileBusy = 64,     // the tile a tile command names may still be in use
};

constexpr KindMask kIndexKinds = kTriangleKinds | kindBit(CommandKind::Line3D);

using CheckFn = bool (*)(Ctx&, Hit&);

struct RuleDef {
    RuleInfo info;
    KindMask triggers;
    bool perMode; // at triangles: only at the first one after a mode change
    CheckFn check;
    std::uint8_t gate = kAlways;
};

class Engine final : public WalkObserver {
public:
    Engine(Ucode ucode, std::span<const Words> entries, const CheckOptions& options);

    void command(const Step& step, const RenderState& before) override;
    void event(WalkEvent event, const Step& step, const RenderState& state, std::uint32_t address) override;
    CheckReport finish(const WalkSummary& walk);

    std::string at(Origin o) const { return o >= 0 ? entryAddress(static_cast<std::size_t>(o), base_) : "?"; }
    // True the first time a (walk, episode) pair is seen in this memory.
    static bool once(std::uint64_t& memory, std::uint32_t walk, std::uint32_t episode)
    {
        const std::uint64_t key = (std::uint64_t{walk} << 32) | episode;
        if (memory == key)
            return false;
        memory = key;
        return true;
    }
    const DrawInfo& drawInfo(const Ctx& c);

    Ucode ucode;
    const UcodeTraits& traits;
    int vertexBuffer;
    int vertexLoadMax;
    std::uint64_t pipeReported = ~0ull, tmemReported = ~0ull, loadReported = ~0ull;
    std::array<std::uint64_t, kTileCount> tileReported;

private:
    void runRule(std::size_t rule, Ctx& c);
    unsigned gatesOf(Ctx& c) const;
    void report(std::size_t rule, std::size_t entry, Severity severity, Origin related, const std::string& detail);

    std::span<const Words> entries_;
    const CheckOptions& options_;
    std::optional<std::uint32_t> base_;
    std::array<std::vector<std::uint16_t>, static_cast<std::size_t>(CommandKind::Count)> perCommand_, perMode_;
    KindMask triggered_ = 0;
    std::vector<bool> enabled_;
    std::uint32_t lastTriEpoch_ = 0;
    DrawInfo triDraw_, rectDraw_;
    std::uint32_t triDrawEpoch_ = 0;
    std::unordered_set<std::uint64_t> reported_;
    CheckReport report_;
    const VertexIndexLayout& indexLayout_;
    std::uint64_t bufferMask_ = 0; // slots of the vertex buffer (below 64)
    bool pairedIndices_ = false; // two triangles at bits 16, 8, 0 of w0 and w1, doubled
    int singleIndices_ = -1;     // one triangle at bits 16, 8, 0 of this word, doubled
    std::array<std::vector<std::uint16_t>, static_cast<std::size_t>(CommandKind::Count)> gated_;
    Hit hit_;
};

const DrawInfo& Ctx::d()
{
    if (!draw)
        draw = &e.drawInfo(*this);
    return *draw;
}

// --- Small helpers --------------------------------------------------------------

std::string hex(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

bool powerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

std::string tileName(int t) { return "tile " + std::to_string(t); }

const char* fmtName(int fmt)
{
    static constexpr const char* kNames[] = {"RGBA", "YUV", "CI", "IA", "I", "format 5", "format 6", "format 7"};
    return kNames[fmt & 7];
}

int bitsPerTexel(int siz) { return 4 << siz; }

// The newest load of the walk that wrote into [begin, end).
const TmemLoad* newestLoadIn(const RenderState& s, int begin, int end)
{
    for (int i = s.loadCount - 1; i >= 0; --i) {
        const TmemLoad& l = s.loads[static_cast<std::size_t>(i)];
        if (l.begin < end && begin < l.end)
            return &l;
    }
    return nullptr;
}

// The lower-half byte range a tile reads, with one row when the extents are
// not known.
std::pair<int, int> tileBytes(const TileState& tile)
{
    const TmemRange r = tileRange(tile);
    if (r.known)
        return {r.begin, r.end};
    return {tile.tmem * 8, tile.tmem * 8 + std::max(1, static_cast<int>(tile.line)) * 8};
}

template <typename F> void forTiles(std::uint8_t mask, F f)
{
    for (int t = 0; t < kTileCount; ++t)
        if (mask & (1u << t))
            f(t);
}

// --- Sync rules -------------------------------------------------------------------

bool syncPipe(Ctx& c, Hit& h)
{
    const SyncState& y = c.s.sync;
    if (y.pipeBusy == kNotSet || !Engine::once(c.e.pipeReported, c.s.walk, y.pipeEpisode))
        return false;
    h.related = y.pipeBusy;
    h.detail = y.pipeBusy >= 0 ? "no pipe sync since the draw at " + c.e.at(y.pipeBusy)
                               : "a primitive from before may still be drawing";
    return true;
}

bool syncPipeAfterLoad(Ctx& c, Hit& h)
{
    const Origin load = c.s.sync.loadPending;
    if (load < 0 || !Engine::once(c.e.loadReported, c.s.walk, static_cast<std::uint32_t>(load)))
        return false;
    h.related = load;
    h.detail = "no pipe sync since the load at " + c.e.at(load);
    return true;
}

bool syncTile(Ctx& c, Hit& h)
{
    const auto t = static_cast<std::size_t>((c.st.words.w1 >> 24) & 7);
    const SyncState& y = c.s.sync;
    if (y.tileBusy[t] == kNotSet || !Engine::once(c.e.tileReported[t], c.s.walk, y.tileEpisode[t]))
        return false;
    h.related = y.tileBusy[t];
    h.detail = tileName(static_cast<int>(t)) + " was used "
        + (y.tileBusy[t] >= 0 ? "by the command at " + c.e.at(y.tileBusy[t]) : std::string("before"));
    return true;
}

bool syncLoad(Ctx& c, Hit& h)
{
    const SyncState& y = c.s.sync;
    if (y.tmemBusy == kNotSet || !Engine::once(c.e.tmemReported, c.s.walk, y.tmemEpisode))
        return false;
    h.related = y.tmemBusy;
    h.detail = y.tmemBusy >= 0 ? "texture memory was read by the draw at " + c.e.at(y.tmemBusy)
                               : "an earlier primitive may still read texture memory";
    return true;
}

bool syncFull(Ctx& c, Hit& h)
{
    const SyncState& y = c.s.sync;
    if (!c.s.frame)
        return false;
    if (c.st.kind == CommandKind::EndDL) {
        if (c.s.callDepth != 0 || !y.rdpWork || y.lastRdpKind == CommandKind::FullSync)
            return false;
        h.related = y.lastRdp;
        h.detail = y.lastRdp >= 0 ? "the last RDP command is at " + c.e.at(y.lastRdp) : "";
        return true;
    }
    if (y.fullSync < 0 || c.st.kind == CommandKind::FullSync)
        return false;
    h.related = y.fullSync;
    h.detail = "RDP command after the full sync at " + c.e.at(y.fullSync);
    return true;
}

bool syncFullPipe(Ctx& c, Hit& h)
{
    if (c.s.sync.pipeBusy == kNotSet)
        return false;
    h.related = c.s.sync.pipeBusy;
    if (h.related >= 0)
        h.detail = "the last draw is at " + c.e.at(h.related);
    return true;
}

bool syncRedundant(Ctx& c, Hit& h)
{
    const SyncState& y = c.s.sync;
    if (y.lastSync == kNotSet)
        return false; // the first sync of a walk
    const bool tiles = std::any_of(y.tileBusy.begin(), y.tileBusy.end(), [](Origin o) { return o != kNotSet; });
    const bool tmem = y.tmemBusy != kNotSet;
    bool busy = false;
    switch (c.st.kind) {
    case CommandKind::LoadSync: busy = tmem; break;
    case CommandKind::TileSync: busy = tmem || tiles; break;
    default: busy = tmem || tiles || y.pipeBusy != kNotSet; break;
    }
    if (busy)
        return false;
    h.related = y.lastSync;
    h.detail = "nothing it waits for happened since the sync at " + c.e.at(y.lastSync);
    return true;
}

// --- Combiner rules -----------------------------------------------------------------

bool ccUnset(Ctx& c, Hit&)
{
    return c.s.frame && c.d().oneOrTwo && c.s.combineAt == kNotSet;
}

bool cc1CycMismatch(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    if (d.cycle != 0 || !d.ccKnown)
        return false;
    const CombinerCycle &a = d.cc.cycle[0], &b = d.cc.cycle[1];
    return !std::equal(a.rgb, a.rgb + 4, b.rgb) || !std::equal(a.alpha, a.alpha + 4, b.alpha);
}

bool cc1CycCombined(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 0 && d.ccKnown && (d.cc.cycle[1].reads & kCcCombined);
}

bool cc1CycTexel1(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 0 && d.ccKnown && (d.cc.cycle[1].reads & kCcTexel1);
}

bool cc2CycCombinedFirst(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 1 && d.ccKnown && (d.cc.cycle[0].reads & kCcCombined);
}

bool cc2CycTexel1Second(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 1 && d.ccKnown && (d.cc.cycle[1].reads & kCcTexel1);
}

bool cc2CycTexel0Second(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 1 && d.ccKnown && (d.cc.cycle[1].reads & kCcTexel0);
}

bool cc2CycAlphaCompare(Ctx& c, Hit& h)
{
    const int ac = c.s.alphaCompare();
    if (c.d().cycle != 1 || (ac != 1 && ac != 3))
        return false;
    h.detail = ac == 1 ? "G_AC_THRESHOLD" : "G_AC_DITHER";
    return true;
}

bool ccMulCombined(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 1 && d.ccKnown && d.cc.cycle[1].rgb[2] == CcInput::Combined
        && d.cc.cycle[0].rgb[1] != d.cc.cycle[0].rgb[3];
}

bool ccTexelNoTexture(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    if (!d.oneOrTwo || !d.ccKnown || !(d.reads & kCcTexel))
        return false;
    if (c.isFill()) {
        h.detail = "fill rectangles carry no texture";
        return true;
    }
    if (c.isTri() && c.s.texture.at >= 0 && !c.s.texture.on) {
        h.related = c.s.texture.at;
        h.detail = "gSPTexture at " + c.e.at(c.s.texture.at) + " turned texturing off";
        return true;
    }
    return false;
}

bool ccShadeNoShade(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    if (!d.oneOrTwo)
        return false;
    const bool rect = !c.isTri();
    if (!rect && !c.s.geometryOff(c.t.shade))
        return false;
    if (d.ccKnown && (d.reads & kCcShade))
        h.detail = "the combiner reads SHADE";
    else if (d.blenderShadeA)
        h.detail = "the blender reads G_BL_A_SHADE";
    else
        return false;
    h.detail += rect ? "; rectangles have no shade" : "; G_SHADE is off";
    return true;
}

bool ccTextureUnused(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    if (c.s.texture.at < 0 || !c.s.texture.on || !d.oneOrTwo || !d.ccKnown || (d.reads & kCcTexel))
        return false;
    h.related = c.s.texture.at;
    h.detail = "gSPTexture at " + c.e.at(c.s.texture.at) + " turned texturing on";
    return true;
}

bool ccShadeUnused(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    const UcodeTraits& t = c.t;
    const RenderState& s = c.s;
    if (d.oneOrTwo && d.ccKnown && d.rmKnown) {
        const bool used = (d.reads & kCcShade) || d.blenderShadeA;
        if (!used && s.geometryOn(t.shade)) {
            h.detail = "G_SHADE is on, but neither combiner nor blender reads shade";
            return true;
        }
        if (!used && s.geometryOn(t.lighting) && s.geometryOff(t.textureGen)) {
            h.detail = "G_LIGHTING is on, but shade is not used";
            return true;
        }
    }
    if (s.geometryOn(t.shadingSmooth) && s.geometryOff(t.shade)) {
        h.detail = "G_SHADING_SMOOTH without G_SHADE";
        return true;
    }
    return false;
}

bool ccLodFracRect(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    if (!d.oneOrTwo)
        return false;
    if (c.s.textureLod() == 1)
        h.detail = "G_TL_LOD is on";
    else if (d.ccKnown && (d.reads & ccBit(CcInput::LodFraction)))
        h.detail = "the combiner reads LOD_FRACTION";
    else
        return false;
    return true;
}

// --- Blender rules ------------------------------------------------------------------

bool rm2CycFirstMem(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    const BlenderCycle& b = d.bl[0];
    return d.cycle == 1 && d.blenderKnown && (b.p == 1 || b.m == 1 || b.b == 1);
}

bool rm2CycFirstB(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    const BlenderCycle& b = d.bl[0];
    return d.cycle == 1 && d.blenderKnown && b.b != 0 && !(b.a == 3 && b.b == 2);
}

bool rm2CycSecondShade(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 1 && d.blenderKnown && d.bl[1].a == 2;
}

const std::vector<std::uint32_t>& presetFlags()
{
    static const std::vector<std::uint32_t> flags = [] {
        std::vector<std::uint32_t> v;
        for (const RenderPreset& p : renderPresets())
            for (std::uint32_t value : {p.cycle1, p.cycle2})
                if (value & kFlagBits)
                    v.push_back(value & kFlagBits);
        std::sort(v.begin(), v.end());
        v.erase(std::unique(v.begin(), v.end()), v.end());
        return v;
    }();
    return flags;
}

bool rmPair(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    if (!d.oneOrTwo || (c.s.knownL & kFlagBits) != kFlagBits)
        return false;
    const std::uint32_t flags = d.L & kFlagBits;
    if (flags == 0) {
        h.detail = "neither half carries the mode flags";
        return true;
    }
    if (std::binary_search(presetFlags().begin(), presetFlags().end(), flags))
        return false;
    h.detail = "flags " + hex(flags) + " belong to no single preset";
    return true;
}

bool rm1CycSecondHalf(Ctx& c, Hit&)
{
    const DrawInfo& d = c.d();
    return d.cycle == 0 && d.blenderKnown && ((d.L >> 2) & 0x33330000u) != (d.L & 0x33330000u);
}

// Flags plus one blender set of every render-mode preset: set 0 from the
// cycle-1 values, set 1 from the cycle-2 values.
const std::array<std::vector<std::uint32_t>, 2>& presetSets()
{
    static const std::array<std::vector<std::uint32_t>, 2> sets = [] {
        std::array<std::vector<std::uint32_t>, 2> a;
        for (const RenderPreset& p : renderPresets()) {
            a[0].push_back(p.cycle1 & (0xCCCC0000u | kFlagBits));
            a[1].push_back(p.cycle2 & (0x33330000u | kFlagBits));
        }
        for (auto& v : a) {
            std::sort(v.begin(), v.end());
            v.erase(std::unique(v.begin(), v.end()), v.end());
        }
        return a;
    }();
    return sets;
}

bool rmFormulaIgnored(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    if (!d.oneOrTwo || !d.rmKnown || (d.L & (kForceBl | kAaEn)))
        return false;
    for (int i = 0; i < d.sets; ++i) {
        const BlenderCycle& b = d.bl[i];
        const bool pass = b.p == 0 && b.a == 3 && b.m == 0 && b.b == 2;
        const bool zero = b.p == 0 && b.a == 0 && b.m == 0 && b.b == 0;
        // The header's own presets (G_RM_ZB_OPA_SURF and the like) rely on
        // coverage without FORCE_BL; they are left alone.
        const std::uint32_t mine = d.L & ((i == 0 ? 0xCCCC0000u : 0x33330000u) | kFlagBits);
        const auto& presets = presetSets()[static_cast<std::size_t>(i)];
        if (!pass && !zero && !std::binary_search(presets.begin(), presets.end(), mine)) {
            h.detail = i == 0 ? "first blender set" : "second blender set";
            return true;
        }
    }
    return false;
}

bool rmFog(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    const RenderState& s = c.s;
    if (!d.oneOrTwo || !d.blenderKnown || !c.t.fog || (s.geometryKnown & c.t.fog) != c.t.fog)
        return false;
    const bool fog = s.geometryOn(c.t.fog);
    if (d.blenderShadeA && !fog) {
        h.detail = "the blender reads shade alpha while G_FOG is off";
        return true;
    }
    if (fog && d.ccKnown && (d.rgbReads & ccBit(CcInput::ShadeAlpha))) {
        h.detail = "the combiner reads SHADE_ALPHA while G_FOG is on";
        return true;
    }
    h.severity = Severity::Note;
    if (fog && !d.blenderShadeA) {
        h.detail = "G_FOG is on but the blender never reads shade alpha";
        return true;
    }
    if (d.cycle == 0 && d.bl[0].p == 3 && d.bl[0].a == 2) {
        h.detail = "the fog formula in 1-cycle mode leaves no blender cycle for anything else";
        return true;
    }
    return false;
}

// --- Depth rules ----------------------------------------------------------------------

bool zKnown(const RenderState& s) { return (s.knownL & kZBits) == kZBits; }
bool zOn(const RenderState& s) { return zKnown(s) && (s.otherL & kZBits); }

bool zNoImage(Ctx& c, Hit&) { return c.s.frame && zOn(c.s) && c.s.depthImage.at == kNotSet; }

bool zNoGeom(Ctx& c, Hit&) { return zOn(c.s) && c.s.zSource() == 0 && c.s.geometryOff(c.t.zbuffer); }

bool zUnused(Ctx& c, Hit&) { return c.s.geometryOn(c.t.zbuffer) && zKnown(c.s) && !(c.s.otherL & kZBits); }

bool zRect(Ctx& c, Hit&) { return c.d().oneOrTwo && zOn(c.s) && c.s.zSource() == 0; }

bool zPrimNoDepth(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    if (s.zSource() != 1 || !zOn(s))
        return false;
    if (s.primDepth.at == kNotSet)
        return true;
    const int dz = s.primDepth.dz;
    if (s.primDepth.at >= 0 && dz != 0 && !powerOfTwo(dz)) {
        h.severity = Severity::Note;
        h.related = s.primDepth.at;
        h.detail = "delta Z " + std::to_string(dz) + " set at " + c.e.at(s.primDepth.at) + " is not a power of two";
        return true;
    }
    return false;
}

// --- Cycle-type and rectangle rules --------------------------------------------------

bool modeTriCopyFill(Ctx& c, Hit& h)
{
    const int cycle = c.d().cycle;
    if (cycle != 2 && cycle != 3)
        return false;
    h.detail = cycle == 2 ? "copy mode" : "fill mode";
    return true;
}

bool fillLockup(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    if (c.d().cycle != 3)
        return false;
    if (zOn(s) && s.zSource() == 0)
        h.detail = "depth compare or update is on";
    else if ((s.knownL & kImRd) && (s.otherL & kImRd))
        h.detail = "IM_RD is on";
    else if (s.colorImage.at >= 0 && s.colorImage.siz == 0)
        h.detail = "the colour image is 4-bit";
    else
        return false;
    return true;
}

bool fillColor16(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    if (c.d().cycle != 3 || s.fill.at < 0 || s.colorImage.at < 0)
        return false;
    const std::uint32_t v = s.fill.value;
    bool stripes = false;
    if (s.colorImage.siz == 2)
        stripes = (v >> 16) != (v & 0xFFFF);
    else if (s.colorImage.siz == 1)
        stripes = ((v >> 24) & 0xFF) != (v & 0xFF) || ((v >> 16) & 0xFF) != (v & 0xFF) || ((v >> 8) & 0xFF) != (v & 0xFF);
    if (!stripes)
        return false;
    h.related = s.fill.at;
    h.detail = "fill colour " + hex(v) + " set at " + c.e.at(s.fill.at);
    return true;
}

bool rectEdge(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    if (s.colorImage.at < 0)
        return false;
    const int width = s.colorImage.width;
    const int right = static_cast<int>((c.st.words.w0 >> 14) & 0x3FF);
    const int cycle = c.d().cycle;
    const std::string where = "right edge x = " + std::to_string(right) + ", image width " + std::to_string(width);
    if (c.isFill() && cycle == 3 && right >= width) {
        h.detail = where;
        return true;
    }
    if (c.st.kind == CommandKind::TexRect && cycle == 2 && right >= width) {
        h.detail = where;
        return true;
    }
    if (c.isFill() && c.d().oneOrTwo && right == width - 1) {
        h.severity = Severity::Note;
        h.detail = where + "; the last column is not drawn";
        return true;
    }
    return false;
}

bool fillInCopy(Ctx& c, Hit&) { return c.d().cycle == 2; }

bool fillColorIgnored(Ctx& c, Hit& h)
{
    if (!c.d().oneOrTwo || c.s.sync.fillColor < 0)
        return false;
    h.related = c.s.sync.fillColor;
    h.detail = "fill colour set at " + c.e.at(h.related);
    return true;
}

bool copyDsdx(Ctx& c, Hit& h)
{
    if (c.d().cycle != 2 || !c.st.halves)
        return false;
    const auto dsdx = static_cast<std::int16_t>(c.st.halves[1].w1 >> 16);
    if (dsdx == 0x1000)
        return false;
    if (dsdx > 0x1000 && dsdx <= 0x1400)
        h.severity = Severity::Warning;
    char buf[32];
    std::snprintf(buf, sizeof buf, "dsdx = %g", dsdx / 1024.0);
    h.detail = buf;
    return true;
}

bool copyZPersp(Ctx& c, Hit& h)
{
    if (c.d().cycle != 2)
        return false;
    if (zOn(c.s))
        h.detail = "depth compare or update is on";
    else if (c.s.texturePersp() == 1)
        h.detail = "G_TP_PERSP is on";
    else
        return false;
    return true;
}

bool copyFormat(Ctx& c, Hit& h)
{
    if (c.d().cycle != 2)
        return false;
    const int t = c.d().rectTile;
    const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
    if (tile.setAt >= 0 && ((tile.fmt == 0 && tile.siz == 3) || tile.fmt == 1)) {
        h.detail = tileName(t) + (tile.fmt == 1 ? " is YUV" : " is RGBA 32-bit");
        return true;
    }
    if (c.s.colorImage.at >= 0 && c.s.colorImage.siz == 3) {
        h.detail = "the colour image is 32-bit";
        return true;
    }
    if (tile.setAt >= 0 && (tile.fmt == 3 || tile.fmt == 4)) {
        h.severity = Severity::Warning;
        h.detail = tileName(t) + " is " + fmtName(tile.fmt);
        return true;
    }
    return false;
}

bool copyFillScissor(Ctx& c, Hit& h)
{
    const auto& sc = c.s.scissor;
    const int cycle = c.d().cycle;
    if (sc.at < 0)
        return false;
    if ((cycle == 2 && sc.ulx != 0) || (cycle == 3 && sc.ulx % 16 != 0)) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "scissor ulx = %g", sc.ulx / 4.0);
        h.related = sc.at;
        h.detail = buf;
        return true;
    }
    return false;
}

// --- Texture rules --------------------------------------------------------------------

bool texTileUnset(Ctx& c, Hit& h)
{
    if (!c.s.frame)
        return false;
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (hit)
            return;
        if (tile.setAt == kNotSet) {
            h.detail = tileName(t) + " has no gsDPSetTile";
            hit = true;
        } else if (tile.sizeAt == kNotSet) {
            h.detail = tileName(t) + " has no size";
            hit = true;
        }
    });
    return hit;
}

bool texSizeFromLoad(Ctx& c, Hit& h)
{
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (hit || tile.sizeAt < 0)
            return;
        if (tile.sizeFrom == CommandKind::LoadBlock || tile.sizeFrom == CommandKind::LoadTlut) {
            h.related = tile.sizeAt;
            h.detail = tileName(t) + " size comes from the load at " + c.e.at(tile.sizeAt);
            hit = true;
        }
    });
    return hit;
}

bool texTmemUnloaded(Ctx& c, Hit& h)
{
    if (!c.s.frame)
        return false;
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TmemRange r = tileRange(c.s.tiles[static_cast<std::size_t>(t)]);
        if (hit || !r.known)
            return;
        const bool low = c.s.tmemWrittenRange(r.begin, r.end);
        const bool high = !r.split || c.s.tmemWrittenRange(r.begin + kTmemBytes / 2, r.end + kTmemBytes / 2);
        if (!low || !high) {
            h.detail = tileName(t) + " reads TMEM " + hex(static_cast<std::uint32_t>(r.begin)) + "-"
                + hex(static_cast<std::uint32_t>(r.end - 1));
            hit = true;
        }
    });
    return hit;
}

bool texFormatMismatch(Ctx& c, Hit& h)
{
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (hit || tile.setAt < 0)
            return;
        const auto [begin, end] = tileBytes(tile);
        const TmemLoad* load = newestLoadIn(c.s, begin, end);
        if (!load || !load->imageKnown || load->fmt == tile.fmt)
            return;
        h.related = load->at;
        h.detail = tileName(t) + " is " + fmtName(tile.fmt) + ", the load at " + c.e.at(load->at) + " brought "
            + fmtName(load->fmt);
        hit = true;
    });
    return hit;
}

bool tmemOverflow(Ctx& c, Hit& h)
{
    if (bitOf(c.st.kind) & kLoadKinds) {
        const TmemLoad w = tmemWrite(c.s, c.st.words, c.st.kind);
        if (c.s.tiles[w.tile].setAt < 0 || !w.overflow)
            return false;
        h.detail = "the load writes past the end of " + std::string(w.split ? "its TMEM half" : "TMEM");
        return true;
    }
    const int lut = c.s.textureLut();
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        const TmemRange r = tileRange(tile);
        if (hit || !r.known)
            return;
        const std::string range = tileName(t) + " reads TMEM " + hex(static_cast<std::uint32_t>(r.begin)) + "-"
            + hex(static_cast<std::uint32_t>(r.end - 1));
        if (r.split && (r.begin >= kTmemBytes / 2 || r.end - r.begin > kTmemBytes / 2)) {
            h.detail = range + "; 32-bit and YUV tiles must fit the lower half";
            hit = true;
        } else if (!r.split && r.end > kTmemBytes) {
            h.detail = range;
            hit = true;
        } else if (!r.split && lut > 0 && tile.fmt == 2 && r.end > kTmemBytes / 2) {
            h.detail = range + ", into the palette half";
            hit = true;
        }
    });
    return hit;
}

bool loadBlockCount(Ctx& c, Hit& h)
{
    const int uls = static_cast<int>((c.st.words.w0 >> 12) & 0xFFF);
    const int lrs = static_cast<int>((c.st.words.w1 >> 12) & 0xFFF);
    if (lrs - uls + 1 <= 2048)
        return false;
    h.detail = std::to_string(lrs - uls + 1) + " texels";
    return true;
}

// Checks a block load against the row width of a tile that reads what it
// loaded. Without extents only the dxt itself is checked.
bool blockDxtFits(Ctx& c, Hit& h, const TileState& tile, int tileIndex, int begin, int end, bool setTile)
{
    const TmemLoad* load = newestLoadIn(c.s, begin, end);
    if (!load || load->kind != CommandKind::LoadBlock || load->dxt == 0 || load->at < 0)
        return false;
    // A tile set up again for the next load is not a reader of the old one.
    if (setTile && load->tile == tileIndex)
        return false;
    // 32-bit texels keep half of each row in each TMEM half; the load counts
    // whole rows.
    const int w = tile.line * (tile.siz == 3 ? 2 : 1);
    const int expected = (2048 + w - 1) / w;
    const std::string user = c.e.at(static_cast<Origin>(c.st.entry));
    if (load->dxt != expected) {
        h.detail = "dxt " + std::to_string(load->dxt) + ", but " + tileName(tileIndex) + " (" + user + ") has rows of "
            + std::to_string(w) + " words, which need " + std::to_string(expected);
    } else if (!powerOfTwo(w) && tile.hasExtents()) {
        const long long e = static_cast<long long>(load->dxt) * w - 2048;
        const long long rows = tile.height();
        if (e * (rows * w - 1) < 2048)
            return false;
        h.detail = "rows of " + std::to_string(w) + " words: the rounded dxt drifts by a row within "
            + std::to_string(rows) + " rows";
    } else {
        return false;
    }
    h.entry = load->at;
    h.related = static_cast<Origin>(c.st.entry);
    return true;
}

bool loadBlockDxt(Ctx& c, Hit& h)
{
    if (c.st.kind == CommandKind::SetTile) {
        const Words w = c.st.words;
        TileState tile;
        tile.siz = static_cast<std::uint8_t>((w.w0 >> 19) & 3);
        tile.line = static_cast<std::uint16_t>((w.w0 >> 9) & 0x1FF);
        tile.tmem = static_cast<std::uint16_t>(w.w0 & 0x1FF);
        if (tile.line == 0)
            return false;
        const int begin = tile.tmem * 8;
        return blockDxtFits(c, h, tile, static_cast<int>((w.w1 >> 24) & 7), begin, begin + tile.line * 8, true);
    }
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (hit || tile.setAt < 0 || tile.line == 0)
            return;
        const auto [begin, end] = tileBytes(tile);
        hit = blockDxtFits(c, h, tile, t, begin, end, false);
    });
    return hit;
}

bool tileMask(Ctx& c, Hit& h)
{
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (hit || tile.setAt < 0 || !tile.hasExtents())
            return;
        struct Axis {
            char name;
            int cm, mask, size;
        };
        const Axis axes[2] = {{'S', tile.cms, tile.masks, tile.width()}, {'T', tile.cmt, tile.maskt, tile.height()}};
        for (const Axis& a : axes) {
            if (a.mask == 0)
                continue;
            const std::string what = tileName(t) + " mask " + a.name + " = " + std::to_string(a.mask);
            if (!(a.cm & 2) && (1 << std::min(a.mask, 10)) > a.size) {
                h.severity = Severity::Warning;
                h.detail = what + " wraps at " + std::to_string(1 << std::min(a.mask, 10)) + " texels, but "
                    + std::to_string(a.size) + " are loaded";
                hit = true;
            } else if (!(a.cm & 2) && !powerOfTwo(a.size)) {
                h.severity = Severity::Warning;
                h.detail = what + " on a size of " + std::to_string(a.size) + " texels, not a power of two";
                hit = true;
            } else if (a.mask > 10 && !hit) {
                h.severity = Severity::Note;
                h.detail = what + " acts as 10";
                hit = true;
            }
            if (hit && h.severity == Severity::Warning)
                return;
        }
    });
    return hit;
}

bool tlutMode(Ctx& c, Hit& h)
{
    const int lut = c.s.textureLut();
    bool anyCi = false, anyOther = false, ci4 = false, ci8 = false;
    int ciTile = -1, otherTile = -1;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (tile.setAt < 0)
            return;
        if (tile.fmt == 2) {
            anyCi = true;
            ciTile = t;
            (tile.siz == 0 ? ci4 : ci8) = true;
        } else {
            anyOther = true;
            otherTile = t;
        }
    });
    if (lut == 0 && anyCi)
        h.detail = tileName(ciTile) + " is colour-indexed but the TLUT mode is G_TT_NONE";
    else if (lut > 0 && anyOther)
        h.detail = tileName(otherTile) + " is not colour-indexed but a TLUT mode is on";
    else if (c.d().cycle == 1 && ((anyCi && anyOther) || (ci4 && ci8)))
        h.detail = "the two tiles of this 2-cycle draw mix palette types";
    else
        return false;
    return true;
}

bool tlutUnloaded(Ctx& c, Hit& h)
{
    if (!c.s.frame || c.s.textureLut() <= 0)
        return false;
    bool hit = false;
    forTiles(c.d().sampled, [&](int t) {
        const TileState& tile = c.s.tiles[static_cast<std::size_t>(t)];
        if (hit || tile.setAt < 0 || tile.fmt != 2)
            return;
        const int begin = tile.siz == 0 ? 0x800 + tile.palette * 0x80 : 0x800;
        const int end = tile.siz == 0 ? begin + 0x80 : 0x1000;
        if (!c.s.tmemWrittenRange(begin, end)) {
            h.detail = tileName(t) + " palette at TMEM " + hex(static_cast<std::uint32_t>(begin));
            hit = true;
        }
    });
    return hit;
}

bool loadTlutArgs(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    const Words w = c.st.words;
    const int uls = static_cast<int>((w.w0 >> 12) & 0xFFF), lrs = static_cast<int>((w.w1 >> 12) & 0xFFF);
    const int count = (lrs >> 2) - (uls >> 2) + 1;
    const TileState& tile = s.tiles[(w.w1 >> 24) & 7];
    if (s.textureImage.at >= 0 && !(s.textureImage.fmt == 0 && s.textureImage.siz == 2))
        h.detail = std::string("the texture image is ") + fmtName(s.textureImage.fmt) + " "
            + std::to_string(bitsPerTexel(s.textureImage.siz)) + "-bit";
    else if (tile.setAt >= 0 && tile.tmem * 8 < 0x800)
        h.detail = "the load tile points at TMEM " + hex(tile.tmem * 8u);
    else if (lrs < uls)
        h.detail = "the last entry comes before the first";
    else if (count > 256)
        h.detail = std::to_string(count) + " entries";
    else
        return false;
    return true;
}

bool loadLockup(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    const ImageState& img = s.textureImage;
    if (img.at < 0)
        return false;
    const CommandKind k = c.st.kind;
    if ((k == CommandKind::LoadTile || k == CommandKind::LoadTlut) && img.siz == 0) {
        h.detail = "the texture image is 4-bit";
        return true;
    }
    const auto phys = physicalAddress(s, img.address);
    if (!phys || img.siz == 0)
        return false;
    const unsigned misalign = *phys % 16;
    if (misalign < 1 || misalign > 7)
        return false;
    const Words w = c.st.words;
    const int uls = static_cast<int>((w.w0 >> 12) & 0xFFF), lrs = static_cast<int>((w.w1 >> 12) & 0xFFF);
    int rowBytes = 0;
    if (k == CommandKind::LoadTile)
        rowBytes = (((lrs >> 2) - (uls >> 2) + 1) << img.siz) >> 1;
    else if (k == CommandKind::LoadBlock)
        rowBytes = ((lrs - uls + 1) << img.siz) >> 1;
    else
        rowBytes = ((lrs >> 2) - (uls >> 2) + 1) * 2;
    if (rowBytes < 58)
        return false;
    h.detail = "texture address " + hex(img.address) + " is " + std::to_string(misalign) + " bytes past a 16-byte boundary";
    return true;
}

bool texPerspRect(Ctx& c, Hit&) { return c.d().oneOrTwo && c.s.texturePersp() == 1; }

bool texPerspTri(Ctx& c, Hit&)
{
    return c.s.texture.at >= 0 && c.s.texture.on && c.d().oneOrTwo && c.s.texturePersp() == 0;
}

bool texLod(Ctx& c, Hit& h)
{
    const DrawInfo& d = c.d();
    const RenderState& s = c.s;
    const bool textured = c.isTexRect() || (c.isTri() && s.texture.at >= 0 && s.texture.on);
    if (!textured || !d.oneOrTwo)
        return false;
    const int lod = s.textureLod(), detail = s.textureDetail();
    if (d.cycle == 0 && lod == 1)
        h.detail = "G_TL_LOD in 1-cycle mode";
    else if ((detail == 1 || detail == 2) && lod == 0)
        h.detail = detail == 1 ? "G_TD_SHARPEN without G_TL_LOD" : "G_TD_DETAIL without G_TL_LOD";
    else if (c.isTri() && s.texture.level > 0 && lod == 0) {
        h.severity = Severity::Warning;
        h.detail = "gSPTexture asks for " + std::to_string(s.texture.level + 1) + " levels, but G_TL_TILE is set";
    } else
        return false;
    return true;
}

// --- Images, scissor -------------------------------------------------------------------

bool imageAlign(Ctx& c, Hit& h)
{
    const auto phys = physicalAddress(c.s, c.st.words.w1);
    if (!phys)
        return false;
    const unsigned align = c.st.kind == CommandKind::SetTextureImage ? 8 : 64;
    if (*phys % align == 0)
        return false;
    h.detail = "address " + hex(c.st.words.w1) + " is not a multiple of " + std::to_string(align);
    return true;
}

bool scissorUnset(Ctx& c, Hit&) { return c.s.frame && c.s.scissor.at == kNotSet; }

bool scissorBounds(Ctx& c, Hit& h)
{
    const auto& sc = c.s.scissor;
    if (sc.at < 0)
        return false;
    h.related = sc.at;
    if (sc.ulx >= sc.lrx || sc.uly >= sc.lry) {
        h.detail = "the scissor set at " + c.e.at(sc.at) + " is empty";
        return true;
    }
    if (c.s.colorImage.at >= 0 && sc.lrx > c.s.colorImage.width * 4) {
        h.detail = "scissor right edge " + std::to_string(sc.lrx / 4) + ", image width "
            + std::to_string(c.s.colorImage.width);
        return true;
    }
    return false;
}

bool cimgUnset(Ctx& c, Hit&) { return c.s.frame && c.s.colorImage.at == kNotSet; }

bool cimgFormat(Ctx& c, Hit& h)
{
    const int fmt = static_cast<int>((c.st.words.w0 >> 21) & 7), siz = static_cast<int>((c.st.words.w0 >> 19) & 3);
    const std::string what = std::string(fmtName(fmt)) + " " + std::to_string(bitsPerTexel(siz)) + "-bit";
    if (siz == 0) {
        h.detail = what;
        return true;
    }
    h.severity = Severity::Warning;
    if (siz == 1 && fmt != 4 && fmt != 2) {
        h.detail = what + " is drawn as I 8-bit";
        return true;
    }
    if (siz >= 2 && fmt != 0) {
        h.detail = what + " is drawn as RGBA";
        return true;
    }
    return false;
}

// --- Vertices and triangles -------------------------------------------------------------

bool vtxRange(Ctx& c, Hit& h)
{
    int v0 = 0, n = 0;
    const int buffer = c.e.vertexBuffer;
    if (!vertexLoad(c.t.ucode, c.st.words, v0, n))
        h.detail = "the stored fields give no valid first slot";
    else if (n == 0)
        h.detail = "it loads no vertices";
    else if (n > c.e.vertexLoadMax)
        h.detail = std::to_string(n) + " vertices; one load takes at most " + std::to_string(c.e.vertexLoadMax);
    else if (v0 + n > buffer)
        h.detail = "slots " + std::to_string(v0) + "-" + std::to_string(v0 + n - 1) + ", the buffer holds "
            + std::to_string(buffer);
    else
        return false;
    return true;
}

bool triIndex(Ctx& c, Hit& h)
{
    if (c.malformed) {
        h.detail = c.t.ucode == Ucode::F3D ? "a stored index is not a multiple of 10" : "a stored index is odd";
        return true;
    }
    for (int i : c.indices())
        if (i >= c.e.vertexBuffer) {
            h.detail = "index " + std::to_string(i) + ", the buffer holds " + std::to_string(c.e.vertexBuffer);
            return true;
        }
    return false;
}

bool triIndexUnloaded(Ctx& c, Hit& h)
{
    for (int i : c.indices())
        if (i < c.e.vertexBuffer && c.s.vertexAt[static_cast<std::size_t>(i)] == kNotSet) {
            h.detail = "slot " + std::to_string(i);
            return true;
        }
    return false;
}

// The names of geometry flags, from the microcode's own table.
std::string geometryNames(const UcodeTraits& t, std::uint32_t bits)
{
    std::string out;
    for (const NamedValue& v : constTable(ConstTable::GeometryMode, t.ucode)) {
        const auto bit = static_cast<std::uint32_t>(v.value);
        if (bit && (bit & (bit - 1)) == 0 && (bits & bit)) {
            out += (out.empty() ? "" : ", ") + std::string(v.name);
            bits &= ~bit;
        }
    }
    return out.empty() ? "flags " + hex(bits) : out;
}

bool geomVtxTime(Ctx& c, Hit& h)
{
    const std::uint32_t flags = c.t.vertexTimeFlags;
    const RenderState& s = c.s;
    const std::uint32_t knownNow = s.geometryKnown & flags;
    if (!knownNow)
        return false;
    const std::uint32_t now = s.geometry & flags;
    for (int i : c.indices()) {
        if (i >= c.e.vertexBuffer)
            continue;
        const auto slot = static_cast<std::size_t>(i);
        const std::uint32_t changed = (s.vertexGeometry[slot] ^ now) & s.vertexGeometryKnown[slot] & knownNow;
        if (s.vertexAt[slot] < 0 || !changed)
            continue;
        h.related = s.vertexAt[slot];
        h.detail = geometryNames(c.t, changed) + " changed after the vertex load at " + c.e.at(s.vertexAt[slot]);
        return true;
    }
    return false;
}

bool geomCullBoth(Ctx& c, Hit&) { return c.s.geometryOn(c.t.cullFront) && c.s.geometryOn(c.t.cullBack); }

bool mtxStack(Ctx& c, Hit& h)
{
    const RenderState& s = c.s;
    if (c.st.kind == CommandKind::Matrix) {
        const MatrixParams p = matrixParams(c.t.ucode, c.st.words);
        if (p.projection && p.push) {
            h.severity = Severity::Warning;
            h.detail = "G_MTX_PUSH on the projection matrix";
            return true;
        }
        if (!p.projection && p.push && s.matrixDepth + 1 > c.t.matrixStackLimit) {
            h.detail = std::to_string(s.matrixDepth + 1) + " modelview matrices pushed, the stack holds "
                + std::to_string(c.t.matrixStackLimit);
            return true;
        }
        return false;
    }
    const int n = popMatrixCount(c.t.ucode, c.st.words);
    if (!s.frame || n <= 0 || s.matrixDepth - n >= 0)
        return false;
    h.severity = Severity::Warning;
    h.detail = "pops " + std::to_string(n) + " with " + std::to_string(s.matrixDepth) + " pushed";
    return true;
}

// --- Microcode rules --------------------------------------------------------------------

bool ucodeGeomValues(Ctx& c, Hit& h)
{
    const UcodeTraits& own = c.t;
    const UcodeTraits& f3d = ucodeTraits(Ucode::F3D);
    const UcodeTraits& f3dex2 = ucodeTraits(Ucode::F3DEX2);
    const std::uint32_t defined = own.geometryNamed;
    const std::uint32_t set = c.st.words.w1;
    std::uint32_t foreign = 0;
    if (own.shadingSmooth == f3dex2.shadingSmooth) {
        foreign = set & (f3d.cullFront | f3d.cullBack) & ~defined;
        // 0x200 is cull-front here but smooth shading in F3D: suspicious
        // next to G_SHADE without this microcode's smooth bit.
        if ((set & f3d.shadingSmooth) && (set & own.shade) && !(set & own.shadingSmooth))
            foreign |= f3d.shadingSmooth;
    } else {
        foreign = set & (f3dex2.shadingSmooth | f3dex2.cullBack) & ~defined;
    }
    if (!foreign)
        return false;
    h.detail = "bits " + hex(foreign);
    return true;
}

bool ucodeTexEnableBit(Ctx& c, Hit& h)
{
    if (!c.s.geometryOn(0x2) || c.s.texture.at < 0 || c.s.texture.on)
        return false;
    h.related = c.s.texture.at;
    return true;
}

// Shade alpha has one owner: fog over Fresnel over light-to-alpha.
bool ucodeF3dex3Alpha(Ctx& c, Hit& h)
{
    const UcodeTraits& t = c.t;
    const RenderState& s = c.s;
    if (!t.lightToAlpha || !t.fresnelAlpha || !s.geometryOn(t.lighting))
        return false;
    const bool fog = s.geometryOn(t.fog), fresnel = s.geometryOn(t.fresnelAlpha), toAlpha = s.geometryOn(t.lightToAlpha);
    if (fog && (fresnel || toAlpha))
        h.detail = fresnel ? "G_FOG with G_FRESNEL_ALPHA" : "G_FOG with G_LIGHTTOALPHA";
    else if (fresnel && toAlpha)
        h.detail = "G_FRESNEL_ALPHA with G_LIGHTTOALPHA";
    else
        return false;
    h.related = s.geometryAt;
    return true;
}

bool ucodeNoop(Ctx& c, Hit& h)
{
    if (c.st.kind == CommandKind::Line3D) {
        h.detail = "G_LINE3D";
        return true;
    }
    const std::uint32_t bits = c.st.words.w1 & (c.t.clipping | c.t.lod);
    if (!bits)
        return false;
    h.detail = (bits & c.t.clipping) ? "G_CLIPPING" : "G_LOD";
    return true;
}

bool lightsCount(Ctx& c, Hit& h)
{
    const int n = lightCount(c.t.ucode, c.st.words);
    if (n < 0)
        return false;
    if (n == 0) {
        h.severity = Severity::Warning;
        h.detail = "0 lights act as 1";
        return true;
    }
    if (n > c.t.maxLights) {
        h.detail = std::to_string(n) + " lights, at most " + std::to_string(c.t.maxLights);
        return true;
    }
    return false;
}

// --- The table ----------------------------------------------------------------------------

constexpr KindMask K(CommandKind k) { return kindBit(k); }
constexpr KindMask kTexRects = K(CommandKind::TexRect) | K(CommandKind::TexRectFlip);
constexpr KindMask kTileCommands = K(CommandKind::SetTile) | K(CommandKind::SetTileSize) | kLoadKinds;
constexpr KindMask kLines = kTriangleKinds | K(CommandKind::Line3D);
constexpr KindMask kSetGeometry = K(CommandKind::SetGeometry) | K(CommandKind::Geometry);

constexpr Severity E = Severity::Error, W = Severity::Warning, N = Severity::Note;

const RuleDef kRules[] = {
    {{"sync-pipe", E, kAllUcodeBits, false,
      "This changes RDP state while the previous primitive may still be drawing; put gsDPPipeSync() before it."},
     kAttributeKinds, false, syncPipe, kGatePipeBusy},
    {{"sync-pipe-after-load", N, kAllUcodeBits, false,
      "Nintendo's debug disassembler asks for a pipe sync after a block load; F3DEX3's notes say loads do not need one."},
     kAttributeKinds, false, syncPipeAfterLoad, kGateLoadPending},
    {{"sync-tile", E, kAllUcodeBits, false,
      "Tile t is reprogrammed while an earlier primitive or load may still use it; add gsDPTileSync() (or a pipe sync)."},
     kTileCommands, false, syncTile, kGateTileBusy},
    {{"sync-load", E, kAllUcodeBits, false,
      "TMEM is overwritten while an earlier primitive may still read it; add gsDPLoadSync() before the load."},
     kLoadKinds, false, syncLoad},
    {{"sync-full", E, kAllUcodeBits, true,
      "A frame must finish with gsDPFullSync() as its last RDP command, otherwise the CPU is never told the RDP is done."},
     kRdpKinds | K(CommandKind::EndDL), false, syncFull, kGateFrameSync},
    {{"sync-full-pipe", N, kAllUcodeBits, false,
      "The debug disassembler wants a pipe sync before the full sync; the SDK's own example omits it."},
     K(CommandKind::FullSync), false, syncFullPipe},
    {{"sync-redundant", N, kAllUcodeBits, false,
      "This sync waits for nothing; each sync stalls the RDP, so it can go."},
     K(CommandKind::LoadSync) | K(CommandKind::TileSync) | K(CommandKind::PipeSync), false, syncRedundant},
    {{"cc-unset", E, kAllUcodeBits, true, "The colour combiner was never set before this draw."}, kDrawKinds, true,
     ccUnset},
    {{"cc-1cyc-mismatch", W, kAllUcodeBits, false,
      "In 1-cycle mode only the second combiner cycle is used; give both cycles the same mode."},
     kDrawKinds, true, cc1CycMismatch},
    {{"cc-1cyc-combined", E, kAllUcodeBits, false,
      "1-cycle mode has no earlier cycle: COMBINED here is whatever the previous pixel produced."},
     kDrawKinds, true, cc1CycCombined},
    {{"cc-1cyc-texel1", E, kAllUcodeBits, false,
      "In 1-cycle mode TEXEL1 is the next pixel's texel, not a second texture."},
     kDrawKinds, true, cc1CycTexel1},
    {{"cc-2cyc-combined-first", E, kAllUcodeBits, false,
      "The first cycle has no COMBINED input yet; it sees the previous pixel's result."},
     kDrawKinds, true, cc2CycCombinedFirst},
    {{"cc-2cyc-texel1-second", W, kAllUcodeBits, false,
      "In the second cycle TEXEL1 is the first texture of the next pixel (one-pixel shift); TEXEL0 there means the "
      "second texture."},
     kDrawKinds, true, cc2CycTexel1Second},
    {{"cc-2cyc-texel0-second", N, kAllUcodeBits, false,
      "In the second cycle TEXEL0 is the texel of tile t+1, not of tile t."},
     kDrawKinds, true, cc2CycTexel0Second},
    {{"cc-2cyc-alpha-compare", W, kAllUcodeBits, false,
      "In 2-cycle mode alpha compare tests the first-cycle alpha of the next pixel."},
     kDrawKinds, true, cc2CycAlphaCompare},
    {{"cc-mul-combined", W, kAllUcodeBits, false,
      "A first-cycle result above 1.0 wraps when used as a multiplier in the second cycle."},
     kDrawKinds, true, ccMulCombined},
    {{"cc-texel-no-texture", E, kAllUcodeBits, false,
      "The combiner reads a texture but this primitive has none; the value is undefined."},
     kTriangleKinds | K(CommandKind::FillRect), true, ccTexelNoTexture},
    {{"cc-shade-no-shade", E, kAllUcodeBits, false,
      "This primitive has no shade colour, yet the combiner or blender uses it."},
     kDrawKinds, true, ccShadeNoShade},
    {{"cc-texture-unused", N, kAllUcodeBits, false,
      "Texturing is on but the combiner ignores the texture; turn it off to save RSP/RDP work."},
     kTriangleKinds, true, ccTextureUnused},
    {{"cc-shade-unused", N, kAllUcodeBits, false, "Shading/lighting is computed but not used."}, kTriangleKinds, true,
     ccShadeUnused},
    {{"cc-lodfrac-rect", W, kAllUcodeBits, false,
      "Rectangles do not compute a real LOD; mipmapping is ignored and LOD_FRACTION is 0 or 1."},
     kTexRects, false, ccLodFracRect},
    {{"rm-2cyc-first-mem", E, kAllUcodeBits, false,
      "The first blender cycle reads the framebuffer of the previous pixel; put memory blending in the second cycle."},
     kDrawKinds, true, rm2CycFirstMem},
    {{"rm-2cyc-first-b", E, kAllUcodeBits, false,
      "The first blender cycle only works with B = 1-A (or the pass-through form)."},
     kDrawKinds, true, rm2CycFirstB},
    {{"rm-2cyc-second-shade", W, kAllUcodeBits, false,
      "The second blender cycle sees the next pixel's shade alpha; fog belongs in the first cycle."},
     kDrawKinds, true, rm2CycSecondShade},
    {{"rm-pair", W, kAllUcodeBits, false,
      "Render-mode halves do not pair up: exactly one half should be a full preset (G_RM_PASS/FOG/NOOP carry no "
      "flags)."},
     kDrawKinds, true, rmPair},
    {{"rm-1cyc-second-half", N, kAllUcodeBits, false,
      "In 1-cycle mode only the first blender set is used; the second half is ignored."},
     kDrawKinds, true, rm1CycSecondHalf},
    {{"rm-formula-ignored", W, kAllUcodeBits, false,
      "The blend formula is set but blending is not enabled (FORCE_BL/AA_EN), so it is never applied."},
     kDrawKinds, true, rmFormulaIgnored},
    {{"rm-fog", W, kAllUcodeBits, false,
      "Fog uses shade alpha: turn G_FOG on for fog, keep shade alpha out of the combiner, and use 2-cycle if fog must "
      "be combined with blending."},
     kTriangleKinds, true, rmFog},
    {{"z-no-image", E, kAllUcodeBits, true, "Depth testing/writing is on but no depth image was set."}, kDrawKinds,
     true, zNoImage},
    {{"z-no-geom", E, kAllUcodeBits, false,
      "The render mode uses depth but G_ZBUFFER is off, so the triangle carries no depth."},
     kTriangleKinds, true, zNoGeom},
    {{"z-unused", N, kAllUcodeBits, false,
      "Depth is computed for nothing; clear G_ZBUFFER or enable a depth render mode."},
     kTriangleKinds, true, zUnused},
    {{"z-rect", E, kAllUcodeBits, false,
      "Rectangles carry no per-pixel depth; use G_ZS_PRIM with gDPSetPrimDepth or a non-depth render mode."},
     kRectKinds, false, zRect},
    {{"z-prim-no-depth", E, kAllUcodeBits, false, "Primitive depth is selected but never set."}, kDrawKinds, true,
     zPrimNoDepth},
    {{"mode-tri-copyfill", E, kAllUcodeBits, false,
      "Copy and fill modes draw only rectangles (texture rectangles in copy, fill rectangles in fill)."},
     kTriangleKinds | K(CommandKind::TexRectFlip), true, modeTriCopyFill},
    {{"fill-lockup", E, kAllUcodeBits, false,
      "Fill mode with depth or framebuffer reads enabled can hang the RDP; use G_RM_NOOP/G_RM_OPA_SURF."},
     K(CommandKind::FillRect), false, fillLockup},
    {{"fill-color-16", W, kAllUcodeBits, false,
      "The fill colour covers two 16-bit pixels; pack the same colour twice or you get vertical stripes."},
     K(CommandKind::FillRect), false, fillColor16},
    {{"rect-edge", W, kAllUcodeBits, false,
      "Fill/copy rectangles include their right and bottom edges; 1/2-cycle rectangles exclude them."},
     K(CommandKind::FillRect) | K(CommandKind::TexRect), false, rectEdge},
    {{"fill-in-copy", E, kAllUcodeBits, false, "Fill rectangles in copy mode give unpredictable results."},
     K(CommandKind::FillRect), false, fillInCopy},
    {{"fill-color-ignored", N, kAllUcodeBits, false,
      "Outside fill mode the rectangle colour comes from the combiner (usually PRIMITIVE), not the fill colour."},
     K(CommandKind::FillRect), false, fillColorIgnored},
    {{"copy-dsdx", E, kAllUcodeBits, false,
      "Copy mode moves four texels per clock; dsdx must be 4<<10, scaling needs 1-cycle mode."},
     K(CommandKind::TexRect), false, copyDsdx},
    {{"copy-z-persp", E, kAllUcodeBits, false, "Copy mode supports neither depth nor perspective correction."},
     kDrawKinds, true, copyZPersp},
    {{"copy-format", E, kAllUcodeBits, false,
      "Copy mode cannot copy 32-bit or YUV texels (load them as 16-bit) and does not work on 32-bit framebuffers."},
     K(CommandKind::TexRect), false, copyFormat},
    {{"copyfill-scissor", W, kAllUcodeBits, false,
      "libdragon reports these scissor origins as unsafe in copy/fill mode."},
     kDrawKinds, true, copyFillScissor},
    {{"tex-tile-unset", E, kAllUcodeBits, true, "The texture tile used here was never configured."}, kDrawKinds, true,
     texTileUnset},
    {{"tex-size-from-load", W, kAllUcodeBits, false,
      "After a block or TLUT load the tile's size holds load parameters; set it with gDPSetTileSize before drawing."},
     kDrawKinds, true, texSizeFromLoad},
    {{"tex-tmem-unloaded", W, kAllUcodeBits, true,
      "The tile points at TMEM that no load filled; it shows stale data."},
     kDrawKinds, true, texTmemUnloaded},
    {{"tex-format-mismatch", W, kAllUcodeBits, false,
      "The tile reads the loaded texels as a different format than they were loaded with."},
     kDrawKinds, true, texFormatMismatch},
    {{"tmem-overflow", E, kAllUcodeBits, false,
      "The texture does not fit TMEM (4 KB; only the lower 2 KB for CI textures, whose palettes live in the upper "
      "half)."},
     kDrawKinds | kLoadKinds, true, tmemOverflow},
    {{"loadblock-count", E, kAllUcodeBits, false,
      "A block load moves at most 2048 texels; split it or load as 16-bit."},
     K(CommandKind::LoadBlock), false, loadBlockCount},
    {{"loadblock-dxt", W, kAllUcodeBits, false,
      "dxt does not match the row width, so odd rows land interleaved wrongly (dxt 0 is only for pre-swapped data)."},
     kDrawKinds | K(CommandKind::SetTile), true, loadBlockDxt},
    {{"tile-mask", W, kAllUcodeBits, false,
      "Wrapping reaches texels that were never loaded; clamp, or set the mask to the real power-of-two size."},
     kDrawKinds, true, tileMask},
    {{"tlut-mode", E, kAllUcodeBits, false, "Colour-index tiles need TLUT mode on, and other tiles need it off."},
     kDrawKinds, true, tlutMode},
    {{"tlut-unloaded", E, kAllUcodeBits, true, "The palette for this colour-index texture was never loaded."},
     kDrawKinds, true, tlutUnloaded},
    {{"loadtlut-args", E, kAllUcodeBits, false, "Palettes must be RGBA16 data loaded into the upper half of TMEM."},
     K(CommandKind::LoadTlut), false, loadTlutArgs},
    {{"load-lockup", E, kAllUcodeBits, false,
      "This load pattern can hang the RDP; load 4-bit images as 8/16-bit and keep texture rows 16-byte aligned."},
     kLoadKinds, false, loadLockup},
    {{"tex-persp-rect", E, kAllUcodeBits, false,
      "Texture rectangles need perspective correction off (gDPSetTexturePersp(G_TP_NONE))."},
     kTexRects, false, texPerspRect},
    {{"tex-persp-tri", W, kAllUcodeBits, false, "3D textured triangles normally need G_TP_PERSP."}, kTriangleKinds,
     true, texPerspTri},
    {{"tex-lod", E, kAllUcodeBits, false,
      "Mipmapping needs 2-cycle mode and G_TL_LOD; sharpen/detail need LOD too."},
     kTriangleKinds | kTexRects, true, texLod},
    {{"image-align", E, kAllUcodeBits, false,
      "Image addresses must be aligned: 8 bytes for textures, 64 bytes for colour/depth images."},
     K(CommandKind::SetTextureImage) | K(CommandKind::SetColorImage) | K(CommandKind::SetDepthImage), false,
     imageAlign},
    {{"scissor-unset", E, kAllUcodeBits, true,
      "No scissor was set before drawing; the clip rectangle is undefined."},
     kDrawKinds, true, scissorUnset},
    {{"scissor-bounds", W, kAllUcodeBits, false, "The scissor rectangle is empty or wider than the colour image."},
     kDrawKinds, true, scissorBounds},
    {{"cimg-unset", E, kAllUcodeBits, true, "Nothing tells the RDP where to draw."}, kDrawKinds, true, cimgUnset},
    {{"cimg-format", E, kAllUcodeBits, false, "Only RGBA16, RGBA32 and 8-bit images can be render targets."},
     K(CommandKind::SetColorImage), false, cimgFormat},
    {{"vtx-range", E, kAllUcodeBits, false, "This vertex load does not fit the microcode's vertex buffer."},
     K(CommandKind::Vertex), false, vtxRange},
    {{"tri-index", E, kAllUcodeBits, false, "Vertex index outside the vertex buffer."}, kLines, false, triIndex,
     kGateIndexBad},
    {{"tri-index-unloaded", W, kAllUcodeBits, false,
      "This vertex slot was not loaded here (fine only if a caller loaded it)."},
     kLines, false, triIndexUnloaded, kGateIndexUnloaded},
    {{"geom-vtx-time", W, kAllUcodeBits, false,
      "Vertices are lit/fogged when loaded; changing this flag afterwards does not affect them."},
     kTriangleKinds, false, geomVtxTime, kGateVertexTime},
    {{"geom-cull-both", W, kAllUcodeBits, false, "Front and back culling together draw nothing."}, kTriangleKinds,
     true, geomCullBoth},
    {{"mtx-stack", E, kAllUcodeBits, false, "The matrix stack over- or underflows."},
     K(CommandKind::Matrix) | K(CommandKind::PopMatrix), false, mtxStack},
    {{"dl-depth", E, kAllUcodeBits, false, "Display lists are nested deeper than the microcode's return stack."}, 0,
     false, nullptr},
    {{"dl-no-end", E, kAllUcodeBits, false,
      "This display list never ends; the RSP would run into whatever follows it."},
     0, false, nullptr},
    {{"ucode-geom-values", W, kAllUcodeBits, false,
      "These look like geometry bits from the other GBI family (F3D smooth = F3DEX2 cull-front)."},
     kSetGeometry, false, ucodeGeomValues},
    {{"ucode-texenable-bit", E, kF3dex2OnBits, false,
      "This bit with texturing off crashes the microcode; G_TEXTURE_ENABLE is 0 in this GBI."},
     kTriangleKinds, true, ucodeTexEnableBit},
    {{"ucode-f3dex3-alpha", W, kF3dex2OnBits, false,
      "Only one feature can own shade alpha; fog wins over Fresnel and light-to-alpha, Fresnel over light-to-alpha."},
     K(CommandKind::Vertex), false, ucodeF3dex3Alpha},
    {{"ucode-noop", N, kF3dex2OnBits, false, "This command or flag does nothing on the selected microcode."},
     K(CommandKind::Line3D) | K(CommandKind::Geometry), false, ucodeNoop},
    {{"lights-count", E, kAllUcodeBits, false, "Light count outside what this microcode supports."},
     K(CommandKind::MoveWord), false, lightsCount},
    // Rules of the walk itself.
    {{"dl-target", N, kAllUcodeBits, false,
      "The walk cannot follow this call or branch: its target is not in the input, so what the callee does is "
      "unknown from here on."},
     0, false, nullptr},
    {{"walk-limit", N, kAllUcodeBits, false,
      "The walk stopped after executing its limit of commands; the rest of the list was not checked."},
     0, false, nullptr},
};

constexpr std::size_t kRuleCount = std::size(kRules);

const std::array<RuleInfo, kRuleCount>& ruleInfos()
{
    static const std::array<RuleInfo, kRuleCount> infos = [] {
        std::array<RuleInfo, kRuleCount> a{};
        for (std::size_t i = 0; i < kRuleCount; ++i)
            a[i] = kRules[i].info;
        return a;
    }();
    return infos;
}

std::size_t ruleIndex(std::string_view id)
{
    for (std::size_t i = 0; i < kRuleCount; ++i)
        if (kRules[i].info.id == id)
            return i;
    return kRuleCount;
}

// --- The engine ---------------------------------------------------------------------------

Engine::Engine(Ucode u, std::span<const Words> entries, const CheckOptions& options)
    : ucode(u), traits(ucodeTraits(u)), entries_(entries), options_(options), base_(options.walk.baseAddress),
      indexLayout_(vertexIndexLayout(u))
{
    tileReported.fill(~0ull);
    const VertexIndexLayout& l = indexLayout_;
    auto bytes = [](const VertexIndexLayout::Field* f, std::uint8_t word) {
        return f[0].word == word && f[0].lo == 16 && f[1].word == word && f[1].lo == 8 && f[2].word == word
            && f[2].lo == 0;
    };
    pairedIndices_ = l.scale == 2 && bytes(l.tri2, 0) && bytes(l.tri2 + 3, 1);
    if (l.scale == 2 && (bytes(l.tri1, 0) || bytes(l.tri1, 1)))
        singleIndices_ = l.tri1[0].word;
    vertexBuffer = std::clamp(options.walk.vertexBuffer > 0 ? options.walk.vertexBuffer : traits.vertexBuffer, 1,
                              kMaxVertexSlots);
    vertexLoadMax = std::min(traits.vertexLoadMax, vertexBuffer);
    bufferMask_ = vertexBuffer >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << vertexBuffer) - 1;
    enabled_.assign(kRuleCount, true);
    for (const std::string& id : options.disabled) {
        const std::size_t i = ruleIndex(id);
        if (i == kRuleCount)
            report_.unknownRules.push_back(id);
        else
            enabled_[i] = false;
    }
    for (std::size_t r = 0; r < kRuleCount; ++r) {
        const RuleDef& def = kRules[r];
        if (!enabled_[r] || !(def.info.ucodes & ucodeBit(u)) || !def.check)
            continue;
        triggered_ |= def.triggers;
        for (std::size_t k = 0; k < static_cast<std::size_t>(CommandKind::Count); ++k)
            if (def.triggers & (KindMask{1} << k))
                (def.perMode ? perMode_ : def.gate ? gated_ : perCommand_)[k].push_back(static_cast<std::uint16_t>(r));
    }
}

const DrawInfo& Engine::drawInfo(const Ctx& c)
{
    const RenderState& s = c.s;
    const bool tri = c.isTri();
    if (tri && triDrawEpoch_ == s.modeEpoch)
        return triDraw_;
    DrawInfo& d = tri ? triDraw_ : rectDraw_;
    if (tri)
        triDrawEpoch_ = s.modeEpoch;
    d = DrawInfo{};
    d.cycle = s.cycleType();
    d.oneOrTwo = d.cycle == 0 || d.cycle == 1;
    d.ccKnown = s.combineAt >= 0;
    if (d.ccKnown) {
        d.cc = decodeCombiner(s.combine);
        if (d.cycle == 0) {
            d.reads = d.cc.cycle[1].reads;
            d.rgbReads = d.cc.cycle[1].rgbReads;
        } else if (d.cycle == 1) {
            d.reads = d.cc.cycle[0].reads | d.cc.cycle[1].reads;
            d.rgbReads = d.cc.cycle[0].rgbReads | d.cc.cycle[1].rgbReads;
        }
    }
    d.L = s.otherL;
    d.blenderKnown = (s.knownL & kBlenderBits) == kBlenderBits;
    d.rmKnown = d.blenderKnown && (s.knownL & kFlagBits) == kFlagBits;
    d.sets = d.cycle == 0 ? 1 : d.cycle == 1 ? 2 : 0;
    d.bl[0] = blenderCycle(d.L, 0);
    d.bl[1] = blenderCycle(d.L, 1);
    d.blenderShadeA = d.blenderKnown && ((d.sets >= 1 && d.bl[0].a == 2) || (d.sets == 2 && d.bl[1].a == 2));
    d.rectTile = c.isTexRect() ? static_cast<int>((c.st.words.w1 >> 24) & 7) : 0;
    d.sampled = sampledTiles(s, c.st.kind, d.rectTile);
    return d;
}

unsigned Engine::gatesOf(Ctx& c) const
{
    const RenderState& s = c.s;
    unsigned gates = 0;
    if (kindBit(c.st.kind) & kIndexKinds) {
        const Words w = c.st.words;
        const CommandKind k = c.st.kind;
        // The common layouts (byte fields at bits 16, 8 and 0, the index
        // doubled) are checked straight from the words: which slots the
        // command uses, as a mask.
        std::uint32_t a = 0, b = 0;
        bool fast = false;
        if (pairedIndices_ && (k == CommandKind::Tri2 || k == CommandKind::Quad)) {
            a = w.w0, b = w.w1, fast = true;
        } else if (singleIndices_ >= 0 && k == CommandKind::Tri1) {
            a = b = singleIndices_ ? w.w1 : w.w0;
            fast = true;
        }
        if (fast && !((a | b) & 0x00818181u)) { // no odd byte, no index of 64 or more
            auto slot = [](std::uint32_t word, int lo) { return std::uint64_t{1} << ((word >> (lo + 1)) & 0x3F); };
            const std::uint64_t used = slot(a, 16) | slot(a, 8) | slot(a, 0) | slot(b, 16) | slot(b, 8) | slot(b, 0);
            if (used & ~bufferMask_)
                gates |= kGateIndexBad;
            if (used & s.vertexUnset)
                gates |= kGateIndexUnloaded;
            if (used & s.vertexStale)
                gates |= kGateVertexTime;
            if (gates) // a rule will look at the indices
                c.count = indexLayout_.decode(w, k, c.idx, c.malformed);
        } else {
            c.count = indexLayout_.decode(w, k, c.idx, c.malformed);
            if (c.malformed)
                gates |= kGateIndexBad;
            std::uint64_t used = 0;
            for (int i = 0; i < c.count; ++i) {
                const int v = c.idx[static_cast<std::size_t>(i)];
                if (v >= vertexBuffer)
                    gates |= kGateIndexBad;
                if (v >= 64) // beyond the masks: let the rules look the slot up
                    gates |= kGateIndexUnloaded | kGateVertexTime;
                else
                    used |= std::uint64_t{1} << v;
            }
            if (used & s.vertexUnset)
                gates |= kGateIndexUnloaded;
            if (used & s.vertexStale)
                gates |= kGateVertexTime;
        }
    }
    if (s.frame && (s.sync.fullSync >= 0 || c.st.kind == CommandKind::EndDL))
        gates |= kGateFrameSync;
    if (s.sync.pipeBusy != kNotSet)
        gates |= kGatePipeBusy;
    if (s.sync.loadPending >= 0)
        gates |= kGateLoadPending;
    // Every tile command names its tile in w1 bits 24-26 (as syncTile reads it).
    if ((kindBit(c.st.kind) & kTileCommands) && s.sync.tileBusy[(c.st.words.w1 >> 24) & 7] != kNotSet)
        gates |= kGateTileBusy;
    return gates;
}

void Engine::command(const Step& st, const RenderState& s)
{
    const KindMask bit = kindBit(st.kind);
    if (!(triggered_ & bit))
        return;
    Ctx c{*this, st, s, traits};
    const unsigned gates = gatesOf(c);
    const auto k = static_cast<std::size_t>(st.kind);
    const auto& modal = perMode_[k];
    if (!modal.empty()) {
        const bool tri = (bit & kTriangleKinds) != 0;
        if (!tri || lastTriEpoch_ != s.modeEpoch) {
            if (tri)
                lastTriEpoch_ = s.modeEpoch;
            for (std::uint16_t r : modal)
                runRule(r, c);
        }
    }
    for (std::uint16_t r : perCommand_[k])
        runRule(r, c);
    if (gates)
        for (std::uint16_t r : gated_[k])
            if (gates & kRules[r].gate)
                runRule(r, c);
}

void Engine::runRule(std::size_t rule, Ctx& c)
{
    Hit& h = hit_;
    h.severity = kRules[rule].info.severity;
    h.related = kNotSet;
    h.entry = kNotSet;
    h.detail.clear();
    if (!kRules[rule].check(c, h))
        return;
    const std::size_t entry = h.entry >= 0 ? static_cast<std::size_t>(h.entry) : c.st.entry;
    report(rule, entry, h.severity, h.related, h.detail);
}

void Engine::report(std::size_t rule, std::size_t entry, Severity severity, Origin related, const std::string& detail)
{
    if (severity < options_.minimum)
        return;
    if (!reported_.insert((static_cast<std::uint64_t>(rule) << 48) | entry).second)
        return;
    ++report_.counts[static_cast<std::size_t>(severity)];
    if (report_.findings.size() >= options_.maxFindings) {
        ++report_.dropped;
        return;
    }
    Finding f;
    f.entry = entry;
    f.rule = rule;
    f.severity = severity;
    f.message = std::string(kRules[rule].info.message);
    if (!detail.empty())
        f.message += " (" + detail + ")";
    if (related >= 0)
        f.related = static_cast<std::size_t>(related);
    report_.findings.push_back(std::move(f));
}

void Engine::event(WalkEvent ev, const Step& st, const RenderState& s, std::uint32_t address)
{
    static const std::size_t noEnd = ruleIndex("dl-no-end"), depth = ruleIndex("dl-depth"),
                             target = ruleIndex("dl-target"), limit = ruleIndex("walk-limit");
    std::size_t rule = kRuleCount;
    Severity severity = Severity::Error;
    std::string detail;
    switch (ev) {
    case WalkEvent::RanOffEnd:
        rule = noEnd;
        detail = "the list runs past the last entry";
        break;
    case WalkEvent::InvalidOpcode:
        rule = noEnd;
        detail = "opcode " + hex(st.words.w0 >> 24) + " is not a command of this microcode";
        break;
    case WalkEvent::EndlessLoop:
        rule = noEnd;
        severity = Severity::Note;
        detail = "the branch to " + hex(address) + " leads back here: an endless loop";
        break;
    case WalkEvent::CallTooDeep:
        rule = depth;
        detail = "this call would be list " + std::to_string(s.callDepth + 2) + " on a stack of "
            + std::to_string(std::clamp(options_.walk.callDepthLimit > 0 ? options_.walk.callDepthLimit
                                                                         : traits.callDepthLimit,
                                        1, kMaxCallDepth))
            + "; not followed";
        break;
    case WalkEvent::TargetUnresolved:
        rule = target;
        severity = Severity::Note;
        detail = "target " + hex(address);
        break;
    case WalkEvent::TargetMisaligned:
        rule = target;
        severity = Severity::Warning;
        detail = "target " + hex(address) + " falls between two commands";
        break;
    case WalkEvent::StepLimit:
        rule = limit;
        severity = Severity::Note;
        break;
    }
    if (rule >= kRuleCount || !enabled_[rule])
        return;
    report(rule, st.entry, severity, kNotSet, detail);
}

CheckReport Engine::finish(const WalkSummary& walk)
{
    report_.walk = walk;
    std::stable_sort(report_.findings.begin(), report_.findings.end(), [](const Finding& a, const Finding& b) {
        if (a.entry != b.entry)
            return a.entry < b.entry;
        if (a.severity != b.severity)
            return a.severity > b.severity;
        return a.rule < b.rule;
    });
    if (options_.commandText) {
        ListOptions lo;
        lo.fold = false;
        for (Finding& f : report_.findings)
            if (f.entry < entries_.size())
                f.command = commandText(decodeAt(ucode, entries_.subspan(f.entry), lo));
    }
    return std::move(report_);
}

} // namespace

// --- Public ------------------------------------------------------------------------------

std::span<const RuleInfo> checkRules() { return ruleInfos(); }

std::optional<std::size_t> findRule(std::string_view id)
{
    const std::size_t i = ruleIndex(id);
    return i < kRuleCount ? std::optional<std::size_t>(i) : std::nullopt;
}

std::string_view ruleId(const Finding& finding)
{
    return finding.rule < kRuleCount ? kRules[finding.rule].info.id : std::string_view{};
}

std::string entryAddress(std::size_t entry, std::optional<std::uint32_t> base)
{
    char buf[24];
    if (base)
        std::snprintf(buf, sizeof buf, "0x%08X", static_cast<std::uint32_t>(*base + entry * 8));
    else
        std::snprintf(buf, sizeof buf, "0x%04llX", static_cast<unsigned long long>(entry * 8));
    return buf;
}

CheckReport checkList(Ucode ucode, std::span<const Words> entries, const CheckOptions& options, StateIndex* index)
{
    Engine engine(ucode, entries, options);
    const WalkSummary walk = walkList(ucode, entries, options.walk, &engine, index);
    return engine.finish(walk);
}

} // namespace dlscope::gbi
