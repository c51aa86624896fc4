#pragma once
// The dialog "提醒设置": the robot (kind, address, secret), the desktop notification and the history switch
// of Config.ini's section "提醒", with a test message whose answer the dialog shows. The test is posted from
// a thread of its own; closing the dialog abandons it.

#include <QDialog>
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

namespace tandrel {

class NotifySettingsDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 470;
    static constexpr int kHeight = 318;

    // onSaved runs after the section has been written (the notifier re-reads it).
    NotifySettingsDialog(std::filesystem::path configPath, std::function<void()> onSaved, QWidget* parent);
    ~NotifySettingsDialog() override;

    // What the controls say now (GBK texts, as stored).
    NotifySettings Edited() const;

  signals:
    // The test message's answer has been shown (for tests).
    void testAnswered(bool ok);

  private:
    void Fill(const NotifySettings& settings);
    void OnKindChanged();
    void OnSendTest();
    void OnSave();
    // A problem with the address as typed, or empty when it can be used (UTF-8).
    QString AddressProblem() const;

    std::filesystem::path configPath_;
    std::function<void()> onSaved_;
    QComboBox* kindBox_ = nullptr;
    QLineEdit* addressEdit_ = nullptr;
    QLineEdit* secretEdit_ = nullptr;
    QCheckBox* desktopBox_ = nullptr;
    QCheckBox* historyBox_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPlainTextEdit* answerBox_ = nullptr;

    std::shared_ptr<std::atomic<bool>> cancel_ = std::make_shared<std::atomic<bool>>(false);
    std::thread testThread_;
};

}  // namespace tandrel
