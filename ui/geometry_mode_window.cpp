#include "geometry_mode_window.h"

#include "command_input.h"
#include "core/geometry_mode.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace dlscope {
namespace {

struct FlagBox {
    bool GeometryModeFlags::*flag;  // null: not driven by the decode
    const char *name;
    const char *caption;
};

// Check boxes in the order they are laid out, two columns.
constexpr FlagBox kFlagBoxes[] = {
    {&GeometryModeFlags::textureGenLinear, "TGENL", "Texture Gen Linear (EnvMap )"},
    {&GeometryModeFlags::textureGen, "TGEN", "Texture Gen (EnvMap"},
    {&GeometryModeFlags::lighting, "LIGHT", "Lighting (VertShade = Normals)"},
    {&GeometryModeFlags::fog, "FOG", "FOG"},
    {&GeometryModeFlags::cullBack, "CULLB", "Cull Back"},
    {&GeometryModeFlags::cullFront, "CULLF", "Cull Front"},
    {nullptr, "Check3", "Texture Enable"},
    {&GeometryModeFlags::shade, "SHADE", "Shade (Vertex Shade)"},
    {&GeometryModeFlags::smoothShade, "SMOOTHSHADE", "Smooth Shade"},
    {&GeometryModeFlags::zBuffer, "ZBUFF", "Z Buffer"},
};

constexpr const char kDefaultCommand[] = "1011011100000000000000000000000000000000000000000010000000000000";

} // namespace

GeometryModeWindow::GeometryModeWindow(QWidget *parent)
    : QWidget(parent),
      input_(new CommandInput(rules::GeometryMode, tr("Binary Command"), QString::fromLatin1(kDefaultCommand), this))
{
    setObjectName(QStringLiteral("GM"));
    setWindowTitle(QStringLiteral("G_SETGEOMETRYMODE"));

    auto *flags = new QGridLayout;
    constexpr int kRows = (std::size(kFlagBoxes) + 1) / 2;
    int index = 0;
    for (const FlagBox &row : kFlagBoxes) {
        auto *box = new QCheckBox(QString::fromLatin1(row.caption), this);
        box->setObjectName(QString::fromLatin1(row.name));
        flags->addWidget(box, index % kRows, index / kRows);
        ++index;
        for (std::size_t i = 0; i < std::size(kGeometryModeLayout); ++i)
            if (row.flag && kGeometryModeLayout[i].flag == row.flag)
                flagBoxes_[i] = box;
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(flags);
    layout->addWidget(input_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Tab order: the check boxes column by column, then the command text and "Info".
    QWidget *previous = nullptr;
    for (QCheckBox *box : findChildren<QCheckBox *>(Qt::FindDirectChildrenOnly)) {
        if (previous)
            setTabOrder(previous, box);
        previous = box;
    }
    setTabOrder(previous, input_->text());
    setTabOrder(input_->text(), input_->info());

    connect(input_, &CommandInput::infoPressed, this, &GeometryModeWindow::Command1_Click);
}

void GeometryModeWindow::Command1_Click()
{
    const auto word = input_->prepare();
    if (!word)
        return;
    const GeometryModeFlags flags = DecodeGeometryMode(*word);
    // Set in the decoder's order; Check3 keeps its state.
    for (std::size_t i = 0; i < std::size(kGeometryModeLayout); ++i)
        flagBoxes_[i]->setChecked(flags.*kGeometryModeLayout[i].flag);
}

} // namespace dlscope
