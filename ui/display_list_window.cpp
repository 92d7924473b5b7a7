#include "display_list_window.h"

#include "argument_editors.h"
#include "check_runner.h"
#include "state_panel.h"
#include "display_list_model.h"
#include "list_loader.h"
#include "message_box.h"
#include "window_slots.h"

#include "gbi/idioms.h"
#include "gbi/parser.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUndoCommand>
#include <QUndoStack>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace dlscope {
namespace {

using gbi::Command;
using gbi::EntryRun;
using gbi::Words;

enum Purpose { ForPaste = 1, ForFile = 2 };

QString qs(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QString hex8(std::uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper(); }

// "1 command", "4 commands".
QString counted(std::uint64_t n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromLatin1(n == 1 ? one : many));
}

// One step of the undo stack: a run of entries replaced by another. Edits
// of one argument of one command in a row merge into one step.
class SpliceCommand : public QUndoCommand {
public:
    SpliceCommand(DisplayListWindow *window, std::size_t first, EntryRun before, EntryRun after, const QString &text,
                  int mergeKey)
        : QUndoCommand(text), window_(window), first_(first), before_(std::move(before)), after_(std::move(after)),
          mergeKey_(mergeKey)
    {
    }
    void redo() override { window_->applySplice(first_, before_.size(), after_); }
    void undo() override { window_->applySplice(first_, after_.size(), before_); }
    int id() const override { return mergeKey_ < 0 ? -1 : 1; }
    bool mergeWith(const QUndoCommand *other) override
    {
        const auto *o = static_cast<const SpliceCommand *>(other);
        if (o->mergeKey_ != mergeKey_ || o->first_ != first_ || o->before_.size() != after_.size())
            return false;
        after_ = o->after_;
        return true;
    }

private:
    DisplayListWindow *window_;
    std::size_t first_;
    EntryRun before_;
    EntryRun after_;
    int mergeKey_;
};

void truncateRun(EntryRun &run, std::size_t n)
{
    run.words.resize(n);
    if (!run.edited.empty())
        run.edited.resize(n);
    if (!run.addresses.empty())
        run.addresses.resize(n);
    std::erase_if(run.symbols, [n](const auto &s) { return s.first >= n; });
}

QString argValueText(const gbi::ArgSpec &a, std::int64_t v)
{
    if (a.kind == gbi::ArgKind::Hex || a.kind == gbi::ArgKind::Addr || a.kind == gbi::ArgKind::Flags)
        return QStringLiteral("0x") + QString::number(static_cast<qulonglong>(static_cast<std::uint32_t>(v)), 16).toUpper();
    return QString::number(v);
}

// Encodes an edited command and checks that every argument reads back as
// given: a value that the command's fields cannot hold is refused with the
// reason, rather than written cut to the field.
bool encodeChecked(const Command &c, gbi::Names names, const gbi::AddressNamer *namer, std::vector<Words> &out,
                   QString &why)
{
    const gbi::MacroSpec &m = *c.macro;
    const QString macro = qs(m.name);
    const std::size_t n = m.args.size();
    auto mismatch = [&](const Command &back) {
        for (std::size_t i = 0; i < n; ++i) {
            if (m.args[i].kind == gbi::ArgKind::NotStored)
                continue;
            if (m.special == gbi::Special::RenderMode) {
                if ((back.args[0] | back.args[1]) != (c.args[0] | c.args[1])) {
                    why = QObject::tr("%1 cannot hold that render mode.").arg(macro);
                    return true;
                }
                return false;
            }
            if (back.args[i] != c.args[i]) {
                why = QObject::tr("%1 = %2 does not fit %3: the words would read back as %1 = %4.")
                          .arg(qs(m.args[i].name), argValueText(m.args[i], c.args[i]), macro,
                               argValueText(m.args[i], back.args[i]));
                return true;
            }
        }
        return false;
    };

    if (m.special == gbi::Special::Idiom) {
        if (!gbi::expandIdiom(c.ucode, m, c.args, out)) {
            why = QObject::tr("%1 cannot be written with these values.").arg(macro);
            return false;
        }
        Command back;
        if (!gbi::foldIdiom(c.ucode, out, gbi::DecodeOptions{names}, namer, back) || back.length != out.size()) {
            why = QObject::tr("%1 cannot be written with these values: its commands would not read back as one %1.")
                      .arg(macro);
            return false;
        }
        return back.macro != c.macro || !mismatch(back);
    }

    Words w;
    if (!gbi::encodeSingle(m, c.args, w)) {
        why = QObject::tr("%1 cannot be written with these values.").arg(macro);
        return false;
    }
    const Command back = gbi::decodeSingle(c.ucode, w, gbi::DecodeOptions{names});
    if (back.macro == c.macro) {
        if (mismatch(back))
            return false;
    } else if (m.special == gbi::Special::None || m.special == gbi::Special::Raw) {
        // Another row prints the new words: check the fields one by one.
        for (std::size_t i = 0; i < n; ++i) {
            std::int64_t v = 0;
            if (m.args[i].field.present() && gbi::decodeArg(m.args[i], w, v) && v != c.args[i]) {
                why = QObject::tr("%1 = %2 does not fit %3: the words would read back as %1 = %4.")
                          .arg(qs(m.args[i].name), argValueText(m.args[i], c.args[i]), macro,
                               argValueText(m.args[i], v));
                return false;
            }
        }
    }
    out.assign(1, w);
    return true;
}

struct ClassicTarget {
    ToolWindow kind;
    QString text;
};

// The classic window that decodes this command, with the text its command
// box takes; or why there is none.
std::optional<ClassicTarget> classicTarget(Words w, gbi::Ucode ucode, QString &why)
{
    if (ucode != gbi::Ucode::F3D && ucode != gbi::Ucode::F3DEX) {
        why = QObject::tr("The classic windows read F3D and F3DEX commands; this list is decoded as %1.")
                  .arg(qs(gbi::ucodeName(ucode)));
        return std::nullopt;
    }
    const QString whole = hex8(w.w0) + hex8(w.w1);
    switch (w.w0 >> 24) {
    case 0xB7: return ClassicTarget{ToolWindow::GeometryMode, whole};
    case 0xB9:
        if (w.w0 == 0xB900031Du) // the render-mode form: shift 3, 29 bits
            return ClassicTarget{ToolWindow::RenderMode, hex8(w.w1)};
        break;
    case 0xFC: return ClassicTarget{ToolWindow::Combiner, whole};
    case 0xBA: return ClassicTarget{ToolWindow::OtherModeH, whole};
    case 0xBB: return ClassicTarget{ToolWindow::Texture, hex8(w.w0)};
    case 0xF5: return ClassicTarget{ToolWindow::SetTile, whole};
    default: break;
    }
    why = QObject::tr("The classic windows decode B7, B9 (render mode), FC, BA, BB and F5 commands.");
    return std::nullopt;
}

constexpr const char *kFormatNames[] = {"static macros", "dynamic macros", "hex words", "C words"};

// A file dialog that stays open without holding up the window (it is window
// modal); `chosen` runs with the path and the name filter once accepted.
void askForFile(QWidget *parent, const char *name, const QString &title, QFileDialog::AcceptMode mode,
                const QStringList &filters, const QString &directory,
                std::function<void(const QString &, const QString &)> chosen)
{
    auto *dialog = new QFileDialog(parent, title);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(mode);
    if (mode == QFileDialog::AcceptOpen)
        dialog->setFileMode(QFileDialog::ExistingFile);
    if (!filters.isEmpty())
        dialog->setNameFilters(filters);
    if (!directory.isEmpty())
        dialog->setDirectory(directory);
    QObject::connect(dialog, &QFileDialog::accepted, parent, [dialog, chosen = std::move(chosen)] {
        if (!dialog->selectedFiles().isEmpty())
            chosen(dialog->selectedFiles().front(), dialog->selectedNameFilter());
    });
    dialog->open();
}

} // namespace

