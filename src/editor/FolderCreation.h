#pragma once

#include <QString>

namespace zandrel {

// Creates every missing folder before the last "/" of path; what follows that
// "/" is taken as a file name and not created. Callers judge success by
// testing for the folder afterwards.
void CreateFolderPath(const QString& path);

}  // namespace zandrel
