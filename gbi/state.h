#pragma once

// The state walker: runs a display list the way the RSP and RDP would, one
// entry (64-bit command) at a time, and keeps the state in effect at each
// command: other modes, combiner, geometry mode, texture settings, the eight
// tile descriptors and what texture memory holds, images, scissor, colours,
// loaded vertex slots, matrix and call depth, and the pending-sync flags.
//
// Input
//   The list is one contiguous buffer of entries (raw words: the walker
//   decodes what it needs itself, so it works on unfolded entries and any
//   entry can be a call target). Entry i sits at byte offset 8*i, at address
//   base + 8*i when the base address is known.
//
// Calls and branches
//   gsSPDisplayList pushes a return and jumps, gsSPBranchList jumps, the end
//   command returns (or ends the walk at the outermost list). A target
//   address is resolved the way the RSP does: segment (addr >> 24) & 15,
//   base[segment] + (addr & 0xFFFFFF), with segment 0 at 0 (so KSEG0
//   addresses 0x80xxxxxx resolve to their physical address); bases come from
//   WalkOptions::segments and from gsSPSegment in the list. A target in the
//   same segment as the base address resolves by offset even while the
//   segment's base is unknown. A target that lands inside the buffer on an
//   8-byte boundary is followed; any other is reported and not followed:
//   after an unfollowed call everything the callee might have changed
//   becomes unknown.
//   Conditional commands (gsSPCullDisplayList, gsSPBranchLessZ) are taken
//   as not taken. A microcode load ends the walk.
//
// Bounds
//   Bad input never hangs or crashes the walk: a branch that repeats inside
//   the same list activation is an endless loop and ends the walk; calls
//   deeper than the microcode's return stack are reported and not followed;
//   running off the end of the buffer or into an undefined opcode ends the
//   walk; and the total number of executed commands is capped (by default at
//   16 per entry plus one million), so the work is linear in the input.
//
// Walks
//   A walk starts at a root with fresh state. Roots are the ones given, then
//   (unless switched off) entries no walk reached yet: first the starts of
//   lists (entry 0 and entries after an end or a branch) that no call in the
//   input names, so that sub-lists are walked from their callers where
//   possible, then whatever is left. An object walk starts with every value
//   unknown (origin kNotSet) and sync flags clear; it becomes a frame walk
//   when it sets a colour image before its first draw. A root can also be
//   marked as a frame root. Frame-only checks (never-set values) apply to
//   frame walks only.
//
// Typical uses
//   Checks (checks.h) run as an observer of one walk. A state panel builds a
//   StateIndex in the same walk (or its own) and asks for the state at an
//   entry; the index keeps a copy of the state every `interval` commands and
//   replays at most that many commands to answer.

#include "gbi/command.h"
#include "gbi/ucode.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace dlscope::gbi {

// What a command does, whatever its opcode under the microcode.
enum class CommandKind : std::uint8_t {
    Invalid, // an opcode the microcode does not define
    Noop,    // no-ops, and RSP commands without effect on the tracked state
    // RSP
    Vertex, ModifyVertex, Tri1, Tri2, Quad, Line3D, CullDL, BranchZ, DisplayList, EndDL, LoadUcode,
    RdpHalf1, RdpHalf2, Texture, SetGeometry, ClearGeometry, Geometry, OtherModeH, OtherModeL,
    Matrix, PopMatrix, MoveWord, MoveMem,
    // RDP
    TexRect, TexRectFlip, LoadSync, PipeSync, TileSync, FullSync, SetKeyGB, SetKeyR, SetConvert,
    SetScissor, SetPrimDepth, SetOtherMode, LoadTlut, SetTileSize, LoadBlock, LoadTile, SetTile,
    FillRect, SetFillColor, SetFogColor, SetBlendColor, SetPrimColor, SetEnvColor, SetCombine,
    SetTextureImage, SetDepthImage, SetColorImage,
    Count
};

CommandKind commandKind(Ucode ucode, std::uint8_t opcode);
std::string_view commandKindName(CommandKind kind);

using KindMask = std::uint64_t;
constexpr KindMask kindBit(CommandKind k) { return KindMask{1} << static_cast<unsigned>(k); }
static_assert(static_cast<unsigned>(CommandKind::Count) <= 64);

inline constexpr KindMask kTriangleKinds =
    kindBit(CommandKind::Tri1) | kindBit(CommandKind::Tri2) | kindBit(CommandKind::Quad);
