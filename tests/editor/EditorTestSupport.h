#pragma once
// Helpers for driving the listing editor through its real widgets.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWidget>

#include "support/FakeHost.h"

#include <ostream>

// Readable failure output for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace zandrel::test {

// Also records where each folder dialog was asked to start.
class EditorHost : public FakeHost {
  public:
    QString chooseFolder(const QString& title, const QString& startFolder) override {
        folderStarts.append(startFolder);
        return FakeHost::chooseFolder(title, startFolder);
    }
    QStringList folderStarts;
};

template <typename T>
T* Control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no control " << name;
    return found;
}

// Brings the control's tab to the front by clicking its tab, as a person would.
inline void ShowTabOf(const QWidget& window, QWidget* control) {
    auto* tabs = Control<QTabWidget>(window, "SSTab1");
    if (!tabs || !control)
        return;
    for (int i = 0; i < tabs->count(); ++i) {
        if (!tabs->widget(i)->isAncestorOf(control))
            continue;
        QTabBar* bar = tabs->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
        return;
    }
}

inline void Click(const QWidget& window, const char* name) {
    auto* b = Control<QAbstractButton>(window, name);
    if (!b)
        return;
    ShowTabOf(window, b);
    // Options and check boxes react only on their mark and caption, which
    // may not reach the middle of a wide control.
    const bool marked = b->inherits("QRadioButton") || b->inherits("QCheckBox");
    QTest::mouseClick(b, Qt::LeftButton, {},
                      marked ? QPoint(b->height() / 2, b->height() / 2) : b->rect().center());
}

// Empties the box and types the text character by character.
inline void Type(const QWidget& window, const char* name, const QString& text) {
    auto* box = Control<QLineEdit>(window, name);
    if (!box)
        return;
    ShowTabOf(window, box);
    box->setFocus();
    QCoreApplication::processEvents();  // the select-all queued by the focus
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

inline QString Text(const QWidget& window, const char* name) {
    auto* box = Control<QLineEdit>(window, name);
    return box ? box->text() : QString();
}

}  // namespace zandrel::test
