#pragma once

// The display-list table: one row per command of a ListDocument (a folded
// multi-command macro is one row), in three columns: where it is, its words
// and its macro text.
//
// Rows are decoded and printed only when the view asks for them, and only
// the texts of recently shown rows are kept (a small direct-mapped cache),
// so a list of a million commands costs the view nothing until scrolled.
// A filter keeps the rows whose macro text or words hold a text; it runs in
// short slices from the event loop, so the window never waits on it.

#include "gbi/document.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace dlscope {

class DisplayListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { WhereColumn, WordsColumn, MacroColumn, ColumnCount };
    static constexpr int DocumentRowRole = Qt::UserRole + 1;

    explicit DisplayListModel(gbi::ListDocument &document, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The macro column is editable: a typed macro goes to the macro editor,
    // which assembles it and answers whether it was taken.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    using MacroEditor = std::function<bool(std::size_t documentRow, const QString &text)>;
    void setMacroEditor(MacroEditor editor) { macroEditor_ = std::move(editor); }

    // Check findings: the worst severity at each entry (-1: none) and the
    // explanations, which the rows show as a marker and a tooltip.
    void setFindings(std::vector<std::int8_t> worst, std::vector<std::pair<std::size_t, QString>> texts);
    int worstSeverity(std::size_t documentRow) const; // -1: no finding
    QString findingsText(std::size_t documentRow) const;

    // How macros are printed.
    void setPrintStyle(bool dynamic, const QString &pointer);
    const gbi::PrintOptions &printOptions() const { return print_; }

    // The document row shown at a view row, and back (-1: not shown).
    std::size_t documentRow(int viewRow) const;
    int viewRow(std::size_t documentRow) const;

    // After the document changed: everything (options, microcode, names) ...
    void reload();
    // ... or a splice, whose rows start at firstRow, with rowsBefore rows
    // in the document before it.
    void spliced(std::size_t firstRow, std::size_t rowsBefore);

    // The macro text of a document row (cached like the table's).
    QString macroText(std::size_t documentRow) const;
    QString statusText(std::size_t documentRow) const;

    // Filtering: empty text shows every row.
    void setFilter(const QString &text);
    QString filter() const { return filter_; }
    bool filtering() const { return filterTimer_.isActive(); }

signals:
    // A filter finished: `shown` rows of `total` match.
    void filtered(std::size_t shown, std::size_t total);
    void filterProgress(int percent);

private:
    struct CachedRow {
        std::size_t row = static_cast<std::size_t>(-1);
        unsigned generation = 0;
        gbi::Status status = gbi::Status::Ok;
        QString words;
        QString text;
    };
    const CachedRow &cached(std::size_t documentRow) const;
    void invalidate();
    void filterSlice();
    bool matches(std::size_t documentRow, const std::string &macroNeedle, const QString &wordsNeedle) const;

    gbi::ListDocument &document_;
    MacroEditor macroEditor_;
    std::vector<std::int8_t> worst_;                         // per entry
    std::vector<std::pair<std::size_t, QString>> findings_;  // (entry, text), by entry
    gbi::PrintOptions print_;
    std::string pointer_ = "gDisplayListHead++";
    int count_ = 0;

    static constexpr std::size_t kCacheSize = 1024;
    mutable std::array<CachedRow, kCacheSize> cache_;
    unsigned generation_ = 1;

    QString filter_;
    bool filterActive_ = false;
    std::vector<std::uint32_t> shown_;    // document rows, while a filter is active
    std::vector<std::uint32_t> matching_; // being collected by the running filter
    std::size_t filterNext_ = 0;
    QTimer filterTimer_;
};

} // namespace dlscope
