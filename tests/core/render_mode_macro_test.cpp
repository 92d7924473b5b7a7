#include "core/command_text.h"
#include "core/render_mode.h"
#include "core/render_mode_macro.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace dlscope {
namespace {

using F = RenderModeFlag;

// The preset names in test order.
const char *const kPresetNames[] = {
    "G_RM_AA_ZB_OPA_SURF",  "G_RM_RA_ZB_OPA_SURF",  "G_RM_AA_ZB_XLU_SURF",  "G_RM_AA_ZB_OPA_DECAL",
    "G_RM_RA_ZB_OPA_DECAL", "G_RM_AA_ZB_XLU_DECAL", "G_RM_AA_ZB_OPA_INTER", "G_RM_RA_ZB_OPA_INTER",
    "G_RM_AA_ZB_XLU_INTER", "G_RM_AA_ZB_XLU_LINE",  "G_RM_AA_ZB_DEC_LINE",  "G_RM_AA_ZB_TEX_EDGE",
    "G_RM_AA_ZB_TEX_INTER", "G_RM_AA_ZB_SUB_SURF",  "G_RM_AA_ZB_PCL_SURF",  "G_RM_AA_ZB_OPA_TERR",
    "G_RM_AA_ZB_TEX_TERR",  "G_RM_AA_ZB_SUB_TERR",  "G_RM_AA_OPA_SURF",     "G_RM_RA_OPA_SURF",
    "G_RM_AA_XLU_SURF",     "G_RM_AA_XLU_LINE",     "G_RM_AA_DEC_LINE",     "G_RM_AA_TEX_EDGE",
    "G_RM_AA_SUB_SURF",     "G_RM_AA_PCL_SURF",     "G_RM_AA_OPA_TERR",     "G_RM_AA_TEX_TERR",
    "G_RM_AA_SUB_TERR",     "G_RM_ZB_OPA_SURF",     "G_RM_ZB_XLU_SURF",     "G_RM_ZB_OPA_DECAL",
    "G_RM_ZB_XLU_DECAL",    "G_RM_ZB_CLD_SURF",     "G_RM_ZB_OVL_SURF",     "G_RM_XLU_SURF",
    "G_RM_CLD_SURF",        "G_RM_ZB_PCL_SURF",     "G_RM_OPA_SURF",        "G_RM_TEX_EDGE",
    "G_RM_PCL_SURF",        "G_RM_ADD",             "G_RM_VISCVG",
};
static_assert(std::size(kPresetNames) == 43);

// Rows (1-based) that an earlier row always wins over.
const std::map<int, int> kShadowedBy = {{12, 1}, {13, 7}, {16, 15}, {17, 15}, {24, 19}, {27, 26}, {28, 26}, {40, 39}};

const BlenderNames kOther = {"a", "b", "c", "d"};

BlenderNames namesFor(PresetBlend blend)
{
    switch (blend) {
    case PresetBlend::Opaque:
        return blender::Opaque;
    case PresetBlend::Translucent:
        return blender::Translucent;
    case PresetBlend::PassPattern:
        return blender::Pass;
    case PresetBlend::AddPattern:
        return blender::Add;
    case PresetBlend::CoverageViewPattern:
        return blender::CoverageView;
    }
    return kOther;
}

// The preset a macro text names, or "" when the text is not of the form
// "gDPSetRenderMode(" [stage] preset (", )," | "2),") with the stage's
// "2" form exactly when a stage is present.
std::string presetOf(std::string_view text)
{
    constexpr std::string_view start = "gDPSetRenderMode(";
    if (text.substr(0, start.size()) != start)
        return {};
    text.remove_prefix(start.size());
    bool twoCycle = false;
    for (const std::string_view stage : {"G_RM_PASS, ", "G_RM_FOG_SHADE_A,", "G_RM_FOG_PRIM_A,"})
        if (text.substr(0, stage.size()) == stage) {
            text.remove_prefix(stage.size());
            twoCycle = true;
            break;
        }
    const std::string_view end = twoCycle ? "2)," : ", ),";
    if (text.size() <= end.size() || text.substr(text.size() - end.size()) != end)
        return {};
    return std::string(text.substr(0, text.size() - end.size()));
}

std::string macro(std::string_view stage, std::string_view preset, bool twoCycle)
{
    return "gDPSetRenderMode(" + std::string(stage) + std::string(preset) + (twoCycle ? "2)," : ", ),");
}

TEST(RenderModePresets, TableHoldsTheNamesInTestOrder)
{
    ASSERT_EQ(std::size(kRenderModePresets), std::size(kPresetNames));
    for (std::size_t i = 0; i < std::size(kPresetNames); ++i)
        EXPECT_EQ(kRenderModePresets[i].text, std::string(kPresetNames[i]) + ", ") << "row " << i + 1;
}

// Each preset row, given exactly what it asks for, either in the first
// cycle alone or as the second cycle behind a fog stage.
struct RowCase {
    int row;  // 1-based
    bool behindFog;
};

class PresetRowTest : public testing::TestWithParam<RowCase> {};

TEST_P(PresetRowTest, IsNamedUnlessAnEarlierRowShadowsIt)
{
    const RenderModePreset &preset = kRenderModePresets[static_cast<std::size_t>(GetParam().row - 1)];
    RenderModeMacroInput input;
    input.decoded = true;
    input.flags = preset.flags;
    input.zMode = preset.zMode.value_or(zmode::XLU);
    input.coverage = preset.coverage.value_or(coverage::SAVE);
    if (GetParam().behindFog) {
        input.cycle1 = blender::FogShade;
        input.cycle2 = namesFor(preset.blend);
    } else {
        input.cycle1 = namesFor(preset.blend);
        input.cycle2 = kOther;
    }

    const auto shadow = kShadowedBy.find(GetParam().row);
    const int winner = shadow == kShadowedBy.end() ? GetParam().row : shadow->second;
    const std::string name = kPresetNames[winner - 1];

    std::string expected;
    if (GetParam().behindFog)
        expected = macro("G_RM_FOG_SHADE_A,", name, true);
    else if (preset.blend == PresetBlend::PassPattern)
        expected = macro("G_RM_PASS, ", name, true);  // the pass names are also the first-cycle pass stage
    else
        expected = macro("", name, false);
    EXPECT_EQ(BuildRenderModeMacro(input), expected);

    // Texture edge is never looked at.
    input.flags.set(F::TEX_E, !input.flags.has(F::TEX_E));
    EXPECT_EQ(BuildRenderModeMacro(input), expected);
}

std::vector<RowCase> rowCases()
{
    std::vector<RowCase> cases;
    for (int row = 1; row <= 43; ++row)
        for (const bool behindFog : {false, true})
            cases.push_back({row, behindFog});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllRows, PresetRowTest, testing::ValuesIn(rowCases()),
                         [](const testing::TestParamInfo<RowCase> &p) {
                             return "Row" + std::to_string(p.param.row) + (p.param.behindFog ? "BehindFog" : "");
                         });

// Over every flag set, Z mode and coverage and every blender kind in each
// cycle: the shadowed names never come out, every other name does.
TEST(RenderModePresets, ShadowedNamesNeverAppearAndTheRestAreReachable)
{
    const BlenderNames kinds[] = {blender::Opaque, blender::Translucent, blender::Pass,     blender::Add,
                                  blender::CoverageView, blender::FogShade, blender::FogPrim, kOther};
    std::set<std::string> named;
    RenderModeMacroInput input;
    input.decoded = true;
    for (unsigned mask = 0; mask < 256; ++mask) {
        input.flags = {};
        for (unsigned f = 0; f < 8; ++f)
            input.flags.set(static_cast<F>(f), (mask >> f & 1u) != 0);
        for (int z = 0; z < 4; ++z)
            for (int c = 0; c < 4; ++c)
                for (const BlenderNames &first : kinds)
                    for (const BlenderNames &second : kinds) {
                        input.zMode = z;
                        input.coverage = c;
                        input.cycle1 = first;
                        input.cycle2 = second;
                        named.insert(presetOf(BuildRenderModeMacro(input)));
                    }
    }
    // Nothing else: every text was well formed.
    EXPECT_EQ(named.size(), 43 - kShadowedBy.size() + 1);
    EXPECT_EQ(named.count("DevDefined"), 1u);
    for (int row = 1; row <= 43; ++row)
        EXPECT_EQ(named.count(kPresetNames[row - 1]), kShadowedBy.count(row) ? 0u : 1u) << kPresetNames[row - 1];
}

struct MacroCase {
    const char *name;
    RenderModeMacroInput input;
    std::string expected;
};

std::ostream &operator<<(std::ostream &out, const MacroCase &c) { return out << c.name; }

RenderModeMacroInput decoded(BlenderNames first, BlenderNames second, RenderModeFlags flags, int z = zmode::OPA,
                             int cov = coverage::CLAMP)
{
    return {first, second, true, flags, z, cov};
}

RenderModeMacroInput fromHex(const char *hex) { return MacroInputOf(DecodeRenderMode(HexToBinary(hex).binary.substr(32))); }

const RenderModeFlags kZbOpaSurf = {F::AA, F::Z_CMP, F::Z_UPD, F::IM_RD, F::A_CVG};

std::vector<MacroCase> macroCases()
{
    RenderModeMacroInput notDecoded = decoded(blender::Opaque, blender::Opaque, kZbOpaSurf);
    notDecoded.decoded = false;
    RenderModeMacroInput passNotDecoded = decoded(blender::Pass, blender::Opaque, kZbOpaSurf);
    passNotDecoded.decoded = false;
    const BlenderNames lowerCase = {"clr_in", "a_in", "clr_mem", "a_mem"};

    return {
        {"DefaultWord", MacroInputOf(DecodeRenderMode("00001100000110000010000001111000")),
         "gDPSetRenderMode(G_RM_PASS, G_RM_AA_ZB_PCL_SURF2),"},
        {"Hex0C184078", fromHex("0C184078"), "gDPSetRenderMode(G_RM_PASS, G_RM_AA_ZB_PCL_SURF2),"},
        {"HexC8112078", fromHex("C8112078"), "gDPSetRenderMode(G_RM_FOG_SHADE_A,G_RM_AA_ZB_OPA_SURF2),"},
        {"OneCycleKeepsCommaAndSpace", decoded(blender::Opaque, blender::Opaque, kZbOpaSurf),
         "gDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, ),"},
        {"FogShadeHasNoSpace", decoded(blender::FogShade, blender::Opaque, kZbOpaSurf),
         "gDPSetRenderMode(G_RM_FOG_SHADE_A,G_RM_AA_ZB_OPA_SURF2),"},
        {"NoMatch", decoded(kOther, kOther, {}), "gDPSetRenderMode(DevDefined, ),"},
        {"FogPrimNoMatch", decoded(blender::FogPrim, kOther, {}), "gDPSetRenderMode(G_RM_FOG_PRIM_A,DevDefined2),"},
        {"ExtraImageReadIsRow1", decoded(blender::Opaque, kOther, kZbOpaSurf),
         "gDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, ),"},
        {"WithoutImageReadIsRow2", decoded(blender::Opaque, kOther, {F::AA, F::Z_CMP, F::Z_UPD, F::A_CVG}),
         "gDPSetRenderMode(G_RM_RA_ZB_OPA_SURF, ),"},
        {"AllFlagsStillRow1", decoded(blender::Opaque, kOther, {F::AA, F::Z_CMP, F::Z_UPD, F::IM_RD, F::C_CVG,
                                                                F::CVGxA, F::A_CVG, F::FC_BL}),
         "gDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, ),"},
        {"PassBothCycles", decoded(blender::Pass, blender::Pass, {F::FC_BL}),
         "gDPSetRenderMode(G_RM_PASS, G_RM_OPA_SURF2),"},
        {"SecondCycleAloneIsNotLookedAt", decoded(kOther, blender::Opaque, kZbOpaSurf),
         "gDPSetRenderMode(DevDefined, ),"},
        {"FirstCycleOpaqueSecondIgnored", decoded(blender::Opaque, blender::Translucent, kZbOpaSurf),
         "gDPSetRenderMode(G_RM_AA_ZB_OPA_SURF, ),"},
        {"WrongZMode", decoded(blender::Opaque, kOther, kZbOpaSurf, zmode::XLU), "gDPSetRenderMode(DevDefined, ),"},
        {"VisCvgAnyZAndCoverage", decoded(blender::CoverageView, kOther, {F::IM_RD, F::FC_BL}, zmode::DEC,
                                          coverage::WRAP),
         "gDPSetRenderMode(G_RM_VISCVG, ),"},
        {"NamesCompareCaseExactly", decoded(lowerCase, kOther, kZbOpaSurf), "gDPSetRenderMode(DevDefined, ),"},
        {"NotDecodedNamesNoPreset", notDecoded, "gDPSetRenderMode(DevDefined, ),"},
        {"NotDecodedStillFindsPassStage", passNotDecoded, "gDPSetRenderMode(G_RM_PASS, DevDefined2),"},
        {"BoxDefaults", {{"a", "b", "c", "d"}, {"a", "b", "c", "d"}, false, {}, 0, 0}, "gDPSetRenderMode(DevDefined, ),"},
    };
}

class BuildRenderModeMacroTest : public testing::TestWithParam<MacroCase> {};

TEST_P(BuildRenderModeMacroTest, Text) { EXPECT_EQ(BuildRenderModeMacro(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Examples, BuildRenderModeMacroTest, testing::ValuesIn(macroCases()),
                         [](const testing::TestParamInfo<MacroCase> &p) { return std::string(p.param.name); });

// Random words: the text is always one well-formed macro naming one preset.
TEST(BuildRenderModeMacroRobustness, RandomWords)
{
    std::mt19937 random(42);
    std::set<std::string> presets(std::begin(kPresetNames), std::end(kPresetNames));
    presets.insert("DevDefined");
    for (int i = 0; i < 20000; ++i) {
        std::string word(32, '0');
        for (char &c : word)
            c = static_cast<char>('0' + random() % 2);
        RenderModeMacroInput input = MacroInputOf(DecodeRenderMode(word));
        input.decoded = random() % 8 != 0;
        EXPECT_EQ(presets.count(presetOf(BuildRenderModeMacro(input))), 1u) << word;
    }
}

} // namespace
} // namespace dlscope
