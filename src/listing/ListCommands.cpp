#include "listing/ListCommands.h"

#include <QSettings>

#include "common/Host.h"
#include "common/Paths.h"
#include "common/SessionFlags.h"
#include "listing/BackupList.h"
#include "listing/ListFile.h"

namespace zandrel {

QString ReadRememberedFolder(const QString& sectionAndKey) {
    QSettings settings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Zandrel"),
                       QStringLiteral("Zandrel"));
    return settings.value(sectionAndKey + u'/' + sectionAndKey).toString();
}

void WriteRememberedFolder(const QString& sectionAndKey, const QString& folder) {
    QSettings settings(QSettings::defaultFormat(), QSettings::UserScope, QStringLiteral("Zandrel"),
                       QStringLiteral("Zandrel"));
    settings.setValue(sectionAndKey + u'/' + sectionAndKey, ShownPath(folder));
}

bool ListCommands::saveChangesPrompt() {
    if (!doc_.listModified())
        return true;
    const Answer answer = host_.message(
        Icon::Exclamation, doc_.documentName(),
        QStringLiteral("The listing has been modified.\r\n\r\nDo you want to save the changes?"),
        Buttons::YesNoCancel, Answer::Yes);
    if (answer == Answer::Cancel)
        return false;
    if (answer == Answer::Yes)
        return save() != SaveOutcome::NotSaved;
    return true;
}

LoadResult ListCommands::LoadBackupList(const QString& path) {
    if (!PathExists(path)) {
        host_.message(Icon::Exclamation, QStringLiteral("Error notice"),
                      QStringLiteral("File was not found\r\n\r\n") + ShownPath(path));
        return LoadResult::NotFound;
    }
    if (!saveChangesPrompt())
        return LoadResult::Cancelled;
    const auto lines = ReadListFile(path, host_);
    if (!lines)
        return LoadResult::Refused;

    host_.clearReports();
    host_.setStatusText(QString());
    doc_.resetLines(*lines);
    host_.setStatusText(TasksText(doc_.count()));
    doc_.setListModified(false);
    doc_.setCurrentListPath(path);
    return LoadResult::Loaded;
}

void ListCommands::reportRefused(const QString& path) {
    host_.message(Icon::Critical, QStringLiteral("Error notice"),
                  QStringLiteral("Invalid or corrupt list\r\n\r\n") + GetFileName(path));
}

void ListCommands::open() {
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.startFolder = ReadRememberedFolder(kOpenLast);
    request.filter = kListFilter;
    const QString path = host_.fileDialog(request);
    if (path.isEmpty())
        return;
    switch (LoadBackupList(path)) {
        case LoadResult::Refused:
            reportRefused(path);
            break;
        case LoadResult::Loaded:
            WriteRememberedFolder(kOpenLast, GetFolderPart(path));
            break;
        case LoadResult::NotFound:
        case LoadResult::Cancelled:
            break;
    }
}

bool ListCommands::nothingToSave() {
    if (doc_.count() > 0)
        return false;
    host_.message(Icon::Information, QStringLiteral("Note"),
                  QStringLiteral("Nothing to save!\r\n\r\n"));
    return true;
}

bool ListCommands::writeTo(const QString& path) {
    if (!CanWriteToFolder(GetFolderPart(path), host_))
        return false;
    return WriteListFile(path, doc_.lines(), host_);
}

SaveOutcome ListCommands::save() {
    if (doc_.currentListPath().isEmpty())
        return saveAs();
    if (nothingToSave())
        return SaveOutcome::NothingToSave;
    if (!writeTo(doc_.currentListPath()))
        return SaveOutcome::NotSaved;
    doc_.setListModified(false);
    if (!flags_.ClosingDown)
        host_.message(Icon::Information, doc_.documentName(), QStringLiteral("Saved successfully"));
    return SaveOutcome::Saved;
}

SaveOutcome ListCommands::saveAs() {
    if (nothingToSave())
        return SaveOutcome::NothingToSave;
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Save;
    request.startFolder = ReadRememberedFolder(kSaveAsLast);
    request.filter = kListFilter;
    const QString path = host_.fileDialog(request);
    if (path.isEmpty())
        return SaveOutcome::NotSaved;
    if (!writeTo(path))
        return SaveOutcome::NotSaved;
    doc_.setCurrentListPath(path);
    doc_.setListModified(false);
    if (!flags_.ClosingDown)
        host_.message(Icon::Information, GetFileName(path), QStringLiteral("Saved successfully"));
    WriteRememberedFolder(kSaveAsLast, GetFolderPart(path));
    return SaveOutcome::Saved;
}

}  // namespace zandrel
