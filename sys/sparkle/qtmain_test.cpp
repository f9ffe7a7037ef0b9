// The tests need an application object with widgets: checks with a user interface show a dialog.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Solvane Manager"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0.229"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
