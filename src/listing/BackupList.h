#pragma once
// The one document: the ListingLines in order, the file they belong to and
// whether they changed since. It is also the model of the visible list, whose
// rows are derived from the lines, so row i always shows Listing i.

#include <QAbstractTableModel>
#include <QStringList>

namespace zandrel {

class BackupList : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { ColumnAction, ColumnSource, ColumnDestination, ColumnDescription, ColumnCount };

    explicit BackupList(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Rows are 0-based here.
    int count() const { return static_cast<int>(lines_.size()); }
    const QStringList& lines() const { return lines_; }
    QString lineAt(int row) const { return lines_.value(row); }
    // Field n of row's line, as ReadListingField gives it (empty when absent).
    QString fieldAt(int row, int n) const;

    void appendLine(const QString& line);
    void replaceLine(int row, const QString& line);
    void removeLine(int row);
    void swapLines(int i, int j);
    void resetLines(const QStringList& lines);

    QString currentListPath() const { return currentListPath_; }
    void setCurrentListPath(const QString& path);
    bool listModified() const { return listModified_; }
    void setListModified(bool modified);
    // "Zandrel - " and the file name, "Untitled.bak" while untitled.
    QString title() const;
    // The name the save-changes prompt shows in its title.
    QString documentName() const;

  signals:
    void titleChanged(const QString& title);
    void listModifiedChanged(bool modified);

  private:
    QStringList lines_;
    QString currentListPath_;
    bool listModified_ = false;
};

// "3 tasks": the status text after a load or an edit.
QString TasksText(int rows);

}  // namespace zandrel
