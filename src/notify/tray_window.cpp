#include "notify/tray_window.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace tandrel {

TrayWindow::TrayWindow(const QIcon& icon, const QString& toolTip, QObject* parent) : QObject(parent) {
    menu_ = new QMenu;
    menu_->setObjectName(QStringLiteral("菜单_托盘"));
    connect(menu_->addAction(QStringLiteral("显示主窗口")), &QAction::triggered, this,
            &TrayWindow::showRequested);
    start_ = menu_->addAction(QStringLiteral("开始监测"));
    stop_ = menu_->addAction(QStringLiteral("停止监测"));
    menu_->addSeparator();
    connect(menu_->addAction(QStringLiteral("提醒设置…")), &QAction::triggered, this,
            &TrayWindow::settingsRequested);
    connect(menu_->addAction(QStringLiteral("监测设置…")), &QAction::triggered, this,
            &TrayWindow::monitorSettingsRequested);
    connect(menu_->addAction(QStringLiteral("历史记录")), &QAction::triggered, this,
            &TrayWindow::historyRequested);
    connect(menu_->addAction(QStringLiteral("退出")), &QAction::triggered, this, &TrayWindow::quitRequested);
    connect(start_, &QAction::triggered, this, &TrayWindow::startRequested);
    connect(stop_, &QAction::triggered, this, &TrayWindow::stopRequested);
    SetMonitoring(false);

    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(icon, this);
    tray_->setObjectName(QStringLiteral("托盘图标"));
    tray_->setToolTip(toolTip);
    tray_->setContextMenu(menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showRequested();
    });
    connect(tray_, &QSystemTrayIcon::messageClicked, this, &TrayWindow::showRequested);
    tray_->show();
}

TrayWindow::~TrayWindow() {
    delete tray_;
    tray_ = nullptr;
    delete menu_;  // a menu has no parent object here: a QWidget cannot be the child of a plain QObject
}

bool TrayWindow::ShowBatch(const QString& title, const QString& text) {
    if (!tray_ || !tray_->isVisible()) return false;
    tray_->showMessage(title, text, tray_->icon(), 10000);
    return true;
}

void TrayWindow::SetMonitoring(bool running) {
    running_ = running;
    start_->setEnabled(!running_ && startAllowed_);
    stop_->setEnabled(running_);
}

void TrayWindow::SetStartAllowed(bool allowed) {
    startAllowed_ = allowed;
    SetMonitoring(running_);
}

}  // namespace tandrel
