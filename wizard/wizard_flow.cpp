#include "wizard/wizard_flow.h"

#include "wizard/questions.h"

#include <array>
#include <optional>
#include <span>
#include <string>

namespace dlscope::wizard {
namespace {

constexpr ControlRef gm(std::string_view name) { return {kGeometryWindow, name}; }
constexpr ControlRef rm(std::string_view name) { return {kRenderModeWindow, name}; }
constexpr ControlRef cc(std::string_view name) { return {kCombinerWindow, name}; }

constexpr ControlRef kWizardText = {kWizardWindow, "Text1"};
constexpr ControlRef kRenderModeText = rm("Text1");
constexpr ControlRef kZType = rm("ZType");
constexpr ControlRef kCoverageType = rm("CoverageType");
constexpr ControlRef kFog = gm("FOG");

// The Z-mode and coverage words the wizard writes, and the codes they stand
// for in the render-mode word.
struct SelectorCode {
    std::string_view text;
    std::string_view code;
};
constexpr SelectorCode kZModeCodes[] = {{"INTER", "01"}, {"XLU", "10"}};
constexpr SelectorCode kCoverageCodes[] = {{"CLAMP", "00"}, {"WRAP", "01"}};
constexpr std::string_view kZInter = kZModeCodes[0].text;
constexpr std::string_view kZTranslucent = kZModeCodes[1].text;
constexpr std::string_view kCoverageClamp = kCoverageCodes[0].text;
constexpr std::string_view kCoverageWrap = kCoverageCodes[1].text;

// A control write of the presets: a check value, or a text when `text` is set.
struct PresetWrite {
    ControlRef control;
    int check;
    std::string_view text;
};

// Written at the start of every run, in this order. Nothing else is reset.
constexpr PresetWrite kPresets[] = {
    {gm("FOG"), 1, {}},    {gm("SHADE"), 1, {}},  {gm("SMOOTHSHADE"), 1, {}},
    {gm("TGEN"), 0, {}},   {gm("TGENL"), 0, {}},  {gm("LIGHT"), 0, {}},
    {gm("ZBUFF"), 1, {}},  {gm("CULLB"), 1, {}},  {gm("CULLF"), 0, {}},
    {kZType, 0, kZInter},  {kCoverageType, 0, kCoverageClamp},
    {rm("chkFC_BL"), 0, {}}, {rm("chkAA"), 1, {}}, {rm("chkIM_RD"), 1, {}},
};

// Positions 17 to 32 of the render-mode word, read back from the render mode
// window in this order.
enum class PieceKind { Literal, Check, Selector };
struct WordPiece {
    PieceKind kind;
    std::string_view value;  // the literal digits, or the control's name
    std::span<const SelectorCode> codes = {};
};
constexpr WordPiece kSecondHalf[] = {
    {PieceKind::Literal, "0"},  // texture edge: neither read nor set
    {PieceKind::Check, "chkFC_BL"},
    {PieceKind::Check, "chkA_CVG"},
    {PieceKind::Check, "chkCVGxA"},
    {PieceKind::Selector, "ZType", kZModeCodes},
    {PieceKind::Selector, "CoverageType", kCoverageCodes},
    {PieceKind::Check, "chkC_CVG"},
    {PieceKind::Check, "chkIM_RD"},
    {PieceKind::Check, "chkZ_UPD"},
    {PieceKind::Check, "chkZ_CMP"},
    {PieceKind::Check, "chkAA"},
    {PieceKind::Literal, "000"},
};
static_assert([] {
    std::size_t width = 0;
    for (const WordPiece &piece : kSecondHalf)
        width += piece.kind == PieceKind::Literal ? piece.value.size() : piece.kind == PieceKind::Check ? 1 : 2;
    return width == 16;
}(), "the read-back half of the render-mode word has 16 positions");

// Render mode window blender boxes, inputs a, b, c, d.
constexpr std::array<ControlRef, 4> kBlendFirst = {rm("a0"), rm("b0"), rm("c0"), rm("d0")};
constexpr std::array<ControlRef, 4> kBlendSecond = {rm("a1"), rm("b1"), rm("c1"), rm("d1")};

// Combiner window input boxes, inputs a, b, c, d.
using CombinerBoxes = std::array<ControlRef, 4>;
constexpr CombinerBoxes kColourFirst = {cc("a0"), cc("b0"), cc("c0"), cc("d0")};
constexpr CombinerBoxes kAlphaFirst = {cc("aa0"), cc("ab0"), cc("ac0"), cc("ad0")};
constexpr CombinerBoxes kColourSecond = {cc("a1"), cc("b1"), cc("c1"), cc("d1")};
constexpr CombinerBoxes kAlphaSecond = {cc("aa1"), cc("ab1"), cc("ac1"), cc("ad1")};

// Combiner inputs a, b, c, d as written into the boxes.
using CombinerTexts = std::array<std::string_view, 4>;
constexpr CombinerTexts kNormalShading = {"Combined", "0", "Shade", "0"};
constexpr CombinerTexts kBrightened = {"Shade", "Combined", "Shade", "Combined"};
constexpr CombinerTexts kUntexturedShading = {"1", "0", "Shade", "0"};
constexpr CombinerTexts kNormalTransparency = {"Combined", "0", "Environment", "0"};
constexpr CombinerTexts kWireframe = {"Combined", "0", "Environment", "Texel0"};
constexpr CombinerTexts kOpaqueAlpha = {"0", "0", "0", "1"};
// First cycle of a two-cycle run: mix two texture levels by the LOD fraction.
constexpr CombinerTexts kLevelMix = {"Texel1", "Texel0", "LOD_FRACTION", "Texel0"};

class Flow {
public:
    Flow(Asker &asker, ControlStore &store) : asker_(asker), store_(store) {}