inline constexpr KindMask kRectKinds =
    kindBit(CommandKind::TexRect) | kindBit(CommandKind::TexRectFlip) | kindBit(CommandKind::FillRect);
inline constexpr KindMask kDrawKinds = kTriangleKinds | kRectKinds;
inline constexpr KindMask kLoadKinds =
    kindBit(CommandKind::LoadBlock) | kindBit(CommandKind::LoadTile) | kindBit(CommandKind::LoadTlut);
inline constexpr KindMask kSyncKinds = kindBit(CommandKind::LoadSync) | kindBit(CommandKind::PipeSync)
    | kindBit(CommandKind::TileSync) | kindBit(CommandKind::FullSync);
// Commands that change RDP attributes a primitive in flight may still use.
inline constexpr KindMask kAttributeKinds = kindBit(CommandKind::SetCombine) | kindBit(CommandKind::OtherModeH)
    | kindBit(CommandKind::OtherModeL) | kindBit(CommandKind::SetOtherMode) | kindBit(CommandKind::SetColorImage)
    | kindBit(CommandKind::SetDepthImage) | kindBit(CommandKind::SetEnvColor) | kindBit(CommandKind::SetBlendColor)
    | kindBit(CommandKind::SetFogColor) | kindBit(CommandKind::SetFillColor) | kindBit(CommandKind::SetConvert)
    | kindBit(CommandKind::SetKeyR) | kindBit(CommandKind::SetKeyGB);
// Commands that reach the RDP: its own commands, triangles, and the other
// modes the RSP forwards.
inline constexpr KindMask kRdpKinds = [] {
    KindMask m = kTriangleKinds | kindBit(CommandKind::OtherModeH) | kindBit(CommandKind::OtherModeL);
    for (unsigned k = static_cast<unsigned>(CommandKind::TexRect); k < static_cast<unsigned>(CommandKind::Count); ++k)
        m |= KindMask{1} << k;
    return m;
}();

// Per-microcode numbers and flag values the walker and the checks need.
struct UcodeTraits {
    Ucode ucode;
    int vertexBuffer;    // vertex slots
    int vertexLoadMax;   // most vertices one load may bring
    int callDepthLimit;  // display lists on the return stack, the outermost included
    int matrixStackLimit;
    int maxLights;
    // geometry mode flags (0 where the microcode has no such bit)
    std::uint32_t zbuffer, shade, shadingSmooth, cullFront, cullBack, fog, lighting, textureGen,
        textureGenLinear, clipping, lod, textureEnable;
    // F3DEX3's shade-alpha sources (0 elsewhere)
    std::uint32_t lightToAlpha, fresnelAlpha;
    std::uint32_t vertexTimeFlags; // bits applied when vertices load
    std::uint32_t geometryNamed;   // every bit some geometry-mode name of the microcode has
    // matrix parameter flags after decoding (F3DEX2's inverted push already undone)
    std::uint32_t mtxProjection, mtxLoad, mtxPush;
};
const UcodeTraits& ucodeTraits(Ucode ucode);

// Where a value came from: the index of the entry that last set it, or one
// of these.
using Origin = std::int32_t;
inline constexpr Origin kNotSet = -1;    // not set since the walk started
inline constexpr Origin kClobbered = -2; // a call the walk could not follow may have changed it

inline constexpr int kTileCount = 8;
inline constexpr int kMaxVertexSlots = 80;
inline constexpr int kMaxCallDepth = 32;
inline constexpr int kTmemBytes = 4096;
inline constexpr int kTmemLoadsKept = 16;

struct TileState {
    std::uint8_t fmt = 0, siz = 0, palette = 0;
    std::uint8_t cms = 0, cmt = 0, masks = 0, maskt = 0, shifts = 0, shiftt = 0;
    std::uint16_t line = 0, tmem = 0; // in 64-bit words
    // As the last size-writing command left them: 10.2 coordinates from
    // gsDPSetTileSize and gsDPLoadTile; after a block load lrs holds
    // texels - 1 and lrt the dxt; after a TLUT load lrs holds (count - 1) << 2.
    std::uint16_t uls = 0, ult = 0, lrs = 0, lrt = 0;
    Origin setAt = kNotSet;  // gsDPSetTile
    Origin sizeAt = kNotSet; // gsDPSetTileSize or a load
    CommandKind sizeFrom = CommandKind::Invalid;

