#pragma once
// The help hook-up: the help document beside the program, shown by Zandrel's
// own viewer, opened at a topic by context number.

#include <QPointer>
#include <QString>

#include <QTextBrowser>

namespace zandrel {

inline constexpr int kHelpContents = 10;

class HelpModule {
  public:
    // Stores the owner and makes the document beside the program the help file.
    void InitHelp(QWidget* owner);
    void ShowHelpTopic(int contextNumber);
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