DisplayListWindow::DisplayListWindow(QWidget *parent)
    : QMainWindow(parent), document_(std::make_unique<gbi::ListDocument>())
{
    setObjectName(QStringLiteral("DisplayList"));
    setWindowTitle(QStringLiteral("Display List"));
    setAcceptDrops(true);
    resize(1180, 860);

    model_ = new DisplayListModel(*document_, this);
    loader_ = new ListLoader(this);
    undo_ = new QUndoStack(this);
    undo_->setObjectName(QStringLiteral("UndoStack"));
    connect(loader_, &ListLoader::finished, this, &DisplayListWindow::finishRead);

    checker_ = new CheckRunner(this);
    connect(checker_, &CheckRunner::finished, this, &DisplayListWindow::finishChecks);
    checkDelay_ = new QTimer(this);
    checkDelay_->setSingleShot(true);
    checkDelay_->setInterval(150);
    connect(checkDelay_, &QTimer::timeout, this, &DisplayListWindow::runChecks);

    buildCentre();
    buildDocks();
    buildToolBars();
    buildActions();
    updateHint();
    showCurrent();
}

DisplayListWindow::~DisplayListWindow()
{
    // The loader's thread ends before the document it was reading for, and
    // the view lets go of the model before the document under it goes.
    delete loader_;
    loader_ = nullptr;
    delete checker_;
    checker_ = nullptr;
    table_->selectionModel()->disconnect(this);
    table_->setModel(nullptr);
    delete model_;
    model_ = nullptr;
}

// --- Building ---------------------------------------------------------------------

void DisplayListWindow::buildCentre()
{
    auto *centre = new QWidget(this);
    auto *layout = new QVBoxLayout(centre);
    layout->setContentsMargins(6, 4, 6, 4);

    hint_ = new QLabel(centre);
    hint_->setObjectName(QStringLiteral("Hint"));
    hint_->setWordWrap(true);
    layout->addWidget(hint_);

    filter_ = new QLineEdit(centre);
    filter_->setObjectName(QStringLiteral("Filter"));
    filter_->setPlaceholderText(tr("Filter by macro text or words (Ctrl+F)"));
    filter_->setClearButtonEnabled(true);
    layout->addWidget(filter_);
    filterDelay_ = new QTimer(this);
    filterDelay_->setSingleShot(true);
    filterDelay_->setInterval(150);
    connect(filter_, &QLineEdit::textChanged, filterDelay_, qOverload<>(&QTimer::start));
    connect(filterDelay_, &QTimer::timeout, this, [this] { model_->setFilter(filter_->text()); });
    connect(model_, &DisplayListModel::filterProgress, this,
            [this](int percent) { setMessage(tr("Filtering\u2026 %1%").arg(percent)); });
    connect(model_, &DisplayListModel::filtered, this, [this](std::size_t shown, std::size_t total) {
        if (!model_->filter().isEmpty())
            setMessage(tr("%1 of %2 rows match \u201c%3\u201d.").arg(shown).arg(total).arg(model_->filter()));
        showCurrent();
    });

    auto *split = new QSplitter(Qt::Horizontal, centre);
    split->setObjectName(QStringLiteral("Splitter"));
    table_ = new QTableView(split);
    table_->setObjectName(QStringLiteral("Table"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Double-click or F2 on the macro column edits the macro; a double-click
    // elsewhere folds or unfolds.
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    model_->setMacroEditor([this](std::size_t row, const QString &text) { return editMacro(row, text); });
    table_->setWordWrap(false);
    table_->setShowGrid(false);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    table_->setFont(fixed);
    const QFontMetrics metrics(fixed);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(metrics.height() + 4);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(DisplayListModel::WhereColumn, metrics.horizontalAdvance(QStringLiteral("\u25B8 80000000")) + 36); // room for a findings icon
    table_->setColumnWidth(DisplayListModel::WordsColumn, metrics.horizontalAdvance(QStringLiteral("E7000000 00000000")) + 16);
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showCurrent(); });
    connect(table_, &QTableView::doubleClicked, this,
            [this](const QModelIndex &index) {
                if (index.column() != DisplayListModel::MacroColumn)
                    toggleFold(model_->documentRow(index.row()));
            });

    auto *scroll = new QScrollArea(split);
    scroll->setObjectName(QStringLiteral("Inspector"));
    scroll->setWidgetResizable(true);
    inspector_ = new ArgumentInspector(scroll);
    scroll->setWidget(inspector_);
    scroll->setMinimumWidth(300);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    split->addWidget(table_);
    split->addWidget(scroll);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({700, 420});
    layout->addWidget(split, 1);
    connect(inspector_, &ArgumentInspector::argumentsEdited, this, &DisplayListWindow::editArguments);
    connect(inspector_, &ArgumentInspector::wordsEdited, this, &DisplayListWindow::editWords);

    insertLine_ = new QLineEdit(centre);
    insertLine_->setObjectName(QStringLiteral("InsertLine"));
    insertLine_->setPlaceholderText(tr("Macro to insert after the selected row (Enter inserts, Esc cancels)"));
    insertLine_->setFont(fixed);
    insertLine_->hide();
    layout->addWidget(insertLine_);
    connect(insertLine_, &QLineEdit::returnPressed, this, &DisplayListWindow::finishInsert);
    auto *cancel = new QShortcut(QKeySequence(Qt::Key_Escape), insertLine_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(cancel, &QShortcut::activated, this, [this] {
        insertLine_->hide();
        table_->setFocus();
    });

    message_ = new QLabel(centre);
    message_->setObjectName(QStringLiteral("Message"));
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message_);
    setCentralWidget(centre);
}

