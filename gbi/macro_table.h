#pragma once

// The command tables: one row per macro and microcode, naming the opcode,
// the fixed fields that select the row, and each argument with its bit field,
// its encoding and its kind. Decoding, encoding and printing are all driven
// by these rows; the rows themselves are generated from the GBI fact sheet
// into facts_tables.inc and checked here at compile time.

#include "gbi/ucode.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>
#include <string_view>

namespace dlscope::gbi {

// How an argument is shown and which values it takes.
enum class ArgKind : std::uint8_t {
    Int,       // decimal
    SInt,      // decimal, the field sign-extended
    Hex,       // hexadecimal data
    Addr,      // an address (named through symbols where known)
    Tile,      // tile descriptor: G_TX_RENDERTILE / G_TX_LOADTILE or a number
    Const,     // one name of a constant table, or a number
    Flags,     // an OR of names of a flag table
    NotStored, // an argument the words do not keep; printed as its neutral value
    CcMux,     // a combiner input token; the table says which slot
    Preset,    // a render-mode or combine-mode word printed by its own rules
};

enum class ConstTable : std::uint8_t {
    None, OnOff, ImFmt, ImSiz, TxCm, MwoPoint, MwoMatrix, Mw, Mv, Mtx, MtxTarget, GeometryMode,
    Light, NumLights, Sc, Bz, Pm, Cyc, Tp, Td, Tl, Tt, Tf, Tc, Ck, Cd, Ad, Ac, Zs, Opcode,
    MdsftH, MdsftL, Frustratio, TxMask, TxShift, AlphaCull, Snake,
    // combiner slots
    MuxA, MuxB, MuxC, MuxD, MuxAa, MuxAb, MuxAc, MuxAd,
};

// A bit field of one command word: bits lo .. lo+width-1 of w0 or w1.
struct FieldRef {
    std::uint8_t word = 0;
    std::uint8_t lo = 0;
    std::uint8_t width = 0; // 0: no field
    constexpr bool present() const { return width != 0; }
    constexpr std::uint32_t mask() const
    {
        return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u) << lo;
    }
};

// field = ((x * mul + add) / div) ^ xorMask, masked to the field's width.
// A macro that clamps its argument (MIN(x, 2047)) never writes a field value
// above `max` (-1: no clamp).
struct Encoding {
    std::int64_t mul = 1;
    std::int64_t add = 0;
    std::uint32_t div = 1;
    std::uint32_t xorMask = 0;
    std::int64_t max = -1;
};

struct ArgSpec {
    std::string_view name;
    ArgKind kind = ArgKind::Int;
    ConstTable table = ConstTable::None;
    FieldRef field;
    Encoding enc;
    FieldRef field2; // a second field holding the same argument (checked on decode)
    Encoding enc2;

    // One unsigned field that holds the value as it stands: reading the
    // field is decoding the argument, and the value always encodes back.
    constexpr bool plainField() const
    {
        return field.present() && !field2.present() && kind != ArgKind::SInt && enc.mul == 1 && enc.add == 0
            && enc.div == 1 && enc.xorMask == 0 && enc.max < 0;
    }
};

// The most arguments a row has (gsDPSetCombineLERP's sixteen, and the two
// preset indices that decoding adds after them).
inline constexpr std::size_t kMaxRowArgs = 18;

// Rows whose words are not a plain set of linear fields.
enum class Special : std::uint8_t {
    None,
    OtherModeShift,       // F3DEX2: the shift is stored as 32 - sft - len
    OtherModeFields,      // gsSPSetOtherMode, F3D/F3DEX: data printed field by field
    OtherModeShiftFields, // the same with the F3DEX2 shift encoding
    VertexEnd,            // F3DEX2 gsSPVertex: the end index v0 + n is stored
    ConvertK2,            // gsDPSetConvert: k2 split across both words
    ModifyVertexF3d,      // F3D: vtx * 40 + where in one field
    CullEndF3d,           // F3D: ((vend + 1) & 15) * 40
    RenderMode,           // c0 | c1: presets or flag expressions
    WholeOtherMode,       // gsDPSetOtherMode: both halves as field expressions
    CombineMode,          // gsDPSetCombineMode(preset, preset)
    CombineLerp,          // gsDPSetCombineLERP(16 tokens)
    Raw,                  // a generic builder that holds any words of its opcode
    Idiom,                // a multi-command macro (see idioms.h)
    HintCount,            // F3DEX3: a prefetch hint written as the command count it stands for
    Snake,                // F3DEX3: a triangle snake and its continuation entries
};

