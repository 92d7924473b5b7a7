#pragma once

// The "Binary Command" frame that every decoder window has: the command text
// box `Text1`, the "Info" button `Command1` and the counter label `Label1`.
//
// It owns the window's input rule. `prepare()` runs the command-text check
// and plays its effects in order (a message is shown modally and closed
// before the text changes) and hands back the command word, or nothing when
// the decode is to be skipped. Enter in the text box presses "Info".

#include "core/command_text.h"

#include <QGroupBox>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dlscope {

class CommandInput : public QGroupBox {
    Q_OBJECT
public:
    CommandInput(const CommandTextRule &rule, const QString &caption, const QString &defaultText,
                 QWidget *parent = nullptr);

    QLineEdit *text() const { return text_; }
    QPushButton *info() const { return info_; }
    QLabel *counter() const { return counter_; }

    std::optional<std::string> prepare();

signals:
    // The user pressed "Info" (or Enter in the text box).
    void infoPressed();

private:
    const CommandTextRule &rule_;
    QLineEdit *text_;
    QPushButton *info_;
    QLabel *counter_;
};

} // namespace dlscope
