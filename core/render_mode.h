#pragma once

// G_SETOTHERMODE_L render mode (opcode B9): the fields of its 32-bit lower
// word. The blender settings of both pipeline cycles, nine flags, the Z mode
// and the coverage destination.

#include "bits.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace dlscope {

// The nine render-mode flags, in the order the window sets their check boxes.
enum class RenderModeFlag : std::uint8_t { AA, Z_CMP, Z_UPD, IM_RD, C_CVG, CVGxA, A_CVG, FC_BL, TEX_E };

inline constexpr RenderModeFlag kAllRenderModeFlags[] = {
    RenderModeFlag::AA,    RenderModeFlag::Z_CMP, RenderModeFlag::Z_UPD, RenderModeFlag::IM_RD, RenderModeFlag::C_CVG,
    RenderModeFlag::CVGxA, RenderModeFlag::A_CVG, RenderModeFlag::FC_BL, RenderModeFlag::TEX_E};

// A set of render-mode flags.
class RenderModeFlags {
public:
    constexpr RenderModeFlags() = default;
    constexpr RenderModeFlags(std::initializer_list<RenderModeFlag> flags)
    {
        for (const RenderModeFlag flag : flags)
            set(flag, true);
    }

    constexpr bool has(RenderModeFlag flag) const { return (bits_ & bit(flag)) != 0; }
    constexpr void set(RenderModeFlag flag, bool on)
    {
        bits_ = static_cast<std::uint16_t>(on ? bits_ | bit(flag) : bits_ & ~bit(flag));
    }
    // True when every flag of `required` is set here; other flags do not matter.
    constexpr bool containsAll(RenderModeFlags required) const { return (bits_ & required.bits_) == required.bits_; }
    constexpr bool empty() const { return bits_ == 0; }

    constexpr bool operator==(const RenderModeFlags &) const = default;

private:
    static constexpr unsigned bit(RenderModeFlag flag) { return 1u << static_cast<unsigned>(flag); }
    std::uint16_t bits_ = 0;
};

// Z mode codes (positions 21-22).
namespace zmode {
inline constexpr int OPA = 0;
inline constexpr int INTER = 1;
inline constexpr int XLU = 2;
inline constexpr int DEC = 3;
} // namespace zmode

// Coverage destination codes (positions 23-24).
namespace coverage {
inline constexpr int CLAMP = 0;
inline constexpr int WRAP = 1;
inline constexpr int FULL = 2;
inline constexpr int SAVE = 3;
} // namespace coverage

// The window's words for each code, indexed by the code.
inline constexpr std::array<std::string_view, 4> kZModeTexts = {"OPA(que)", "INTER(penatrating)", "XLU(Transparent)",
                                                                 "DECAL"};
inline constexpr std::array<std::string_view, 4> kCoverageTexts = {"CLAMP", "WRAP", "FULL", "SAVE"};

// Blender input names, indexed by the code, for each input letter.
inline constexpr std::array<std::string_view, 4> kBlendNamesAC = {"CLR_IN", "CLR_MEM", "CLR_BL", "CLR_FOG"};
inline constexpr std::array<std::string_view, 4> kBlendNamesB = {"A_IN", "A_FOG", "A_SHADE", "0.0"};
inline constexpr std::array<std::string_view, 4> kBlendNamesD = {"1-A", "A_MEM", "1.0", "0.0"};

// The name of a blender input: `letter` is "A", "B", "C" or "D" (upper
// case), `code` the field's two characters. "A" and "C" are tested first,
// then "D"; any other letter names a "B" input. A code that is not one of
// "00", "01", "10", "11" has no name (empty text).
std::string_view BlendInputName(std::string_view letter, std::string_view code);

struct BlendInput {
    int code = 0;           // 0 to 3
    std::string_view name;  // its BlendInputName

    bool operator==(const BlendInput &) const = default;
};

inline constexpr std::size_t kBlendCycles = 2;
inline constexpr std::size_t kBlendInputs = 4;  // a, b, c, d
inline constexpr std::array<std::string_view, kBlendInputs> kBlendLetters = {"A", "B", "C", "D"};

struct RenderModeFields {
    RenderModeFlags flags;
    int zMode = zmode::OPA;             // 0 to 3
    int coverage = coverage::CLAMP;     // 0 to 3
    // [cycle][input]: cycle 0 is the first cycle, input 0 is a.
    std::array<std::array<BlendInput, kBlendInputs>, kBlendCycles> blend{};

    bool flag(RenderModeFlag f) const { return flags.has(f); }
    bool operator==(const RenderModeFields &) const = default;
};

enum class RenderModeFieldKind { BlendInput, Flag, ZMode, Coverage };

struct RenderModeFieldLayout {
    BitField bits;
    std::string_view name;  // the name of the field, which is also the control that shows it
    RenderModeFieldKind kind;
    RenderModeFlag flag = RenderModeFlag::AA;  // Flag rows
    int cycle = 0;                              // BlendInput rows: 0 or 1
    int input = 0;                              // BlendInput rows: 0 (a) to 3 (d)
};

namespace detail {
constexpr RenderModeFieldLayout blendField(int first, std::string_view name, int cycle, int input)
{
    return {{first, 2}, name, RenderModeFieldKind::BlendInput, RenderModeFlag::AA, cycle, input};
}
constexpr RenderModeFieldLayout flagField(int position, std::string_view name, RenderModeFlag flag)
{
    return {{position, 1}, name, RenderModeFieldKind::Flag, flag, 0, 0};
}
} // namespace detail

// Every decoded field of the word, in position order. Bit n of the word sits
// at position 32 - n. The blender inputs of the two cycles are interleaved:
// input k (a = 1 ... d = 4) starts at 4k - 3 in the first cycle and at
// 4k - 1 in the second. Positions 30 to 32 are not decoded.
inline constexpr RenderModeFieldLayout kRenderModeLayout[] = {
    detail::blendField(1, "a0", 0, 0),
    detail::blendField(3, "a1", 1, 0),
    detail::blendField(5, "b0", 0, 1),
    detail::blendField(7, "b1", 1, 1),
    detail::blendField(9, "c0", 0, 2),
    detail::blendField(11, "c1", 1, 2),
    detail::blendField(13, "d0", 0, 3),
    detail::blendField(15, "d1", 1, 3),
    detail::flagField(17, "chkTEX_E", RenderModeFlag::TEX_E),
    detail::flagField(18, "chkFC_BL", RenderModeFlag::FC_BL),
    detail::flagField(19, "chkA_CVG", RenderModeFlag::A_CVG),
    detail::flagField(20, "chkCVGxA", RenderModeFlag::CVGxA),
    {{21, 2}, "ZType", RenderModeFieldKind::ZMode},
    {{23, 2}, "CoverageType", RenderModeFieldKind::Coverage},
    detail::flagField(25, "chkC_CVG", RenderModeFlag::C_CVG),
    detail::flagField(26, "chkIM_RD", RenderModeFlag::IM_RD),
    detail::flagField(27, "chkZ_UPD", RenderModeFlag::Z_UPD),
    detail::flagField(28, "chkZ_CMP", RenderModeFlag::Z_CMP),
    detail::flagField(29, "chkAA", RenderModeFlag::AA),
};

inline constexpr int kRenderModeWordLength = 32;

// Decodes a word of 32 '0'/'1' characters. Any other text is read safely:
// a position beyond the end of the text, or holding anything but '1', reads
// as 0 (so an empty text decodes like the all-zero word).
RenderModeFields DecodeRenderMode(std::string_view word);

} // namespace dlscope