    // True when uls..lrt are the tile's extents (not load parameters).
    friend bool operator==(const TileState&, const TileState&) = default;

    bool hasExtents() const
    {
        return sizeAt >= 0 && (sizeFrom == CommandKind::SetTileSize || sizeFrom == CommandKind::LoadTile);
    }
    int width() const { return (lrs >> 2) - (uls >> 2) + 1; }
    int height() const { return (lrt >> 2) - (ult >> 2) + 1; }
};

// A write into texture memory.
struct TmemLoad {
    Origin at = kNotSet;
    CommandKind kind = CommandKind::Invalid;
    std::uint16_t begin = 0, end = 0; // bytes [begin, end), clipped to TMEM
    bool split = false;               // 32-bit texels: the range again at +0x800
    bool overflow = false;            // the write ran past the end of TMEM (of its half when split)
    bool imageKnown = false;          // the texture image was set in this walk
    std::uint8_t fmt = 0, siz = 0;    // of the texture image
    std::uint8_t tile = 0;
    std::uint16_t dxt = 0;            // block loads
    friend bool operator==(const TmemLoad&, const TmemLoad&) = default;
};

struct ImageState {
    std::uint8_t fmt = 0, siz = 0;
    std::uint16_t width = 0;
    std::uint32_t address = 0;
    Origin at = kNotSet;
    friend bool operator==(const ImageState&, const ImageState&) = default;
};

struct ColorState {
    std::uint32_t value = 0;
    Origin at = kNotSet;
    friend bool operator==(const ColorState&, const ColorState&) = default;
};

struct SyncState {
    Origin pipeBusy = kNotSet;              // last draw since the last pipe or full sync
    Origin tmemBusy = kNotSet;              // last texture-sampling draw since any sync
    std::array<Origin, kTileCount> tileBusy{kNotSet, kNotSet, kNotSet, kNotSet, kNotSet, kNotSet, kNotSet, kNotSet};
    // Count how often each flag went from clear to set, so that one missing
    // sync is reported once however many commands follow it.
    std::uint32_t pipeEpisode = 0, tmemEpisode = 0;
    std::array<std::uint32_t, kTileCount> tileEpisode{};
    Origin loadPending = kNotSet;           // load with no pipe sync or draw after it
    Origin lastRdp = kNotSet;               // last command that reached the RDP
    CommandKind lastRdpKind = CommandKind::Invalid;
    Origin fullSync = kNotSet;              // a full sync no RDP command followed yet
    Origin fillColor = kNotSet;             // fill colour set, no fill-mode draw since
    Origin lastSync = kNotSet;
    bool rdpWork = false;                   // the walk sent anything to the RDP
    friend bool operator==(const SyncState&, const SyncState&) = default;
};

struct RenderState {
    // RDP other modes: the two words and which of their bits are known.
    std::uint32_t otherH = 0, otherL = 0;
    std::uint32_t knownH = 0, knownL = 0;
    Origin otherHAt = kNotSet, otherLAt = kNotSet;

    Words combine;
    Origin combineAt = kNotSet;

    std::uint32_t geometry = 0, geometryKnown = 0;
    Origin geometryAt = kNotSet;

    struct Texture {
        bool on = false;
        std::uint8_t tile = 0, level = 0;
        std::uint16_t s = 0, t = 0;
        Origin at = kNotSet;
        friend bool operator==(const Texture&, const Texture&) = default;
    } texture;

    std::array<TileState, kTileCount> tiles{};

    // Texture memory: which 8-byte words some load of this walk wrote, and
    // the latest loads (newest last).
    std::array<std::uint64_t, kTmemBytes / 8 / 64> tmemWritten{};
    std::array<TmemLoad, kTmemLoadsKept> loads{};
    std::uint8_t loadCount = 0;

    ImageState textureImage, colorImage, depthImage;

    struct Scissor {
        std::uint8_t mode = 0;
        std::uint16_t ulx = 0, uly = 0, lrx = 0, lry = 0; // 10.2
        Origin at = kNotSet;
        friend bool operator==(const Scissor&, const Scissor&) = default;
    } scissor;

    ColorState fill, fog, blend, prim, env;
    std::uint8_t primMinLevel = 0, primLodFrac = 0;
    struct PrimDepth {
        std::uint16_t z = 0, dz = 0;
        Origin at = kNotSet;
        friend bool operator==(const PrimDepth&, const PrimDepth&) = default;
    } primDepth;
    Origin convertAt = kNotSet, keyRAt = kNotSet, keyGBAt = kNotSet;

