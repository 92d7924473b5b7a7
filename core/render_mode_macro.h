#pragma once

// Naming a render mode as the graphics library's render-mode macro:
// "gDPSetRenderMode(" followed by the preset that produces the word, with the
// first cycle named separately when it only passes the colour through or
// mixes in fog.

#include "render_mode.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace dlscope {

// The four blender input names of one cycle: a, b, c, d.
using BlenderNames = std::array<std::string_view, kBlendInputs>;

namespace blender {
inline constexpr BlenderNames Opaque = {"CLR_IN", "A_IN", "CLR_MEM", "A_MEM"};
inline constexpr BlenderNames Translucent = {"CLR_IN", "A_IN", "CLR_MEM", "1-A"};
inline constexpr BlenderNames Pass = {"CLR_IN", "0.0", "CLR_IN", "1.0"};
inline constexpr BlenderNames Add = {"CLR_IN", "A_FOG", "CLR_MEM", "1.0"};
inline constexpr BlenderNames CoverageView = {"CLR_IN", "0.0", "CLR_BL", "A_MEM"};
inline constexpr BlenderNames FogShade = {"CLR_FOG", "A_SHADE", "CLR_IN", "1-A"};
inline constexpr BlenderNames FogPrim = {"CLR_FOG", "A_FOG", "CLR_IN", "1-A"};
} // namespace blender

// A first cycle that only prepares the colour for the second. Tested in
// order; the first that matches is named and makes the mode two-cycle. The
// fog texts end in a comma without a space.
struct FirstCycleStage {
    BlenderNames names;
    std::string_view text;
};

inline constexpr FirstCycleStage kFirstCycleStages[] = {
    {blender::Pass, "G_RM_PASS, "},
    {blender::FogShade, "G_RM_FOG_SHADE_A,"},
    {blender::FogPrim, "G_RM_FOG_PRIM_A,"},
};

// What a preset needs of the blender: a blend class (opaque or translucent,
// worked out once per word) or one exact pattern.
enum class PresetBlend { Opaque, Translucent, PassPattern, AddPattern, CoverageViewPattern };

struct RenderModePreset {
    std::string_view text;     // appended as is; every text ends in ", "
    RenderModeFlags flags;     // must all be set; other flags are not looked at
    std::optional<int> zMode;  // none: any
    std::optional<int> coverage;
    PresetBlend blend;
};

