#include "widgets/message_boxes.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
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
    const std::unique_ptr<QMessageBox> box = Build(parent, icon, title, text, buttons, defaultButton);
    const int result = box->exec();
    return static_cast<QMessageBox::StandardButton>(result);
}

QMessageBox* MessageBoxes::Open(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                const QString& text) {
    TestAnswers& answers = Answers();
    if (!answers.queued.empty() || answers.unattended) {
        ShowTitled(parent, icon, title, text);
        return nullptr;
    }
    QMessageBox* box = Build(parent, icon, title, text, QMessageBox::Ok, QMessageBox::Ok).release();
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    return box;
}

std::unique_ptr<QMessageBox> MessageBoxes::Build(QWidget* parent, QMessageBox::Icon icon,
                                                 const QString& title, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton) {
    auto box = std::make_unique<QMessageBox>(icon, title, text, buttons, parent);
    if (defaultButton == QMessageBox::NoButton) defaultButton = FirstOf(buttons);
    box->setDefaultButton(defaultButton);
    box->setTextFormat(Qt::PlainText);  // texts may quote a server's answer: shown, never rendered
    // A message box sizes itself by its text only; the caption's buttons and icon take about 120 pixels
    // besides the title. A spacer across the grid's last row keeps that width.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        const int wanted = QFontMetrics(box->font()).horizontalAdvance(title) + 120;
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    return box;
}

void OpenExternally(QWidget* owner, const QUrl& url, const std::function<void(const QUrl&)>& injected) {
    if (injected) return injected(url);
    if (QDesktopServices::openUrl(url)) return;
    const QString where = url.isLocalFile() ? url.toLocalFile() : url.toString();
    MessageBoxes::Show(owner, QMessageBox::Warning,
                       (url.isLocalFile() ? QStringLiteral("无法打开文件夹，请手动打开：\n")
                                          : QStringLiteral("无法打开浏览器，请手动打开此地址：\n")) +
                           where);
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
