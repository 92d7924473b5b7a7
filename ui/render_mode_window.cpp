#include "render_mode_window.h"

#include "command_input.h"
#include "core/render_mode_macro.h"
#include "message_box.h"
#include "text.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>

#include <algorithm>
#include <initializer_list>
#include <string>

namespace dlscope {
namespace {

constexpr const char kDefaultWord[] = "00001100000110000010000001111000";

constexpr const char kTexEdgeMessage[] = "Tex Edge Found!";
constexpr const char kCoverageTip[] =
    "Coverage from 0.0 to 1.0 If Wrap it will cycle again at limit. If Clamp it will stop, If Full it will always "
    "be 1, If Save it will not be updated";

struct FlagBox {
    RenderModeFlag flag;
    const char *caption;
};

// Check boxes in the order they are laid out, three to a row.
constexpr FlagBox kFlagBoxes[] = {
    {RenderModeFlag::AA, "Anti-Ailise"},
    {RenderModeFlag::Z_CMP, "Z_Compare"},
    {RenderModeFlag::Z_UPD, "Z_Update"},
    {RenderModeFlag::IM_RD, "Image Read (AA)"},
    {RenderModeFlag::C_CVG, "Colour On Coverage"},
    {RenderModeFlag::CVGxA, "Coverage * Alpha"},
    {RenderModeFlag::A_CVG, "Alpha Coverage"},
    {RenderModeFlag::FC_BL, "Force Blender"},
    {RenderModeFlag::TEX_E, "Texture Edge"},
};
constexpr int kFlagColumns = 3;

struct ListDesign {
    const char *name;
    const char *text;  // shown until a decode or the user writes it
    const char *entries[4];
    const std::array<std::string_view, 4> &decodedTexts;
};

constexpr ListDesign kZTypeList = {"ZType", "Z Mode", {"OPA", "INTER", "XLU", "DEC"}, kZModeTexts};
constexpr ListDesign kCoverageList = {
    "CoverageType", "Coverage Change", {"Clamp", "Wrap", "Full", "Save"}, kCoverageTexts};

struct CycleDesign {
    const char *frameName;
    const char *caption;
    const char *copyB;  // the denominator's copy of b
    const char *copyD;  // and of d
};

constexpr CycleDesign kCycleDesigns[kBlendCycles] = {
    {"Frame3", "MUX1", "b01", "d01"},
    {"Frame4", "MUX2", "b11", "d11"},
};

// Designed texts of the a, b, c and d boxes and their copies.
constexpr const char *kDesignedInputTexts[kBlendInputs] = {"a", "b", "c", "d"};

// The name of the field the decoder shows in a flag's box.
std::string_view flagName(RenderModeFlag flag)
{
    for (const RenderModeFieldLayout &row : kRenderModeLayout)
        if (row.kind == RenderModeFieldKind::Flag && row.flag == flag)
            return row.name;
    return {};
}

std::string_view blendInputName(std::size_t cycle, std::size_t input)
{
    for (const RenderModeFieldLayout &row : kRenderModeLayout)
        if (row.kind == RenderModeFieldKind::BlendInput && static_cast<std::size_t>(row.cycle) == cycle &&
            static_cast<std::size_t>(row.input) == input)
            return row.name;
    return {};
}

// The width a line edit needs to show `text` whole.
int lineEditWidthFor(QLineEdit *edit, const QString &text)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const QFontMetrics metrics(edit->font());
    const QMargins margins = edit->textMargins();
    // The line edit keeps a margin of 2 on each side inside its frame; a
    // little air on top keeps the text clear of the cursor and the frame.
    constexpr int kInnerMargin = 2 * 2;
    constexpr int kAir = 8;
    const QSize contents(metrics.horizontalAdvance(text) + margins.left() + margins.right() + kInnerMargin + kAir,
                         metrics.height());
    return edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, edit).width();
}

// The longest name any decode or the wizard writes into a blender box.
QString longestBlendName(const QFontMetrics &metrics)
{
    QString longest;
    for (const auto *names : {&kBlendNamesAC, &kBlendNamesB, &kBlendNamesD})
        for (const std::string_view name : *names)
            if (metrics.horizontalAdvance(toQString(name)) > metrics.horizontalAdvance(longest))
                longest = toQString(name);
    return longest;
}

// The longest macro text the window can show: the longest first-cycle stage
// with the longest preset, or the longest preset of one cycle.
QString longestMacro(const QFontMetrics &metrics)
{
    std::string_view stage;
    for (const FirstCycleStage &s : kFirstCycleStages)
        if (s.text.size() > stage.size())
            stage = s.text;
    std::string_view preset = kUnknownPreset;
    for (const RenderModePreset &row : kRenderModePresets)
        if (row.text.size() > preset.size())
            preset = row.text;
    const QString twoCycle = toQString(std::string(kRenderModeMacroStart) + std::string(stage) +
                                       std::string(preset.substr(0, preset.size() - 2)) + "2),");
    const QString oneCycle = toQString(std::string(kRenderModeMacroStart) + std::string(preset) + "),");
    return metrics.horizontalAdvance(twoCycle) >= metrics.horizontalAdvance(oneCycle) ? twoCycle : oneCycle;
}