// In test order: the first row that holds is named. Several rows can never
// be named because an earlier row asks for a subset of their conditions:
// G_RM_AA_ZB_TEX_EDGE and G_RM_AA_ZB_TEX_INTER (after G_RM_AA_ZB_OPA_SURF and
// G_RM_AA_ZB_OPA_INTER), G_RM_AA_ZB_OPA_TERR and G_RM_AA_ZB_TEX_TERR (after
// G_RM_AA_ZB_PCL_SURF), G_RM_AA_TEX_EDGE (after G_RM_AA_OPA_SURF),
// G_RM_AA_OPA_TERR and G_RM_AA_TEX_TERR (after G_RM_AA_PCL_SURF) and
// G_RM_TEX_EDGE (after G_RM_OPA_SURF).
inline constexpr auto kRenderModePresets = [] {
    using enum RenderModeFlag;
    using enum PresetBlend;
    return std::array<RenderModePreset, 43>{{
        {"G_RM_AA_ZB_OPA_SURF, ", {AA, Z_CMP, Z_UPD, IM_RD, A_CVG}, zmode::OPA, coverage::CLAMP, Opaque},
        {"G_RM_RA_ZB_OPA_SURF, ", {AA, Z_CMP, Z_UPD, A_CVG}, zmode::OPA, coverage::CLAMP, Opaque},
        {"G_RM_AA_ZB_XLU_SURF, ", {AA, Z_CMP, IM_RD, C_CVG, FC_BL}, zmode::XLU, coverage::WRAP, Translucent},
        {"G_RM_AA_ZB_OPA_DECAL, ", {AA, Z_CMP, IM_RD, A_CVG}, zmode::DEC, coverage::WRAP, Opaque},
        {"G_RM_RA_ZB_OPA_DECAL, ", {AA, Z_CMP, A_CVG}, zmode::DEC, coverage::WRAP, Opaque},
        {"G_RM_AA_ZB_XLU_DECAL, ", {AA, Z_CMP, IM_RD, C_CVG, FC_BL}, zmode::DEC, coverage::WRAP, Translucent},
        {"G_RM_AA_ZB_OPA_INTER, ", {AA, Z_CMP, Z_UPD, IM_RD, A_CVG}, zmode::INTER, coverage::CLAMP, Opaque},
        {"G_RM_RA_ZB_OPA_INTER, ", {AA, Z_CMP, Z_UPD, A_CVG}, zmode::INTER, coverage::CLAMP, Opaque},
        {"G_RM_AA_ZB_XLU_INTER, ", {AA, Z_CMP, IM_RD, C_CVG, FC_BL}, zmode::INTER, coverage::WRAP, Translucent},
        {"G_RM_AA_ZB_XLU_LINE, ", {AA, Z_CMP, IM_RD, CVGxA, A_CVG, FC_BL}, zmode::XLU, coverage::CLAMP, Translucent},
        {"G_RM_AA_ZB_DEC_LINE, ", {AA, Z_CMP, IM_RD, CVGxA, A_CVG, FC_BL}, zmode::DEC, coverage::SAVE, Translucent},
        {"G_RM_AA_ZB_TEX_EDGE, ", {AA, Z_CMP, Z_UPD, IM_RD, CVGxA, A_CVG}, zmode::OPA, coverage::CLAMP, Opaque},
        {"G_RM_AA_ZB_TEX_INTER, ", {AA, Z_CMP, Z_UPD, IM_RD, CVGxA, A_CVG}, zmode::INTER, coverage::CLAMP, Opaque},
        {"G_RM_AA_ZB_SUB_SURF, ", {AA, Z_CMP, Z_UPD, IM_RD, A_CVG}, zmode::OPA, coverage::FULL, Opaque},
        {"G_RM_AA_ZB_PCL_SURF, ", {AA, Z_CMP, Z_UPD, IM_RD}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_ZB_OPA_TERR, ", {AA, Z_CMP, Z_UPD, IM_RD, A_CVG}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_ZB_TEX_TERR, ", {AA, Z_CMP, Z_UPD, IM_RD, CVGxA, A_CVG}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_ZB_SUB_TERR, ", {AA, Z_CMP, Z_UPD, IM_RD, A_CVG}, zmode::OPA, coverage::FULL, Translucent},
        {"G_RM_AA_OPA_SURF, ", {AA, IM_RD, A_CVG}, zmode::OPA, coverage::CLAMP, Opaque},
        {"G_RM_RA_OPA_SURF, ", {AA, A_CVG}, zmode::OPA, coverage::CLAMP, Opaque},
        {"G_RM_AA_XLU_SURF, ", {AA, IM_RD, C_CVG, FC_BL}, zmode::OPA, coverage::WRAP, Translucent},
        {"G_RM_AA_XLU_LINE, ", {AA, IM_RD, CVGxA, A_CVG, FC_BL}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_DEC_LINE, ", {AA, IM_RD, CVGxA, A_CVG, FC_BL}, zmode::OPA, coverage::FULL, Translucent},
        {"G_RM_AA_TEX_EDGE, ", {AA, IM_RD, CVGxA, A_CVG}, zmode::OPA, coverage::CLAMP, Opaque},
        {"G_RM_AA_SUB_SURF, ", {AA, IM_RD, A_CVG}, zmode::OPA, coverage::FULL, Opaque},
        {"G_RM_AA_PCL_SURF, ", {AA, IM_RD}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_OPA_TERR, ", {AA, IM_RD, A_CVG}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_TEX_TERR, ", {AA, IM_RD, CVGxA, A_CVG}, zmode::OPA, coverage::CLAMP, Translucent},
        {"G_RM_AA_SUB_TERR, ", {AA, IM_RD, A_CVG}, zmode::OPA, coverage::FULL, Translucent},
        {"G_RM_ZB_OPA_SURF, ", {Z_CMP, Z_UPD, A_CVG}, zmode::OPA, coverage::FULL, Opaque},
        {"G_RM_ZB_XLU_SURF, ", {Z_CMP, IM_RD, FC_BL}, zmode::XLU, coverage::FULL, Translucent},
        {"G_RM_ZB_OPA_DECAL, ", {Z_CMP, A_CVG}, zmode::DEC, coverage::FULL, Opaque},
        {"G_RM_ZB_XLU_DECAL, ", {Z_CMP, IM_RD, FC_BL}, zmode::DEC, coverage::FULL, Translucent},
        {"G_RM_ZB_CLD_SURF, ", {Z_CMP, IM_RD, FC_BL}, zmode::XLU, coverage::SAVE, Translucent},
        {"G_RM_ZB_OVL_SURF, ", {Z_CMP, IM_RD, FC_BL}, zmode::DEC, coverage::SAVE, Translucent},
        {"G_RM_XLU_SURF, ", {IM_RD, FC_BL}, zmode::OPA, coverage::FULL, Translucent},
        {"G_RM_CLD_SURF, ", {IM_RD, FC_BL}, zmode::OPA, coverage::SAVE, Translucent},
        {"G_RM_ZB_PCL_SURF, ", {Z_CMP, Z_UPD}, zmode::OPA, coverage::FULL, PassPattern},
        {"G_RM_OPA_SURF, ", {FC_BL}, zmode::OPA, coverage::CLAMP, PassPattern},
        {"G_RM_TEX_EDGE, ", {AA, CVGxA, A_CVG, FC_BL}, zmode::OPA, coverage::CLAMP, PassPattern},
        {"G_RM_PCL_SURF, ", {FC_BL}, zmode::OPA, coverage::FULL, PassPattern},
        {"G_RM_ADD, ", {IM_RD, FC_BL}, zmode::OPA, coverage::SAVE, AddPattern},
        {"G_RM_VISCVG, ", {IM_RD, FC_BL}, std::nullopt, std::nullopt, CoverageViewPattern},
    }};
}();

inline constexpr std::string_view kRenderModeMacroStart = "gDPSetRenderMode(";
inline constexpr std::string_view kUnknownPreset = "DevDefined, ";

// The values of one press of "Info".
struct RenderModeMacroInput {
    BlenderNames cycle1{};  // texts of a0, b0, c0, d0
    BlenderNames cycle2{};  // texts of a1, b1, c1, d1
    // Whether a word was decoded at all. When not, no flag, Z mode or
    // coverage condition holds, so no preset is named.
    bool decoded = false;
    RenderModeFlags flags;  // TEX_E plays no part
    int zMode = zmode::OPA;
    int coverage = coverage::CLAMP;
};

// The input of a decoded word, with the blender names the decode gave.
RenderModeMacroInput MacroInputOf(const RenderModeFields &fields);

std::string BuildRenderModeMacro(const RenderModeMacroInput &input);

} // namespace dlscope
