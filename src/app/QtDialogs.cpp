#include "app/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

#include "common/Paths.h"

namespace zandrel {

namespace {

// Boxes belong above whatever modal window is open (the editor, the export
// window), else above the main window.
QWidget* ParentFor(QWidget* owner) {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return owner;
}

QMessageBox::Icon ToQtIcon(Icon icon) {
    switch (icon) {
        case Icon::None:
            return QMessageBox::NoIcon;
        case Icon::Information:
            return QMessageBox::Information;
        case Icon::Exclamation:
            return QMessageBox::Warning;
        case Icon::Question:
            return QMessageBox::Question;
        case Icon::Critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ToQtButton(Answer answer) {
    switch (answer) {
        case Answer::Ok:
            return QMessageBox::Ok;
        case Answer::Cancel:
            return QMessageBox::Cancel;
        case Answer::Yes:
            return QMessageBox::Yes;
        case Answer::No:
            return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

}  // namespace

Answer QtDialogs::message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                          Answer defaultButton) {
    QMessageBox::StandardButtons qtButtons = QMessageBox::Ok;
    QMessageBox::StandardButton escape = QMessageBox::Ok;
    switch (buttons) {
        case Buttons::Ok:
            break;
        case Buttons::OkCancel:
            qtButtons = QMessageBox::Ok | QMessageBox::Cancel;
            escape = QMessageBox::Cancel;
            break;
        case Buttons::YesNo:
            qtButtons = QMessageBox::Yes | QMessageBox::No;
            escape = QMessageBox::No;
            break;
        case Buttons::YesNoCancel:
            qtButtons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            escape = QMessageBox::Cancel;
            break;
    }
    // Texts use CR LF line breaks; a label wants LF.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QMessageBox box(ToQtIcon(icon), title, shown.trimmed(), qtButtons, ParentFor(owner_));
    box.setDefaultButton(ToQtButton(defaultButton));
    box.setEscapeButton(escape);
    const int result = box.exec();
    switch (result) {
        case QMessageBox::Yes:
            return Answer::Yes;
        case QMessageBox::No:
            return Answer::No;
        case QMessageBox::Cancel:
            return Answer::Cancel;
        default:
            return Answer::Ok;
    }
}

QString QtDialogs::toQtFilter(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters.append(parts[i]);
    return filters.join(QLatin1String(";;"));
}

QString QtDialogs::fileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(ParentFor(owner_));
    dialog.setNameFilter(toQtFilter(request.filter));
    dialog.setDirectory(request.startFolder.isEmpty() ? lastFolder_ : request.startFolder);
    if (request.kind == FileDialogRequest::Kind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().first();
    lastFolder_ = QFileInfo(path).absolutePath();
    return path;
}

QString QtDialogs::chooseFolder(const QString& title, const QString& startFolder) {
    const QString start = FolderExists(startFolder) ? startFolder : QString();
    const QString chosen = QFileDialog::getExistingDirectory(ParentFor(owner_), title, start);
    return chosen.isEmpty() ? QString()
                            : RemoveTrailingSeparator(QFileInfo(chosen).absoluteFilePath());
}

}  // namespace zandrel
