#include "texture_window.h"

#include "command_input.h"
#include "core/texture.h"
#include "text.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace dlscope {
namespace {

constexpr const char kDefaultCommand[] = "10111011000000000010100000000001";

struct ResultBox {
    std::string TextureFields::*field;
    const char *name;
    const char *label;
    const char *labelName;
};

// Result boxes from top to bottom, each to the right of its label.
constexpr ResultBox kResultBoxes[3] = {
    {&TextureFields::tile, "tile", "Tile base (0-7)", "Label4"},
    {&TextureFields::level, "level", "LODScale/LevelS (1-8)", "Label3"},
    {&TextureFields::bowtie, "bowtie", "Bowtie Value =   Should = 0", "Label2"},
};

} // namespace

TextureWindow::TextureWindow(QWidget *parent)
    : QWidget(parent),
      input_(new CommandInput(rules::Texture, tr("Binary Upper Word"), QString::fromLatin1(kDefaultCommand), this)),
      on_(new QCheckBox(QStringLiteral("ON"), this))
{
    setObjectName(QStringLiteral("G_Texture"));
    setWindowTitle(QStringLiteral("G_Texture"));
    on_->setObjectName(QStringLiteral("ton"));

    // Wide enough for the eight bowtie digits, in the command text's font.
    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const int boxWidth = QFontMetrics(mono).horizontalAdvance(QStringLiteral("0000000000")) + 12;

    auto *results = new QGridLayout;
    results->addWidget(on_, 0, 0, 1, 2);
    int row = 1;
    for (const ResultBox &box : kResultBoxes) {
        auto *label = new QLabel(QString::fromLatin1(box.label), this);
        label->setObjectName(QString::fromLatin1(box.labelName));
        auto *edit = new QLineEdit(QStringLiteral("0"), this);
        edit->setObjectName(QString::fromLatin1(box.name));
        edit->setFont(mono);
        edit->setMinimumWidth(boxWidth);
        label->setBuddy(edit);
        results->addWidget(label, row, 0);
        results->addWidget(edit, row, 1);
        boxes_[static_cast<std::size_t>(row - 1)] = edit;
        ++row;
    }
    results->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(input_);
    layout->addLayout(results);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(input_, &CommandInput::infoPressed, this, &TextureWindow::Command1_Click);
}

void TextureWindow::Command1_Click()
{
    const auto word = input_->prepare();
    if (!word)
        return;
    const TextureFields fields = DecodeTexture(*word);
    on_->setChecked(fields.on);
    for (std::size_t i = 0; i < boxes_.size(); ++i)
        boxes_[i]->setText(toQString(fields.*kResultBoxes[i].field));
}

} // namespace dlscope