void DisplayListWindow::buildDocks()
{
    findingsDock_ = new QDockWidget(tr("Findings"), this);
    findingsDock_->setObjectName(QStringLiteral("FindingsDock"));
    findings_ = new QTreeWidget(findingsDock_);
    findings_->setObjectName(QStringLiteral("Findings"));
    findings_->setHeaderLabels({tr("Where"), tr("Rule"), tr("Finding")});
    findings_->setRootIsDecorated(false);
    findings_->setUniformRowHeights(true);
    findings_->setAlternatingRowColors(true);
    findings_->setColumnWidth(0, 110);
    findings_->setColumnWidth(1, 150);
    findingsDock_->setWidget(findings_);
    addDockWidget(Qt::BottomDockWidgetArea, findingsDock_);
    auto go = [this](QTreeWidgetItem *item) {
        if (!item || !item->data(0, Qt::UserRole).isValid())
            return;
        const auto entry = static_cast<std::size_t>(item->data(0, Qt::UserRole).toULongLong());
        if (entry >= document_->size())
            return;
        const std::size_t row = document_->rowOf(entry);
        if (model_->viewRow(row) < 0) {
            setMessage(tr("That row is hidden by the filter."));
            return;
        }
        selectDocumentRow(row);
    };
    connect(findings_, &QTreeWidget::itemClicked, this, go);
    connect(findings_, &QTreeWidget::itemActivated, this, go);

    stateDock_ = new QDockWidget(tr("State"), this);
    stateDock_->setObjectName(QStringLiteral("StateDock"));
    state_ = new QPlainTextEdit(stateDock_);
    state_->setObjectName(QStringLiteral("StatePanel"));
    state_->setReadOnly(true);
    state_->setLineWrapMode(QPlainTextEdit::NoWrap);
    state_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    stateDock_->setWidget(state_);
    // Both under the table, side by side, so that the table and the
    // inspector keep their width.
    addDockWidget(Qt::BottomDockWidgetArea, stateDock_);
    splitDockWidget(findingsDock_, stateDock_, Qt::Horizontal);
    resizeDocks({findingsDock_, stateDock_}, {560, 560}, Qt::Horizontal);
    resizeDocks({findingsDock_}, {250}, Qt::Vertical);
}

void DisplayListWindow::buildToolBars()
{
    auto *decode = addToolBar(tr("Decoding"));
    decode->setObjectName(QStringLiteral("DecodeBar"));
    decode->setMovable(false);

    ucode_ = new QComboBox(decode);
    ucode_->setObjectName(QStringLiteral("Ucode"));
    ucode_->setToolTip(tr("Microcode: chosen from the words, or the one given"));
    ucode_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    ucode_->addItem(tr("auto"));
    for (const gbi::Ucode u : gbi::kAllUcodes)
        ucode_->addItem(qs(gbi::ucodeName(u)));
    names_ = new QComboBox(decode);
    names_->setObjectName(QStringLiteral("Names"));
    names_->setToolTip(tr("Which header's names the macros use"));
    names_->addItems({QStringLiteral("libultra"), QStringLiteral("sm64")});
    style_ = new QComboBox(decode);
    style_->setObjectName(QStringLiteral("Style"));
    style_->addItems({tr("static"), tr("dynamic")});
    style_->setToolTip(tr("Static macros (gsXxx) or dynamic ones (gXxx(pointer, ...))"));
    pointer_ = new QLineEdit(QStringLiteral("gDisplayListHead++"), decode);
    pointer_->setObjectName(QStringLiteral("Pointer"));
    pointer_->setToolTip(tr("The display-list pointer expression of dynamic macros"));
    pointer_->setEnabled(false);
    pointer_->setMaximumWidth(170);
    fold_ = new QCheckBox(tr("Fold idioms"), decode);
    fold_->setObjectName(QStringLiteral("Fold"));
    fold_->setChecked(true);
    fold_->setToolTip(tr("Show multi-command macros (texture loads, rectangles, ...) as one row"));

    decode->addWidget(new QLabel(tr(" Microcode "), decode));
    decode->addWidget(ucode_);
    decode->addWidget(new QLabel(tr(" Names "), decode));
    decode->addWidget(names_);
    decode->addSeparator();
    decode->addWidget(style_);
    decode->addWidget(pointer_);
    decode->addSeparator();
    decode->addWidget(fold_);

    connect(ucode_, &QComboBox::currentIndexChanged, this, &DisplayListWindow::decodeOptionsChanged);
    connect(names_, &QComboBox::currentIndexChanged, this, &DisplayListWindow::decodeOptionsChanged);
    connect(fold_, &QCheckBox::toggled, this, &DisplayListWindow::decodeOptionsChanged);
    connect(style_, &QComboBox::currentIndexChanged, this, &DisplayListWindow::printStyleChanged);
    connect(pointer_, &QLineEdit::editingFinished, this, &DisplayListWindow::printStyleChanged);

    addToolBarBreak();
    auto *read = addToolBar(tr("Reading"));
    read->setObjectName(QStringLiteral("ReadBar"));
    read->setMovable(false);
    form_ = new QComboBox(read);
    form_->setObjectName(QStringLiteral("Form"));
    form_->setToolTip(tr("The input's form: auto recognises each line"));
    for (const gbi::InputForm f : {gbi::InputForm::Auto, gbi::InputForm::Hex, gbi::InputForm::Bytes, gbi::InputForm::Xxd,
                                   gbi::InputForm::MemView, gbi::InputForm::CArray, gbi::InputForm::Asm,
                                   gbi::InputForm::Decomp, gbi::InputForm::Trace, gbi::InputForm::Binary})
        form_->addItem(qs(gbi::inputFormName(f)));
    order_ = new QComboBox(read);
    order_->setObjectName(QStringLiteral("ByteOrder"));
    order_->setToolTip(tr("Byte order of binary input"));
    for (const gbi::ByteOrder o : {gbi::ByteOrder::Big, gbi::ByteOrder::Little, gbi::ByteOrder::V64, gbi::ByteOrder::N64})
        order_->addItem(qs(gbi::byteOrderName(o)));
    offset_ = new QLineEdit(QStringLiteral("0"), read);
    offset_->setObjectName(QStringLiteral("Offset"));
    offset_->setToolTip(tr("Bytes of binary input to skip first (0x for hex)"));
    offset_->setMaximumWidth(90);
    count_ = new QLineEdit(read);
    count_->setObjectName(QStringLiteral("Count"));
    count_->setPlaceholderText(tr("all"));
    count_->setToolTip(tr("Read at most this many commands"));
    count_->setMaximumWidth(70);
    stopAtEnd_ = new QCheckBox(tr("Stop at the end of the list"), read);
    stopAtEnd_->setObjectName(QStringLiteral("StopAtEnd"));
    stopAtEnd_->setToolTip(tr("Keep the commands up to the first end-of-list command"));
    read->addWidget(new QLabel(tr(" Read as "), read));
    read->addWidget(form_);
    read->addWidget(new QLabel(tr(" Byte order "), read));
    read->addWidget(order_);
    read->addWidget(new QLabel(tr(" Offset "), read));
    read->addWidget(offset_);
    read->addWidget(new QLabel(tr(" Count "), read));
    read->addWidget(count_);
    read->addWidget(stopAtEnd_);
}

