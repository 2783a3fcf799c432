#include "listing/BackupList.h"

#include "common/Paths.h"
#include "listing/Listing.h"

namespace zandrel {

namespace {
constexpr int kDisplayField[BackupList::ColumnCount] = {FieldAction, FieldSourceFolder,
                                                        FieldDestinationFolder, FieldDescription};
// More than a row or a tooltip can show, and little enough to paint at once.
constexpr qsizetype kShownFieldLength = 1024;
}  // namespace

BackupList::BackupList(QObject* parent) : QAbstractTableModel(parent) {}

int BackupList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int BackupList::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BackupList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    return ShownListingField(lineAt(index.row()), kDisplayField[index.column()], kShownFieldLength);
}

QVariant BackupList::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
        case ColumnAction:
            return QStringLiteral("Action");
        case ColumnSource:
            return QStringLiteral("Source directory");
        case ColumnDestination:
            return QStringLiteral("Destination directory");
        case ColumnDescription:
            return QStringLiteral("Description");
        default:
            return {};
    }
}

QString BackupList::fieldAt(int row, int n) const {
    return ReadListingField(lineAt(row), n).value_or(QString());
}

void BackupList::appendLine(const QString& line) {
    beginInsertRows({}, count(), count());
    lines_.append(line);
    endInsertRows();
}

void BackupList::replaceLine(int row, const QString& line) {
    if (row < 0 || row >= count())
        return;
    lines_[row] = line;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void BackupList::removeLine(int row) {
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    lines_.removeAt(row);
    endRemoveRows();
}

void BackupList::swapLines(int i, int j) {
    if (i < 0 || j < 0 || i >= count() || j >= count() || i == j)
        return;
    lines_.swapItemsAt(i, j);
    emit dataChanged(index(std::min(i, j), 0), index(std::max(i, j), ColumnCount - 1));
}

void BackupList::resetLines(const QStringList& lines) {
    beginResetModel();
    lines_ = lines;
    endResetModel();
}

void BackupList::setCurrentListPath(const QString& path) {
    currentListPath_ = path;
    emit titleChanged(title());
}

void BackupList::setListModified(bool modified) {
    if (listModified_ == modified)
        return;
    listModified_ = modified;
    emit listModifiedChanged(modified);
}

QString BackupList::documentName() const {
    return currentListPath_.isEmpty() ? QStringLiteral("Untitled.bak")
                                      : GetFileName(currentListPath_);
}

QString BackupList::title() const {
    return QStringLiteral("Zandrel - ") + documentName();
}

QString TasksText(int rows) {
    return QString::number(rows) + QStringLiteral(" tasks");
}

}  // namespace zandrel
