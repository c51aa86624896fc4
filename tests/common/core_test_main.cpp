// The main() of tests whose code needs a Qt event loop but no window (tandrel_add_test ... QT_CORE_APP).
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