void DisplayListWindow::buildActions()
{
    auto action = [this](const QString &text, const char *name, QKeySequence key, auto slot) {
        auto *a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(action(tr("&Open\u2026"), "OpenAction", QKeySequence(Qt::CTRL | Qt::Key_O), [this] { chooseOpenFile(); }));
    file->addAction(action(tr("&Reload"), "ReloadAction", QKeySequence(Qt::Key_F5), [this] { reload(); }));
    file->addAction(action(tr("&Save\u2026"), "SaveAction", QKeySequence(Qt::CTRL | Qt::Key_S), [this] { save(); }));
    file->addSeparator();
    QAction *symbols = action(tr("Load S&ymbols\u2026"), "SymbolsAction", {}, [this] { loadSymbols(); });
    QAction *segments = action(tr("Se&gments\u2026"), "SegmentsAction", {}, [this] { editSegments(); });
    file->addAction(symbols);
    file->addAction(action(tr("C&lear Symbols"), "ClearSymbolsAction", {}, [this] { clearSymbols(); }));
    file->addAction(segments);
    // Beside the other decoding choices too.
    if (auto *decode = findChild<QToolBar *>(QStringLiteral("DecodeBar"))) {
        decode->addSeparator();
        decode->addAction(segments);
        decode->addAction(symbols);
    }
    file->addSeparator();
    file->addAction(action(tr("&Close"), "CloseAction", QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); }));

    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    QAction *undo = undo_->createUndoAction(this, tr("&Undo"));
    undo->setObjectName(QStringLiteral("UndoAction"));
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    QAction *redo = undo_->createRedoAction(this, tr("&Redo"));
    redo->setObjectName(QStringLiteral("RedoAction"));
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    addAction(undo);
    addAction(redo);
    edit->addAction(undo);
    edit->addAction(redo);
    edit->addSeparator();
    edit->addAction(action(tr("&Copy"), "CopyAction", QKeySequence(Qt::CTRL | Qt::Key_C),
                           [this] { copyRows(gbi::CopyFormat::Static); }));
    QMenu *copyAs = edit->addMenu(tr("Copy &As"));
    const gbi::CopyFormat formats[] = {gbi::CopyFormat::Static, gbi::CopyFormat::Dynamic, gbi::CopyFormat::Hex,
                                       gbi::CopyFormat::CWords};
    const char *names[] = {"CopyStaticAction", "CopyDynamicAction", "CopyHexAction", "CopyCWordsAction"};
    for (std::size_t i = 0; i < std::size(formats); ++i) {
        const gbi::CopyFormat format = formats[i];
        copyAs->addAction(action(tr("Copy as %1").arg(QString::fromLatin1(kFormatNames[i])), names[i], {},
                                 [this, format] { copyRows(format); }));
    }
    edit->addAction(action(tr("&Paste"), "PasteAction", QKeySequence(Qt::CTRL | Qt::Key_V),
                           [this] { readMime(QGuiApplication::clipboard()->mimeData(), Place::Insert); }));
    edit->addAction(action(tr("Paste &Replacing"), "PasteReplacingAction", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V),
                           [this] { readMime(QGuiApplication::clipboard()->mimeData(), Place::Replace); }));
    edit->addSeparator();
    edit->addAction(action(tr("&Find"), "FindAction", QKeySequence(Qt::CTRL | Qt::Key_F), [this] {
        filter_->setFocus();
        filter_->selectAll();
    }));

    QMenu *command = menuBar()->addMenu(tr("&Command"));
    foldAction_ = action(tr("&Fold or Unfold"), "ToggleFoldAction", QKeySequence(Qt::CTRL | Qt::Key_E),
                         [this] { toggleFold(currentRow()); });
    command->addAction(foldAction_);
    // Insert and Delete act on the table only, so that the keys still edit
    // text in the line edits.
    QAction *insert = action(tr("&Insert Command…"), "InsertAction", QKeySequence(Qt::Key_Insert), [this] { startInsert(); });
    QAction *remove = action(tr("&Delete Rows"), "DeleteAction", QKeySequence(Qt::Key_Delete), [this] { deleteRows(); });
    for (QAction *a : {insert, remove}) {
        removeAction(a);
        a->setShortcutContext(Qt::WidgetShortcut);
        table_->addAction(a);
        command->addAction(a);
    }
    classic_ = action(tr("Open in &Classic Window"), "ClassicAction", QKeySequence(Qt::CTRL | Qt::Key_K),
                      [this] { openInClassicWindow(); });
    command->addAction(classic_);

    QMenu *view = menuBar()->addMenu(tr("&View"));
    QAction *showFindings = findingsDock_->toggleViewAction();
    showFindings->setObjectName(QStringLiteral("ShowFindingsAction"));
    QAction *showState = stateDock_->toggleViewAction();
    showState->setObjectName(QStringLiteral("ShowStateAction"));
    view->addAction(showFindings);
    view->addAction(showState);

    auto *bar = addToolBar(tr("Commands"));
    bar->setObjectName(QStringLiteral("CommandBar"));
    bar->setMovable(false);
    auto *copyButton = new QToolButton(bar);
    copyButton->setObjectName(QStringLiteral("CopyAsButton"));
    copyButton->setText(tr("Copy As"));
    copyButton->setMenu(copyAs);
    copyButton->setPopupMode(QToolButton::InstantPopup);
    bar->addWidget(copyButton);
    bar->addAction(classic_);
}

// --- Reading ----------------------------------------------------------------------

bool DisplayListWindow::busy() const { return loader_ && loader_->busy(); }

QString DisplayListWindow::message() const { return message_->text(); }

void DisplayListWindow::setMessage(const QString &text, const QString &details)
{
    message_->setText(text);
    message_->setToolTip(details);
}

gbi::ReadOptions DisplayListWindow::readOptions(QString *problem) const
{
    gbi::ReadOptions options;
    options.form = gbi::parseInputForm(form_->currentText().toStdString()).value_or(gbi::InputForm::Auto);
    options.order = gbi::parseByteOrder(order_->currentText().toStdString()).value_or(gbi::ByteOrder::Big);
    bool ok = true;
    const QString offset = offset_->text().trimmed();
    if (!offset.isEmpty()) {
        options.offset = offset.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? offset.mid(2).toULongLong(&ok, 16)
                                                                                       : offset.toULongLong(&ok, 10);
        if (!ok && problem)
            *problem = tr("The offset \u201c%1\u201d is not a number.").arg(offset);
    }
    const QString count = count_->text().trimmed();
    if (!count.isEmpty()) {
        const qulonglong n = count.toULongLong(&ok, 10);
        if (!ok || n == 0) {
            if (problem)
                *problem = tr("The count \u201c%1\u201d is not a number of commands.").arg(count);
        } else {
            options.count = n;
        }
    }
    return options;
}

void DisplayListWindow::readMime(const QMimeData *mime, Place place)
{
    if (!mime) {
        setMessage(tr("The clipboard is empty."));
        return;
    }
    if (mime->hasUrls()) {
        for (const QUrl &url : mime->urls())
            if (url.isLocalFile()) {
                openFile(url.toLocalFile(), place);
                return;
            }
    }
    QByteArray bytes;
    if (mime->hasFormat(QStringLiteral("text/plain")))
        bytes = mime->data(QStringLiteral("text/plain"));
    if (bytes.isEmpty() && mime->hasText())
        bytes = mime->text().toUtf8();
    if (bytes.isEmpty()) {
        if (mime->hasImage()) {
            setMessage(tr("That is an image, not a display list: nothing was read."));
            return;
        }
        for (const QString &format : mime->formats())
            if (format.startsWith(QLatin1String("application/octet-stream"))) {
                bytes = mime->data(format);
                break;
            }
    }
    if (bytes.isEmpty()) {
        setMessage(mime->formats().isEmpty() ? tr("The clipboard is empty.")
                                             : tr("That holds no text and no file: nothing was read."));
        return;
    }
    readBytes(std::move(bytes), place, tr("the clipboard"));
}

