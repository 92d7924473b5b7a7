#pragma once

// Window `OM_H`: decodes a G_SETOTHERMODE_H command into eleven option groups
// and paints the frame of the field that the command's shift addresses red.

#include "core/other_mode_h.h"

#include <QWidget>

#include <array>

class QButtonGroup;
class QGroupBox;

namespace dlscope {

class CommandInput;

class OtherModeHWindow : public QWidget {
    Q_OBJECT
public:
    explicit OtherModeHWindow(QWidget *parent = nullptr);

    CommandInput *commandInput() const { return input_; }

private:
    void Command1_Click();
    void showFields(const OtherModeHFields &fields);

    CommandInput *input_;
    // Indexed by OtherModeHGroup.
    std::array<QGroupBox *, kOtherModeHGroupCount> frames_{};
    std::array<QButtonGroup *, kOtherModeHGroupCount> options_{};
};

} // namespace dlscope
