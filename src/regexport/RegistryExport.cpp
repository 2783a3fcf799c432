#include "regexport/RegistryExport.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

#include "common/Host.h"
#include "common/Paths.h"
#include "picker/BrowseFolder.h"

namespace zandrel {

namespace {

const QString kRegistryEditor = QStringLiteral("regedit.exe");
constexpr qint32 kPickerFlags = 65;  // file-system folders only, resizable, "new folder" button
const QString kCrLf = QStringLiteral("\r\n");

}  // namespace

RegistryExport::RegistryExport(Host& host, QWidget* parent) : QDialog(parent), host_(host) {
    setObjectName(QStringLiteral("registryfrm"));
    setWindowTitle(QStringLiteral("Export registry"));
    setModal(true);

    frame_ = new QGroupBox(QStringLiteral("Note"), this);
    frame_->setObjectName(QStringLiteral("Frame1"));
    note_ = new QLabel(QStringLiteral("You may need Administration rights to use this feature "
                                      "under Windows NT4/2000/XP/2003 or newer."),
                       frame_);
    note_->setObjectName(QStringLiteral("Label3"));
    note_->setWordWrap(true);
    auto* frameLayout = new QVBoxLayout(frame_);
    frameLayout->addWidget(note_);

    select_ = new QPushButton(QStringLiteral("&Select folder"), this);
    select_->setObjectName(QStringLiteral("Command1"));

    parts_ = new QComboBox(this);
    parts_->setObjectName(QStringLiteral("Combo1"));
    parts_->setAccessibleName(QStringLiteral("Part of the registry"));
    parts_->addItems({QStringLiteral("HKEY_CLASSES_ROOT"), QStringLiteral("HKEY_CURRENT_USER"),
                      QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("HKEY_USERS"),
                      QStringLiteral("HKEY_CURRENT_CONFIG"), QStringLiteral("All of the above!")});
    parts_->setCurrentIndex(0);

    working_ = new QLabel(QStringLiteral("Working, this may take a few minutes..."), this);
    working_->setObjectName(QStringLiteral("Label2"));
    working_->hide();

    question_ =
        new QLabel(QStringLiteral("Which part of the registry do you want to export?"), this);
    question_->setObjectName(QStringLiteral("Label1"));

    auto* choice = new QHBoxLayout;
    choice->addWidget(parts_, 1);
    choice->addWidget(select_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame_);
    layout->addWidget(question_);
    layout->addLayout(choice);
    layout->addWidget(working_);

    connect(select_, &QPushButton::clicked, this, &RegistryExport::exportSelected);
}

QString RegistryExport::exportFileOf(const QString& folder, const QString& part) {
    return ShownPath(folder + kSeparatorText + part + QStringLiteral(".reg"));
}

QStringList RegistryExport::argumentsOf(const QString& folder, const QString& part) {
    return {QStringLiteral("/e"), exportFileOf(folder, part), part};
}

void RegistryExport::exportSelected() {
    cBrowseFolder picker(host_);
    picker.lhWnd = this;
    picker.sTitle = QStringLiteral("Select Folder");
    picker.lFlags = kPickerFlags;
    picker.ShowBrowse();
    if (picker.bCancelled)
        return;
    const QString folder = picker.sFolder;

    exportList_.clear();
    setStarting(true);
    QString failure;
    if (parts_->currentIndex() != kAllEntry) {
        const QString part = parts_->currentText();
        failure = startDetached(argumentsOf(folder, part));
        if (failure.isEmpty())
            exportList_ += exportFileOf(folder, part) + kCrLf;
    } else {
        // The exports run side by side; the window only starts them.
        for (int entry = 0; entry < kAllEntry && failure.isEmpty(); ++entry) {
            host_.yield();
            const QString part = parts_->itemText(entry);
            exportList_ += exportFileOf(folder, part) + kCrLf;
            failure = startDetached(argumentsOf(folder, part));
        }
    }
    setStarting(false);

    if (!failure.isEmpty()) {
        host_.message(Icon::Critical, QStringLiteral("Error"),
                      QStringLiteral("Export has encountered an error.\r\n\r\n") + failure);
        return;
    }
    host_.message(Icon::Information, QStringLiteral("Done"),
                  QStringLiteral("Exported successfully!") + kCrLf + exportList_);
}

QString RegistryExport::startDetached(const QStringList& arguments) {
    const QString& name = kRegistryEditor;
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        return name + QStringLiteral(" was not found on the PATH.");

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
#ifdef Q_OS_WIN
    // Minimised and active, as the registry editor's own window is of no use here.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_SHOWMINIMIZED;
    });
#endif
    if (process.startDetached())
        return {};
    const QString reason = process.errorString();
    return name + QStringLiteral(" could not be started") +
           (reason.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + reason);
}

void RegistryExport::setStarting(bool starting) {
    starting_ = starting;
    for (QWidget* w : {static_cast<QWidget*>(parts_), static_cast<QWidget*>(question_),
                       static_cast<QWidget*>(note_), static_cast<QWidget*>(frame_),
                       static_cast<QWidget*>(select_)})
        w->setEnabled(!starting);
    working_->setVisible(starting);
    if (starting)
        working_->repaint();
}

void RegistryExport::done(int result) {
    // Esc must not close the window while exports are being started either.
    if (starting_)
        return;
    QDialog::done(result);
}

void RegistryExport::closeEvent(QCloseEvent* event) {
    if (starting_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace zandrel
