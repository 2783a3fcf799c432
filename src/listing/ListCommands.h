#pragma once
// Open, Save, Save As, the save-changes prompt and loading a list by path.

#include <QString>

namespace zandrel {

class BackupList;
class Host;
struct SessionFlags;

enum class LoadResult { Loaded, NotFound, Cancelled, Refused };
enum class SaveOutcome { Saved, NotSaved, NothingToSave };

inline const QString kListFilter = QStringLiteral("Backup list (*.bak)|*.bak");

// The two folders remembered in the per-user settings, each ending in "/".
QString ReadRememberedFolder(const QString& sectionAndKey);
void WriteRememberedFolder(const QString& sectionAndKey, const QString& folder);
inline const QString kOpenLast = QStringLiteral("OpenLast");
inline const QString kSaveAsLast = QStringLiteral("SaveAsLast");

class ListCommands {
  public:
    ListCommands(BackupList& doc, Host& host, SessionFlags& flags)
        : doc_(doc), host_(host), flags_(flags) {}

    // Only asks when the list is modified. False: the caller stops.
    bool saveChangesPrompt();
    LoadResult LoadBackupList(const QString& path);
    void open();
    SaveOutcome save();
    SaveOutcome saveAs();
    // Shows "Invalid or corrupt list" for a refused file.
    void reportRefused(const QString& path);

  private:
    bool writeTo(const QString& path);
    bool nothingToSave();

    BackupList& doc_;
    Host& host_;
    SessionFlags& flags_;
};

}  // namespace zandrel
