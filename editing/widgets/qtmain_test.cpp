// The widget tests need a widget application; the dialog's style sheets come from the style bundle.
#include "manager/resources/resources.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    registerStyleBundle();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
