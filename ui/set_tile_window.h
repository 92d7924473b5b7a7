#pragma once

// Window `SetTile`: holds the controls of a G_SETTILE command. Its "Info"
// checks and converts the command text and fills none of the other controls.

#include <QWidget>

namespace dlscope {

class CommandInput;

class SetTileWindow : public QWidget {
    Q_OBJECT
public:
    explicit SetTileWindow(QWidget *parent = nullptr);

    CommandInput *commandInput() const { return input_; }

private:
    void Command1_Click();

    CommandInput *input_;
};

} // namespace dlscope
