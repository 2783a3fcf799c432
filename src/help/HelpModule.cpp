#include "help/HelpModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>

#include "common/Paths.h"

namespace zandrel {

QString HelpModule::helpPathFor(const QString& programFolder) {
    // Either separator on Windows, so that a drive's root stays one.
    if (GetFileName(programFolder.trimmed()).isEmpty())
        return programFolder + QStringLiteral("Zandrel.html");
    return programFolder + QStringLiteral("/Zandrel.html");
}

QString HelpModule::locateHelpFile(const QString& programFolder, const QString& dataFolder) {
    const QString beside = helpPathFor(programFolder);
    const QString candidates[] = {
        beside, QDir::cleanPath(programFolder + QStringLiteral("/../share/zandrel/Zandrel.html")),
        dataFolder + QStringLiteral("/Zandrel.html")};
    for (const QString& path : candidates)
        if (QFileInfo::exists(path))
            return path;
    return beside;
}

void HelpModule::InitHelp(QWidget* owner) {
    owner_ = owner;
    helpFile_ =
        locateHelpFile(QCoreApplication::applicationDirPath(), QStringLiteral(ZANDREL_DATA_DIR));
}

void HelpModule::ShowHelpTopic() {
    if (!viewer_) {
        // A top-level window of its own, like a help viewer, but closed with
        // the program.
        viewer_ = new QTextBrowser(owner_);
        viewer_->setWindowFlag(Qt::Window);
        viewer_->setAttribute(Qt::WA_DeleteOnClose);
        viewer_->setObjectName(QStringLiteral("helpviewer"));
        viewer_->setWindowTitle(QStringLiteral("Zandrel Help"));
        viewer_->setOpenExternalLinks(true);
        // About 90 characters by 35 lines of the font in use.
        const QFontMetrics metrics = viewer_->fontMetrics();
        viewer_->resize(metrics.averageCharWidth() * 90, metrics.lineSpacing() * 35);
    }
    const QUrl url = QUrl::fromLocalFile(helpFile_);
    viewer_->setSource(url);
    if (viewer_->toPlainText().isEmpty())
        viewer_->setHtml(QStringLiteral("<p>The help file was not found:</p><p>") +
                         helpFile_.toHtmlEscaped() + QStringLiteral("</p>"));
    viewer_->show();
    viewer_->raise();
    viewer_->activateWindow();
}

void HelpModule::CloseHelp() {
    if (viewer_)
        viewer_->close();
}

}  // namespace zandrel
