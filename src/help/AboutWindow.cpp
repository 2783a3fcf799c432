#include "help/AboutWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/Twips.h"
#include "zandrel/Version.h"

namespace zandrel {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutfrm"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(Twips(this, 4875), Twips(this, 2010));

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(QPixmap(QStringLiteral(":/zandrel.png"))
                         .scaled(Twips(this, 720), Twips(this, 720), Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation));
    image->move(Twips(this, 120), Twips(this, 240));

    auto place = [this](QWidget* w, int left, int top, int width) {
        w->move(Twips(this, left), Twips(this, top));
        w->setFixedWidth(Twips(this, width));
    };
    auto* name = new QLabel(QStringLiteral("Zandrel"), this);
    name->setObjectName(QStringLiteral("Label1"));
    QFont bold(QStringLiteral("MS Sans Serif"));
    bold.setBold(true);
    name->setFont(bold);
    place(name, 960, 240, 2600);

    auto* version = new QLabel(
        QStringLiteral("Version: " ZANDREL_VERSION_MAJOR_MINOR " build #" ZANDREL_BUILD_NUMBER),
        this);
    version->setObjectName(QStringLiteral("Label2"));
    place(version, 960, 480, 2600);

    auto* line3 = new QLabel(QStringLiteral("Copies and moves folders by a saved list."), this);
    line3->setObjectName(QStringLiteral("Label3"));
    place(line3, 960, 960, 3800);

    auto* contact = new QLineEdit(QStringLiteral("zandrel@example.org"), this);
    contact->setObjectName(QStringLiteral("Text1"));
    contact->setReadOnly(true);
    contact->setFrame(false);
    contact->setStyleSheet(QStringLiteral("background: transparent;"));
    contact->installEventFilter(this);
    place(contact, 960, 1200, 2600);

    auto* line4 = new QLabel(QStringLiteral("Free to use and share."), this);
    line4->setObjectName(QStringLiteral("Label4"));
    place(line4, 960, 1560, 3800);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    ok->move(Twips(this, 3720), Twips(this, 240));
    ok->setFixedWidth(Twips(this, 1035));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    // Esc already rejects a dialog, which closes it like OK.

    // Centred on the screen, not on the owner; a placed dialog keeps its place.
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen)
        move(screen->availableGeometry().center() - rect().center());
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
            // After the focus change settles, or a mouse click would clear it.
            QTimer::singleShot(
                0, edit, [edit] { edit->setSelection(0, static_cast<int>(edit->text().size())); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zandrel
