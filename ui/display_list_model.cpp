#include "display_list_model.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QIcon>
#include <QStyle>

#include <algorithm>
#include <cctype>

namespace dlscope {
namespace {

QString hex8(std::uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper(); }

QString wordsText(const gbi::ListDocument &document, std::size_t row)
{
    const std::size_t start = document.rowStart(row);
    QString out;
    for (std::size_t i = start; i < start + document.rowLength(row); ++i) {
        if (i != start)
            out += QLatin1String("  ");
        out += hex8(document.words()[i].w0) + QLatin1Char(' ') + hex8(document.words()[i].w1);
    }
    return out;
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

DisplayListModel::DisplayListModel(gbi::ListDocument &document, QObject *parent)
    : QAbstractTableModel(parent), document_(document)
{
    print_.pointer = pointer_;
    count_ = static_cast<int>(document_.rowCount());
    filterTimer_.setInterval(0);
    connect(&filterTimer_, &QTimer::timeout, this, &DisplayListModel::filterSlice);
}

int DisplayListModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : count_; }

int DisplayListModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

std::size_t DisplayListModel::documentRow(int viewRow) const
{
    if (viewRow < 0)
        return static_cast<std::size_t>(-1);
    return filterActive_ ? shown_[static_cast<std::size_t>(viewRow)] : static_cast<std::size_t>(viewRow);
}

int DisplayListModel::viewRow(std::size_t documentRow) const
{
    if (!filterActive_)
        return documentRow < static_cast<std::size_t>(count_) ? static_cast<int>(documentRow) : -1;
    const auto it = std::lower_bound(shown_.begin(), shown_.end(), documentRow);
    return it != shown_.end() && *it == documentRow ? static_cast<int>(it - shown_.begin()) : -1;
}

const DisplayListModel::CachedRow &DisplayListModel::cached(std::size_t row) const
{
    CachedRow &slot = cache_[row % kCacheSize];
    if (slot.row == row && slot.generation == generation_)
        return slot;
    const gbi::Command command = document_.decodeRow(row);
    slot.row = row;
    slot.generation = generation_;
    slot.status = command.status;
    slot.words = wordsText(document_, row);
    slot.text = QString::fromStdString(document_.rowText(command, row, print_));
    return slot;
}

QString DisplayListModel::macroText(std::size_t row) const { return cached(row).text; }

QString DisplayListModel::statusText(std::size_t row) const
{
    const std::size_t start = document_.rowStart(row);
    const gbi::Words w = document_.words()[start];
    const QString ucode = QString::fromLatin1(gbi::ucodeName(document_.ucode()).data());
    const QString opcode = QStringLiteral("0x%1").arg(w.w0 >> 24, 2, 16, QLatin1Char('0')).toUpper().replace(QLatin1String("0X"), QLatin1String("0x"));
    switch (cached(row).status) {
    case gbi::Status::Ok:
        return {};
    case gbi::Status::Raw:
        return tr("No named macro of %1 holds these words; the opcode's generic builder writes them.").arg(ucode);
    case gbi::Status::Invalid:
        return tr("Invalid: %1 defines no command with opcode %2.").arg(ucode, opcode);
    case gbi::Status::Truncated:
        return tr("The list ends before the rest of this macro's commands.");
    }
    return {};
}

QVariant DisplayListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count_)
        return {};
    const std::size_t row = documentRow(index.row());
    switch (role) {
    case Qt::EditRole:
        return index.column() == MacroColumn ? QVariant(cached(row).text) : QVariant();
    case Qt::DecorationRole: {
        if (index.column() != WhereColumn)
            return {};
        const int worst = worstSeverity(row);
        if (worst < 0)
            return {};
        static const QStyle::StandardPixmap icons[] = {QStyle::SP_MessageBoxInformation, QStyle::SP_MessageBoxWarning,
                                                       QStyle::SP_MessageBoxCritical};
        return QApplication::style()->standardIcon(icons[worst]);
    }
    case Qt::DisplayRole: {
        if (index.column() == WhereColumn) {
            const std::size_t start = document_.rowStart(row);
            QString marker = QStringLiteral("  ");
            if (document_.rowLength(row) > 1)
                marker = QStringLiteral("\u25B8 ");
            else if (document_.unfolded(start))
                marker = QStringLiteral("\u25BE ");
            if (const auto address = document_.address(start))
                return marker + hex8(*address);
            return marker + QStringLiteral("%1").arg(document_.offset(start), 6, 16, QLatin1Char('0')).toUpper();
        }
        const CachedRow &c = cached(row);
        return index.column() == WordsColumn ? c.words : c.text;
    }
    case Qt::ToolTipRole: {
        QString tip = statusText(row);
        if (index.column() == WordsColumn && document_.rowLength(row) > 1)
            tip = QString(cached(row).words).replace(QLatin1String("  "), QLatin1String("\n"));
        if (index.column() == WhereColumn && document_.rowLength(row) > 1)
            tip = tr("%1 commands folded into one macro: double-click to unfold").arg(document_.rowLength(row));
        else if (index.column() == WhereColumn && document_.unfolded(document_.rowStart(row)))
            tip = tr("Double-click to fold these commands into one macro again");
        if (document_.rowEdited(row))
            tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + tr("Edited");
        if (const QString found = findingsText(row); !found.isEmpty())
            tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + found;
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case Qt::ForegroundRole:
        if (cached(row).status == gbi::Status::Invalid)
            return QBrush(QColor(160, 0, 0));
        if (cached(row).status != gbi::Status::Ok && index.column() == MacroColumn)
            return QBrush(QColor(110, 90, 0));
        return {};
    case Qt::BackgroundRole:
        if (cached(row).status == gbi::Status::Invalid)
            return QBrush(QColor(255, 222, 222));
        if (document_.rowEdited(row))
            return QBrush(QColor(255, 243, 186));
        return {};
    case DocumentRowRole:
        return QVariant::fromValue(static_cast<qulonglong>(row));
    default:
        return {};
    }
}

QVariant DisplayListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case WhereColumn: return document_.hasAddresses() ? tr("Address") : tr("Offset");
    case WordsColumn: return tr("Words");
    case MacroColumn: return tr("Macro");
    default: return {};
    }
}