struct MacroSpec {
    std::string_view name; // the static macro name (gsXxx)
    std::uint8_t ucodes;   // bit per Ucode: 1 f3d, 2 f3dex, 4 f3dex2, 8 f3dex3
    std::int16_t opcode;   // -1: the opcode is an argument
    std::uint32_t fixedMask[2];
    std::uint32_t fixedValue[2];
    std::span<const ArgSpec> args;
    Special special;
    // F3DEX3 header build switches (F3dex3Option bits): the row holds only
    // when all of `needs` are on and none of `unless`.
    std::uint8_t needs = 0;
    std::uint8_t unless = 0;
};

constexpr std::uint8_t ucodeBit(Ucode u) { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(u)); }

struct NamedValue {
    std::uint8_t ucodes;
    std::int64_t value;
    std::string_view name;
};

struct RenderPreset {
    std::string_view name;  // cycle-1 name
    std::uint32_t cycle1;
    std::string_view name2; // cycle-2 name, or empty
    std::uint32_t cycle2;
    bool sm64Only;
};

struct CombinePreset {
    std::string_view name;
    std::uint8_t codes[8]; // a, b, c, d, Aa, Ab, Ac, Ad after masking to the slot
    std::uint8_t cycle;    // the cycle the header groups it with
    bool libultra;
    bool sm64;
    bool alias;
};

// Every single-command row of every microcode, generated from the facts.
std::span<const MacroSpec> allMacros();
// The F3DEX3 rows written beside them (commands whose words differ from F3DEX2's).
std::span<const MacroSpec> f3dex3Macros();
// gsSPContinueSnake: the row that prints a snake's continuation entries.
const MacroSpec& continueSnakeMacro();

// The rows that may print a command with this opcode, in the order they are
// tried; the first whose fixed fields match and whose arguments re-encode to
// the same words is taken.
// A candidate row with what decoding needs to know about it: the bits its
// fixed fields and arguments cover, and whether decoding alone proves that
// the arguments encode back to the same words (every argument in one field
// with an invertible encoding, no special rule) or a re-encode must check it.
struct Candidate {
    const MacroSpec* macro;
    // The command's words as one number (w0 above w1): the row may print it
    // only when the bits in `match` equal `value`. `match` holds the fixed
    // fields and every bit that no argument covers (those must be zero).
    std::uint64_t match;
    std::uint64_t value;
    bool verify;
    bool plain;          // every argument is one unsigned field read as it stands
    bool switches;       // the row depends on F3DEX3 build switches (needs / unless)
    std::uint8_t argCount;
    // For plain rows: each argument's field as a shift of the 64-bit number
    // and a mask of its width.
    std::uint8_t shift[kMaxRowArgs];
    std::uint32_t mask[kMaxRowArgs];
};
std::span<const Candidate> candidateRows(Ucode ucode, std::uint8_t opcode);

// True when some multi-command macro of this microcode starts with this opcode.
bool mayStartIdiom(Ucode ucode, std::uint8_t opcode);

// The compile-time tables behind the lookups above, for their inline forms.
namespace detail {
// Per microcode, where each opcode's candidates begin (and, at op + 1, end).
using CandidateBounds = std::array<std::array<const Candidate*, 257>, kUcodeCount>;
extern const CandidateBounds kCandidateBounds;
extern const std::array<std::array<bool, 256>, kUcodeCount> kIdiomStart;
} // namespace detail

inline std::span<const Candidate> candidateRows(Ucode ucode, std::uint8_t opcode)
{
    const auto& bounds = detail::kCandidateBounds[static_cast<std::size_t>(ucode)];
    return {bounds[opcode], bounds[opcode + 1u]};
}

