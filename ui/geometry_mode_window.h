#pragma once

// Window `GM`: decodes a G_SETGEOMETRYMODE command into nine flag check boxes.

#include "core/geometry_mode.h"

#include <QWidget>

#include <array>
#include <iterator>

class QCheckBox;

namespace dlscope {

class CommandInput;

class GeometryModeWindow : public QWidget {
    Q_OBJECT
public:
    explicit GeometryModeWindow(QWidget *parent = nullptr);

    CommandInput *commandInput() const { return input_; }

private:
    void Command1_Click();

    CommandInput *input_;
    // The decoded flags' boxes, in the decoder's order (Check3 is not among them).
    std::array<QCheckBox *, std::size(kGeometryModeLayout)> flagBoxes_{};
};

} // namespace dlscope
