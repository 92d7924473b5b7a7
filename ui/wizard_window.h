#pragma once

// Window `RMWiz` ("Render Mode Wizard Result"): runs the render-mode wizard
// and shows the word it built; two buttons bring up the render mode and
// combiner windows the wizard wrote into. "Close" only hides the window.

#include <QWidget>

namespace dlscope {

class WizardWindow : public QWidget {
    Q_OBJECT
public:
    explicit WizardWindow(QWidget *parent = nullptr);

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void OKButton_Click();
};

} // namespace dlscope
