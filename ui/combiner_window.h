#pragma once

// Window `CC`: decodes a G_SETCOMBINE command into the sixteen input names of
// the two cycles' colour and alpha equations, laid out as (a - b) X c + d.

#include "core/combiner.h"

#include <QWidget>

#include <array>
#include <iterator>

class QLineEdit;

namespace dlscope {

class CommandInput;

class CombinerWindow : public QWidget {
    Q_OBJECT
public:
    explicit CombinerWindow(QWidget *parent = nullptr);

    CommandInput *commandInput() const { return input_; }

private:
    void Command1_Click();

    CommandInput *input_ = nullptr;
    // The input boxes in the decoder's order.
    std::array<QLineEdit *, std::size(kCombinerLayout)> inputBoxes_{};
};

} // namespace dlscope
