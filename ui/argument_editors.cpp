#include "argument_editors.h"

#include "gbi/macro_table.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <bit>
#include <climits>
#include <optional>
#include <tuple>

namespace dlscope {
namespace {

using gbi::ArgKind;
using gbi::ArgSpec;
using gbi::ConstTable;

constexpr std::uint32_t kCycle2Blender = 0x33330000u;

QString qs(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// A short meaning for the names users most often meet; empty elsewhere.
QString meaning(std::string_view name)
{
    static const struct {
        const char *name, *meaning;
    } kMeanings[] = {
        {"G_IM_FMT_RGBA", "colour and alpha"}, {"G_IM_FMT_YUV", "luma and chroma"},
        {"G_IM_FMT_CI", "palette indices"},    {"G_IM_FMT_IA", "intensity and alpha"},
        {"G_IM_FMT_I", "intensity"},           {"G_IM_SIZ_4b", "4 bits a texel"},
        {"G_IM_SIZ_8b", "8 bits a texel"},     {"G_IM_SIZ_16b", "16 bits a texel"},
        {"G_IM_SIZ_32b", "32 bits a texel"},   {"G_TX_NOMASK", "no wrapping mask"},
        {"G_TX_NOLOD", "no level-of-detail shift"},
        {"G_ON", "enabled"},                   {"G_OFF", "disabled"},
        {"G_CYC_1CYCLE", "one pass a pixel"},  {"G_CYC_2CYCLE", "two passes a pixel"},
        {"G_CYC_COPY", "copies texels, no blending"}, {"G_CYC_FILL", "fills with the fill colour"},
        {"G_TF_POINT", "nearest texel"},       {"G_TF_BILERP", "bilinear filtering"},
        {"G_TF_AVERAGE", "box filter"},        {"G_TP_NONE", "no perspective correction"},
        {"G_TP_PERSP", "perspective-correct texturing"}, {"G_TD_CLAMP", "single texture, no detail"},
        {"G_TD_SHARPEN", "sharpened texture"}, {"G_TD_DETAIL", "detail texture"},
        {"G_TL_TILE", "plain tiles"},          {"G_TL_LOD", "mipmap level of detail"},
        {"G_TT_NONE", "no palette"},           {"G_TT_RGBA16", "RGBA16 palette"},
        {"G_TT_IA16", "IA16 palette"},         {"G_CK_NONE", "no chroma key"},
        {"G_CK_KEY", "chroma key"},            {"G_CD_MAGICSQ", "magic-square dither"},
        {"G_CD_BAYER", "Bayer dither"},        {"G_CD_NOISE", "noise dither"},
        {"G_CD_DISABLE", "no dither"},         {"G_AC_NONE", "no alpha compare"},
        {"G_AC_THRESHOLD", "alpha against the blend colour"}, {"G_AC_DITHER", "alpha against noise"},
        {"G_ZS_PIXEL", "depth per pixel"},     {"G_ZS_PRIM", "depth from the primitive depth"},
        {"G_PM_NPRIMITIVE", "several primitives at once"}, {"G_PM_1PRIMITIVE", "one primitive at a time"},
        {"G_MTX_MODELVIEW", "modelview stack"}, {"G_MTX_PROJECTION", "projection matrix"},
        {"G_TX_RENDERTILE", "tile the triangles sample"}, {"G_TX_LOADTILE", "tile for loads"},
    };
    for (const auto &m : kMeanings)
        if (name == m.name)
            return QString::fromLatin1(m.meaning);
    return {};
}

// The values an argument's field can hold, as argument values.
std::pair<std::int64_t, std::int64_t> argRange(const ArgSpec &a)
{
    if (!a.field.present())
        return a.kind == ArgKind::SInt ? std::pair<std::int64_t, std::int64_t>{-32768, 32767}
                                       : std::pair<std::int64_t, std::int64_t>{0, 65535};
    const int width = std::min<int>(a.field.width, 32);
    std::int64_t lo = 0;
    std::int64_t hi = (std::int64_t{1} << width) - 1;
    if (a.kind == ArgKind::SInt) {
        lo = -(std::int64_t{1} << (width - 1));
        hi = (std::int64_t{1} << (width - 1)) - 1;
    }
    // stored = (x * mul + add) / div, so x = (stored * div - add) / mul.
    auto back = [&](std::int64_t stored) { return (stored * static_cast<std::int64_t>(a.enc.div) - a.enc.add) / a.enc.mul; };
    std::int64_t x0 = back(lo), x1 = back(hi);
    if (x0 > x1)
        std::swap(x0, x1);
    if (a.kind != ArgKind::SInt)
        x0 = std::max<std::int64_t>(x0, 0);
    return {std::max<std::int64_t>(x0, INT_MIN), std::min<std::int64_t>(x1, INT_MAX)};
}

QString hexText(std::int64_t v, int digits = 8)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(static_cast<std::uint32_t>(v), digits, 16, QLatin1Char('0')).toUpper();
}

std::optional<std::uint32_t> parseHex(QString text)
{
    text = text.trimmed();
    text.remove(QLatin1Char(' '));
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text.remove(0, 2);
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    bool ok = false;
    const std::uint32_t v = text.toUInt(&ok, 16);
    return ok ? std::optional<std::uint32_t>(v) : std::nullopt;
}

QLineEdit *hexEdit(QWidget *parent, const QString &name)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setMaxLength(12);
    edit->setFont(QFont(QStringLiteral("monospace")));
    return edit;
}

// Long constant names must not widen the inspector past its panel.
QComboBox *narrowCombo(QWidget *parent, const QString &name)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(14);
    return combo;
}

