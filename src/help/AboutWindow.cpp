#include "help/AboutWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "widgets/TwipScale.h"
#include "zandrel/Version.h"

namespace zandrel {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutfrm"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    auto* name = new QLabel(QStringLiteral("Zandrel"), this);
    name->setObjectName(QStringLiteral("Label1"));
    // The design's face where there is one, else the desktop's, at the desktop's size.
    QFont bold = font();
    bold.setFamilies({QStringLiteral("MS Sans Serif"), font().family()});
    bold.setBold(true);
    name->setFont(bold);
    auto* version = new QLabel(
        QStringLiteral("Version: " ZANDREL_VERSION_MAJOR_MINOR " build #" ZANDREL_BUILD_NUMBER),
        this);
    version->setObjectName(QStringLiteral("Label2"));
    auto* line3 = new QLabel(QStringLiteral("Copies and moves folders by a saved list."), this);
    line3->setObjectName(QStringLiteral("Label3"));
    auto* contact = new QLineEdit(QStringLiteral("zandrel@example.org"), this);
    contact->setObjectName(QStringLiteral("Text1"));
    contact->setReadOnly(true);
    contact->setFrame(false);
    contact->setStyleSheet(QStringLiteral("background: transparent;"));
    contact->installEventFilter(this);
    auto* line4 = new QLabel(QStringLiteral("Free to use and share."), this);
    line4->setObjectName(QStringLiteral("Label4"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    // Esc already rejects a dialog, which closes it like OK.

    // Places in twips (left, top, width, height); each control's own needs
    // may grow the scale of the whole window.
    const struct {
        QWidget* control;
        QRect place;
    } places[] = {{name, {960, 240, 2600, 240}},   {version, {960, 480, 2600, 240}},
                  {line3, {960, 960, 3800, 240}},  {contact, {960, 1200, 2600, 285}},
                  {line4, {960, 1560, 3800, 240}}, {ok, {3720, 240, 1035, 375}}};
    TwipScale scale(this);
    for (const auto& p : places) {
        // A frameless line edit needs its text's width, not a text box's.
        const QSize needed =
            p.control == contact
                ? QSize(contact->fontMetrics().horizontalAdvance(contact->text()) + 8,
                        contact->sizeHint().height())
                : p.control->sizeHint();
        scale.fit(needed, p.place.width(), p.place.height());
    }
    for (const auto& p : places)
        p.control->setGeometry(
            scale.rect(p.place.left(), p.place.top(), p.place.width(), p.place.height()));
    image->setGeometry(scale.rect(120, 240, 720, 720));
    image->setPixmap(QPixmap(QStringLiteral(":/zandrel.png"))
                         .scaled(image->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    setFixedSize(scale(4875), scale(2010));

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
