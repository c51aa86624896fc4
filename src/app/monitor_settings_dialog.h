#pragma once
// The dialog "监测设置": the schedule of Config.ini's section "监测" ("逐单" or "快速") and how many stores
// the fast schedule reads at once. A change counts from the next start of monitoring.

#include <QDialog>
#include <filesystem>

#include "monitor/schedule_settings.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace tandrel {

class MonitorSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 214;

    MonitorSettingsDialog(std::filesystem::path configPath, QWidget* parent);

    ScheduleSettings Edited() const;

  private:
    void OnSave();

    std::filesystem::path configPath_;
    QComboBox* kindBox_ = nullptr;
    QSpinBox* storesBox_ = nullptr;
    QLabel* noteLabel_ = nullptr;
};

}  // namespace tandrel