    // Vertex slots: the load that wrote each, and the vertex-time geometry
    // flags in effect then (with which of them were known).
    std::array<Origin, kMaxVertexSlots> vertexAt{};
    std::array<std::uint32_t, kMaxVertexSlots> vertexGeometry{};
    std::array<std::uint32_t, kMaxVertexSlots> vertexGeometryKnown{};
    // The same as bit masks of slots 0-63, for checks at every triangle:
    // slots no load of this walk wrote, and slots whose vertex-time flags
    // (where known then and now) differ from the current ones.
    std::uint64_t vertexUnset = ~std::uint64_t{0};
    std::uint64_t vertexStale = 0;

    // Modelview pushes since the walk started (absolute in frame walks).
    int matrixDepth = 0;
    Origin projectionAt = kNotSet, modelviewAt = kNotSet;
    int numLights = -1; // -1: unknown
    Origin numLightsAt = kNotSet, fogFactorAt = kNotSet;

    std::array<std::uint32_t, 16> segments{};
    std::uint16_t segmentKnown = 0;

    std::uint32_t rdpHalf1 = 0;

    SyncState sync;

    int callDepth = 0; // lists on the return stack below the current one
    bool frame = false;
    bool drawSeen = false;
    std::uint32_t walk = 0;      // which walk of the run
    std::uint32_t modeEpoch = 0; // changes whenever anything a draw depends on may have changed

    RenderState();
    friend bool operator==(const RenderState&, const RenderState&) = default;

    // Field accessors: -1 when the bits are not known.
    int otherHField(int shift, int length) const;
    int otherLField(int shift, int length) const;
    int cycleType() const { return otherHField(20, 2); }    // G_CYC_* >> 20
    int texturePersp() const { return otherHField(19, 1); }
    int textureDetail() const { return otherHField(17, 2); }
    int textureLod() const { return otherHField(16, 1); }
    int textureLut() const { return otherHField(14, 2); }    // G_TT_* >> 14
    int alphaCompare() const { return otherLField(0, 2); }
    int zSource() const { return otherLField(2, 1); }
    bool renderModeKnown() const { return (knownL & 0xFFFFFFF8u) == 0xFFFFFFF8u; }
    // Geometry flags: true only when known to be set / known to be clear.
    bool geometryOn(std::uint32_t flag) const { return flag && (geometryKnown & flag) == flag && (geometry & flag) == flag; }
    bool geometryOff(std::uint32_t flag) const { return flag && (geometryKnown & flag) == flag && (geometry & flag) == 0; }
    bool tmemWrittenAt(int byte) const { return (tmemWritten[static_cast<std::size_t>(byte >> 9)] >> ((byte >> 3) & 63)) & 1; }
    // True when every byte of [begin, end) was written by a load of this walk.
    bool tmemWrittenRange(int begin, int end) const;
};

// The same thing under the name the windows use.
using StateSnapshot = RenderState;

// --- Decoding helpers shared with the checks ---------------------------------

// Combiner inputs, one bit each, for "which inputs does this cycle read".
enum class CcInput : std::uint8_t {
    Combined, Texel0, Texel1, Primitive, Shade, Environment, One, Noise, Center, K4, Scale,
    CombinedAlpha, Texel0Alpha, Texel1Alpha, PrimitiveAlpha, ShadeAlpha, EnvAlpha, LodFraction, PrimLodFrac, K5,
    Zero,
};
constexpr std::uint32_t ccBit(CcInput i) { return 1u << static_cast<unsigned>(i); }
inline constexpr std::uint32_t kCcTexel = ccBit(CcInput::Texel0) | ccBit(CcInput::Texel1)
    | ccBit(CcInput::Texel0Alpha) | ccBit(CcInput::Texel1Alpha);
inline constexpr std::uint32_t kCcTexel0 = ccBit(CcInput::Texel0) | ccBit(CcInput::Texel0Alpha);
inline constexpr std::uint32_t kCcTexel1 = ccBit(CcInput::Texel1) | ccBit(CcInput::Texel1Alpha);
inline constexpr std::uint32_t kCcShade = ccBit(CcInput::Shade) | ccBit(CcInput::ShadeAlpha);
inline constexpr std::uint32_t kCcCombined = ccBit(CcInput::Combined) | ccBit(CcInput::CombinedAlpha);

