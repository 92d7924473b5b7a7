#include "other_mode_h_window.h"

#include "command_input.h"
#include "text.h"

#include <QApplication>
#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace dlscope {
namespace {

constexpr const char kDefaultCommand[] = "1011101000000000000011000000001000000000000000000010000000000000";

// Frames per row of the grid; a frame listed here takes two cells.
constexpr int kColumns = 4;
constexpr OtherModeHGroup kWideFrames[] = {OtherModeHGroup::Pipeline};

constexpr int columnSpan(OtherModeHGroup group)
{
    for (const OtherModeHGroup wide : kWideFrames)
        if (wide == group)
            return 2;
    return 1;
}

// The option buttons only show the decode: they take no mouse or keyboard
// input, yet keep the enabled look so the selection stays easy to read.
class DisplayOnly : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
        case QEvent::HoverLeave:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
            return true;
        default:
            return false;
        }
    }
};

void setFrameColour(QGroupBox *frame, const QColor &colour)
{
    QPalette palette = frame->palette();
    palette.setColor(frame->backgroundRole(), colour);
    frame->setPalette(palette);
}

// Shows no option as selected: an exclusive group refuses to uncheck its
// last checked button, so exclusivity is lifted while clearing.
void clearSelection(QButtonGroup *group)
{
    group->setExclusive(false);
    for (QAbstractButton *button : group->buttons())
        button->setChecked(false);
    group->setExclusive(true);
}

} // namespace

OtherModeHWindow::OtherModeHWindow(QWidget *parent)
    : QWidget(parent),
      input_(new CommandInput(rules::OtherModeH, tr("Binary"), QString::fromLatin1(kDefaultCommand), this))
{
    setObjectName(QStringLiteral("OM_H"));
    setWindowTitle(QStringLiteral("OtherMode_H"));

    auto *displayOnly = new DisplayOnly(this);
    auto *grid = new QGridLayout;
    int row = 0;
    int column = 0;
    for (const OtherModeHGroupLayout &layout : kOtherModeHLayout) {
        const auto index = static_cast<std::size_t>(layout.group);
        auto *frame = new QGroupBox(toQString(layout.frameCaption), this);
        frame->setObjectName(toQString(layout.frame));
        frame->setAutoFillBackground(true);
        setFrameColour(frame, QApplication::palette().color(QPalette::Button));
        frames_[index] = frame;

        auto *group = new QButtonGroup(frame);
        group->setExclusive(true);
        options_[index] = group;
        auto *buttons = new QVBoxLayout(frame);
        for (std::size_t option = 0; option < layout.optionCount(); ++option) {
            auto *button = new QRadioButton(toQString(layout.captions[option]), frame);
            button->setObjectName(toQString(layout.optionArray) + QLatin1Char('_') + QString::number(option));
            button->setFocusPolicy(Qt::NoFocus);
            button->installEventFilter(displayOnly);
            group->addButton(button, static_cast<int>(option));
            buttons->addWidget(button);
        }
        buttons->addStretch(1);

        const int span = columnSpan(layout.group);
        if (column + span > kColumns) {
            ++row;
            column = 0;
        }
        grid->addWidget(frame, row, column, 1, span);
        column += span;
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(input_);
    layout->addLayout(grid);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(input_, &CommandInput::infoPressed, this, &OtherModeHWindow::Command1_Click);
}

void OtherModeHWindow::Command1_Click()
{
    const auto word = input_->prepare();
    if (!word)
        return;
    showFields(DecodeOtherModeH(*word));
}

void OtherModeHWindow::showFields(const OtherModeHFields &fields)
{
    const QColor normal = QApplication::palette().color(QPalette::Button);
    for (std::size_t i = 0; i < kOtherModeHGroupCount; ++i) {
        clearSelection(options_[i]);
        if (const auto option = fields.options[i])
            options_[i]->button(*option)->setChecked(true);
        const bool addressed = fields.highlighted && static_cast<std::size_t>(*fields.highlighted) == i;
        setFrameColour(frames_[i], addressed ? QColor(255, 0, 0) : normal);
    }
}

} // namespace dlscope
