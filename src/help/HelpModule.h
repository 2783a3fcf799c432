#pragma once
// The help hook-up: the help document beside the program (or installed),
// shown by Zandrel's own viewer.

#include <QPointer>
#include <QString>
#include <QTextBrowser>

namespace zandrel {

class HelpModule {
  public:
    // Stores the owner and makes the document beside the program the help file.
    void InitHelp(QWidget* owner);
    // Opens the viewer at the contents, the one topic the program asks for.
    void ShowHelpTopic();
    // Quits the viewer.
    void CloseHelp();

    // The help file's path for a program folder.
    static QString helpPathFor(const QString& programFolder);
    // The help file beside the program, else in the installed data folder
    // (../share/zandrel from the program, then dataFolder); when none is
    // there, the path beside the program, so the viewer names that.
    static QString locateHelpFile(const QString& programFolder, const QString& dataFolder);

  private:
    QWidget* owner_ = nullptr;
    QString helpFile_;
    QPointer<QTextBrowser> viewer_;
};

}  // namespace zandrel
