#pragma once

// The render-mode wizard's "START" action: a fixed chain of modal questions
// whose answers become settings in the geometry mode, render mode and
// combiner windows, including a complete render-mode word.

#include "wizard/blender_table.h"
#include "wizard/wizard_io.h"

namespace dlscope::wizard {

// The answers and flags of one run. Nothing carries over between runs.
struct WizardRun {
    bool Textured = false;
    bool Transparency = false;
    bool SmoothTextures = false;
    bool VertexAlpha = false;
    bool TwoCycle = false;  // SmoothTextures and Textured
    wizard::FogChoice FogChoice = FogChoice::NoFog;
    bool Completed = false;  // the combiner step ran
};

// One press of "START". Writes the controls through `store` as it goes, so a
// cancelled run keeps everything it wrote up to the cancel. Never starts a
// decode in any window.
WizardRun RunWizard(Asker &asker, ControlStore &store);

} // namespace dlscope::wizard