void DisplayListWindow::readBytes(QByteArray bytes, Place place, const QString &sourceName)
{
    if (busy()) {
        setMessage(tr("Still reading the last input: try again in a moment."));
        return;
    }
    QString problem;
    const gbi::ReadOptions options = readOptions(&problem);
    if (!problem.isEmpty()) {
        setMessage(problem);
        return;
    }
    pendingPlace_ = place;
    const std::size_t row = currentRow();
    pendingAt_ = row == static_cast<std::size_t>(-1) ? document_->size() : document_->rowStart(row) + document_->rowLength(row);
    const qsizetype size = bytes.size();
    loader_->readBytes(std::move(bytes), options, sourceName, ForPaste);
    setMessage(tr("Reading %1 bytes from %2\u2026").arg(size).arg(sourceName));
}

void DisplayListWindow::openFile(const QString &path, Place place)
{
    if (busy()) {
        setMessage(tr("Still reading the last input: try again in a moment."));
        return;
    }
    QString problem;
    const gbi::ReadOptions options = readOptions(&problem);
    if (!problem.isEmpty()) {
        setMessage(problem);
        return;
    }
    lastFile_ = path;
    pendingPlace_ = place;
    const std::size_t row = currentRow();
    pendingAt_ = row == static_cast<std::size_t>(-1) ? document_->size() : document_->rowStart(row) + document_->rowLength(row);
    loader_->readFile(path, options, ForFile);
    setMessage(tr("Reading %1\u2026").arg(QFileInfo(path).fileName()));
}

void DisplayListWindow::finishRead(const std::shared_ptr<LoadedList> &list)
{
    if (!list->error.isEmpty()) {
        const QString text = tr("Cannot read %1: %2.").arg(list->sourceName, list->error);
        setMessage(text);
        showNotice(this, text);
        return;
    }
    QString problems;
    QString details;
    const std::uint64_t problemCount = list->messages.size() + list->suppressed;
    if (problemCount) {
        problems = tr(" %1 could not be read (%2).")
                       .arg(counted(problemCount, "line", "lines"),
                            QString::fromStdString(gbi::formatMessage(list->messages.front())));
        for (std::size_t i = 0; i < list->messages.size() && i < 20; ++i)
            details += QString::fromStdString(gbi::formatMessage(list->messages[i])) + QLatin1Char('\n');
        if (problemCount > 20)
            details += tr("\u2026 and %1 more").arg(problemCount - 20);
    }
    EntryRun &run = list->entries;
    if (run.size() == 0) {
        setMessage(tr("Nothing was read from %1: it holds no display-list commands.").arg(list->sourceName) + problems,
                   details);
        return;
    }
    if (run.size() > std::numeric_limits<std::uint32_t>::max() / 2) {
        setMessage(tr("%1 holds more commands than the table can show.").arg(list->sourceName));
        return;
    }
    QString stopped;
    if (stopAtEnd_->isChecked()) {
        const auto forced = document_->options().ucode;
        const gbi::Ucode u = forced ? *forced : gbi::scoreUcodes(run.words, document_->options().names).front().ucode;
        const auto end = std::find_if(run.words.begin(), run.words.end(),
                                      [u](const Words &w) { return (w.w0 >> 24) == gbi::endListOpcode(u); });
        if (end != run.words.end() && end + 1 != run.words.end()) {
            const auto kept = static_cast<std::size_t>(end - run.words.begin()) + 1;
            stopped = tr(" Stopped at the end of the list after %1 of %2 commands.").arg(kept).arg(run.size());
            truncateRun(run, kept);
        }
    }
    if (!list->labels.empty()) {
        gbi::ListNamer namer = document_->namer();
        for (auto &[address, name] : list->labels)
            namer.symbols.add(address, name);
        document_->setNamer(std::move(namer));
        model_->reload();
    }
    const std::size_t read = run.size();
    const bool replace = pendingPlace_ == Place::Replace;
    const std::size_t first = replace ? 0 : std::min(pendingAt_, document_->size());
    const QString source = list->sourceName;
    if (replace) // binary input counts offsets from the start of the file
        document_->setBaseOffset(list->form == gbi::InputForm::Binary ? list->offset : 0);
    pushSplice(first, replace ? document_->size() : 0, std::move(run),
               list->purpose == ForFile ? tr("Open %1").arg(source) : tr("Paste"));
    setMessage(tr("Read %1 (%2) from %3.").arg(counted(read, "command", "commands"), qs(gbi::inputFormName(list->form)), source)
                   + stopped + problems,
               details);
    table_->setFocus();
}

// --- Changing the list --------------------------------------------------------------

void DisplayListWindow::pushSplice(std::size_t first, std::size_t count, EntryRun with, const QString &text, int mergeKey)
{
    undo_->push(new SpliceCommand(this, first, document_->run(first, count), std::move(with), text, mergeKey));
}

void DisplayListWindow::applySplice(std::size_t first, std::size_t count, const EntryRun &with)
{
    const std::size_t rowsBefore = document_->rowCount();
    const std::size_t firstRow = first < document_->size() ? document_->rowOf(first) : rowsBefore;
    const gbi::Ucode before = document_->ucode();
    document_->splice(first, count, with);
    if (document_->ucode() != before)
        model_->reload();
    else
        model_->spliced(firstRow, rowsBefore);
    updateHint();
    scheduleChecks();
    if (document_->rowCount() > 0)
        selectDocumentRow(document_->rowOf(std::min(first, document_->size() - 1)));
    showCurrent();
}

void DisplayListWindow::decodeOptionsChanged()
{
    const std::size_t row = currentRow();
    const std::size_t entry = row == static_cast<std::size_t>(-1) ? row : document_->rowStart(row);
    gbi::ListDocument::Options options;
    if (ucode_->currentIndex() > 0)
        options.ucode = gbi::kAllUcodes[static_cast<std::size_t>(ucode_->currentIndex() - 1)];
    options.names = names_->currentIndex() == 1 ? gbi::Names::Sm64 : gbi::Names::Libultra;
    options.fold = fold_->isChecked();
    document_->setOptions(options);
    model_->reload();
    updateHint();
    scheduleChecks();
    if (entry != static_cast<std::size_t>(-1) && entry < document_->size())
        selectDocumentRow(document_->rowOf(entry));
    showCurrent();
}

void DisplayListWindow::printStyleChanged()
{
    const bool dynamic = style_->currentIndex() == 1;
    pointer_->setEnabled(dynamic);
    model_->setPrintStyle(dynamic, pointer_->text());
    showCurrent();
}

void DisplayListWindow::updateHint()
{
    {
        const QSignalBlocker block(ucode_);
        ucode_->setItemText(0, document_->size() && !document_->options().ucode
                                   ? tr("auto (%1)").arg(qs(gbi::ucodeName(document_->ucode())))
                                   : tr("auto"));
    }
    if (document_->size() == 0)
        hint_->setText(tr("Paste (Ctrl+V), drop or open (Ctrl+O) a display list: hex words, C, assembly, "
                          "a trace, a memory dump or a binary file."));
    else
        hint_->setText(QString::fromStdString(document_->hint()));
}

// --- Selection and the inspector --------------------------------------------------------

