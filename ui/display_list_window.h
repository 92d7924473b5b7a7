#pragma once

// Window `DisplayList` ("Display List"): a whole display list in a table,
// one row per command, with the selected command's arguments beside it.
//
// Lists come in by paste (straight from the clipboard to the reader), drop
// or Open, read on a worker thread; a paste inserts after the selected row,
// Open and "Paste Replacing" replace the list. Every change of the list (a
// read, an argument, a word) is one step of the undo stack, so nothing in
// the table is lost that undo cannot bring back. Messages about the input go
// to the message line under the table, never into a box per line.

#include "gbi/document.h"
#include "gbi/reader.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDockWidget;
class QPlainTextEdit;
class QTreeWidget;
class QLabel;
class QLineEdit;
class QMimeData;
class QTableView;
class QTableWidget;
class QTimer;
class QUndoStack;

namespace dlscope {

class ArgumentInspector;
class CheckRunner;
struct CheckResult;
class DisplayListModel;
class ListLoader;
struct LoadedList;

class DisplayListWindow : public QMainWindow {
    Q_OBJECT
public:
    enum class Place { Insert, Replace };

    explicit DisplayListWindow(QWidget *parent = nullptr);
    ~DisplayListWindow() override;

    // Reads what a clipboard or a drop holds: files by name, else its text,
    // else its bytes. An image or nothing usable only gives a message.
    void readMime(const QMimeData *mime, Place place);
    void openFile(const QString &path, Place place = Place::Replace);
    bool busy() const;

    gbi::ListDocument &document() { return *document_; }
    DisplayListModel *model() const { return model_; }
    QUndoStack *undoStack() const { return undo_; }
    QString message() const;
    // True while the findings and the state panel wait for a check of the
    // list as it is now.
    bool checking() const;

    // Replaces `count` entries from `first`: the undo stack's one way in.
    void applySplice(std::size_t first, std::size_t count, const gbi::EntryRun &with);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildActions();
    void buildToolBars();
    void buildCentre();
    void buildDocks();

    // Checks run on a worker a moment after the list last changed; the
    // findings mark the rows, fill the Findings list and the State panel.
    void scheduleChecks();
    void runChecks();
    void finishChecks(const std::shared_ptr<const CheckResult> &result);
    void showState();

    void readBytes(QByteArray bytes, Place place, const QString &sourceName);
    void finishRead(const std::shared_ptr<LoadedList> &list);
    void pushSplice(std::size_t first, std::size_t count, gbi::EntryRun with, const QString &text, int mergeKey = -1);

    void decodeOptionsChanged();
    void printStyleChanged();
    void updateHint();
    void setMessage(const QString &text, const QString &details = {});

    std::size_t currentRow() const; // document row, or -1
    std::vector<std::size_t> selectedRows() const;
    void selectDocumentRow(std::size_t row);
    void showCurrent();
    void toggleFold(std::size_t row);

    // Typed macros: assembled with the list's microcode and names; an error
    // goes to the message line and changes nothing.
    bool assembleMacro(const QString &text, std::vector<gbi::Words> &out);
    bool editMacro(std::size_t row, const QString &text);
    void startInsert();
    void finishInsert();
    void deleteRows();

    void editArguments(const std::vector<std::int64_t> &args, int mergeKey);
    void editWords(int entry, gbi::Words words);
    void replaceRowWords(std::size_t row, const std::vector<gbi::Words> &words, const QString &text, int mergeKey);

    void openInClassicWindow();
    void updateClassicAction();
    void copyRows(gbi::CopyFormat format);
    void save();
    void saveTo(const QString &path, const QString &filter);
    void chooseOpenFile();
    void reload();
    void editSegments();
    void setSegments(QTableWidget *table);
    void loadSymbols();
    void loadSymbolsFrom(const QString &path);
    void clearSymbols();
    gbi::ReadOptions readOptions(QString *problem) const;

    std::unique_ptr<gbi::ListDocument> document_;
    DisplayListModel *model_ = nullptr;
    ListLoader *loader_ = nullptr;
    QUndoStack *undo_ = nullptr;

    QComboBox *ucode_ = nullptr;
    QComboBox *names_ = nullptr;
    QComboBox *style_ = nullptr;
    QLineEdit *pointer_ = nullptr;
    QCheckBox *fold_ = nullptr;
    QComboBox *form_ = nullptr;
    QComboBox *order_ = nullptr;
    QLineEdit *offset_ = nullptr;
    QLineEdit *count_ = nullptr;
    QCheckBox *stopAtEnd_ = nullptr;

    QLabel *hint_ = nullptr;
    QLineEdit *filter_ = nullptr;
    QTimer *filterDelay_ = nullptr;
    QTableView *table_ = nullptr;
    ArgumentInspector *inspector_ = nullptr;
    QLabel *message_ = nullptr;
    QLineEdit *insertLine_ = nullptr;

    CheckRunner *checker_ = nullptr;
    QTimer *checkDelay_ = nullptr;
    std::shared_ptr<const CheckResult> checks_; // of the list as it is, or null
    unsigned checkWanted_ = 0;                  // generation of the newest run asked for
    QDockWidget *findingsDock_ = nullptr;
    QTreeWidget *findings_ = nullptr;
    QDockWidget *stateDock_ = nullptr;
    QPlainTextEdit *state_ = nullptr;

    QAction *classic_ = nullptr;
    QAction *foldAction_ = nullptr;

    QString lastFile_;
    Place pendingPlace_ = Place::Replace;
    std::size_t pendingAt_ = 0;
    bool showing_ = false;
};

} // namespace dlscope
