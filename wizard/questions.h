#pragma once

// Every message box the wizard shows: its buttons, title and lines.

#include "core/message.h"

#include <array>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

namespace dlscope::wizard {

enum class Question {
    Textured,                 // Q1
    Transparency,             // Q2
    SmoothTextures,           // Q3
    VertexAlpha,              // Q4
    Fog,                      // Q5
    FogWithVertexAlpha,       // W1
    FadeAway,                 // Q6
    FadeAwayWithVertexAlpha,  // W2
    DrawOrder,                // Q7
    FullZBuffer,              // Q8
    CombinerType,             // Q9
    TransparencyCombinerType, // Q10
    Completed,                // E1 after the combiner step ran
    Cancelled,                // E1 after a cancel
    UseValues,                // E2
};

inline constexpr std::size_t kMaxPromptLines = 4;

struct Prompt {
    Question question;
    MessageButtons buttons;
    std::string_view title;  // empty: the box shows the program's title
    std::array<std::string_view, kMaxPromptLines> lines;  // the used lines first, the rest empty
};

inline constexpr std::string_view kWizardTitle = "RenderMode Wizard";
inline constexpr std::string_view kVertexAlphaWarningTitle = "Vertex Alpha Warning";

// In the order of `Question`.
inline constexpr Prompt kPrompts[] = {
    {Question::Textured, MessageButtons::YesNo, "", {"Is Textured?"}},
    {Question::Transparency, MessageButtons::YesNo, "Alpha Detected in Texture",
     {"Do you want to Enable Transparency on This texture"}},
    {Question::SmoothTextures, MessageButtons::YesNo, "",
     {"Do you want Smooth Textures?",
      "Select No ONLY if you can guarentee that a texture will NEVER be smaller onscreen than its resolution",
      "Default is YES, Please say Yes if you are not sure"}},
    {Question::VertexAlpha, MessageButtons::YesNo, "", {"VtxA?"}},
    {Question::Fog, MessageButtons::YesNoCancel, kWizardTitle,
     {"Would you like Fog?", "For FadeAway Please Say No to this Question"}},
    {Question::FogWithVertexAlpha, MessageButtons::YesNo, kVertexAlphaWarningTitle,
     {"Vertex Alpha Detected with Fog Selected.", "Unfortunatly Vertex Alpha does NOT work with Fog",
      "If you choose to continue Vertex Alpha will be lost.", "Do You Want to Continue with Fog?"}},
    {Question::FadeAway, MessageButtons::YesNoCancel, kWizardTitle, {"Would you like to Fade Away?"}},
    {Question::FadeAwayWithVertexAlpha, MessageButtons::YesNo, kVertexAlphaWarningTitle,
     {"Vertex Alpha Detected with FadeAway Selected.", "Unfortunatly Vertex Alpha does NOT work with Fog",
      "If you choose to continue Vertex Alpha will be lost.", "Do You Want to Continue with FadeAway?"}},
    {Question::DrawOrder, MessageButtons::YesNoCancel, kWizardTitle,
     {"Would you like to Automatically detect Draw Order (Prevent Overlaps)?",
      "Default is Yes, however this incurs a 10-20% Performance Hit",
      "There are 2 Modes of Z-Buffer. Compare and FULL.", "By Default FULL is used."}},
    {Question::FullZBuffer, MessageButtons::YesNoCancel, kWizardTitle,
     {"Would you like FULL", "By Default FULL is used.",
      "If you select No, Compare Only will be used and Intersecting faces or Backfaces will draw wrongly"}},
    {Question::CombinerType, MessageButtons::YesNoCancel, "Combiner Type",
     {"Do you want Normal Shaded Textures or Brightened Textures?", "Default is Normal"}},
    {Question::TransparencyCombinerType, MessageButtons::YesNoCancel, "Transparency Combiner Type",
     {"Do you want a Normal Texture or a cool looking wireframe effect?", "Default is Normal"}},
    {Question::Completed, MessageButtons::Ok, "", {"You have completed the Wizard"}},
    {Question::Cancelled, MessageButtons::Ok, "",
     {"You have canceled the Wizard, however values you entered have been kept"}},
    {Question::UseValues, MessageButtons::Ok, "", {"To use the Values, Copy the textboxes to calculator"}},
};

static_assert([] {
    for (std::size_t i = 0; i < std::size(kPrompts); ++i) {
        if (static_cast<std::size_t>(kPrompts[i].question) != i || kPrompts[i].lines[0].empty())
            return false;
        // Used lines come first: no gap before a later line.
        for (std::size_t line = 1; line < kMaxPromptLines; ++line)
            if (kPrompts[i].lines[line - 1].empty() && !kPrompts[i].lines[line].empty())
                return false;
    }
    return true;
}(), "prompt rows must follow the Question order, each with its lines first");

inline const Prompt &promptFor(Question question) { return kPrompts[static_cast<std::size_t>(question)]; }

// The prompt's lines joined by a carriage return and line feed, with no break
// after the last line.
std::string promptText(const Prompt &prompt);

} // namespace dlscope::wizard