QIcon swatch(const QColor &colour)
{
    QPixmap pixmap(28, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

ArgumentInspector::ArgumentInspector(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ArgumentInspector"));
    auto *layout = new QVBoxLayout(this);
    heading_ = new QLabel(this);
    heading_->setObjectName(QStringLiteral("InspectorHeading"));
    heading_->setWordWrap(true);
    heading_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("InspectorStatus"));
    status_->setWordWrap(true);
    argumentsBox_ = new QGroupBox(tr("Arguments"), this);
    argumentsBox_->setObjectName(QStringLiteral("Arguments"));
    arguments_ = new QFormLayout(argumentsBox_);
    wordsBox_ = new QGroupBox(tr("Words"), this);
    wordsBox_->setObjectName(QStringLiteral("Words"));
    wordsGrid_ = new QGridLayout(wordsBox_);
    layout->addWidget(heading_);
    layout->addWidget(status_);
    layout->addWidget(argumentsBox_);
    layout->addWidget(wordsBox_);
    layout->addStretch(1);
    showNothing(tr("Select a command to see its arguments."));
}

void ArgumentInspector::clearEditors()
{
    // An edit may come from an editor that is being replaced: the old
    // editors go once their signals have returned.
    refreshers_.clear();
    auto retire = [](QLayoutItem *item) {
        if (!item)
            return;
        if (QWidget *w = item->widget()) {
            // Out of findChild's way until it is gone.
            w->setObjectName(QString());
            for (QObject *child : w->findChildren<QObject *>())
                child->setObjectName(QString());
            w->hide();
            w->deleteLater();
        }
        delete item;
    };
    while (arguments_->rowCount() > 0) {
        const QFormLayout::TakeRowResult row = arguments_->takeRow(0);
        retire(row.labelItem);
        retire(row.fieldItem);
    }
    while (QLayoutItem *item = wordsGrid_->takeAt(0))
        retire(item);
}

void ArgumentInspector::showNothing(const QString &why)
{
    clearEditors();
    shownMacro_ = nullptr;
    shownLength_ = 0;
    command_ = gbi::Command{};
    words_.clear();
    heading_->setText(why);
    status_->clear();
    status_->hide();
    argumentsBox_->hide();
    wordsBox_->hide();
}

void ArgumentInspector::showCommand(const gbi::Command &command, const std::vector<gbi::Words> &words, gbi::Names names,
                                    const QString &heading, const QString &status)
{
    command_ = command;
    words_ = words;
    names_ = names;
    heading_->setText(heading);
    status_->setText(status);
    status_->setVisible(!status.isEmpty());
    if (command.macro != shownMacro_ || words.size() != shownLength_ || command.ucode != shownUcode_ || names != shownNames_)
        rebuild();
    refreshValues();
}

std::vector<std::int64_t> ArgumentInspector::currentArgs() const
{
    return std::vector<std::int64_t>(command_.args.begin(), command_.args.end());
}

void ArgumentInspector::propose(std::vector<std::int64_t> args, int mergeKey) { emit argumentsEdited(args, mergeKey); }

void ArgumentInspector::refreshValues()
{
    for (const auto &refresh : refreshers_)
        refresh();
}

void ArgumentInspector::rebuild()
{
    clearEditors();
    shownMacro_ = command_.macro;
    shownLength_ = words_.size();
    shownUcode_ = command_.ucode;
    shownNames_ = names_;
    const gbi::MacroSpec *macro = command_.macro;
    argumentsBox_->setVisible(macro && !macro->args.empty());
    wordsBox_->setVisible(!words_.empty());
    if (macro) {
        if (macro->special == gbi::Special::RenderMode) {
            addRenderMode();
        } else {
            if (macro->special == gbi::Special::CombineMode || macro->special == gbi::Special::CombineLerp)
                addCombinePresets();
            const auto &args = macro->args;
            for (std::size_t i = 0; i < args.size(); ++i) {
                addGeneric(static_cast<int>(i));
                // r, g, b, a in a row: a colour.
                if (i >= 3 && args[i].name == "a" && args[i - 1].name == "b" && args[i - 2].name == "g"
                    && args[i - 3].name == "r")
                    addColourSwatch(static_cast<int>(i - 3));
            }
        }
    }
    addWords();
}

void ArgumentInspector::addGeneric(int index)
{
    const ArgSpec &a = command_.macro->args[static_cast<std::size_t>(index)];
    const QString label = qs(a.name);
    const QString name = QStringLiteral("arg%1").arg(index);
    const gbi::Ucode ucode = command_.ucode;
    const auto i = static_cast<std::size_t>(index);

    switch (a.kind) {
    case ArgKind::Int:
    case ArgKind::SInt: {
        auto *spin = new QSpinBox(argumentsBox_);
        spin->setObjectName(name);
        const auto [lo, hi] = argRange(a);
        spin->setRange(static_cast<int>(lo), static_cast<int>(hi));
        spin->setKeyboardTracking(false);
        spin->setToolTip(tr("%1 to %2").arg(lo).arg(hi));
        connect(spin, &QSpinBox::valueChanged, this, [this, i](int v) {
            auto args = currentArgs();
            args[i] = v;
            propose(args, static_cast<int>(i));
        });
        refreshers_.push_back([this, spin, i] {
            const QSignalBlocker block(spin);
            spin->setValue(static_cast<int>(command_.args[i]));
        });
        arguments_->addRow(label, spin);
        return;
    }
    case ArgKind::Tile: {
        auto *combo = narrowCombo(argumentsBox_, name);
        for (int t = 0; t < 8; ++t)
            combo->addItem(t == 0   ? QStringLiteral("G_TX_RENDERTILE (0)")
                           : t == 7 ? QStringLiteral("G_TX_LOADTILE (7)")
                                    : QString::number(t),
                           t);
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, i] {
            auto args = currentArgs();
            args[i] = combo->currentData().toLongLong();
            propose(args, static_cast<int>(i));
        });
        refreshers_.push_back([this, combo, i] {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(combo->findData(QVariant::fromValue(static_cast<int>(command_.args[i]))));
        });
        arguments_->addRow(label, combo);
        return;
    }
    case ArgKind::Const:
    case ArgKind::CcMux: {
        auto *combo = narrowCombo(argumentsBox_, name);
        if (a.kind == ArgKind::CcMux) {
            const auto names = gbi::muxNames(a.table);
            for (std::size_t code = 0; code < names.size(); ++code)
                if (!names[code].empty())
                    combo->addItem(qs(names[code]), QVariant::fromValue(static_cast<qlonglong>(code)));
        } else if (a.table == ConstTable::Opcode) {
            for (unsigned op = 0; op < 256; ++op)
                if (gbi::opcodeDefined(ucode, static_cast<std::uint8_t>(op)))
                    combo->addItem(QStringLiteral("%1 (%2)").arg(qs(gbi::opcodeName(ucode, static_cast<std::uint8_t>(op))),
                                                                hexText(op, 2)),
                                   QVariant::fromValue(static_cast<qlonglong>(op)));
        } else {
            for (const gbi::NamedValue &v : gbi::constTable(a.table, ucode)) {
                if (combo->findData(QVariant::fromValue(static_cast<qlonglong>(v.value))) >= 0)
                    continue;
                const QString m = meaning(v.name);
                combo->addItem(m.isEmpty() ? qs(v.name) : qs(v.name) + QStringLiteral(" \u2014 ") + m,
                               QVariant::fromValue(static_cast<qlonglong>(v.value)));
            }
            // Texture masks and shifts are 4-bit counts with one name each;
            // other narrow fields list their unnamed values too.
            std::int64_t lo = 0, hi = -1;
            if (a.table == ConstTable::TxMask || a.table == ConstTable::TxShift)
                hi = 15;
            else if (a.field.present() && a.field.width <= 6)
                std::tie(lo, hi) = argRange(a);
            for (std::int64_t v = lo; v <= hi; ++v) {
                if (combo->findData(QVariant::fromValue(static_cast<qlonglong>(v))) >= 0)
                    continue;
                QString text = QString::number(v);
                if (a.table == ConstTable::TxMask)
                    text += tr(" \u2014 wraps every %1 texels").arg(1 << v);
                else if (a.table == ConstTable::TxShift)
                    text += v <= 10 ? tr(" \u2014 coordinates \u00f7 %1").arg(1 << v)
                                    : tr(" \u2014 coordinates \u00d7 %1").arg(1 << (16 - v));
                combo->addItem(text, QVariant::fromValue(static_cast<qlonglong>(v)));
            }
        }
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, i] {
            auto args = currentArgs();
            args[i] = combo->currentData().toLongLong();
            propose(args, static_cast<int>(i));
        });
        refreshers_.push_back([this, combo, i] {
            const QSignalBlocker block(combo);
            const auto value = static_cast<qlonglong>(command_.args[i]);
            int at = combo->findData(QVariant::fromValue(value));
            if (at < 0) {
                combo->addItem(QString::number(value), QVariant::fromValue(value));
                at = combo->count() - 1;
            }
            combo->setCurrentIndex(at);
        });
        arguments_->addRow(label, combo);
        return;
    }
    case ArgKind::Flags: {
        auto *box = new QWidget(argumentsBox_);
        box->setObjectName(name);
        auto *grid = new QGridLayout(box);
        grid->setContentsMargins(0, 0, 0, 0);
        std::uint64_t named = 0;
        int n = 0;
        for (const gbi::NamedValue &v : gbi::constTable(a.table, ucode)) {
            const auto bit = static_cast<std::uint64_t>(v.value);
            if (v.value <= 0 || !std::has_single_bit(bit) || (named & bit))
                continue;
            named |= bit;
            auto *check = new QCheckBox(qs(v.name), box);
            check->setObjectName(qs(v.name));
            grid->addWidget(check, n / 2, n % 2);
            ++n;
            connect(check, &QCheckBox::toggled, this, [this, i, bit](bool on) {
                auto args = currentArgs();
                args[i] = on ? (args[i] | static_cast<std::int64_t>(bit)) : (args[i] & ~static_cast<std::int64_t>(bit));
                propose(args, static_cast<int>(i));
            });
            refreshers_.push_back([this, check, i, bit] {
                const QSignalBlocker block(check);
                check->setChecked((static_cast<std::uint64_t>(command_.args[i]) & bit) != 0);
            });
        }
        auto *other = new QLabel(box);
        other->setObjectName(name + QStringLiteral("_other"));
        grid->addWidget(other, (n + 1) / 2, 0, 1, 2);
        refreshers_.push_back([this, other, i, named] {
            const std::uint64_t rest = static_cast<std::uint64_t>(command_.args[i]) & ~named;
            other->setText(rest ? tr("other bits: %1").arg(hexText(static_cast<std::int64_t>(rest))) : QString());
            other->setVisible(rest != 0);
        });
        arguments_->addRow(label, box);
        return;
    }
    case ArgKind::NotStored: {
        auto *shown = new QLabel(argumentsBox_);
        shown->setObjectName(name);
        shown->setEnabled(false);
        refreshers_.push_back([this, shown, a, i, ucode] {
            const std::string_view n = gbi::constName(a.table, ucode, command_.args[i]);
            shown->setText((n.empty() ? QString::number(command_.args[i]) : qs(n)) + tr(" (not kept in the words)"));
        });
        arguments_->addRow(label, shown);
        return;
    }
    case ArgKind::Hex:
    case ArgKind::Addr:
    case ArgKind::Preset: {
        auto *edit = hexEdit(argumentsBox_, name);
        const int digits = a.field.present() ? (a.field.width + 3) / 4 : 8;
        connect(edit, &QLineEdit::editingFinished, this, [this, edit, i, digits] {
            const auto v = parseHex(edit->text());
            if (!v) {
                edit->setText(hexText(command_.args[i], digits));
                return;
            }
            if (static_cast<std::int64_t>(*v) == command_.args[i])
                return;
            auto args = currentArgs();
            args[i] = *v;
            propose(args, static_cast<int>(i));
        });
        refreshers_.push_back([this, edit, i, digits] {
            const QSignalBlocker block(edit);
            edit->setText(hexText(command_.args[i], digits));
        });
        arguments_->addRow(label, edit);
        return;
    }
    }
}

