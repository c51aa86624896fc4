// Pictures for the README of what a merchant sees at the desk: the store list with a failing store and its
// reason, the history window, a message box with Qt's own buttons in Chinese, and the passphrase dialog of
// 导出店铺备份… with a passphrase typed twice that does not match yet, and 监测设置 with its login-start box.
//   desk_screenshots OUTDIR
// Run it with a display (xvfb-run -a does). It plays the demo's market, in which one store's session runs out
// and its password no longer works, as when the merchant changed it on the back end.
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <iostream>

#include "app/autostart.h"
#include "app/demo.h"
#include "app/gui_main.h"
#include "app/main_window.h"
#include "app/monitor_settings_dialog.h"
#include "monitor/schedule_settings.h"
#include "notify/history_window.h"
#include "settings/settings.h"
#include "sim/marketplace_sim.h"
#include "stores/backup_passphrase_dialog.h"
#include "stores/store_file.h"
#include "stores/store_list.h"
#include "support/qt_text.h"
#include "widgets/message_boxes.h"

namespace {

void Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The failing store's row, or -1.
int FailingRow(tandrel::MainWindow& window) {
    for (int row = 0; row < window.stores().rowCount(); ++row)
        if (window.stores().Cell(row, tandrel::StoreTableModel::kState) == tandrel::StoreStateFailing())
            return row;
    return -1;
}

bool Save(const QPixmap& picture, const QString& path) {
    if (picture.isNull() || !picture.save(path)) {
        std::cerr << "desk_screenshots: could not write " << path.toStdString() << '\n';
        return false;
    }
    std::cout << path.toStdString() << '\n';
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: desk_screenshots OUTDIR\n";
        return 2;
    }
    QApplication app(argc, argv);
    tandrel::ApplySkin(app);
    tandrel::InstallQtChinese(app);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir folder;
    const std::filesystem::path dataDir = tandrel::PathFromQString(folder.path());
    tandrel::DemoMarket market;
    if (!market.SeedStores(dataDir, std::cerr)) return 1;
    // The default schedule, which marks a failing store in the list (the demo's own turns on 快速).
    {
        tandrel::SettingsFile settings(dataDir / "Config.ini", nullptr);
        tandrel::SaveScheduleSettings(settings.file(), {.kind = tandrel::ScheduleKind::OrderByOrder});
    }
    market.StartStepping(std::chrono::milliseconds(600));
    tandrel::MainWindow window(dataDir, market.endpoints());
    QObject::connect(
        &window, &tandrel::MainWindow::storeListLoaded, &window,
        [&window, &market](int) {
            // After a few good passes: 山间茶舍's session runs out and the stored password is refused from
            // now on (changed on the back end), so monitoring finds it failing, with its last good read.
            QTimer::singleShot(3000, &window, [&market] {
                market.sim().ExpireSessions("880002");
                market.sim().AddStore({.account = "demo_tea",
                                       .password = "changed-on-the-back-end",
                                       .mallId = "880002",
                                       .mallName = "山间茶舍",
                                       .mobile = "138****0000"});
            });
            window.StartMonitoring();
        },
        Qt::QueuedConnection);
    window.move(0, 0);
    window.show();

    int status = 1;
    QTimer::singleShot(8000, &window, [&] {
        // The export's passphrase, the second one mistyped: 确定 stays off and the line says why.
        tandrel::BackupPassphraseDialog passphrase(tandrel::BackupPassphraseDialog::Purpose::Export,
                                                   QStringLiteral("/home/merchant/文档/店铺备份.tbak"),
                                                   &window);
        passphrase.findChild<QLineEdit*>(QStringLiteral("编辑框_备份口令"))
            ->setText(QStringLiteral("春天的茶园2024"));
        passphrase.findChild<QLineEdit*>(QStringLiteral("编辑框_确认口令"))
            ->setText(QStringLiteral("春天的茶园2023"));
        passphrase.show();
        Pump(500);
        const bool dialogSaved = Save(passphrase.grab(), out + "/backup_dialog.png");
        passphrase.hide();
        // As an installed copy shows it (the demo's temporary folder cannot be registered): read, not
        // written.
        tandrel::SetAutostartDataFolder(dataDir, false);
        tandrel::MonitorSettingsDialog settings(dataDir / "Config.ini", &window);
        settings.show();
        Pump(500);
        const bool settingsSaved = Save(settings.grab(), out + "/monitor_settings_dialog.png");
        settings.hide();

        const int row = FailingRow(window);
        if (row < 0) {
            std::cerr << "desk_screenshots: no store shows the failing state\n";
            window.close();
            return app.exit(1);
        }
        // The store list with the failing store's reason in its tooltip.
        auto* stores = window.findChild<QTableView*>(QStringLiteral("超级列表框_店铺列表"));
        const QModelIndex state = stores->model()->index(row, tandrel::StoreTableModel::kState);
        const QRect cell = stores->visualRect(state);
        // Where the pointer rests on the state cell's text, so the tooltip opens below it within the list.
        const QPoint at = stores->viewport()->mapToGlobal(QPoint(cell.left() + 20, cell.center().y()));
        QToolTip::showText(at, stores->model()->data(state, Qt::ToolTipRole).toString(), stores->viewport());
        Pump(700);
        // The list, and the tooltip where it reaches past the list's right edge.
        const QRect area(stores->mapToGlobal(QPoint(0, 0)), stores->size());
        const int right = std::max(area.right(), QToolTip::isVisible() ? at.x() + 420 : 0);
        bool saved = Save(
            QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), right - area.x() + 1, 150),
            out + "/store_list_failing.png");
        QToolTip::hideText();

        // The history window over what the demo has reported so far.
        window.OpenHistory();
        Pump(700);
        auto* history = window.findChild<tandrel::HistoryWindow*>();
        if (!history || history->table()->rowCount() == 0) {
            std::cerr << "desk_screenshots: the history window is empty\n";
            saved = false;
        } else {
            saved = Save(history->grab(), out + "/history_window.png") && saved;
            history->close();
        }

        // The box 移出店铺 asks first, with Qt's buttons in Chinese.
        const auto box =
            tandrel::MessageBoxes::Build(&window, QMessageBox::Warning, tandrel::MessageBoxes::Title(),
                                         QStringLiteral("您正在移出店铺，确定要移出吗？"),
                                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton);
        box->show();
        Pump(500);
        saved = Save(box->grab(), out + "/message_box_chinese.png") && saved;
        box->hide();

        status = saved && dialogSaved && settingsSaved ? 0 : 1;
        // Closing the window stops monitoring first, which returns from the start.
        window.close();
        app.exit(status);
    });
    app.exec();
    return status;
}
