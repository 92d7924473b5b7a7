#pragma once

// The program-wide slots: exactly one instance of each tool window, shared by
// the launcher and the wizard.
//
// A slot is empty until its window is first requested. A request creates the
// window with its designed contents, hidden. A window the user closes is
// destroyed (its slot then yields a fresh one on the next request); the
// wizard's "Close" only hides its window. Closing the launcher destroys every
// window at once without running any of their handlers.

#include <string_view>

class QWidget;

namespace dlscope {

enum class ToolWindow { GeometryMode, RenderMode, Combiner, OtherModeH, Texture, Wizard, SetTile, DisplayList };

inline constexpr ToolWindow kAllToolWindows[] = {ToolWindow::GeometryMode, ToolWindow::RenderMode,
                                                 ToolWindow::Combiner,     ToolWindow::OtherModeH,
                                                 ToolWindow::Texture,      ToolWindow::Wizard,
                                                 ToolWindow::SetTile,      ToolWindow::DisplayList};

namespace WindowSlots {

// The form name of the window kind ("GM", "RM", ...).
std::string_view formName(ToolWindow kind);

// The window kind with that form name, if there is one.
bool kindOf(std::string_view formName, ToolWindow &kind);

// The window, created hidden with its designed contents if the slot is empty
// or its window was closed. Null for a window kind the program cannot make.
QWidget *getOrCreate(ToolWindow kind);

// The window if it exists now, else null. Creates nothing.
QWidget *existing(ToolWindow kind);

// Shows the window modeless and without owner, brings it to the front and
// activates it; an open window keeps its contents.
QWidget *showAndActivate(ToolWindow kind);

// Destroys every tool window without running its handlers; all slots empty.
void closeAll();

} // namespace WindowSlots
} // namespace dlscope
