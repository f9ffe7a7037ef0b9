// The window tests need a widget application; the web view wants OpenGL contexts shared before
// the application object exists.
#include "manager/resources/resources.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    registerBuiltinResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