    WizardRun run()
    {
        writePresets();
        askSurface();
        run_.VertexAlpha = ask(Question::VertexAlpha) == MessageAnswer::Yes;
        setZModeAndCoverage();
        if (const auto fog = askFogChoice()) {
            run_.FogChoice = *fog;
            writeBlender();
            if (askDepth()) {
                appendSecondHalf();
                writeCombiner();
                run_.Completed = true;
            }
        }
        ask(run_.Completed ? Question::Completed : Question::Cancelled);
        ask(Question::UseValues);
        return run_;
    }

private:
    MessageAnswer ask(Question question)
    {
        const Prompt &prompt = promptFor(question);
        return asker_.ask(prompt.buttons, prompt.title, promptText(prompt));
    }

    bool askYes(Question question) { return ask(question) == MessageAnswer::Yes; }

    void writeTexts(std::span<const ControlRef> boxes, std::span<const std::string_view> texts)
    {
        for (std::size_t i = 0; i < boxes.size(); ++i)
            store_.setText(boxes[i], texts[i]);
    }

    void setEnabled(std::span<const ControlRef> boxes, bool enabled)
    {
        for (const ControlRef &box : boxes)
            store_.setEnabled(box, enabled);
    }

    void writePresets()
    {
        for (const PresetWrite &preset : kPresets) {
            if (preset.text.empty())
                store_.setCheckValue(preset.control, preset.check);
            else
                store_.setText(preset.control, preset.text);
        }
    }

    void askSurface()
    {
        if (!askYes(Question::Textured))
            return;
        run_.Textured = true;
        run_.Transparency = askYes(Question::Transparency);
        run_.SmoothTextures = askYes(Question::SmoothTextures);
        run_.TwoCycle = run_.SmoothTextures && run_.Textured;
    }

    void setZModeAndCoverage()
    {
        if (run_.Transparency) {
            store_.setText(kZType, kZTranslucent);
            store_.setText(kCoverageType, kCoverageWrap);
        }
        if (run_.TwoCycle)
            store_.setCheckValue(rm("chkA_CVG"), 1);
        if (run_.Transparency) {
            store_.setCheckValue(rm("chkA_CVG"), 0);
            store_.setCheckValue(rm("chkCVGxA"), 1);
        }
    }

    // Nothing on a cancel.
    std::optional<FogChoice> askFogChoice()
    {
        const MessageAnswer fog = ask(Question::Fog);
        if (fog == MessageAnswer::Cancel)
            return std::nullopt;
        if (fog == MessageAnswer::Yes)
            return !run_.VertexAlpha || askYes(Question::FogWithVertexAlpha) ? FogChoice::Fog : FogChoice::NoFog;
        const MessageAnswer fade = ask(Question::FadeAway);
        if (fade == MessageAnswer::Cancel)
            return std::nullopt;
        if (fade == MessageAnswer::Yes)
            return !run_.VertexAlpha || askYes(Question::FadeAwayWithVertexAlpha) ? FogChoice::FadeAway
                                                                                  : FogChoice::NoFog;
        return FogChoice::NoFog;
    }

