#pragma once
// After a Move: removes the folders it emptied, deepest first, and reports
// every folder that could not be removed.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace zandrel {

class Host;
namespace fs {
class Overlay;
}

// Returns "Delete failed: " + folder for each failed removal, in order. An
// immediate sub-folder is listed twice with sub-folders included, so a
// failure there is reported twice.
// With an overlay the removal is recorded there (a preview); tried hears
// of every removal attempted, in order, and whether it succeeded.
// reasons receives the system's reason for each failure, which the host
// also hears of as it happens. An abort request seen at a yield is put to
// confirmAbort; when that answers true the removal stops there.
using RemovalAttempt = std::function<void(const QByteArray& folder, bool removed)>;
QList<QByteArray> RemoveMovedFolders(const QString& sourceFolder, bool includeSubfolders,
                                     Host& host, fs::Overlay* overlay = nullptr,
                                     const RemovalAttempt& tried = {},
                                     QList<QString>* reasons = nullptr,
                                     const std::function<bool()>& confirmAbort = {});

// Reorders by length in characters, as moving each text of length L to the
// front for every L from the shortest up to the longest: the longest first,
// texts of equal length in the reverse of their earlier order.
void OrderLongestFirst(QList<QByteArray>& list);

}  // namespace zandrel
