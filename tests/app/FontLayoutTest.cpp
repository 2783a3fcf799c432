// Every window laid out at the desktop font sizes people use, 8 to 12 points
// (ctest runs these again at scale factor 2): every visible control has at
// least the size its contents need, so no caption, label or row is clipped.
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <list>

#include "app/MainWindowFixture.h"
#include "app/SummaryWindow.h"
#include "editor/ListingEditor.h"
#include "help/AboutWindow.h"
#include "regexport/RegistryExport.h"

using namespace zandrel;
using namespace zandrel::test;

namespace {

// The size a control's contents need.
QSize Needed(const QWidget* w) {
    if (auto* b = qobject_cast<const QPushButton*>(w)) {
        // The caption and the style's padding around it; a style's smallest
        // width for any button is no part of showing the caption.
        QStyleOptionButton option;
        option.initFrom(b);
        const QSize caption = b->fontMetrics().size(Qt::TextShowMnemonic, b->text());
        return b->style()->sizeFromContents(QStyle::CT_PushButton, &option, caption, b);
    }
    if (auto* label = qobject_cast<const QLabel*>(w); label && label->wordWrap())
        return {0, label->heightForWidth(label->width())};
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) {
        // A box for typing scrolls its text; one that only shows a text shows all of it.
        const int text = edit->fontMetrics().horizontalAdvance(edit->text()) + 4;
        return {edit->isReadOnly() ? text : 0, edit->sizeHint().height()};
    }
    if (auto* bar = qobject_cast<const QProgressBar*>(w))
        return bar->isTextVisible() ? bar->sizeHint() : QSize();
    if (qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
        qobject_cast<const QComboBox*>(w) || qobject_cast<const QTabBar*>(w) ||
        qobject_cast<const QMenuBar*>(w))
        return w->sizeHint();
    return w->minimumSizeHint();  // a container: what its layout needs
}

bool InsideList(const QWidget* w, const QWidget* window) {
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (qobject_cast<const QAbstractScrollArea*>(p) || qobject_cast<const QComboBox*>(p))
            return true;
    return false;
}

// The visible controls smaller than their contents, described.
QStringList Clipped(QWidget* window) {
    QCoreApplication::processEvents();
    QStringList clipped;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->isWindow() || qobject_cast<QAbstractScrollArea*>(w) ||
            InsideList(w, window))
            continue;
        const QSize needed = Needed(w);
        if (needed.width() > w->width() || needed.height() > w->height())
            clipped << QStringLiteral("%1 needs %2x%3, has %4x%5")
                           .arg(QLatin1String(w->metaObject()->className()) + u' ' +
                                w->objectName())
                           .arg(needed.width())
                           .arg(needed.height())
                           .arg(w->width())
                           .arg(w->height());
    }
    return clipped;
}

// Rows of the Listing list shown whole.
int WholeRows(QTreeView* list) {
    int rows = 0;
    for (int r = 0; r < list->model()->rowCount(); ++r)
        if (list->viewport()->rect().contains(list->visualRect(list->model()->index(r, 0))))
            ++rows;
    return rows;
}

enum class Window {
    Main,
    MainDetailsHidden,
    MainFontChanged,
    EditorNew,
    EditorEdit,
    About,
    Registry,
    Summary
};

struct FontCase {
    const char* name;
    Window window;
    double points;
};

class FontLayout : public MainWindowFixture, public ::testing::WithParamInterface<FontCase> {
  protected:
    void SetUp() override {
        original_ = QApplication::font();
        // The design's font size first, for the rows it shows.
        setPoints(8);
        MainWindowFixture::SetUp();
        addRows(40);
        window->show();
        rowsAtDesign_ = WholeRows(list());
        setPoints(GetParam().points);
        doc().setListModified(false);
        window = std::make_unique<MainWindow>(dialogs);
        addRows(40);
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        QApplication::setFont(original_);
    }
    static void setPoints(double points) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
    // Checks every page of the window's tabs, if it has some.
    void expectNothingClipped(QWidget* w) {
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        auto* tabs = w->findChild<QTabWidget*>();
        for (int page = 0; page < (tabs ? tabs->count() : 1); ++page) {
            if (tabs)
                tabs->setCurrentIndex(page);
            const QStringList clipped = Clipped(w);
            EXPECT_TRUE(clipped.isEmpty()) << "page " << page << ":\n"
                                           << clipped.join(QLatin1Char('\n')).toStdString();
        }
    }
    QFont original_;
    int rowsAtDesign_ = 0;
};

TEST_P(FontLayout, NothingIsClipped) {
    switch (GetParam().window) {
        case Window::Main:
            expectNothingClipped(window.get());
            // As many Listings show as the design shows at the font it was made for.
            EXPECT_GE(WholeRows(list()), rowsAtDesign_);
            break;
        case Window::MainDetailsHidden:
            button("Command4")->click();
            expectNothingClipped(window.get());
            break;
        case Window::MainFontChanged: {
            // The desktop's font changes while the program runs.
            setPoints(8);
            window = std::make_unique<MainWindow>(dialogs);
            window->show();
            const QSize before = window->minimumSize();
            setPoints(GetParam().points);
            QCoreApplication::processEvents();
            expectNothingClipped(window.get());
            EXPECT_EQ(window->minimumSize().width() > before.width(), GetParam().points > 8);
            break;
        }
        case Window::EditorNew:
        case Window::EditorEdit: {
            const int index = GetParam().window == Window::EditorNew ? -1 : 1;
            ListingEditor editor(doc(), host(), index, window.get());
            expectNothingClipped(&editor);
            break;
        }
        case Window::About: {
            AboutWindow about(window.get());
            expectNothingClipped(&about);
            break;
        }
        case Window::Registry: {
            RegistryExport registry(host(), window.get());
            expectNothingClipped(&registry);
            break;
        }
        case Window::Summary: {
            SummaryWindow summary(host());
            summary.showSummary({QByteArray("Copy failed: /home/ann/Photos/a.jpg")}, 12,
                                QStringLiteral("Destination folder: /media/backup"));
            expectNothingClipped(&summary);
            break;
        }
    }
}

std::vector<FontCase> Cases() {
    const std::pair<const char*, Window> windows[] = {
        {"main", Window::Main},
        {"main_details_hidden", Window::MainDetailsHidden},
        {"main_font_changed", Window::MainFontChanged},
        {"editor_new", Window::EditorNew},
        {"editor_edit", Window::EditorEdit},
        {"about", Window::About},
        {"registry", Window::Registry},
        {"summary", Window::Summary}};
    static std::list<std::string> names;
    std::vector<FontCase> cases;
    for (const double points : {8.0, 9.0, 11.0, 12.0})
        for (const auto& [name, kind] : windows) {
            names.push_back(std::string(name) + "_" + std::to_string(int(points)) + "pt");
            cases.push_back({names.back().c_str(), kind, points});
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, FontLayout, ::testing::ValuesIn(Cases()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
