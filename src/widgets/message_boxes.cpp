#include "widgets/message_boxes.h"

#include <deque>

#include "support/qt_text.h"

namespace tandrel {
namespace {

// GUI thread only, like the boxes themselves.
struct TestAnswers {
    std::deque<QMessageBox::StandardButton> queued;
    bool unattended = false;
    std::vector<MessageBoxes::Shown> recorded;
};

TestAnswers& Answers() {
    static TestAnswers answers;
    return answers;
}

QMessageBox::StandardButton FirstOf(QMessageBox::StandardButtons buttons) {
    for (unsigned bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1)
        if (buttons.testFlag(static_cast<QMessageBox::StandardButton>(bit)))
            return static_cast<QMessageBox::StandardButton>(bit);
    return QMessageBox::NoButton;
}

}  // namespace

QString MessageBoxes::Title() {
    return QStringLiteral("提示");
}

QMessageBox::StandardButton MessageBoxes::Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton) {
    return ShowTitled(parent, icon, Title(), text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBoxes::ShowTitled(QWidget* parent, QMessageBox::Icon icon,
                                                     const QString& title, const QString& text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton) {
    if (defaultButton == QMessageBox::NoButton) defaultButton = FirstOf(buttons);
    TestAnswers& answers = Answers();
    if (!answers.queued.empty() || answers.unattended) {
        QMessageBox::StandardButton answer = defaultButton;
        if (!answers.queued.empty()) {
            answer = answers.queued.front();
            answers.queued.pop_front();
        }
        answers.recorded.push_back({icon, text, buttons, answer, title, parent});
        return answer;
    }
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);  // texts may quote a server's answer: shown, never rendered
    box.setDefaultButton(defaultButton);
    const int result = box.exec();
    return static_cast<QMessageBox::StandardButton>(result);
}

void MessageBoxes::Show(QWidget* parent, MessageIcon icon, const std::string& gbkText) {
    Show(parent, icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
         FromGbk(gbkText));
}

void MessageBoxes::SetNextAnswer(QMessageBox::StandardButton answer) {
    Answers().queued.push_back(answer);
}

void MessageBoxes::SetUnattended(bool on) {
    Answers().unattended = on;
}

const std::vector<MessageBoxes::Shown>& MessageBoxes::Recorded() {
    return Answers().recorded;
}

void MessageBoxes::ClearRecorded() {
    Answers().recorded.clear();
    Answers().queued.clear();
}

}  // namespace tandrel
