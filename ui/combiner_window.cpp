#include "combiner_window.h"

#include "command_input.h"
#include "text.h"

#include <QColor>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace dlscope {
namespace {

constexpr const char kDefaultCommand[] = "1111110000100110101000000000010000011111111111001001001111111100";

// One equation row: (a - b) X c + d.
struct EquationRow {
    const char *caption;
    const char *boxes[4];  // a, b, c, d
};

struct CycleFrame {
    const char *name;
    const char *caption;
    EquationRow rows[2];  // colour above alpha
};

constexpr CycleFrame kCycles[] = {
    {"Frame4", "Cycle1", {{"Colour", {"a0", "b0", "c0", "d0"}}, {"Alpha", {"aa0", "ab0", "ac0", "ad0"}}}},
    {"Frame2", "Cycle2", {{"Colour", {"a1", "b1", "c1", "d1"}}, {"Alpha", {"aa1", "ab1", "ac1", "ad1"}}}},
};

// Designed texts of the a, b, c and d boxes.
constexpr const char *kDesignedTexts[] = {"a", "b", "c", "d"};

// The operators around the boxes: before a, between a and b, after b,
// between the bracket and c, between c and d.
constexpr const char *kOpenBracket = "(";
constexpr const char *kMinus = "-";
constexpr const char *kCloseBracket = ")";
constexpr const char *kTimes = "X";
constexpr const char *kPlus = "+";

constexpr const char kExampleText[] =
    "Example  Yellow - Red = Green.         Green * 0.5 = Dark Green.            Dark Green + Blue = Teal";

// The worked example's swatches, left to right, each with the operator that
// stands before it.
struct Swatch {
    const char *operatorBefore;  // null for the first
    int red, green, blue;
};

constexpr Swatch kSwatches[] = {
    {nullptr, 255, 255, 0}, {"-", 255, 0, 0}, {"=", 0, 255, 0},   {"X", 128, 128, 128},
    {"=", 0, 128, 0},       {"+", 0, 0, 255}, {"=", 0, 192, 192},
};

// Every name the decoder can write, so that each box is wide enough for the
// longest of them.
int widestInputName(const QFontMetrics &metrics)
{
    int widest = 0;
    const auto measure = [&](std::string_view name) { widest = std::max(widest, metrics.horizontalAdvance(toQString(name))); };
    for (const InputName &row : kColourNames)
        measure(row.name);
    for (const FourBitName &row : kColourFourBitNames) {
        measure(row.name);
        measure(row.nameForB);
    }
    for (const InputName &row : kColourFiveBitNames)
        measure(row.name);
    for (const InputName &row : kAlphaNames)
        measure(row.name);
    for (const InputName &row : kAlphaCNames)
        measure(row.name);
    return widest;
}

QLabel *plainLabel(const char *text, QWidget *parent)
{
    auto *label = new QLabel(QString::fromLatin1(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

CombinerWindow::CombinerWindow(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CC"));
    setWindowTitle(QStringLiteral("Combiner"));

    auto *layout = new QVBoxLayout(this);

    // The equations. Boxes are created in reading order, which is also the
    // tab order.
    for (const CycleFrame &cycle : kCycles) {
        auto *frame = new QGroupBox(QString::fromLatin1(cycle.caption), this);
        frame->setObjectName(QString::fromLatin1(cycle.name));
        auto *grid = new QGridLayout(frame);
        int row = 0;
        for (const EquationRow &equation : cycle.rows) {
            auto *caption = new QLabel(QString::fromLatin1(equation.caption), frame);
            grid->addWidget(caption, row, 0);
            int column = 1;
            const auto addLabel = [&](const char *text) { grid->addWidget(plainLabel(text, frame), row, column++); };
            const auto addBox = [&](int slot) {
                auto *box = new QLineEdit(QString::fromLatin1(kDesignedTexts[slot]), frame);
                box->setObjectName(QString::fromLatin1(equation.boxes[slot]));
                grid->addWidget(box, row, column++);
            };
            addLabel(kOpenBracket);
            addBox(0);
            addLabel(kMinus);
            addBox(1);
            addLabel(kCloseBracket);
            addLabel(kTimes);
            addBox(2);
            addLabel(kPlus);
            addBox(3);
            ++row;
        }
        layout->addWidget(frame);
    }

    input_ = new CommandInput(rules::Combiner, tr("Binary Command"), QString::fromLatin1(kDefaultCommand), this);
    layout->addWidget(input_);

    // The worked example: one colour equation in numbers. Never changed.
    auto *example = new QLabel(QString::fromLatin1(kExampleText), this);
    example->setObjectName(QStringLiteral("Label32"));
    example->setTextFormat(Qt::PlainText);  // keeps the runs of spaces
    layout->addWidget(example);

    auto *swatches = new QHBoxLayout;
    int index = 0;
    for (const Swatch &swatch : kSwatches) {
        if (swatch.operatorBefore)
            swatches->addWidget(plainLabel(swatch.operatorBefore, this));
        auto *shape = new QFrame(this);
        shape->setObjectName(QStringLiteral("Shape%1").arg(++index));
        shape->setFrameStyle(QFrame::Box | QFrame::Plain);
        shape->setFixedSize(48, 24);
        QPalette palette = shape->palette();
        palette.setColor(QPalette::Window, QColor(swatch.red, swatch.green, swatch.blue));
        palette.setColor(QPalette::WindowText, Qt::black);
        shape->setPalette(palette);
        shape->setAutoFillBackground(true);
        swatches->addWidget(shape);
    }
    swatches->addStretch(1);
    layout->addLayout(swatches);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Wide enough for the longest input name, with the box's frame and
    // inner margins (2 pixels each side) and room for the cursor.
    for (std::size_t i = 0; i < std::size(kCombinerLayout); ++i) {
        QLineEdit *box = findChild<QLineEdit *>(toQString(kCombinerLayout[i].box));
        Q_ASSERT(box);
        const int frameWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box);
        const QMargins margins = box->textMargins();
        box->setMinimumWidth(widestInputName(box->fontMetrics()) + 2 * frameWidth + 2 * 2 + margins.left() +
                             margins.right() + 4);
        inputBoxes_[i] = box;
    }

    connect(input_, &CommandInput::infoPressed, this, &CombinerWindow::Command1_Click);
}

void CombinerWindow::Command1_Click()
{
    const auto word = input_->prepare();
    if (!word)
        return;
    const CombinerInputs inputs = DecodeCombiner(*word);
    // All sixteen in the decoder's order; a disabled box takes its name too
    // and stays disabled.
    for (std::size_t i = 0; i < std::size(kCombinerLayout); ++i)
        inputBoxes_[i]->setText(toQString(inputs.*kCombinerLayout[i].input));
}

} // namespace dlscope