struct CombinerCycle {
    // a, b, c, d of the colour and of the alpha combiner, as inputs (the
    // alpha combiner's inputs map to the *Alpha members).
    CcInput rgb[4];
    CcInput alpha[4];
    std::uint32_t reads;    // inputs that can affect the cycle's result
    std::uint32_t rgbReads; // the same for the colour combiner alone
};
// cycle 0 = the first field set (used by the first cycle of 2-cycle mode),
// cycle 1 = the second (the only one 1-cycle mode uses).
struct Combiner {
    CombinerCycle cycle[2];
};
Combiner decodeCombiner(Words setCombine);

// Blender inputs of one cycle of the render-mode word: P, A, M, B.
struct BlenderCycle {
    std::uint8_t p, a, m, b;
};
inline BlenderCycle blenderCycle(std::uint32_t otherL, int cycle)
{
    const int s = cycle == 0 ? 2 : 0;
    return {static_cast<std::uint8_t>((otherL >> (28 + s)) & 3), static_cast<std::uint8_t>((otherL >> (24 + s)) & 3),
            static_cast<std::uint8_t>((otherL >> (20 + s)) & 3), static_cast<std::uint8_t>((otherL >> (16 + s)) & 3)};
}

// Tiles a draw reads texels from (bit t for tile t), from the state in
// effect and, for texture rectangles, the rectangle's own tile. 0 for
// untextured draws or when texturing is not known to be on.
std::uint8_t sampledTiles(const RenderState& state, CommandKind draw, int rectTile);

// Where a microcode keeps the vertex indices of its triangle, quadrangle and
// line commands (taken from the macro rows).
struct VertexIndexLayout {
    struct Field {
        std::uint8_t word = 0, lo = 0;
    };
    Field tri1[3], tri2[6], line[2]; // a quadrangle is stored as two triangles
    int scale = 2;                   // stored value = index * scale

    // Decodes into `out` and returns how many indices (0 for other kinds);
    // `malformed` is set for stored values no index produces (F3D: not a
    // multiple of 10; later microcodes: odd).
    int decode(Words w, CommandKind kind, std::array<int, 6>& out, bool& malformed) const
    {
        const Field* f = nullptr;
        int n = 0;
        switch (kind) {
        case CommandKind::Tri1: f = tri1, n = 3; break;
        case CommandKind::Tri2:
        case CommandKind::Quad: f = tri2, n = 6; break;
        case CommandKind::Line3D: f = line, n = 2; break;
        default: return 0;
        }
        unsigned odd = 0;
        bool bad = false;
        for (int i = 0; i < n; ++i) {
            const unsigned raw = ((f[i].word ? w.w1 : w.w0) >> f[i].lo) & 0xFF;
            if (scale == 2) {
                odd |= raw;
                out[static_cast<std::size_t>(i)] = static_cast<int>(raw >> 1);
            } else {
                bad |= raw % static_cast<unsigned>(scale) != 0;
                out[static_cast<std::size_t>(i)] = static_cast<int>(raw / static_cast<unsigned>(scale));
            }
        }
        malformed = bad || (scale == 2 && (odd & 1));
        return n;
    }
};
const VertexIndexLayout& vertexIndexLayout(Ucode ucode);

// The same through the microcode.
int vertexIndices(Ucode ucode, Words words, CommandKind kind, std::array<int, 6>& out, bool& malformed);

// First slot and count of a vertex load.
bool vertexLoad(Ucode ucode, Words words, int& v0, int& n);

// The bytes of texture memory a load command writes, from the state before
// it (load tile and texture image).
TmemLoad tmemWrite(const RenderState& state, Words load, CommandKind kind);

// The bytes of texture memory a tile reads: [begin, end) in the lower half,
// and the same range at +0x800 for 32-bit RGBA and YUV (`split`). `known`
// is false while the tile has no descriptor or no extents.
struct TmemRange {
    int begin = 0, end = 0;
    bool split = false;
    bool known = false;
};
TmemRange tileRange(const TileState& tile);

// gsSPMatrix parameters, and how many modelview matrices a pop removes.
struct MatrixParams {
    bool projection = false, load = false, push = false;
};
MatrixParams matrixParams(Ucode ucode, Words words);
int popMatrixCount(Ucode ucode, Words words);

