#include "wizard_adapters.h"

#include "message_box.h"
#include "text.h"
#include "window_slots.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace dlscope {
namespace {

// Control texts go through UTF-8 both ways, so that what the user typed into
// a box survives the wizard's copies unchanged.
std::string toBytes(const QString &text) { return text.toUtf8().toStdString(); }

} // namespace

MessageAnswer MessageBoxAsker::ask(MessageButtons buttons, std::string_view title, std::string_view text)
{
    return showMessageBox(parent_.data(), buttons, toQString(title), toQString(text));
}

QWidget *WindowControlStore::find(wizard::ControlRef control)
{
    const QString windowName = toQString(control.window);
    QWidget *window = nullptr;
    if (self_ && self_->objectName() == windowName) {
        window = self_.data();
    } else {
        ToolWindow kind{};
        if (WindowSlots::kindOf(control.window, kind))
            window = WindowSlots::getOrCreate(kind);
    }
    return window ? window->findChild<QWidget *>(toQString(control.name)) : nullptr;
}

std::string WindowControlStore::text(wizard::ControlRef control)
{
    QWidget *widget = find(control);
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return toBytes(edit->text());
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return toBytes(combo->currentText());
    return {};
}

void WindowControlStore::setText(wizard::ControlRef control, std::string_view text)
{
    QWidget *widget = find(control);
    const QString value = toQString(text);
    if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
        edit->setText(value);
    } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        if (combo->isEditable())
            combo->setEditText(value);
        else
            combo->setCurrentText(value);
    }
}

int WindowControlStore::checkValue(wizard::ControlRef control)
{
    auto *box = qobject_cast<QCheckBox *>(find(control));
    return box && box->isChecked() ? 1 : 0;
}

void WindowControlStore::setCheckValue(wizard::ControlRef control, int value)
{
    if (auto *box = qobject_cast<QCheckBox *>(find(control)))
        box->setChecked(value != 0);
}

bool WindowControlStore::enabled(wizard::ControlRef control)
{
    QWidget *widget = find(control);
    return !widget || widget->isEnabled();
}

void WindowControlStore::setEnabled(wizard::ControlRef control, bool enabled)
{
    if (QWidget *widget = find(control))
        widget->setEnabled(enabled);
}

} // namespace dlscope
