#include "app/monitor_settings_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>

#include "../common/temp_dir.h"
#include "support/text.h"

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

}  // namespace
}  // namespace tandrel
