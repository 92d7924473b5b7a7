#pragma once

// The state in effect at a command, as the text of the display-list
// window's State panel: the cycle type and the other-mode fields by name,
// both cycles of the combiner and of the blender as equations, the render
// mode and geometry mode flags, the eight tiles and what texture memory
// holds, the images, colours, loaded vertices and the matrix and call depth.

#include "gbi/state.h"

#include <QString>

namespace dlscope {

QString describeState(const gbi::RenderState &state, gbi::Ucode ucode);

} // namespace dlscope
