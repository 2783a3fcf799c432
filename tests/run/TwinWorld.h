#pragma once
// Small random worlds for checking a preview against the run that follows
// it: a tree of files, links, FIFOs and folders, and 1 to 4 Listings over it
// that share sources and destinations, all drawn from one seed.

#include <QList>
#include <QPair>
#include <QString>

#include "listing/Listing.h"

namespace zandrel::test {

struct TwinWorld {
    QList<Listing> listings;
    // Run as nobody: the tree belongs to nobody, some of it is locked.
    bool unprivileged = false;
    // Other names of one folder (a link to it) and the folder they name, so
    // paths can be compared by the folder they reach.
    QList<QPair<QString, QString>> aliases;
};

// Lays the world of seed out below root + "/w". Unprivileged worlds come only
// when mayDropPrivileges (the caller is root and can hand the tree over).
TwinWorld MakeTwinWorld(quint32 seed, const QString& root, bool mayDropPrivileges);

// The list file's text for the world's Listings.
QByteArray ListText(const TwinWorld& world);

}  // namespace zandrel::test