Qt::ItemFlags DisplayListModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == MacroColumn && macroEditor_)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DisplayListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != MacroColumn || index.row() >= count_ || !macroEditor_)
        return false;
    return macroEditor_(documentRow(index.row()), value.toString());
}

void DisplayListModel::setFindings(std::vector<std::int8_t> worst, std::vector<std::pair<std::size_t, QString>> texts)
{
    worst_ = std::move(worst);
    findings_ = std::move(texts);
    if (count_ > 0)
        emit dataChanged(index(0, WhereColumn), index(count_ - 1, WhereColumn), {Qt::DecorationRole, Qt::ToolTipRole});
}

int DisplayListModel::worstSeverity(std::size_t row) const
{
    if (worst_.empty() || row >= document_.rowCount())
        return -1;
    int worst = -1;
    const std::size_t start = document_.rowStart(row);
    for (std::size_t e = start; e < start + document_.rowLength(row) && e < worst_.size(); ++e)
        worst = std::max(worst, static_cast<int>(worst_[e]));
    return worst;
}

QString DisplayListModel::findingsText(std::size_t row) const
{
    if (worstSeverity(row) < 0)
        return {};
    const std::size_t start = document_.rowStart(row);
    const std::size_t end = start + document_.rowLength(row);
    auto it = std::lower_bound(findings_.begin(), findings_.end(), start,
                               [](const auto &f, std::size_t e) { return f.first < e; });
    QString out;
    for (; it != findings_.end() && it->first < end; ++it)
        out += (out.isEmpty() ? QString() : QStringLiteral("\n")) + it->second;
    return out;
}

void DisplayListModel::setPrintStyle(bool dynamic, const QString &pointer)
{
    print_.dynamic = dynamic;
    pointer_ = pointer.toStdString();
    print_.pointer = pointer_;
    invalidate();
    if (count_ > 0)
        emit dataChanged(index(0, MacroColumn), index(count_ - 1, MacroColumn));
}