std::size_t DisplayListWindow::currentRow() const
{
    const QModelIndex index = table_->selectionModel()->currentIndex();
    if (!index.isValid())
        return static_cast<std::size_t>(-1);
    const std::size_t row = model_->documentRow(index.row());
    return row < document_->rowCount() ? row : static_cast<std::size_t>(-1);
}

std::vector<std::size_t> DisplayListWindow::selectedRows() const
{
    std::vector<std::size_t> rows;
    for (const QItemSelectionRange &range : table_->selectionModel()->selection())
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.push_back(model_->documentRow(r));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty() && currentRow() != static_cast<std::size_t>(-1))
        rows.push_back(currentRow());
    return rows;
}

void DisplayListWindow::selectDocumentRow(std::size_t row)
{
    const int view = model_->viewRow(row);
    if (view < 0)
        return;
    const QModelIndex index = model_->index(view, DisplayListModel::MacroColumn);
    table_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table_->scrollTo(index);
}

void DisplayListWindow::showCurrent()
{
    const std::size_t row = currentRow();
    if (row == static_cast<std::size_t>(-1)) {
        inspector_->showNothing(document_->size() ? tr("Select a command to see its arguments.")
                                                  : tr("No list yet."));
        updateClassicAction();
        showState();
        return;
    }
    const Command command = document_->decodeRow(row);
    const std::size_t start = document_->rowStart(row);
    const std::vector<Words> words(document_->words().begin() + static_cast<std::ptrdiff_t>(start),
                                   document_->words().begin() + static_cast<std::ptrdiff_t>(start + document_->rowLength(row)));
    QString status = model_->statusText(row);
    if (document_->rowEdited(row))
        status += (status.isEmpty() ? QString() : QStringLiteral(" ")) + tr("Edited.");
    if (const QString found = model_->findingsText(row); !found.isEmpty())
        status += (status.isEmpty() ? QString() : QStringLiteral("\n")) + found;
    inspector_->showCommand(command, words, document_->options().names, model_->macroText(row), status);
    updateClassicAction();
    showState();
}

// --- Checks and the state panel ----------------------------------------------------

bool DisplayListWindow::checking() const { return !checks_ && document_->size() > 0; }

void DisplayListWindow::scheduleChecks()
{
    // Entries may have moved: the old findings would mark the wrong rows.
    checks_.reset();
    model_->setFindings({}, {});
    findings_->clear();
    findingsDock_->setWindowTitle(tr("Findings"));
    if (document_->size() > 0)
        checkDelay_->start();
    else
        checkDelay_->stop();
}

void DisplayListWindow::runChecks()
{
    if (document_->size() == 0)
        return;
    checkWanted_ = checker_->run(std::vector<Words>(document_->words().begin(), document_->words().end()),
                                 document_->ucode());
}

void DisplayListWindow::finishChecks(const std::shared_ptr<const CheckResult> &result)
{
    // A result for a list that changed since is dropped; a new run follows.
    if (result->generation != checkWanted_ || checkDelay_->isActive() || result->words->size() != document_->size())
        return;
    checks_ = result;
    const gbi::CheckReport &report = result->report;
    std::vector<std::int8_t> worst(document_->size(), -1);
    std::vector<std::pair<std::size_t, QString>> texts;
    texts.reserve(report.findings.size());
    const auto rules = gbi::checkRules();
    for (const gbi::Finding &f : report.findings) {
        auto &w = worst[f.entry];
        w = std::max(w, static_cast<std::int8_t>(f.severity));
        texts.emplace_back(f.entry, QStringLiteral("%1 [%2]: %3")
                                        .arg(qs(gbi::severityName(f.severity)), qs(rules[f.rule].id),
                                             QString::fromStdString(f.message)));
    }
    model_->setFindings(std::move(worst), std::move(texts));

    // The list shows the first findings; a list of tens of thousands of
    // rows would only slow the window.
    constexpr std::size_t kShown = 2000;
    findings_->setUpdatesEnabled(false);
    findings_->clear();
    QList<QTreeWidgetItem *> items;
    const QStyle::StandardPixmap icons[] = {QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxWarning,
                                            QStyle::SP_MessageBoxCritical};
    for (std::size_t i = 0; i < report.findings.size() && i < kShown; ++i) {
        const gbi::Finding &f = report.findings[i];
        auto *item = new QTreeWidgetItem({qs(gbi::entryAddress(f.entry, document_->address(0))), qs(rules[f.rule].id),
                                          QString::fromStdString(f.message)});
        item->setIcon(0, style()->standardIcon(icons[static_cast<int>(f.severity)]));
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<qulonglong>(f.entry)));
        item->setToolTip(2, QString::fromStdString(f.message));
        items << item;
    }
    if (report.findings.size() > kShown || report.dropped)
        items << new QTreeWidgetItem({QString(), QString(),
                                      tr("… %1 more").arg(report.findings.size() + report.dropped - kShown)});
    findings_->addTopLevelItems(items);
    findings_->setUpdatesEnabled(true);
    findingsDock_->setWindowTitle(tr("Findings: %1 errors, %2 warnings, %3 notes")
                                      .arg(countOf(report, gbi::Severity::Error))
                                      .arg(countOf(report, gbi::Severity::Warning))
                                      .arg(countOf(report, gbi::Severity::Note)));
    showCurrent();
}

void DisplayListWindow::showState()
{
    if (!state_)
        return;
    const std::size_t row = currentRow();
    if (document_->size() == 0) {
        state_->setPlainText(tr("No list yet."));
        return;
    }
    if (!checks_) {
        state_->setPlainText(tr("Checking…"));
        return;
    }
    if (row == static_cast<std::size_t>(-1)) {
        state_->setPlainText(tr("Select a command to see the state in effect after it."));
        return;
    }
    const std::size_t last = document_->rowStart(row) + document_->rowLength(row) - 1;
    const std::optional<gbi::RenderState> state = checks_->index.stateAfter(last);
    if (!state) {
        state_->setPlainText(tr("No walk of the list reaches this command (it follows an end or an unfollowed branch)."));
        return;
    }
    const int scroll = state_->verticalScrollBar() ? state_->verticalScrollBar()->value() : 0;
    state_->setPlainText(tr("After %1:\n").arg(qs(gbi::entryAddress(last, document_->address(0))))
                         + describeState(*state, checks_->ucode));
    state_->verticalScrollBar()->setValue(scroll);
}

void DisplayListWindow::toggleFold(std::size_t row)
{
    if (row >= document_->rowCount())
        return;
    const std::size_t start = document_->rowStart(row);
    if (document_->rowLength(row) > 1) {
        document_->setUnfolded(start, true);
    } else {
        // Fold again the unfolded macro this command belongs to.
        bool found = false;
        for (std::size_t back = 0; back < gbi::kMaxIdiomLength && back <= start && !found; ++back) {
            const std::size_t e = start - back;
            if (!document_->unfolded(e))
                continue;
            document_->setUnfolded(e, false);
            const std::size_t r = document_->rowOf(e);
            if (document_->rowStart(r) == e && document_->rowLength(r) > back)
                found = true;
            else
                document_->setUnfolded(e, true);
        }
        if (!found) {
            setMessage(tr("This command belongs to no multi-command macro."));
            return;
        }
    }
    model_->reload();
    selectDocumentRow(document_->rowOf(start));
    showCurrent();
}

