// Core tests: an event loop without windows.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>

int main(int argc, char** argv) {
    // Windows keeps native settings in the registry, which every test of a
    // Wine prefix shares; files let each fixture keep its own.
#ifdef Q_OS_WIN
    QSettings::setDefaultFormat(QSettings::IniFormat);
#endif
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