void ArgumentInspector::addColourSwatch(int red)
{
    auto *button = new QToolButton(argumentsBox_);
    button->setObjectName(QStringLiteral("Colour"));
    button->setToolTip(tr("Choose the colour"));
    button->setIconSize(QSize(28, 16));
    const auto r = static_cast<std::size_t>(red);
    auto colour = [this, r] {
        return QColor(static_cast<int>(command_.args[r] & 0xFF), static_cast<int>(command_.args[r + 1] & 0xFF),
                      static_cast<int>(command_.args[r + 2] & 0xFF), static_cast<int>(command_.args[r + 3] & 0xFF));
    };
    connect(button, &QToolButton::clicked, this, [this, r, colour] {
        // Window modal, without holding up the window.
        auto *dialog = new QColorDialog(colour(), this);
        dialog->setObjectName(QStringLiteral("ColourDialog"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::DontUseNativeDialog);
        connect(dialog, &QColorDialog::colorSelected, this, [this, r](const QColor &c) { chooseColour(static_cast<int>(r), c); });
        dialog->open();
    });
    refreshers_.push_back([button, colour] {
        button->setIcon(swatch(colour()));
        button->setText(colour().name(QColor::HexArgb));
    });
    arguments_->addRow(tr("colour"), button);
}

void ArgumentInspector::chooseColour(int red, const QColor &c)
{
    if (!command_.macro || red + 3 >= static_cast<int>(command_.macro->args.size()))
        return;
    const auto r = static_cast<std::size_t>(red);
    auto args = currentArgs();
    args[r] = c.red();
    args[r + 1] = c.green();
    args[r + 2] = c.blue();
    args[r + 3] = c.alpha();
    propose(args, 100 + red);
}

void ArgumentInspector::addRenderMode()
{
    const gbi::Ucode ucode = command_.ucode;
    const bool sm64 = names_ == gbi::Names::Sm64;
    auto word = [this] { return static_cast<std::uint32_t>(command_.args[0] | command_.args[1]); };
    auto proposeWord = [this](std::uint32_t w, int key) {
        auto args = currentArgs();
        args[0] = w & ~kCycle2Blender;
        args[1] = w & kCycle2Blender;
        propose(args, key);
    };
    const auto presets = gbi::renderPresets();

    // Presets of each cycle.
    for (int cycle = 0; cycle < 2; ++cycle) {
        auto *combo = narrowCombo(argumentsBox_, QStringLiteral("RenderPreset%1").arg(cycle + 1));
        combo->addItem(tr("(no preset)"), -1);
        for (std::size_t p = 0; p < presets.size(); ++p) {
            const gbi::RenderPreset &preset = presets[p];
            if (preset.sm64Only && !sm64)
                continue;
            const std::string_view n = cycle == 0 ? preset.name : preset.name2;
            if (!n.empty())
                combo->addItem(qs(n), static_cast<int>(p));
        }
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, cycle, presets, proposeWord] {
            const int p = combo->currentData().toInt();
            if (p < 0)
                return;
            const auto other = command_.args[cycle == 0 ? 3 : 2];
            std::uint32_t w = 0;
            if (cycle == 0)
                w = presets[static_cast<std::size_t>(p)].cycle1
                  | (other >= 0 ? presets[static_cast<std::size_t>(other)].cycle2 : static_cast<std::uint32_t>(command_.args[1]));
            else
                w = (other >= 0 ? presets[static_cast<std::size_t>(other)].cycle1 : static_cast<std::uint32_t>(command_.args[0]))
                  | presets[static_cast<std::size_t>(p)].cycle2;
            proposeWord(w, 200 + cycle);
        });
        refreshers_.push_back([this, combo, cycle] {
            const QSignalBlocker block(combo);
            const int at = combo->findData(static_cast<int>(command_.args[2 + cycle]));
            combo->setCurrentIndex(at < 0 ? 0 : at);
        });
        arguments_->addRow(cycle == 0 ? tr("cycle 1 preset") : tr("cycle 2 preset"), combo);
    }

    // Single-bit flags.
    auto *flags = new QWidget(argumentsBox_);
    flags->setObjectName(QStringLiteral("RenderFlags"));
    auto *grid = new QGridLayout(flags);
    grid->setContentsMargins(0, 0, 0, 0);
    int n = 0;
    for (const char *flag : {"AA_EN", "Z_CMP", "Z_UPD", "IM_RD", "CLR_ON_CVG", "CVG_X_ALPHA", "ALPHA_CVG_SEL", "FORCE_BL"}) {
        const auto value = gbi::constantValue(ucode, flag);
        if (!value)
            continue;
        const auto bit = static_cast<std::uint32_t>(*value);
        auto *check = new QCheckBox(QString::fromLatin1(flag), flags);
        check->setObjectName(QString::fromLatin1(flag));
        grid->addWidget(check, n / 2, n % 2);
        ++n;
        connect(check, &QCheckBox::toggled, this, [word, proposeWord, bit](bool on) {
            proposeWord(on ? (word() | bit) : (word() & ~bit), 210);
        });
        refreshers_.push_back([check, word, bit] {
            const QSignalBlocker block(check);
            check->setChecked((word() & bit) != 0);
        });
    }
    arguments_->addRow(tr("flags"), flags);

    // Two-bit fields: coverage destination and Z mode, then the blender.
    struct Field {
        const char *object;
        QString label;
        int shift;
        std::vector<std::string_view> names;
    };
    std::vector<Field> fields = {
        {"CVG_DST", tr("coverage"), 8, {"CVG_DST_CLAMP", "CVG_DST_WRAP", "CVG_DST_FULL", "CVG_DST_SAVE"}},
        {"ZMODE", tr("Z mode"), 10, {"ZMODE_OPA", "ZMODE_INTER", "ZMODE_XLU", "ZMODE_DEC"}},
    };
    static const char *const kSlots[] = {"m1a", "m1b", "m2a", "m2b"};
    for (int cycle = 0; cycle < 2; ++cycle)
        for (int slot = 0; slot < 4; ++slot) {
            const auto names = gbi::blendNames(slot);
            Field f{nullptr, QStringLiteral("%1 cycle %2").arg(QString::fromLatin1(kSlots[slot])).arg(cycle + 1),
                    30 - 4 * slot - 2 * cycle, std::vector<std::string_view>(names.begin(), names.end())};
            fields.push_back(f);
        }
    for (const Field &f : fields) {
        auto *combo = narrowCombo(argumentsBox_, f.object ? QString::fromLatin1(f.object)
                                                          : QString(f.label).replace(QLatin1Char(' '), QLatin1Char('_')));
        for (std::size_t v = 0; v < 4; ++v)
            combo->addItem(v < f.names.size() && !f.names[v].empty() ? qs(f.names[v]) : QString::number(v),
                           static_cast<int>(v));
        const int shift = f.shift;
        connect(combo, &QComboBox::currentIndexChanged, this, [word, proposeWord, shift](int v) {
            proposeWord((word() & ~(3u << shift)) | (static_cast<std::uint32_t>(v) << shift), 220 + shift);
        });
        refreshers_.push_back([combo, word, shift] {
            const QSignalBlocker block(combo);
            combo->setCurrentIndex(static_cast<int>((word() >> shift) & 3));
        });
        arguments_->addRow(f.label, combo);
    }
}

