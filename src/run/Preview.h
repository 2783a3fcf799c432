#pragma once
// The preview: every Listing of a list run by the run's own code over an
// overlay of the disk, so nothing changes, with one line per file telling
// what the run would do, then the counts; exit status as the run's.

#include <QByteArray>
#include <functional>

namespace zandrel {

class BackupList;
class Host;
class ProgressSink;

// The words of the lines other than a file's decision, in the order the
// counts name them after the decisions.
inline constexpr const char* kFailDelete = "fail-delete";
inline constexpr const char* kRemoveFolder = "remove-folder";
inline constexpr const char* kFailRemoveFolder = "fail-remove-folder";

// Prints each line (without its line end) through print; returns the exit
// status the run would end with.
int PreviewList(const BackupList& doc, Host& host, ProgressSink& view,
                const std::function<void(const QByteArray& line)>& print);

}  // namespace zandrel
