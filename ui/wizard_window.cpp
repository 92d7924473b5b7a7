#include "wizard_window.h"

#include "twips.h"
#include "window_slots.h"
#include "wizard/wizard_flow.h"
#include "wizard_adapters.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>

namespace dlscope {
namespace {

enum class Kind { Button, TextBox };

// The window's design, in twips within a client area of 6030 by 3210, in tab
// order (row by row, left to right).
struct ControlDesign {
    Kind kind;
    const char *name;
    const char *caption;  // button caption or initial text
    int left, top, width, height;
};

constexpr ControlDesign kControls[] = {
    {Kind::Button, "Command2", "View Render Mode Values", 120, 120, 2175, 375},
    {Kind::Button, "OKButton", "Close", 4680, 120, 1215, 375},
    {Kind::TextBox, "Text1", "Text1", 120, 600, 4455, 285},
    {Kind::Button, "Command1", "START", 4680, 600, 1215, 975},
    {Kind::Button, "Command3", "View Combiner Values", 120, 1080, 2175, 375},
    {Kind::TextBox, "Text2", "Text1", 120, 1560, 4455, 285},
};

constexpr int kClientWidth = 6030;
constexpr int kClientHeight = 3210;

// Room a push button's frame takes beside its caption, in pixels.
constexpr int kButtonPadding = 10;
constexpr qreal kSmallestPointSize = 6.0;

// The design's sizes are fixed; where the font in use is wider than the one
// they were made for, the window's font shrinks until every caption fits.
void fitFontToCaptions(QWidget *window)
{
    QFont font = window->font();
    if (font.pointSizeF() <= 0)
        return;
    const auto fits = [&font] {
        const QFontMetrics metrics(font);
        for (const ControlDesign &design : kControls)
            if (design.kind == Kind::Button &&
                metrics.horizontalAdvance(QString::fromLatin1(design.caption)) + kButtonPadding > twips(design.width))
                return false;
        return true;
    };
    bool changed = false;
    while (!fits() && font.pointSizeF() - 0.5 >= kSmallestPointSize) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        changed = true;
    }
    if (changed)
        window->setFont(font);
}

} // namespace

WizardWindow::WizardWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RMWiz"));
    setWindowTitle(QStringLiteral("Render Mode Wizard Result"));
    setFixedSize(twipsSize(kClientWidth, kClientHeight));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    fitFontToCaptions(this);

    QWidget *previous = nullptr;
    for (const ControlDesign &design : kControls) {
        QWidget *widget = nullptr;
        const QString caption = QString::fromLatin1(design.caption);
        if (design.kind == Kind::Button)
            widget = new QPushButton(caption, this);
        else
            widget = new QLineEdit(caption, this);
        widget->setObjectName(QString::fromLatin1(design.name));
        widget->setGeometry(twipsRect(design.left, design.top, design.width, design.height));
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }

    const auto button = [this](const char *name) { return findChild<QPushButton *>(QString::fromLatin1(name)); };
    connect(button("Command1"), &QPushButton::clicked, this, &WizardWindow::Command1_Click);
    connect(button("Command2"), &QPushButton::clicked, this, &WizardWindow::Command2_Click);
    connect(button("Command3"), &QPushButton::clicked, this, &WizardWindow::Command3_Click);
    connect(button("OKButton"), &QPushButton::clicked, this, &WizardWindow::OKButton_Click);
}

void WizardWindow::Command1_Click()
{
    MessageBoxAsker asker(this);
    WindowControlStore store(this);
    wizard::RunWizard(asker, store);
}

void WizardWindow::Command2_Click() { WindowSlots::showAndActivate(ToolWindow::RenderMode); }

void WizardWindow::Command3_Click() { WindowSlots::showAndActivate(ToolWindow::Combiner); }

void WizardWindow::OKButton_Click() { hide(); }

} // namespace dlscope
