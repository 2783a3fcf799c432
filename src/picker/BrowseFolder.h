#pragma once
// The folder picker: one object per use. Set the properties, call ShowBrowse,
// then read bCancelled and, when it is false, sFolder.

#include <QString>
#include <QtGlobal>
#include <optional>

class QWidget;

namespace zandrel {

class Dialogs;

class cBrowseFolder {
  public:
    explicit cBrowseFolder(Dialogs& dialogs) : dialogs_(dialogs) {}

    qint32 lFlags = 1;         // passed on unchanged; the toolkit's dialog has no such flags
    bool bCancelled = false;   // set when ShowBrowse ends without a folder
    QWidget* lhWnd = nullptr;  // owner window
    QString sTitle;            // dialog title
    QString sFolder;           // before: folder to start in; after: the chosen folder

    // Each argument that is given is stored in its property first. Returns the
    // chosen folder (absolute, no trailing "/" except the root) or the empty
    // text, in which case bCancelled is set.
    QString ShowBrowse(std::optional<QWidget*> owner = std::nullopt,
                       std::optional<QString> title = std::nullopt,
                       std::optional<QString> folder = std::nullopt);

  private:
    Dialogs& dialogs_;
};

}  // namespace zandrel
