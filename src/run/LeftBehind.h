#pragma once
// Copies that a killed run left in a destination folder: where the file
// system has no unnamed files, a copy is written under a hidden name of the
// run's own (".NAME.<12 hex digits>.zandrel-part") and vanishes only when
// the run lives to name or discard it. A later run that writes into the
// folder removes them, and nothing else.

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
#include <QString>

#include <utility>

#include "common/FileSystem.h"

namespace zandrel {

// Whether name has exactly the form of a copy's hidden name.
bool IsLeftBehindCopyName(QByteArrayView name);

// Removes the regular files of folder whose names have that form, never a
// link, folder or anything else, and never through a link; returns how many
// were removed. Reached through an overlay, the removal is recorded there.
int RemoveLeftBehindCopies(const fs::Folder& folder);

// Once per destination folder in a run, before the run's first copy goes in:
// afterwards the run's own copies wait there under such names.
class LeftBehindCopies {
  public:
    // path: the folder as the run names it; a folder met again, by its
    // identity or its path, is left alone.
    void clearIn(const fs::Folder& folder, const fs::FileIdentity& identity, QByteArrayView path);
    // How many were removed since last asked.
    int takeRemoved() { return std::exchange(removed_, 0); }

  private:
    fs::FileIdentity last_;
    bool lastKnown_ = false;
    QSet<QByteArray> identities_;
    QSet<QByteArray> paths_;
    int removed_ = 0;
};

// The report entry for count removed copies.
QString LeftBehindEntry(int count);

}  // namespace zandrel
