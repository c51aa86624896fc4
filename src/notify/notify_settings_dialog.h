#pragma once
// The dialog "提醒设置": up to three robots (kind, address, key; each with its own test message, whose answer
// the dialog shows), the watch's own notices (a failing store's minutes, the heartbeat, the daily summary),
// the desktop notification and the history switch of Config.ini's section "提醒". The
// kinds, their captions and what their key field means come from the robot kinds' table. Each test is posted
// from a thread of its own; closing the dialog abandons them.

#include <QDialog>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "notify/notify_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace tandrel {

class NotifySettingsDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 470;
    static constexpr int kHeight = 588;

    // onSaved runs after the section has been written (the notifier re-reads it).
    NotifySettingsDialog(std::filesystem::path configPath, std::function<void()> onSaved, QWidget* parent);
    ~NotifySettingsDialog() override;

    // What the controls say now (GBK texts, as stored).
    NotifySettings Edited() const;

  signals:
    // A test message's answer has been shown (for tests); robot counts from 0.
    void testAnswered(bool ok);
    void robotTestAnswered(int robot, bool ok);

  private:
    struct RobotControls {
        QComboBox* kind = nullptr;
        QLineEdit* address = nullptr;
        QLineEdit* secret = nullptr;
        QPushButton* test = nullptr;
        std::thread thread;
    };

    void Fill(const NotifySettings& settings);
    void OnKindChanged(std::size_t robot);
    void OnSendTest(std::size_t robot);
    void OnSave();
    RobotKind KindOf(std::size_t robot) const;
    // A problem with a robot as typed, or empty when it can be used (UTF-8).
    QString RobotProblem(std::size_t robot) const;

    std::filesystem::path configPath_;
    std::function<void()> onSaved_;
    std::array<RobotControls, NotifySettings::kRobots> robots_;
    QCheckBox* desktopBox_ = nullptr;
    QCheckBox* historyBox_ = nullptr;
    QPlainTextEdit* answerBox_ = nullptr;
    QSpinBox* storeAlertBox_ = nullptr;
    QSpinBox* heartbeatBox_ = nullptr;
    QComboBox* summaryBox_ = nullptr;
    QLineEdit* heartbeatAddress_ = nullptr;

    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tandrel
