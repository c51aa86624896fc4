// The store backup from the store list's menu: export, then import into a list that lost a store, while
// monitoring runs; a wrong passphrase changes nothing.
#include <QDir>

#include "main_window_fixture.h"
#include "stores/store_backup.h"
#include "support/qt_text.h"

namespace tandrel {
namespace {

class MainWindowBackupTest : public MainWindowSimTest {
  protected:
    MainWindowOptions BackupOptions() {
        auto options = Options();
        options.initInterval = 1ms;
        options.backupFile = [this](bool) { return PathToQString(dir_ / "备份 1.tbak"); };
        options.backupPassphrase = [this](bool) { return passphrase_; };
        return options;
    }
    // Right-clicks the store list at pos (viewport coordinates) and chooses the item `choice` (none when
    // null); the menu's items come back.
    QStringList Choose(const QPoint& pos, const char* choice) {
        auto* list = Control<QTableView>("超级列表框_店铺列表");
        QStringList items;
        QTimer::singleShot(0, window_.get(), [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions())
                if (!action->isSeparator()) items << action->text();
            for (QAction* action : menu->actions())
                if (choice && action->text() == Q(choice)) action->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(list->viewport(), &event);
        return items;
    }
    // Chooses a backup entry below the rows and waits for its outcome, which comes back.
    QString RunBackup(const char* choice) {
        QSignalSpy finished(window_.get(), &MainWindow::backupFinished);
        MessageBoxes::ClearRecorded();
        auto* list = Control<QTableView>("超级列表框_店铺列表");
        Choose({40, list->viewport()->height() - 10}, choice);
        EXPECT_TRUE(finished.wait(20000)) << choice;
        return RecordedTexts().empty() ? QString() : RecordedTexts().back();
    }
    std::vector<std::string> ListedIds() {
        std::vector<std::string> ids;
        for (int row = 0; row < window_->stores().rowCount(); ++row)
            ids.push_back(window_->stores().Cell(row, StoreTableModel::kStoreId));
        return ids;
    }

    QString passphrase_ = Q("口令 passphrase");
};

TEST_F(MainWindowBackupTest, TheMenuOffersTheBackupOnRowsAndBelowThem) {
    Open(BackupOptions());
    QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
    ASSERT_TRUE(loaded.wait(10000));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    auto* list = Control<QTableView>("超级列表框_店铺列表");
    const QStringList onRow = Choose(list->visualRect(list->model()->index(0, 1)).center(), nullptr);
    ASSERT_GE(onRow.size(), 2);
    EXPECT_EQ(onRow.mid(onRow.size() - 2), QStringList({Q("导出店铺备份…"), Q("导入店铺备份…")}));
    EXPECT_EQ(Choose({40, list->viewport()->height() - 10}, nullptr),
              QStringList({Q("导出店铺备份…"), Q("导入店铺备份…")}));
}

TEST_F(MainWindowBackupTest, ARoundTripWhileMonitoringRunsAndAWrongPassphraseChangesNothing) {
    Open(BackupOptions());
    QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
    ASSERT_TRUE(loaded.wait(10000));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    ASSERT_EQ(ListedIds(), (std::vector<std::string>{"11", "22"}));

    EXPECT_EQ(RunBackup("导出店铺备份…").section(u'\n', 0, 1),
              Q("已导出 2 个店铺到：\n") + QDir::toNativeSeparators(PathToQString(dir_ / "备份 1.tbak")));
    std::string sealed;
    ASSERT_EQ(ReadWholeFile(dir_ / "备份 1.tbak", sealed, kBackupMaxBytes), ReadStatus::Ok);

    // A store leaves; monitoring runs on through the imports.
    ASSERT_TRUE(window_->core().RemoveStore("22").ok());
    Type("编辑框_监测间隔", "50");
    Control<QPushButton>("按钮_开始监测")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->cycle().running(); }, 5000));
    ASSERT_EQ(ListedIds(), std::vector<std::string>{"11"});

    passphrase_ = Q("口令 passphrasE");
    const QString refused = RunBackup("导入店铺备份…");
    EXPECT_TRUE(refused.startsWith(Q("导入失败："))) << refused.toStdString();
    EXPECT_TRUE(refused.contains(Q("口令不对"))) << refused.toStdString();
    EXPECT_EQ(ListedIds(), std::vector<std::string>{"11"});
    std::vector<StoreRecord> records;
    ASSERT_TRUE(window_->storeFile().ReadAll(records).ok());
    EXPECT_EQ(records.size(), 1u);

    passphrase_ = Q("口令 passphrase");
    EXPECT_EQ(RunBackup("导入店铺备份…"), Q("已导入 2 个店铺（新增 1 个，更新 1 个）"));
    EXPECT_EQ(ListedIds(), (std::vector<std::string>{"11", "22"}));
    EXPECT_TRUE(window_->cycle().running());
    EXPECT_TRUE(window_->core().monitoring());
    ASSERT_TRUE(window_->storeFile().ReadAll(records).ok());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].storeId, "22");
    EXPECT_EQ(records[1].password, "p2");

    // A damaged file is refused alike.
    sealed[sealed.size() / 2] ^= 1;
    ASSERT_TRUE(WriteFileAtomically(dir_ / "备份 1.tbak", sealed));
    ASSERT_TRUE(window_->core().RemoveStore("22").ok());
    EXPECT_TRUE(RunBackup("导入店铺备份…").startsWith(Q("导入失败：")));
    EXPECT_EQ(ListedIds(), std::vector<std::string>{"11"});
    EXPECT_TRUE(window_->cycle().running());
    window_->core().StopMonitoring();
}

TEST_F(MainWindowBackupTest, ClosingDuringABackupWaitsForItAndThenCloses) {
    Open(BackupOptions());
    QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
    ASSERT_TRUE(loaded.wait(10000));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    QSignalSpy finished(window_.get(), &MainWindow::backupFinished);
    MessageBoxes::ClearRecorded();
    window_->ExportStores();
    ASSERT_TRUE(window_->backupRunning());
    EXPECT_EQ(window_->cursor().shape(), Qt::BusyCursor);
    window_->close();
    EXPECT_TRUE(window_->isVisible());  // not before the file is complete
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->isVisible(); }, 2000));
    EXPECT_TRUE(RecordedTexts().empty());
    EXPECT_NE(window_->cursor().shape(), Qt::BusyCursor);
    BackupCounts counts;
    std::filesystem::create_directories(dir_ / "other");
    EnsureWorkDirs(dir_ / "other");
    StoreFile other(dir_ / "other");
    EXPECT_EQ(ImportStoreBackup(other, dir_ / "备份 1.tbak", "口令 passphrase", counts), "");
    EXPECT_EQ(counts.added, 2);
}

}  // namespace
}  // namespace tandrel
