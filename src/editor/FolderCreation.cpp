#include "editor/FolderCreation.h"

#include <sys/stat.h>

#include "common/Paths.h"

namespace zandrel {

void CreateFolderPath(const QString& path) {
    const QByteArray bytes = EncodePath(path);
    // Position 0 is the root, which is always there.
    for (qsizetype at = bytes.indexOf(kSeparator, 1); at > 0;
         at = bytes.indexOf(kSeparator, at + 1)) {
        const QByteArray folder = bytes.left(at);
        if (!FolderExists(folder))
            ::mkdir(folder.constData(), 0777);
    }
}

}  // namespace zandrel