void ArgumentInspector::addCombinePresets()
{
    const bool sm64 = names_ == gbi::Names::Sm64;
    const auto presets = gbi::combinePresets();
    for (int cycle = 0; cycle < 2; ++cycle) {
        auto *combo = narrowCombo(argumentsBox_, QStringLiteral("CombinePreset%1").arg(cycle + 1));
        combo->addItem(tr("(no preset)"), -1);
        for (std::size_t p = 0; p < presets.size(); ++p)
            if (!presets[p].alias && (sm64 ? presets[p].sm64 : presets[p].libultra))
                combo->addItem(qs(presets[p].name), static_cast<int>(p));
        const std::size_t base = cycle == 0 ? 0 : 8;
        connect(combo, &QComboBox::currentIndexChanged, this, [this, combo, presets, base, cycle] {
            const int p = combo->currentData().toInt();
            if (p < 0)
                return;
            auto args = currentArgs();
            for (std::size_t k = 0; k < 8; ++k)
                args[base + k] = presets[static_cast<std::size_t>(p)].codes[k];
            propose(args, 300 + cycle);
        });
        refreshers_.push_back([this, combo, presets, base] {
            const QSignalBlocker block(combo);
            int at = 0;
            for (int item = 1; item < combo->count() && at == 0; ++item) {
                const auto &codes = presets[static_cast<std::size_t>(combo->itemData(item).toInt())].codes;
                bool same = true;
                for (std::size_t k = 0; k < 8; ++k)
                    same = same && codes[k] == command_.args[base + k];
                if (same)
                    at = item;
            }
            combo->setCurrentIndex(at);
        });
        arguments_->addRow(cycle == 0 ? tr("cycle 1 preset") : tr("cycle 2 preset"), combo);
    }
}

