#pragma once
// A scripted stand-in for the windows: records every message box and answers
// from a queue (or with the box's default answer when the queue is empty).

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "common/Host.h"
#include "run/RunPhase.h"

namespace zandrel::test {

struct RecordedMessage {
    Icon icon;
    QString title;
    QString text;
    Buttons buttons;
    Answer defaultButton;
};

class FakeHost : public Host {
  public:
    Answer message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Answer defaultButton) override;
    using Host::message;
    QString fileDialog(const FileDialogRequest& request) override;
    QString chooseFolder(const QString& title, const QString& startFolder) override;
    void yield() override;
    void setStartCaption(const QString& text) override { caption = text; }
    // Scripted: a test asks for the abort by showing the Aborting caption.
    bool abortRequested() const override { return caption == kCaptionAborting; }
    void setStatusText(const QString& text) override { statusText = text; }
    void clearReports() override { reports.clear(); }
    void appendReport(const QString& entry) override { reports.append(entry); }

    // Script.
    QList<Answer> answers;          // taken in order by message()
    QStringList fileDialogAnswers;  // "" stands for Cancel
    QStringList folderAnswers;      // "" stands for Cancel
    std::function<void()> onYield;  // e.g. to press the Start button mid-run
    std::function<void(const RecordedMessage&)> onMessage;

    // Record.
    QList<RecordedMessage> messages;
    QList<FileDialogRequest> fileDialogs;
    QStringList folderTitles;
    int yields = 0;
    QString caption = kCaptionIdle;
    QString statusText;
    QStringList reports;
};

}  // namespace zandrel::test