QComboBox *makeList(const ListDesign &design, QWidget *parent)
{
    auto *list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(design.name));
    list->setEditable(true);
    // Picking or typing changes only the list's own text; it never grows.
    list->setInsertPolicy(QComboBox::NoInsert);
    for (const char *entry : design.entries)
        list->addItem(QString::fromLatin1(entry));
    list->setCurrentIndex(-1);
    list->setEditText(QString::fromLatin1(design.text));

    // Wide enough for its designed text and every word a decode writes.
    const QFontMetrics metrics(list->font());
    int widest = metrics.horizontalAdvance(QString::fromLatin1(design.text));
    for (const std::string_view t : design.decodedTexts)
        widest = std::max(widest, metrics.horizontalAdvance(toQString(t)));
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = true;
    const QSize size = list->style()->sizeFromContents(
        QStyle::CT_ComboBox, &option, QSize(widest + 8, metrics.height()), list);
    list->setMinimumWidth(size.width());
    return list;
}

QLabel *symbol(const char *text, QWidget *parent)
{
    auto *label = new QLabel(QString::fromLatin1(text), parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

RenderModeWindow::RenderModeWindow(QWidget *parent)
    : QWidget(parent),
      input_(new CommandInput(rules::RenderMode, QStringLiteral("Binary Input Lower Word"),
                              QString::fromLatin1(kDefaultWord), this))
{
    setObjectName(QStringLiteral("RM"));
    setWindowTitle(QStringLiteral("RenderMode"));

    // The frame's separator between the command text and its counter.
    if (auto *row = qobject_cast<QBoxLayout *>(input_->layout())) {
        auto *line = new QFrame(input_);
        line->setObjectName(QStringLiteral("Line1"));
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        row->insertWidget(1, line);
    }

    QGroupBox *flags = buildFlags();
    QGroupBox *mux1 = buildEquation(0);
    QGroupBox *mux2 = buildEquation(1);

    text2_ = new QLineEdit(QStringLiteral("Text2"), this);
    text2_->setObjectName(QStringLiteral("Text2"));
    text2_->setMinimumWidth(lineEditWidthFor(text2_, longestMacro(QFontMetrics(text2_->font()))));
    text3_ = new QLineEdit(QStringLiteral("Text3"), this);
    text3_->setObjectName(QStringLiteral("Text3"));

    auto *equations = new QHBoxLayout;
    equations->addWidget(mux1);
    equations->addWidget(mux2);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(input_);
    layout->addWidget(flags);
    layout->addLayout(equations);
    layout->addWidget(text2_);
    layout->addWidget(text3_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(input_, &CommandInput::infoPressed, this, &RenderModeWindow::Command1_Click);
    connect(coverageType_, &QComboBox::activated, this, &RenderModeWindow::CoverageType_Click);
}

QGroupBox *RenderModeWindow::buildFlags()
{
    auto *frame = new QGroupBox(QStringLiteral("Flags"), this);
    frame->setObjectName(QStringLiteral("Frame2"));
    auto *grid = new QGridLayout(frame);
    int index = 0;
    for (const FlagBox &row : kFlagBoxes) {
        auto *box = new QCheckBox(QString::fromLatin1(row.caption), frame);
        box->setObjectName(toQString(flagName(row.flag)));
        grid->addWidget(box, index / kFlagColumns, index % kFlagColumns);
        flagBoxes_[static_cast<std::size_t>(row.flag)] = box;
        ++index;
    }
    const int listRow = (index + kFlagColumns - 1) / kFlagColumns;
    zType_ = makeList(kZTypeList, frame);
    coverageType_ = makeList(kCoverageList, frame);
    grid->addWidget(zType_, listRow, 0);
    grid->addWidget(coverageType_, listRow, 1);
    return frame;
}

// (a X b + c X d) over (b + d): the upper row holds the cycle's four input
// boxes, the lower row the copies of b and d, a line between them.
QGroupBox *RenderModeWindow::buildEquation(std::size_t cycle)
{
    const CycleDesign &design = kCycleDesigns[cycle];
    auto *frame = new QGroupBox(QString::fromLatin1(design.caption), this);
    frame->setObjectName(QString::fromLatin1(design.frameName));
    auto *grid = new QGridLayout(frame);
    grid->setHorizontalSpacing(4);

    const auto inputBox = [&](const QString &name, const char *text) {
        auto *box = new QLineEdit(QString::fromLatin1(text), frame);
        box->setObjectName(name);
        box->setAlignment(Qt::AlignCenter);
        box->setFixedWidth(lineEditWidthFor(box, longestBlendName(QFontMetrics(box->font()))));
        return box;
    };

    // Upper row: ( a X b + c X d )
    auto &boxes = blendBoxes_[cycle];
    grid->addWidget(symbol("(", frame), 0, 0);
    const char *const between[] = {"X", "+", "X"};
    for (std::size_t input = 0; input < kBlendInputs; ++input) {
        const int column = 1 + 2 * static_cast<int>(input);
        boxes[input] = inputBox(toQString(blendInputName(cycle, input)), kDesignedInputTexts[input]);
        grid->addWidget(boxes[input], 0, column);
        if (input + 1 < kBlendInputs)
            grid->addWidget(symbol(between[input], frame), 0, column + 1);
    }
    grid->addWidget(symbol(")", frame), 0, 2 * static_cast<int>(kBlendInputs));

    // The fraction bar.
    auto *bar = new QFrame(frame);
    bar->setFrameShape(QFrame::HLine);
    bar->setFrameShadow(QFrame::Plain);
    bar->setLineWidth(2);
    grid->addWidget(bar, 1, 0, 1, 2 * static_cast<int>(kBlendInputs) + 1);

    // Lower row, centred under the upper one: ( b + d )
    copyB_[cycle] = inputBox(QString::fromLatin1(design.copyB), kDesignedInputTexts[1]);
    copyD_[cycle] = inputBox(QString::fromLatin1(design.copyD), kDesignedInputTexts[3]);
    grid->addWidget(symbol("(", frame), 2, 2);
    grid->addWidget(copyB_[cycle], 2, 3);
    grid->addWidget(symbol("+", frame), 2, 4);
    grid->addWidget(copyD_[cycle], 2, 5);
    grid->addWidget(symbol(")", frame), 2, 6);
    return frame;
}

void RenderModeWindow::Command1_Click()
{
    // Step 1: the rule converts hex, pads short binary and checks the length;
    // after its length message there is no word and nothing is decoded.
    const std::optional<std::string> word = input_->prepare();

    RenderModeMacroInput macro;  // not decoded unless a word came through
    if (word) {
        const RenderModeFields fields = DecodeRenderMode(*word);

        // Step 2: the flags, then the texture-edge notice before anything
        // else changes.
        for (const RenderModeFlag flag : kAllRenderModeFlags)
            flagBoxes_[static_cast<std::size_t>(flag)]->setChecked(fields.flag(flag));
        if (fields.flag(RenderModeFlag::TEX_E))
            showNotice(this, QString::fromLatin1(kTexEdgeMessage));

        // Step 3: Z mode and coverage destination.
        zType_->setEditText(toQString(kZTypeList.decodedTexts[static_cast<std::size_t>(fields.zMode)]));
        coverageType_->setEditText(toQString(kCoverageList.decodedTexts[static_cast<std::size_t>(fields.coverage)]));

        // Step 4: the blender inputs in field order (a0, a1, b0, b1, ...).
        for (const RenderModeFieldLayout &row : kRenderModeLayout)
            if (row.kind == RenderModeFieldKind::BlendInput) {
                const auto cycle = static_cast<std::size_t>(row.cycle);
                const auto input = static_cast<std::size_t>(row.input);
                blendBoxes_[cycle][input]->setText(toQString(fields.blend[cycle][input].name));
            }

        macro.decoded = true;
        macro.flags = fields.flags;
        macro.zMode = fields.zMode;
        macro.coverage = fields.coverage;
    }

    // Step 5: the denominators copy b and d as the boxes hold them now.
    for (std::size_t cycle = 0; cycle < kBlendCycles; ++cycle) {
        copyB_[cycle]->setText(blendBoxes_[cycle][1]->text());
        copyD_[cycle]->setText(blendBoxes_[cycle][3]->text());
    }

    // Step 6: the macro, from the names the boxes show.
    std::array<std::array<std::string, kBlendInputs>, kBlendCycles> names;
    for (std::size_t cycle = 0; cycle < kBlendCycles; ++cycle)
        for (std::size_t input = 0; input < kBlendInputs; ++input)
            names[cycle][input] = blendBoxes_[cycle][input]->text().toStdString();
    for (std::size_t input = 0; input < kBlendInputs; ++input) {
        macro.cycle1[input] = names[0][input];
        macro.cycle2[input] = names[1][input];
    }
    text2_->setText(toQString(BuildRenderModeMacro(macro)));
}

void RenderModeWindow::CoverageType_Click() { coverageType_->setToolTip(QString::fromLatin1(kCoverageTip)); }

} // namespace dlscope
