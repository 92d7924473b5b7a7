#pragma once

// Window `RM`: decodes the lower word of a render-mode command into nine
// flags, the Z mode, the coverage destination and the blender inputs of
// both cycles, and names the matching presets as a render-mode macro.
//
// The wizard writes the same controls by name (flag boxes, the two lists'
// edit texts, the blender boxes' texts and enabled states, `Text1`); a
// decode changes texts and check states only, never whether a box is
// enabled.

#include "core/render_mode.h"

#include <QWidget>

#include <array>
#include <iterator>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;

namespace dlscope {

class CommandInput;

class RenderModeWindow : public QWidget {
    Q_OBJECT
public:
    explicit RenderModeWindow(QWidget *parent = nullptr);

    CommandInput *commandInput() const { return input_; }

private:
    QGroupBox *buildFlags();
    QGroupBox *buildEquation(std::size_t cycle);  // frame MUX1 or MUX2

    void Command1_Click();
    void CoverageType_Click();

    CommandInput *input_;
    std::array<QCheckBox *, std::size(kAllRenderModeFlags)> flagBoxes_{};  // by RenderModeFlag
    QComboBox *zType_ = nullptr;
    QComboBox *coverageType_ = nullptr;
    // [cycle][input]: a0 b0 c0 d0, a1 b1 c1 d1.
    std::array<std::array<QLineEdit *, kBlendInputs>, kBlendCycles> blendBoxes_{};
    // The denominator's copies of b and d: b01 d01, b11 d11.
    std::array<QLineEdit *, kBlendCycles> copyB_{};
    std::array<QLineEdit *, kBlendCycles> copyD_{};
    QLineEdit *text2_ = nullptr;
    QLineEdit *text3_ = nullptr;
};

} // namespace dlscope