bool DisplayListWindow::assembleMacro(const QString &text, std::vector<Words> &out)
{
    gbi::AsmOptions options;
    options.ucode = document_->ucode();
    options.names = document_->options().names;
    const gbi::SymbolTableResolver resolver(document_->namer().symbols);
    options.resolver = &resolver;
    const QByteArray bytes = text.trimmed().toUtf8();
    if (bytes.isEmpty()) {
        setMessage(tr("Type a macro, such as gsDPPipeSync()."));
        return false;
    }
    gbi::MacroParser parser(options);
    out.clear();
    if (parser.parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), out) && !out.empty()) {
        setMessage({});
        return true;
    }
    out.clear();
    QString details;
    QString first = tr("That macro gives no command.");
    for (const gbi::AsmMessage &m : parser.messages()) {
        if (m.severity != gbi::Severity::Error)
            continue;
        if (details.isEmpty())
            first = tr("Column %1: %2").arg(m.column).arg(QString::fromStdString(m.text));
        details += tr("Column %1: %2").arg(m.column).arg(QString::fromStdString(m.text)) + QLatin1Char('\n');
    }
    setMessage(first + tr(" — nothing was changed."), details.trimmed());
    return false;
}

bool DisplayListWindow::editMacro(std::size_t row, const QString &text)
{
    if (row >= document_->rowCount())
        return false;
    std::vector<Words> words;
    if (!assembleMacro(text, words))
        return false;
    // The rows change after the editor has closed, not while it commits.
    const std::size_t start = document_->rowStart(row);
    QMetaObject::invokeMethod(
        this,
        [this, start, words = std::move(words)] {
            if (start < document_->size() && document_->rowStart(document_->rowOf(start)) == start)
                replaceRowWords(document_->rowOf(start), words, tr("Edit macro"), -1);
        },
        Qt::QueuedConnection);
    return true;
}

void DisplayListWindow::startInsert()
{
    insertLine_->show();
    insertLine_->setFocus();
    insertLine_->selectAll();
}

void DisplayListWindow::finishInsert()
{
    std::vector<Words> words;
    if (!assembleMacro(insertLine_->text(), words))
        return; // the line stays open with the text, the error below it
    const std::size_t row = currentRow();
    const std::size_t at = row == static_cast<std::size_t>(-1) ? document_->size()
                                                               : document_->rowStart(row) + document_->rowLength(row);
    EntryRun run;
    for (const Words &w : words)
        run.push_back(gbi::Entry{w, true, std::nullopt, {}});
    pushSplice(at, 0, std::move(run), tr("Insert"));
    selectDocumentRow(document_->rowOf(at));
    showCurrent();
    insertLine_->clear();
    insertLine_->hide();
    table_->setFocus();
    setMessage(tr("Inserted %1.").arg(counted(words.size(), "command", "commands")));
}

void DisplayListWindow::deleteRows()
{
    const std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        setMessage(tr("Select the rows to delete first."));
        return;
    }
    // Runs of adjacent rows, removed from the last so that the earlier
    // entries keep their places; one undo step for all of them.
    std::vector<std::pair<std::size_t, std::size_t>> runs; // (first entry, count)
    for (const std::size_t r : rows) {
        const std::size_t start = document_->rowStart(r);
        const std::size_t length = document_->rowLength(r);
        if (!runs.empty() && runs.back().first + runs.back().second == start)
            runs.back().second += length;
        else
            runs.emplace_back(start, length);
    }
    undo_->beginMacro(tr("Delete %1").arg(counted(rows.size(), "row", "rows")));
    for (auto it = runs.rbegin(); it != runs.rend(); ++it)
        pushSplice(it->first, it->second, EntryRun{}, tr("Delete"));
    undo_->endMacro();
    if (document_->rowCount() > 0)
        selectDocumentRow(document_->rowOf(std::min(runs.front().first, document_->size() - 1)));
    showCurrent();
    setMessage(tr("Deleted %1.").arg(counted(rows.size(), "row", "rows")));
}

void DisplayListWindow::editArguments(const std::vector<std::int64_t> &args, int mergeKey)
{
    const std::size_t row = currentRow();
    if (row == static_cast<std::size_t>(-1))
        return;
    const Command command = document_->decodeRow(row);
    if (!command.macro)
        return;
    Command edited = command;
    std::copy_n(args.begin(), std::min(args.size(), edited.args.size()), edited.args.begin());
    std::vector<Words> words;
    QString why;
    const gbi::ListNamer &namer = document_->namer();
    if (!encodeChecked(edited, document_->options().names, namer.empty() ? nullptr : &namer, words, why)) {
        setMessage(why);
        showCurrent(); // the editors go back to the command's values
        return;
    }
    setMessage({});
    replaceRowWords(row, words, tr("Edit %1").arg(qs(command.macro->name)), mergeKey);
}

void DisplayListWindow::editWords(int entry, Words words)
{
    const std::size_t row = currentRow();
    if (row == static_cast<std::size_t>(-1))
        return;
    const std::size_t start = document_->rowStart(row);
    std::vector<Words> all(document_->words().begin() + static_cast<std::ptrdiff_t>(start),
                           document_->words().begin() + static_cast<std::ptrdiff_t>(start + document_->rowLength(row)));
    if (entry < 0 || static_cast<std::size_t>(entry) >= all.size())
        return;
    all[static_cast<std::size_t>(entry)] = words;
    setMessage({});
    replaceRowWords(row, all, tr("Edit words"), -1);
}

void DisplayListWindow::replaceRowWords(std::size_t row, const std::vector<Words> &words, const QString &text, int mergeKey)
{
    const std::size_t start = document_->rowStart(row);
    const std::size_t length = document_->rowLength(row);
    if (std::equal(words.begin(), words.end(), document_->words().begin() + static_cast<std::ptrdiff_t>(start),
                   document_->words().begin() + static_cast<std::ptrdiff_t>(start + length)))
        return;
    EntryRun run;
    for (std::size_t k = 0; k < words.size(); ++k) {
        gbi::Entry e;
        e.words = words[k];
        e.edited = true;
        if (k < length) {
            e.address = document_->address(start + k);
            if (words[k].w1 == document_->words()[start + k].w1)
                e.symbol = std::string(document_->symbol(start + k));
        }
        run.push_back(e);
    }
    pushSplice(start, length, std::move(run), text, mergeKey);
}

// --- Classic windows, copying and files -------------------------------------------

void DisplayListWindow::updateClassicAction()
{
    if (!classic_)
        return;
    const std::size_t row = currentRow();
    QString why;
    if (row == static_cast<std::size_t>(-1)) {
        classic_->setEnabled(false);
        classic_->setToolTip(tr("Select a command first."));
        return;
    }
    const auto target = classicTarget(document_->words()[document_->rowStart(row)], document_->ucode(), why);
    classic_->setEnabled(target.has_value());
    classic_->setToolTip(target ? tr("Decode this command in the %1 window").arg(qs(WindowSlots::formName(target->kind)))
                                : why);
}

