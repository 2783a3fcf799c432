#include "picker/BrowseFolder.h"

#include <QDir>

#include "common/Host.h"
#include "common/Paths.h"

namespace zandrel {

namespace {

// Blanks only, as the folder text is otherwise taken as it is.
QString TrimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ') ++begin;
    while (end > begin && text.at(end - 1) == u' ') --end;
    return text.mid(begin, end - begin);
}

QString NormalisedFolder(const QString& answer) {
    QString folder = TrimBlanks(answer);
    if (folder.isEmpty())
        return {};
    if (QDir::isRelativePath(folder))
        folder = QDir::current().absoluteFilePath(folder);
    // A root stays whole: "C:" alone would name the drive's current folder.
    for (QString shorter = RemoveTrailingSeparator(folder); shorter != folder;
         shorter = RemoveTrailingSeparator(folder))
        folder = shorter;
    return ShownPath(folder);
}

}  // namespace

QString cBrowseFolder::ShowBrowse(std::optional<QWidget*> owner, std::optional<QString> title,
                                  std::optional<QString> folder) {
    if (owner)
        lhWnd = *owner;
    if (title)
        sTitle = *title;
    if (folder)
        sFolder = *folder;

    // A start folder that is not there opens the dialog without a preselection.
    const QString start = FolderExists(sFolder) ? sFolder : QString();
    sFolder = NormalisedFolder(dialogs_.chooseFolder(sTitle, start));
    if (sFolder.isEmpty()) {
        bCancelled = true;
        return {};
    }
    return sFolder;
}

}  // namespace zandrel
