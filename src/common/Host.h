#pragma once
// The one way the core reaches a person: message boxes, file and folder
// dialogs, the event loop, the Start button's caption (which shows the run's
// phase), the status bar and the report list. The windows implement it with
// Qt; the headless command-line run prints; tests script it.

#include <QByteArray>
#include <QString>

namespace zandrel {

enum class Icon { None, Information, Exclamation, Question, Critical };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

// The button a box offers by default: the first one, as the platform does.
Answer DefaultAnswerFor(Buttons buttons);

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString startFolder;  // empty: wherever the dialog's previous use left it
    QString filter;       // "Description (*.ext)|*.ext" as the lists store it
};

// Message boxes and file and folder dialogs: the windows show real ones,
// tests answer from a script.
class Dialogs {
  public:
    virtual ~Dialogs() = default;

    virtual Answer message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                           Answer defaultButton) = 0;
    Answer message(Icon icon, const QString& title, const QString& text,
                   Buttons buttons = Buttons::Ok) {
        return message(icon, title, text, buttons, DefaultAnswerFor(buttons));
    }

    // Returns the chosen path, or the empty text when the user cancelled.
    virtual QString fileDialog(const FileDialogRequest& request) = 0;
    // Returns the chosen folder (absolute, no trailing separator except the
    // root), or the empty text when the user cancelled.
    virtual QString chooseFolder(const QString& title, const QString& startFolder) = 0;
};

class Host : public Dialogs {
  public:
    // Lets the window repaint and react; may skip when called very often.
    virtual void yield() = 0;

    // Shows the run's phase: the Start button's caption for it.
    virtual void setStartCaption(const QString& caption) = 0;
    // The abort request, as the walk and the copy loops test it: the run's
    // phase is Aborting.
    virtual bool abortRequested() const = 0;

    virtual void setStatusText(const QString& text) = 0;
    virtual void clearReports() = 0;
    virtual void appendReport(const QString& entry) = 0;

    // A failure as it is recorded ("Copy failed: " or "Delete failed: " and
    // the path's bytes) with the system's reason, for people who need to know
    // why: the headless run prints it on standard error.
    virtual void noteFailure(const QByteArray& entry, const QString& reason) {
        Q_UNUSED(entry);
        Q_UNUSED(reason);
    }
};

}  // namespace zandrel
