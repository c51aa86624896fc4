#pragma once
// The tray icon: the program's icon with a menu (show the window, start monitoring, stop monitoring, the
// reminder settings, the monitoring settings, the history, quit)
// and the desktop notification of a batch of reported groups. On a desktop without a tray there is no icon
// and no notification, and nothing else changes.

#include <QObject>
#include <QString>

class QAction;
class QIcon;
class QMenu;
class QSystemTrayIcon;

namespace tandrel {

class TrayWindow : public QObject {
    Q_OBJECT

  public:
    explicit TrayWindow(const QIcon& icon, const QString& toolTip, QObject* parent = nullptr);
    ~TrayWindow() override;

    bool available() const { return tray_ != nullptr; }
    // Shows a notification through the icon; false when there is no tray to show it.
    bool ShowBatch(const QString& title, const QString& text);
    void SetMonitoring(bool running);
    // False while nothing can be started yet (the stores are being checked); 开始监测 is disabled.
    void SetStartAllowed(bool allowed);

    QMenu* menu() const { return menu_; }

  signals:
    void showRequested();
    void settingsRequested();
    void historyRequested();
    void monitorSettingsRequested();
    void startRequested();
    void stopRequested();
    void quitRequested();

  private:
    QMenu* menu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QAction* start_ = nullptr;
    QAction* stop_ = nullptr;
    bool running_ = false;
    bool startAllowed_ = true;
};

}  // namespace tandrel
