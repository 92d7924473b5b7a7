#pragma once

// What the wizard needs from its surroundings: a way to ask a modal message
// box and learn the button pressed, and read/write access to the state of a
// named control of a named window. The window layer implements both over the
// real windows; tests implement them in memory.

#include "core/message.h"

#include <string>
#include <string_view>

namespace dlscope::wizard {

// Form names of the windows the wizard works on.
inline constexpr std::string_view kGeometryWindow = "GM";
inline constexpr std::string_view kRenderModeWindow = "RM";
inline constexpr std::string_view kCombinerWindow = "CC";
inline constexpr std::string_view kWizardWindow = "RMWiz";

// One control: the form name of its window and its own name there.
struct ControlRef {
    std::string_view window;
    std::string_view name;

    friend constexpr bool operator==(const ControlRef &, const ControlRef &) = default;
};

class Asker {
public:
    virtual ~Asker() = default;

    // Shows a modal box and returns the button pressed. An empty title means
    // the box shows the program's own title. A prompt of several lines has
    // them joined by "\r\n".
    virtual MessageAnswer ask(MessageButtons buttons, std::string_view title, std::string_view text) = 0;
};

// Reads and writes control states. A control that does not exist reads as an
// empty text, check value 0 and enabled; writes to it are ignored.
class ControlStore {
public:
    virtual ~ControlStore() = default;

    // Text of a text box, or the edit text of an editable drop-down list.
    virtual std::string text(ControlRef control) = 0;
    virtual void setText(ControlRef control, std::string_view text) = 0;

    // Check box value: 0 unchecked, 1 checked.
    virtual int checkValue(ControlRef control) = 0;
    virtual void setCheckValue(ControlRef control, int value) = 0;

    virtual bool enabled(ControlRef control) = 0;
    virtual void setEnabled(ControlRef control, bool enabled) = 0;
};

} // namespace dlscope::wizard