// The light count a G_MOVEWORD sets, or -1 when it sets none (or a count
// the microcode's encoding cannot produce).
int lightCount(Ucode ucode, Words words);

// The physical address (24 bits) of an address under the state's segment
// table, when the segment's base is known.
std::optional<std::uint32_t> physicalAddress(const RenderState& state, std::uint32_t address);

// --- The walk ---------------------------------------------------------------

struct WalkRoot {
    std::size_t entry = 0;
    bool frame = false; // a frame root: state starts unset and frame-only checks apply
};

struct WalkOptions {
    std::optional<std::uint32_t> baseAddress;                 // address of entry 0
    std::array<std::optional<std::uint32_t>, 16> segments{}; // segment bases known beforehand
    std::vector<WalkRoot> roots;                              // walked first, in this order
    bool walkUnreached = true; // then walk from entries no walk reached (without roots: entry 0 only when off)
    bool strictSync = false;   // walks start with every sync flag set, as if anything could be in flight
    std::uint64_t maxSteps = 0; // commands executed over all walks; 0: 16 per entry + 1M
    int vertexBuffer = 0;       // vertex slots; 0: the microcode's default
    int callDepthLimit = 0;     // 0: the microcode's default
};

enum class WalkEvent : std::uint8_t {
    RanOffEnd,        // the list went past the last entry without ending
    InvalidOpcode,    // an opcode the microcode does not define; the walk ends
    EndlessLoop,      // a branch repeated inside the same list activation; the walk ends
    CallTooDeep,      // a call beyond the return stack; not followed
    TargetUnresolved, // a call or branch whose target is not in the input; not followed
    TargetMisaligned, // a target inside the input but not on an entry boundary; not followed
    StepLimit,        // the step cap was reached; walking stops
};

struct Step {
    std::uint64_t index = 0; // executed commands before this one, over all walks
    std::size_t entry = 0;
    CommandKind kind = CommandKind::Invalid;
    Words words;
    // Texture rectangles: the RDPHALF_1 and RDPHALF_2 entries after it, when
    // both follow; null otherwise.
    const Words* halves = nullptr;
};

class WalkObserver {
public:
    virtual ~WalkObserver() = default;
    // Before the command changes the state.
    virtual void command(const Step& step, const RenderState& before) = 0;
    // `step` is the command concerned (for RanOffEnd the last one executed);
    // `address` the unresolved or misaligned target address.
    virtual void event(WalkEvent event, const Step& step, const RenderState& state, std::uint32_t address)
    {
        (void)event, (void)step, (void)state, (void)address;
    }
};

struct WalkSummary {
    std::uint64_t steps = 0;     // commands executed
    std::uint32_t walks = 0;
    std::size_t reached = 0;     // entries executed at least once
    bool stepLimitReached = false;
};

class StateIndex;

// Walks the list once, calling the observer for every command executed,
// and fills `index` when given. `entries` must outlive a filled index.
WalkSummary walkList(Ucode ucode, std::span<const Words> entries, const WalkOptions& options,
                     WalkObserver* observer, StateIndex* index = nullptr);

// The state at any entry, for a state panel: a copy of the state every
// `interval` executed commands plus the first step of each entry.
class StateIndex {
public:
    explicit StateIndex(std::size_t interval = 256);
    ~StateIndex();
    StateIndex(StateIndex&&) noexcept;
    StateIndex& operator=(StateIndex&&) noexcept;

    // Fills the index by a walk of its own.
    static StateIndex build(Ucode ucode, std::span<const Words> entries, const WalkOptions& options,
                            std::size_t interval = 256);

    bool reached(std::size_t entry) const;
    // The state in effect when the entry first executes (before it), or
    // after it; nullopt for entries no walk reached.
    std::optional<RenderState> stateAt(std::size_t entry) const;
    std::optional<RenderState> stateAfter(std::size_t entry) const;
    // Lists on the return stack when the entry first executes (return
    // entries, outermost first).
    std::vector<std::size_t> callStackAt(std::size_t entry) const;

    std::size_t checkpoints() const;

    struct Data; // the checkpoints; defined in state.cpp

private:
    friend class ListWalker;
    friend WalkSummary walkList(Ucode, std::span<const Words>, const WalkOptions&, WalkObserver*, StateIndex*);
    std::unique_ptr<Data> data_;
};

} // namespace dlscope::gbi
