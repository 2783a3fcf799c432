#include "support/FakeHost.h"

namespace zandrel::test {

Answer FakeHost::message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                         Answer defaultButton) {
    const RecordedMessage m{icon, title, text, buttons, defaultButton};
    messages.append(m);
    if (onMessage)
        onMessage(m);
    return answers.isEmpty() ? defaultButton : answers.takeFirst();
}

QString FakeHost::fileDialog(const FileDialogRequest& request) {
    fileDialogs.append(request);
    return fileDialogAnswers.isEmpty() ? QString() : fileDialogAnswers.takeFirst();
}

QString FakeHost::chooseFolder(const QString& title, const QString&) {
    folderTitles.append(title);
    return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
}

void FakeHost::yield() {
    ++yields;
    if (onYield)
        onYield();
}

}  // namespace zandrel::test
