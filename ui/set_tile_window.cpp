#include "set_tile_window.h"

#include "command_input.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace dlscope {
namespace {

constexpr const char kDefaultCommand[] = "1011101000000000000011000000001000000000000000000010000000000000";

struct Option {
    const char *name;
    const char *caption;
};

struct OptionFrame {
    const char *name;
    const char *caption;
    const Option *options;
    std::size_t count;
};

constexpr Option kSizes[] = {{"B32", "32BIT"}, {"B16", "16BIT"}, {"B8", "8BIT"}, {"B4", "4BIT"}};
constexpr Option kFormats[] = {{"I", "I"}, {"IA", "IA"}, {"CI", "CI"}, {"YUV", "YUV"}, {"RGBA", "RGBA"}};

// Left to right.
constexpr OptionFrame kOptionFrames[] = {
    {"Frame3", "SIZE", kSizes, std::size(kSizes)},
    {"Frame2", "FORMAT", kFormats, std::size(kFormats)},
};

struct ValueBox {
    const char *name;
    const char *label;
    const char *labelName;
};

constexpr ValueBox kValueBoxes[] = {{"LINE", "LINE", "Label3"}, {"TILE", "TILE", "Label2"}};

} // namespace

SetTileWindow::SetTileWindow(QWidget *parent)
    : QWidget(parent),
      input_(new CommandInput(rules::SetTile, tr("Binary"), QString::fromLatin1(kDefaultCommand), this))
{
    setObjectName(QStringLiteral("SetTile"));
    setWindowTitle(QStringLiteral("SetTile"));

    auto *controls = new QHBoxLayout;
    for (const OptionFrame &frameRow : kOptionFrames) {
        auto *frame = new QGroupBox(QString::fromLatin1(frameRow.caption), this);
        frame->setObjectName(QString::fromLatin1(frameRow.name));
        auto *group = new QButtonGroup(frame);
        group->setExclusive(true);
        auto *buttons = new QVBoxLayout(frame);
        for (std::size_t i = 0; i < frameRow.count; ++i) {
            auto *button = new QRadioButton(QString::fromLatin1(frameRow.options[i].caption), frame);
            button->setObjectName(QString::fromLatin1(frameRow.options[i].name));
            group->addButton(button);
            buttons->addWidget(button);
        }
        buttons->addStretch(1);
        controls->addWidget(frame);
    }

    auto *values = new QGridLayout;
    int row = 0;
    for (const ValueBox &box : kValueBoxes) {
        auto *label = new QLabel(QString::fromLatin1(box.label), this);
        label->setObjectName(QString::fromLatin1(box.labelName));
        auto *edit = new QLineEdit(QStringLiteral("Text2"), this);
        edit->setObjectName(QString::fromLatin1(box.name));
        label->setBuddy(edit);
        values->addWidget(label, row, 0);
        values->addWidget(edit, row, 1);
        ++row;
    }
    values->setRowStretch(row, 1);
    controls->addLayout(values, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(input_);
    layout->addLayout(controls);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(input_, &CommandInput::infoPressed, this, &SetTileWindow::Command1_Click);
}

void SetTileWindow::Command1_Click()
{
    // The command text is checked and converted; no field of it is shown.
    input_->prepare();
}

} // namespace dlscope
