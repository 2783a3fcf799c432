// Window tests: a real QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // Windows keeps native settings in the registry, which every test of a
    // Wine prefix shares; files let each fixture keep its own.
#ifdef Q_OS_WIN
    QSettings::setDefaultFormat(QSettings::IniFormat);
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
