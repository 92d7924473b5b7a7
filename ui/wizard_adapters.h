#pragma once

// The wizard flow's two interfaces over the real program: its questions as
// modal message boxes, its control states as the controls of the tool
// windows, found by form name and object name.

#include "wizard/wizard_io.h"

#include <QPointer>

class QWidget;

namespace dlscope {

// Asks through `showMessageBox`, parented to the given window.
class MessageBoxAsker : public wizard::Asker {
public:
    explicit MessageBoxAsker(QWidget *parent) : parent_(parent) {}

    MessageAnswer ask(MessageButtons buttons, std::string_view title, std::string_view text) override;

private:
    QPointer<QWidget> parent_;
};

// Reaches a control by its window's form name and its own object name: line
// edits by text, check boxes by checked state, editable drop-down lists by
// edit text (so a text that is not a list entry shows as it is), any widget
// by enabled state. `self` answers for its own form name; every other window
// comes from the program-wide slots, created hidden when needed. A control
// that cannot be found reads as the defaults and ignores writes.
class WindowControlStore : public wizard::ControlStore {
public:
    explicit WindowControlStore(QWidget *self) : self_(self) {}

    std::string text(wizard::ControlRef control) override;
    void setText(wizard::ControlRef control, std::string_view text) override;
    int checkValue(wizard::ControlRef control) override;
    void setCheckValue(wizard::ControlRef control, int value) override;
    bool enabled(wizard::ControlRef control) override;
    void setEnabled(wizard::ControlRef control, bool enabled) override;

private:
    QWidget *find(wizard::ControlRef control);

    QPointer<QWidget> self_;
};

} // namespace dlscope