void ArgumentInspector::addWords()
{
    for (std::size_t k = 0; k < words_.size(); ++k) {
        auto *label = new QLabel(words_.size() > 1 ? tr("#%1").arg(k + 1) : tr("w0, w1"), wordsBox_);
        wordsGrid_->addWidget(label, static_cast<int>(k), 0);
        for (int half = 0; half < 2; ++half) {
            auto *edit = hexEdit(wordsBox_, QStringLiteral("w%1_%2").arg(half).arg(k));
            wordsGrid_->addWidget(edit, static_cast<int>(k), 1 + half);
            connect(edit, &QLineEdit::editingFinished, this, [this, edit, k, half] {
                const auto v = parseHex(edit->text());
                gbi::Words w = words_[k];
                const std::uint32_t old = half == 0 ? w.w0 : w.w1;
                if (!v) {
                    edit->setText(hexText(old));
                    return;
                }
                if (*v == old)
                    return;
                (half == 0 ? w.w0 : w.w1) = *v;
                emit wordsEdited(static_cast<int>(k), w);
            });
            refreshers_.push_back([this, edit, k, half] {
                const QSignalBlocker block(edit);
                edit->setText(hexText(half == 0 ? words_[k].w0 : words_[k].w1));
            });
        }
    }
}

} // namespace dlscope