void DisplayListWindow::openInClassicWindow()
{
    const std::size_t row = currentRow();
    if (row == static_cast<std::size_t>(-1))
        return;
    QString why;
    const auto target = classicTarget(document_->words()[document_->rowStart(row)], document_->ucode(), why);
    if (!target) {
        setMessage(why);
        return;
    }
    QWidget *window = WindowSlots::showAndActivate(target->kind);
    auto *text = window ? window->findChild<QLineEdit *>(QStringLiteral("Text1")) : nullptr;
    auto *info = window ? window->findChild<QPushButton *>(QStringLiteral("Command1")) : nullptr;
    if (!text || !info)
        return;
    text->setText(target->text);
    info->click();
}

void DisplayListWindow::copyRows(gbi::CopyFormat format)
{
    const std::vector<std::size_t> rows = selectedRows();
    if (rows.empty()) {
        setMessage(tr("Select the rows to copy first."));
        return;
    }
    const std::string text = document_->format(rows, format, model_->printOptions());
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    setMessage(tr("Copied %1 as %2.")
                   .arg(counted(rows.size(), "row", "rows"), QString::fromLatin1(kFormatNames[static_cast<int>(format)])));
}

void DisplayListWindow::chooseOpenFile()
{
    askForFile(this, "OpenDialog", tr("Open Display List"), QFileDialog::AcceptOpen,
               {tr("Any file (*)"), tr("C and assembly (*.c *.h *.inc *.s)"), tr("Binary (*.bin *.z64 *.v64 *.n64)")},
               lastFile_.isEmpty() ? QString() : QFileInfo(lastFile_).absolutePath(),
               [this](const QString &path, const QString &) { openFile(path, Place::Replace); });
}

void DisplayListWindow::reload()
{
    if (lastFile_.isEmpty()) {
        setMessage(tr("Nothing to reload: the list did not come from a file."));
        return;
    }
    openFile(lastFile_, Place::Replace);
}

void DisplayListWindow::save()
{
    if (document_->size() == 0) {
        setMessage(tr("The list is empty: nothing to save."));
        return;
    }
    askForFile(this, "SaveDialog", tr("Save Display List"), QFileDialog::AcceptSave,
               {tr("C source (*.c *.h *.inc)"), tr("Binary, big-endian (*.bin)"), tr("Hex words (*.txt)")},
               lastFile_.isEmpty() ? QString() : QFileInfo(lastFile_).absolutePath(),
               [this](const QString &path, const QString &filter) { saveTo(path, filter); });
}

void DisplayListWindow::saveTo(const QString &path, const QString &filter)
{
    std::string bytes;
    std::vector<std::size_t> rows(document_->rowCount());
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = r;
    if (filter.startsWith(QLatin1String("Binary")) || path.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive))
        bytes = document_->binary();
    else if (filter.startsWith(QLatin1String("Hex")) || path.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive))
        bytes = document_->format(rows, gbi::CopyFormat::Hex, model_->printOptions());
    else
        bytes = document_->format(rows, gbi::CopyFormat::Source, model_->printOptions());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())
        || !file.commit()) {
        const QString text = tr("Cannot write %1: %2.").arg(QFileInfo(path).fileName(), file.errorString());
        setMessage(text);
        showNotice(this, text);
        return;
    }
    setMessage(tr("Saved %1 to %2.").arg(counted(document_->size(), "command", "commands"), QFileInfo(path).fileName()));
}

void DisplayListWindow::editSegments()
{
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("SegmentsDialog"));
    dialog->setWindowTitle(tr("Segments"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(tr("The base address of each segment, in hex; empty for none."), dialog));
    auto *table = new QTableWidget(16, 1, dialog);
    table->setObjectName(QStringLiteral("SegmentTable"));
    table->setHorizontalHeaderLabels({tr("Base")});
    QStringList rows;
    gbi::ListNamer namer = document_->namer();
    for (int s = 0; s < 16; ++s) {
        rows << QStringLiteral("%1").arg(s, 2, 16, QLatin1Char('0')).toUpper();
        const auto base = namer.segments.base(static_cast<unsigned>(s));
        table->setItem(s, 0, new QTableWidgetItem(base ? hex8(*base) : QString()));
    }
    table->setVerticalHeaderLabels(rows);
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog->resize(280, 560);
    connect(dialog, &QDialog::accepted, this, [this, table] { setSegments(table); });
    dialog->open();
}

void DisplayListWindow::setSegments(QTableWidget *table)
{
    gbi::ListNamer namer = document_->namer();
    QStringList refused;
    for (int s = 0; s < 16; ++s) {
        QString text = table->item(s, 0) ? table->item(s, 0)->text().trimmed() : QString();
        if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            text.remove(0, 2);
        bool ok = true;
        const uint value = text.toUInt(&ok, 16);
        if (text.isEmpty())
            namer.segments.clear(static_cast<unsigned>(s));
        else if (ok)
            namer.segments.set(static_cast<unsigned>(s), value);
        else
            refused << tr("segment %1 (\u201c%2\u201d)").arg(s).arg(text);
    }
    document_->setNamer(std::move(namer));
    model_->reload();
    showCurrent();
    setMessage(refused.isEmpty() ? tr("Segments set.")
                                 : tr("Not hex addresses, left as they were: %1.").arg(refused.join(QStringLiteral(", "))));
}

void DisplayListWindow::loadSymbols()
{
    askForFile(this, "SymbolsDialog", tr("Load Symbols"), QFileDialog::AcceptOpen, {}, {},
               [this](const QString &path, const QString &) { loadSymbolsFrom(path); });
}

void DisplayListWindow::loadSymbolsFrom(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString text = tr("Cannot read %1: %2.").arg(QFileInfo(path).fileName(), file.errorString());
        setMessage(text);
        showNotice(this, text);
        return;
    }
    const QByteArray bytes = file.readAll();
    gbi::ListNamer namer = document_->namer();
    const std::size_t before = namer.symbols.size();
    const std::vector<gbi::ReadMessage> bad =
        namer.symbols.load(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    const std::size_t read = namer.symbols.size() - before;
    document_->setNamer(std::move(namer));
    model_->reload();
    showCurrent();
    QString text = tr("Read %1 from %2.").arg(counted(read, "symbol", "symbols"), QFileInfo(path).fileName());
    QString details;
    if (!bad.empty()) {
        text += tr(" %1 skipped (%2).").arg(counted(bad.size(), "line", "lines"), QString::fromStdString(gbi::formatMessage(bad.front())));
        for (std::size_t i = 0; i < bad.size() && i < 20; ++i)
            details += QString::fromStdString(gbi::formatMessage(bad[i])) + QLatin1Char('\n');
    }
    setMessage(text, details);
}

void DisplayListWindow::clearSymbols()
{
    gbi::ListNamer namer = document_->namer();
    namer.symbols = gbi::SymbolTable{};
    document_->setNamer(std::move(namer));
    model_->reload();
    showCurrent();
    setMessage(tr("Symbols cleared."));
}

// --- Drops ----------------------------------------------------------------------------

void DisplayListWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText() || !event->mimeData()->formats().isEmpty())
        event->acceptProposedAction();
}

void DisplayListWindow::dropEvent(QDropEvent *event)
{
    // A dropped file replaces the list, as Open does; dropped text is
    // inserted, as a paste is.
    const bool file = event->mimeData()->hasUrls();
    readMime(event->mimeData(), file ? Place::Replace : Place::Insert);
    event->acceptProposedAction();
}

} // namespace dlscope
