#pragma once
// The dialog "监测设置": the schedule of Config.ini's section "监测" ("逐单" or "快速") and how many stores
// the fast schedule reads at once; a change counts from the next start of monitoring. And whether the program
// starts with the computer and monitors (autostart): the box shows what is registered, read back, and 保存
// registers or removes it on a worker; a failure is said in a box and the box shows the truth again.

#include <QDialog>
#include <filesystem>

#include "monitor/schedule_settings.h"
#include "support/pooled_thread.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QLabel;
class QSpinBox;

namespace tandrel {

class MonitorSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 242;

    MonitorSettingsDialog(std::filesystem::path configPath, QWidget* parent);
    ~MonitorSettingsDialog() override;

    ScheduleSettings Edited() const;

  signals:
    // 保存's registration has ended: failure empty, or the reason said in the box.
    void autostartApplied(const QString& failure);

  private:
    void OnSave();
    void OnAutostartApplied(const QString& failure);

    std::filesystem::path configPath_;
    QComboBox* kindBox_ = nullptr;
    QSpinBox* storesBox_ = nullptr;
    QLabel* noteLabel_ = nullptr;
    QCheckBox* autostartBox_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    PooledThread autostartThread_;
};

}  // namespace tandrel
