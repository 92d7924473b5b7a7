#include "render_mode_macro.h"

namespace dlscope {
namespace {

enum class BlendClass { None, Opaque, Translucent };

// A blender setting holds when the first cycle has it, or, once the first
// cycle is a pass or fog stage, when the second cycle has it.
bool holds(const RenderModeMacroInput &input, bool twoCycle, const BlenderNames &names)
{
    return input.cycle1 == names || (twoCycle && input.cycle2 == names);
}

BlendClass blendClass(const RenderModeMacroInput &input, bool twoCycle)
{
    if (holds(input, twoCycle, blender::Opaque))
        return BlendClass::Opaque;
    if (holds(input, twoCycle, blender::Translucent))
        return BlendClass::Translucent;
    return BlendClass::None;
}

bool blendHolds(PresetBlend blend, const RenderModeMacroInput &input, bool twoCycle, BlendClass cls)
{
    switch (blend) {
    case PresetBlend::Opaque:
        return cls == BlendClass::Opaque;
    case PresetBlend::Translucent:
        return cls == BlendClass::Translucent;
    case PresetBlend::PassPattern:
        return holds(input, twoCycle, blender::Pass);
    case PresetBlend::AddPattern:
        return holds(input, twoCycle, blender::Add);
    case PresetBlend::CoverageViewPattern:
        return holds(input, twoCycle, blender::CoverageView);
    }
    return false;
}

bool presetHolds(const RenderModePreset &preset, const RenderModeMacroInput &input, bool twoCycle, BlendClass cls)
{
    return input.decoded && input.flags.containsAll(preset.flags) &&
           (!preset.zMode || *preset.zMode == input.zMode) &&
           (!preset.coverage || *preset.coverage == input.coverage) && blendHolds(preset.blend, input, twoCycle, cls);
}

} // namespace

RenderModeMacroInput MacroInputOf(const RenderModeFields &fields)
{
    RenderModeMacroInput input;
    for (std::size_t i = 0; i < kBlendInputs; ++i) {
        input.cycle1[i] = fields.blend[0][i].name;
        input.cycle2[i] = fields.blend[1][i].name;
    }
    input.decoded = true;
    input.flags = fields.flags;
    input.zMode = fields.zMode;
    input.coverage = fields.coverage;
    return input;
}

std::string BuildRenderModeMacro(const RenderModeMacroInput &input)
{
    std::string text(kRenderModeMacroStart);

    bool twoCycle = false;
    for (const FirstCycleStage &stage : kFirstCycleStages)
        if (input.cycle1 == stage.names) {
            text += stage.text;
            twoCycle = true;
            break;
        }

    const BlendClass cls = blendClass(input, twoCycle);
    std::string_view preset = kUnknownPreset;
    for (const RenderModePreset &row : kRenderModePresets)
        if (presetHolds(row, input, twoCycle, cls)) {
            preset = row.text;
            break;
        }
    text += preset;

    // A two-cycle mode names the second cycle's form of the preset: its
    // trailing comma and space give way to "2".
    if (twoCycle) {
        text.erase(text.size() - 2);
        text += "2),";
    } else {
        text += "),";
    }
    return text;
}

} // namespace dlscope
