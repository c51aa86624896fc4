// The main window's ways to the dialogs and windows beside it: the tray and its menu, the log's menu, the
// status bar's buttons, the reminder and monitoring settings, the history; and the update log's text.
#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>

#include "app/main_window.h"
#include "app/monitor_settings_dialog.h"
#include "app/status_bar_widget.h"
#include "notify/history_window.h"
#include "notify/notify_settings_dialog.h"

namespace tandrel {
namespace {

// A dialog or window that is open already comes to the front instead of opening twice.
bool RaiseIfOpen(QWidget* open) {
    if (!open) return false;
    open->raise();
    open->activateWindow();
    return true;
}

}  // namespace

QStringList MainWindow::ReleaseNotes() {
    return {
        QStringLiteral("更新日志："),
        QString(),
        QStringLiteral("V1.3.0 更新时间：2018.6.1"),
        QStringLiteral("1.修复登录提示验证码错误的问题;"),
        QStringLiteral("2.增加声音对换功能;"),
        QStringLiteral("最后祝大家儿童节快乐~"),
        QString(),
        QStringLiteral("V1.2.3 更新时间：2017.1.4"),
        QStringLiteral("1.新增列表鼠标右键-导出选中商品ID功能;"),
        QStringLiteral("2.修复部分团剩余时间为负数的问题;"),
        QString(),
        QStringLiteral("V1.2.2 更新时间：2017.12.31"),
        QStringLiteral("1.新增新团老团使用不同的提示音功能;"),
        QStringLiteral("2.新增列表鼠标右键-导出全部商品ID功能;"),
        QStringLiteral("【Vorlix】祝大家元旦快乐！新年全都发大财~"),
        QString(),
        QStringLiteral("V1.2.1 更新时间：2017.12.29"),
        QStringLiteral("1.修复定时重扫到时间后反复扫的问题;"),
        QStringLiteral("2.新增列表鼠标右键-复制商品ID功能;"),
        QString(),
        QStringLiteral("V1.2.0 更新时间：2017.12.14"),
        QStringLiteral("新增定时重扫功能"),
        QStringLiteral("每隔一段时间可以自动重新扫描老团，更新最新的剩余时间"),
        QString(),
        QStringLiteral("V1.1.9 更新时间：2017.12.13"),
        QStringLiteral("新增排序功能；"),
        QStringLiteral("点击店铺名、商品ID、开团账号、开团订单号、剩余时间都可以自动排序！"),
    };
}

void MainWindow::WireReminders() {
    tray_ = std::make_unique<TrayWindow>(windowIcon(), QStringLiteral("Tandrel"));
    connect(&core_->reminders(), &Notifier::desktopBatch, this, &MainWindow::ShowDesktopBatch);
    connect(tray_.get(), &TrayWindow::showRequested, this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    // Queued: the cycle runs inside the handler that starts it, and a menu's handler should return first.
    connect(tray_.get(), &TrayWindow::startRequested, this, &MainWindow::StartMonitoring,
            Qt::QueuedConnection);
    connect(tray_.get(), &TrayWindow::stopRequested, this, [this] { core_->StopMonitoring(); });
    connect(tray_.get(), &TrayWindow::settingsRequested, this, &MainWindow::OpenReminderSettings);
    connect(tray_.get(), &TrayWindow::monitorSettingsRequested, this, &MainWindow::OpenMonitorSettings);
    connect(tray_.get(), &TrayWindow::historyRequested, this, &MainWindow::OpenHistory);
    // The dialogs are also in plain sight, at the status bar's right end.
    connect(statusBar_->AddButton(QStringLiteral("提醒设置"), "按钮_提醒设置"), &QPushButton::clicked, this,
            &MainWindow::OpenReminderSettings);
    connect(statusBar_->AddButton(QStringLiteral("历史记录"), "按钮_历史记录"), &QPushButton::clicked, this,
            &MainWindow::OpenHistory);
    connect(tray_.get(), &TrayWindow::quitRequested, this, &QWidget::close);

    // The log's own right-click menu gains the dialog; no control of the window moves for it.
    log_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(log_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        std::unique_ptr<QMenu> menu(log_->createStandardContextMenu());
        menu->addSeparator();
        QAction* onlyNews = menu->addAction(QStringLiteral("只显示新团和提示"));
        onlyNews->setCheckable(true);
        onlyNews->setChecked(logOnlyNews_);
        connect(onlyNews, &QAction::toggled, this, &MainWindow::SetLogShowsOnlyNews);
        connect(menu->addAction(QStringLiteral("提醒设置…")), &QAction::triggered, this,
                &MainWindow::OpenReminderSettings);
        connect(menu->addAction(QStringLiteral("监测设置…")), &QAction::triggered, this,
                &MainWindow::OpenMonitorSettings);
        menu->exec(log_->mapToGlobal(pos));
    });
    auto* shortcut = new QShortcut(QKeySequence(QStringLiteral("Ctrl+,")), this);
    connect(shortcut, &QShortcut::activated, this, &MainWindow::OpenReminderSettings);
}

void MainWindow::OpenReminderSettings() {
    if (RaiseIfOpen(findChild<NotifySettingsDialog*>())) return;
    auto* dialog = new NotifySettingsDialog(
        core_->dataDir() / "Config.ini", [this] { core_->reminders().Reload(); }, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::OpenHistory() {
    if (auto* open = findChild<HistoryWindow*>()) {
        open->Reload();
        RaiseIfOpen(open);
        return;
    }
    auto* window = new HistoryWindow(core_->dataDir(), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

void MainWindow::OpenMonitorSettings() {
    if (RaiseIfOpen(findChild<MonitorSettingsDialog*>())) return;
    auto* dialog = new MonitorSettingsDialog(core_->dataDir() / "Config.ini", this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::ShowDesktopBatch(const QString& title, const QString& text) {
    // The merchant at the window sees the list and hears the sound; the notification is for when they are
    // not.
    if (isActiveWindow()) return;
    tray_->ShowBatch(title, text);
}

}  // namespace tandrel
