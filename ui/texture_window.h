#pragma once

// Window `G_Texture`: decodes the upper word of a G_TEXTURE command into the
// on flag, tile, level and bowtie byte.

#include <QWidget>

#include <array>

class QCheckBox;
class QLineEdit;

namespace dlscope {

class CommandInput;

class TextureWindow : public QWidget {
    Q_OBJECT
public:
    explicit TextureWindow(QWidget *parent = nullptr);

    CommandInput *commandInput() const { return input_; }

private:
    void Command1_Click();

    CommandInput *input_;
    QCheckBox *on_;
    // `tile`, `level` and `bowtie`, in layout order.
    std::array<QLineEdit *, 3> boxes_{};
};

} // namespace dlscope
