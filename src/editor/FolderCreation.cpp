#include "editor/FolderCreation.h"

#include "common/FileSystem.h"
#include "common/Paths.h"

namespace zandrel {

void CreateFolderPath(const QString& path) {
    fs::MakeFolderPath(EncodePath(path));
}

}  // namespace zandrel
