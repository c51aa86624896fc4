#include "app/monitor_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "app/autostart.h"
#include "widgets/fixed_layout.h"
#include "widgets/message_boxes.h"

namespace tandrel {

MonitorSettingsDialog::MonitorSettingsDialog(std::filesystem::path configPath, QWidget* parent)
    : QDialog(parent), configPath_(std::move(configPath)) {
    setWindowTitle(QStringLiteral("监测设置"));
    setFixedSize(kWidth, kHeight);

    Place(new QLabel(QStringLiteral("监测方式"), this), "标签_监测方式", {12, 16, 100, 20});
    kindBox_ = Place(new QComboBox(this), "组合框_监测方式", {120, 12, 248, 26});
    kindBox_->addItem(QStringLiteral("逐单（默认）"), static_cast<int>(ScheduleKind::OrderByOrder));
    kindBox_->addItem(QStringLiteral("快速"), static_cast<int>(ScheduleKind::Fast));
    Place(new QLabel(QStringLiteral("同时监测店铺数"), this), "标签_同时监测店铺数", {12, 50, 100, 20});
    storesBox_ = Place(new QSpinBox(this), "编辑框_同时监测店铺数", {120, 46, 80, 26});
    storesBox_->setRange(1, ScheduleSettings::kMaxStoresAtOnce);
    autostartBox_ = Place(new QCheckBox(QStringLiteral("开机自动启动并开始监测"), this),
                          "选择框_开机自动启动", {12, 82, 356, 22});
    noteLabel_ = Place(new QLabel(this), "标签_说明", {12, 110, 356, 80});
    noteLabel_->setWordWrap(true);
    noteLabel_->setText(QStringLiteral(
        "快速：每个店铺约每个监测间隔读一次订单列表，新开团约1秒内提示；每个间隔最多发2个请求。"
        "逐单：逐个订单检查，店铺和订单多时较慢。下次开始监测时生效。"));
    saveButton_ = Place(new QPushButton(QStringLiteral("保存"), this), "按钮_保存", {192, 200, 84, 32});
    auto* cancel = Place(new QPushButton(QStringLiteral("取消"), this), "按钮_取消", {284, 200, 84, 32});
    saveButton_->setDefault(true);
    connect(saveButton_, &QPushButton::clicked, this, &MonitorSettingsDialog::OnSave);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    const ScheduleSettings s = LoadScheduleSettings(ProfileFile(configPath_));
    kindBox_->setCurrentIndex(s.kind == ScheduleKind::Fast ? 1 : 0);
    storesBox_->setValue(s.storesAtOnce);
    autostartBox_->setChecked(AutostartEnabled());
    if (!AutostartAvailable()) {
        autostartBox_->setEnabled(false);
        autostartBox_->setToolTip(QStringLiteral("演示模式使用临时文件夹，不能设置开机自动启动"));
    }
}

MonitorSettingsDialog::~MonitorSettingsDialog() {
    autostartThread_.join();
}

ScheduleSettings MonitorSettingsDialog::Edited() const {
    return {.kind = static_cast<ScheduleKind>(kindBox_->currentData().toInt()),
            .storesAtOnce = storesBox_->value()};
}

void MonitorSettingsDialog::OnSave() {
    if (!SaveScheduleSettings(ProfileFile(configPath_), Edited())) {
        noteLabel_->setText(QStringLiteral("无法写入 Config.ini，设置未保存"));
        return;
    }
    const bool on = autostartBox_->isChecked();
    if (on == AutostartEnabled() || autostartThread_.joinable()) return accept();
    // A file or registry write, off the window's thread; 保存 waits for it.
    saveButton_->setEnabled(false);
    autostartThread_.Start([this, on] {
        const QString failure = QString::fromStdString(SetAutostart(on));
        QMetaObject::invokeMethod(
            this, [this, failure] { OnAutostartApplied(failure); }, Qt::QueuedConnection);
    });
}

void MonitorSettingsDialog::OnAutostartApplied(const QString& failure) {
    autostartThread_.join();
    saveButton_->setEnabled(true);
    if (failure.isEmpty()) {
        emit autostartApplied(failure);
        return accept();
    }
    // The box shows what is registered after all.
    autostartBox_->setChecked(AutostartEnabled());
    MessageBoxes::Show(this, QMessageBox::Warning, QStringLiteral("开机自动启动设置失败：") + failure);
    emit autostartApplied(failure);
}

}  // namespace tandrel