void DisplayListModel::invalidate() { ++generation_; }

void DisplayListModel::reload()
{
    beginResetModel();
    invalidate();
    filterTimer_.stop();
    filterActive_ = false;
    shown_.clear();
    count_ = static_cast<int>(document_.rowCount());
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!filter_.isEmpty())
        setFilter(filter_);
}

void DisplayListModel::spliced(std::size_t firstRow, std::size_t rowsBefore)
{
    if (filterActive_ || filterTimer_.isActive()) {
        reload();
        return;
    }
    invalidate();
    const std::size_t rowsAfter = document_.rowCount();
    const int first = static_cast<int>(std::min(firstRow, rowsBefore));
    if (rowsAfter > rowsBefore) {
        beginInsertRows({}, first, first + static_cast<int>(rowsAfter - rowsBefore) - 1);
        count_ = static_cast<int>(rowsAfter);
        endInsertRows();
    } else if (rowsAfter < rowsBefore) {
        const int removed = static_cast<int>(rowsBefore - rowsAfter);
        const int from = std::min(first, static_cast<int>(rowsBefore) - removed);
        beginRemoveRows({}, from, from + removed - 1);
        count_ = static_cast<int>(rowsAfter);
        endRemoveRows();
    }
    if (count_ > 0)
        emit dataChanged(index(0, 0), index(count_ - 1, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

// --- Filtering -------------------------------------------------------------------

void DisplayListModel::setFilter(const QString &text)
{
    filter_ = text.trimmed();
    filterTimer_.stop();
    matching_.clear();
    filterNext_ = 0;
    if (filter_.isEmpty()) {
        if (filterActive_) {
            beginResetModel();
            filterActive_ = false;
            shown_.clear();
            count_ = static_cast<int>(document_.rowCount());
            endResetModel();
        }
        emit filtered(document_.rowCount(), document_.rowCount());
        return;
    }
    filterTimer_.start();
}

bool DisplayListModel::matches(std::size_t row, const std::string &macroNeedle, const QString &wordsNeedle) const
{
    if (!wordsNeedle.isEmpty()) {
        const std::size_t start = document_.rowStart(row);
        QString words;
        for (std::size_t i = start; i < start + document_.rowLength(row); ++i)
            words += hex8(document_.words()[i].w0) + hex8(document_.words()[i].w1) + QLatin1Char('/');
        if (words.contains(wordsNeedle))
            return true;
    }
    // Printing straight into a std::string: the table's cache is left to
    // the rows on screen.
    return lower(document_.rowText(row, print_)).find(macroNeedle) != std::string::npos;
}

void DisplayListModel::filterSlice()
{
    QElapsedTimer clock;
    clock.start();
    const std::string macroNeedle = lower(filter_.toStdString());
    // Words are matched without their spaces: "E7000000 00000000" and
    // "e700000000000000" find the same rows.
    QString wordsNeedle = filter_.toUpper();
    wordsNeedle.remove(QLatin1Char(' '));
    if (wordsNeedle.startsWith(QLatin1String("0X")))
        wordsNeedle.remove(0, 2);
    for (const QChar c : wordsNeedle)
        if (!c.isDigit() && (c < QLatin1Char('A') || c > QLatin1Char('F'))) {
            wordsNeedle.clear();
            break;
        }

    const std::size_t total = document_.rowCount();
    while (filterNext_ < total) {
        if (matches(filterNext_, macroNeedle, wordsNeedle))
            matching_.push_back(static_cast<std::uint32_t>(filterNext_));
        ++filterNext_;
        if ((filterNext_ & 255) == 0 && clock.elapsed() > 15) {
            emit filterProgress(static_cast<int>(filterNext_ * 100 / total));
            return;
        }
    }
    filterTimer_.stop();
    beginResetModel();
    filterActive_ = true;
    shown_ = std::move(matching_);
    matching_.clear();
    count_ = static_cast<int>(shown_.size());
    endResetModel();
    emit filtered(shown_.size(), total);
}

} // namespace dlscope
