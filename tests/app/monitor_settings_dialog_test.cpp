#include "app/monitor_settings_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <cstdlib>

#include "../common/temp_dir.h"
#include "app/autostart.h"
#include "support/text.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

TEST(MonitorSettingsDialog, ShowsAndSavesTheSection) {
    testing::TempDir dir;
    const ProfileFile file(dir / "Config.ini");
    ASSERT_TRUE(SaveScheduleSettings(file, {.kind = ScheduleKind::OrderByOrder, .storesAtOnce = 6}));
    MonitorSettingsDialog dialog(dir / "Config.ini", nullptr);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("监测设置"));
    auto* kind = dialog.findChild<QComboBox*>(QStringLiteral("组合框_监测方式"));
    auto* stores = dialog.findChild<QSpinBox*>(QStringLiteral("编辑框_同时监测店铺数"));
    auto* save = dialog.findChild<QPushButton*>(QStringLiteral("按钮_保存"));
    ASSERT_TRUE(kind && stores && save);
    EXPECT_EQ(kind->currentIndex(), 0);
    EXPECT_EQ(stores->value(), 6);
    EXPECT_EQ(stores->maximum(), 16);
    kind->setCurrentIndex(1);
    stores->setValue(9);
    save->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(file.Read(Utf8ToGbk("监测"), Utf8ToGbk("监测方式")), Utf8ToGbk("快速"));
    EXPECT_EQ(LoadScheduleSettings(file).storesAtOnce, 9);
}

#ifndef _WIN32
// The box shows what is registered and 保存 changes it; a refusal is said and the box shows the truth again.
TEST(MonitorSettingsDialog, TheLoginStartBoxRegistersReadsBackAndSaysAFailure) {
    testing::TempDir dir, config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    SetAutostartDataFolder(dir.path(), false);
    const auto entry = config / "autostart/tandrel.desktop";
    const auto open = [&](bool checked) {
        auto dialog = std::make_unique<MonitorSettingsDialog>(dir / "Config.ini", nullptr);
        auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("选择框_开机自动启动"));
        EXPECT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("开机自动启动并开始监测"));
        EXPECT_TRUE(box->isEnabled());
        EXPECT_EQ(box->isChecked(), checked);
        box->setChecked(!checked);
        return dialog;
    };
    const auto save = [](MonitorSettingsDialog& dialog) {
        QSignalSpy applied(&dialog, &MonitorSettingsDialog::autostartApplied);
        dialog.findChild<QPushButton*>(QStringLiteral("按钮_保存"))->click();
        EXPECT_TRUE(applied.wait(5000));
        return applied.isEmpty() ? QString() : applied.front().front().toString();
    };

    auto dialog = open(false);
    EXPECT_EQ(save(*dialog), QString());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_regular_file(entry));
    dialog = open(true);
    EXPECT_EQ(save(*dialog), QString());
    EXPECT_FALSE(std::filesystem::exists(entry));

    // A link planted at the entry's name: refused, said, the box back to what is registered.
    std::filesystem::create_symlink(dir / "theirs", entry);
    dialog = open(false);
    MessageBoxes::SetNextAnswer(QMessageBox::Ok);
    EXPECT_TRUE(save(*dialog).contains(QStringLiteral("链接")));
    ASSERT_FALSE(MessageBoxes::Recorded().empty());
    EXPECT_TRUE(MessageBoxes::Recorded().back().text.startsWith(QStringLiteral("开机自动启动设置失败：")));
    EXPECT_FALSE(dialog->findChild<QCheckBox*>(QStringLiteral("选择框_开机自动启动"))->isChecked());
    EXPECT_NE(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(std::filesystem::is_symlink(entry));
    ::unsetenv("XDG_CONFIG_HOME");
}
#endif

}  // namespace
}  // namespace tandrel
