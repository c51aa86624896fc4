// The main() of the program's window tests (tandrel_add_test ... WINDOW_APP): the windows need a
// QApplication and the program's resources.
#include <gtest/gtest.h>

#include <QApplication>

#include "assets/assets.h"
#include "widgets/message_boxes.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tandrel::InitAssets();
    // No dialog ever waits for a click here: unanswered boxes take their default button.
    tandrel::MessageBoxes::SetUnattended(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