inline bool mayStartIdiom(Ucode ucode, std::uint8_t opcode)
{
    return detail::kIdiomStart[static_cast<std::size_t>(ucode)][opcode];
}

// The generic builder that holds any words of this opcode (gsDma0p, gsMoveWd,
// gsDPSetCombine, ...).
const MacroSpec& rawMacro(Ucode ucode, std::uint8_t opcode);
// The same as a candidate (its fields are plain, see Candidate).
const Candidate& rawCandidate(Ucode ucode, std::uint8_t opcode);

// The header's name of an opcode under a microcode, or empty.
std::string_view opcodeName(Ucode ucode, std::uint8_t opcode);

// True when the microcode defines the opcode (RSP or RDP).
bool opcodeDefined(Ucode ucode, std::uint8_t opcode);

// Named constants: the entries of one table under one microcode.
std::span<const NamedValue> constTable(ConstTable table, Ucode ucode);

inline constexpr std::size_t kConstTableCount = static_cast<std::size_t>(ConstTable::MuxAd) + 1;

// The printer names nearly every argument, so the names of small values and
// the combiner and blender tokens are looked up inline in tables built at
// compile time.
namespace detail {
using DirectNames = std::array<std::array<std::array<std::string_view, 64>, kConstTableCount>, kUcodeCount>;
extern const DirectNames kDirectNameTable;
// Combiner tokens by slot (MuxA .. MuxAd) and code, "" past a slot's codes,
// and how many codes each slot's field has.
extern const std::array<std::array<std::string_view, 32>, 8> kMuxTokens;
extern const std::array<std::uint8_t, 8> kMuxCodeCount;
extern const std::span<const std::string_view> kBlendTables[4];
std::string_view constNameBeyondDirect(ConstTable table, Ucode ucode, std::int64_t value);
} // namespace detail

// The first name of a value in one table under one microcode, or empty.
inline std::string_view constName(ConstTable table, Ucode ucode, std::int64_t value)
{
    if (static_cast<std::uint64_t>(value) < 64)
        return detail::kDirectNameTable[static_cast<std::size_t>(ucode)][static_cast<std::size_t>(table)]
                                       [static_cast<std::size_t>(value)];
    return detail::constNameBeyondDirect(table, ucode, value);
}

// Combiner slot token names by stored code ("" when no token gives the code).
inline std::span<const std::string_view> muxNames(ConstTable slot)
{
    const auto i = static_cast<std::size_t>(slot) - static_cast<std::size_t>(ConstTable::MuxA);
    return i < 8 ? std::span<const std::string_view>(detail::kMuxTokens[i].data(), detail::kMuxCodeCount[i])
                 : std::span<const std::string_view>{};
}

// Blender slot names (G_BL_...): slot 0 m1a, 1 m1b, 2 m2a, 3 m2b.
inline std::span<const std::string_view> blendNames(int slot)
{
    return detail::kBlendTables[slot >= 0 && slot < 3 ? slot : 3];
}

std::span<const RenderPreset> renderPresets();

// Every row printed or parsed under this name for this microcode: single
// rows, the combiner forms, the generic builders (gsDma0p, gsDma1p, gsImmp1)
// and the multi-command macros.
std::vector<const MacroSpec*> macrosNamed(Ucode ucode, std::string_view name);

// The value of a named constant of the header under this microcode: every
// constant of the fact sheet (G_IM_FMT_RGBA, G_CCMUX_TEXEL0, AA_EN, G_BL_CLR_IN,
// G_MWO_SEGMENT_1, ...), the opcode names (G_SETCOMBINE) and the render-mode
// presets (G_RM_AA_ZB_OPA_SURF, G_RM_AA_ZB_OPA_SURF2). Combine-mode presets are
// combinePresets(); sm64-only names only with Names::Sm64 (see command.h).
std::optional<std::int64_t> constantValue(Ucode ucode, std::string_view name, bool sm64 = false);
std::span<const CombinePreset> combinePresets();

} // namespace dlscope::gbi