    void writeBlender()
    {
        if (run_.FogChoice == FogChoice::NoFog && run_.VertexAlpha)
            store_.setCheckValue(kFog, 0);
        const BlenderRow &row = blenderRow(run_.FogChoice, run_.TwoCycle, run_.Transparency);
        store_.setText(kWizardText, row.selectors);
        writeTexts(kBlendFirst, row.firstCycle);
        writeTexts(kBlendSecond, row.secondCycle);
        if (row.forceBlender)
            store_.setCheckValue(rm("chkFC_BL"), 1);
        // A one-cycle blend has no second cycle; a two-cycle run brings the
        // boxes it just wrote back into use.
        setEnabled(kBlendSecond, run_.TwoCycle);
    }

    // False on a cancel.
    bool askDepth()
    {
        const MessageAnswer drawOrder = ask(Question::DrawOrder);
        if (drawOrder == MessageAnswer::Cancel)
            return false;
        int compare = 0;
        int update = 0;
        if (drawOrder == MessageAnswer::Yes) {
            const MessageAnswer full = ask(Question::FullZBuffer);
            if (full == MessageAnswer::Cancel)
                return false;
            compare = 1;
            update = full == MessageAnswer::Yes ? 1 : 0;
        }
        store_.setCheckValue(rm("chkZ_CMP"), compare);
        store_.setCheckValue(rm("chkZ_UPD"), update);
        return true;
    }

    std::string selectorCode(const WordPiece &piece)
    {
        const std::string text = store_.text(rm(piece.value));
        for (const SelectorCode &entry : piece.codes)
            if (entry.text == text)
                return std::string(entry.code);
        // Only the wizard's own words occur here (it set them earlier in this
        // run, behind modal boxes); any other text keeps the word at 32
        // characters with the first code of the field.
        return "00";
    }

    void appendSecondHalf()
    {
        std::string word = store_.text(kWizardText);
        for (const WordPiece &piece : kSecondHalf) {
            switch (piece.kind) {
            case PieceKind::Literal:
                word += piece.value;
                break;
            case PieceKind::Check:
                word += store_.checkValue(rm(piece.value)) != 0 ? '1' : '0';
                break;
            case PieceKind::Selector:
                word += selectorCode(piece);
                break;
            }
        }
        store_.setText(kWizardText, word);
        store_.setText(kRenderModeText, store_.text(kWizardText));
    }

    void writeCombiner()
    {
        if (run_.Textured)
            writeTexts(kColourSecond, askYes(Question::CombinerType) ? kNormalShading : kBrightened);
        else
            writeTexts(kColourSecond, kUntexturedShading);

        if (run_.Textured) {
            if (run_.Transparency)
                writeTexts(kAlphaSecond,
                           askYes(Question::TransparencyCombinerType) ? kNormalTransparency : kWireframe);
            else
                writeTexts(kAlphaSecond, kOpaqueAlpha);
        }

        if (run_.TwoCycle) {
            writeTexts(kColourFirst, kLevelMix);
            writeTexts(kAlphaFirst, kLevelMix);
            // Both cycles are in use: the second-cycle boxes written above
            // are enabled again after any earlier one-cycle run.
            setEnabled(kColourSecond, true);
            setEnabled(kAlphaSecond, true);
            return;
        }
        // One cycle: both cycles do the same, the second is not used.
        for (std::size_t i = 0; i < 4; ++i)
            store_.setText(kColourFirst[i], store_.text(kColourSecond[i]));
        for (std::size_t i = 0; i < 4; ++i)
            store_.setText(kAlphaFirst[i], store_.text(kAlphaSecond[i]));
        setEnabled(kColourSecond, false);
        setEnabled(kAlphaSecond, false);
    }

    Asker &asker_;
    ControlStore &store_;
    WizardRun run_;
};

} // namespace

WizardRun RunWizard(Asker &asker, ControlStore &store) { return Flow(asker, store).run(); }

} // namespace dlscope::wizard
