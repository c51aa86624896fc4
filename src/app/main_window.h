#pragma once
// The main window: it places the controls, runs the timers and wires the controls to the program's object
// graph (AppCore), which it holds. The order list, the settings controls, the status bar and the caption
// widgets are classes of their own; the window is the monitoring log and the owner of the message boxes.

#include <QMainWindow>
#include <QString>
#include <QUrl>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/picture_fetcher.h"
#include "net/endpoints.h"
#include "notify/notifier.h"
#include "notify/tray_window.h"
#include "stores/store_backup.h"
#include "support/messages.h"
#include "support/pooled_thread.h"

class QComboBox;
class QFrame;
class QMenu;
class QLabel;
class QPlainTextEdit;
class QTableView;
class QTimer;

namespace tandrel {

class LoginWindowHost;
class OrderListWidget;
class SettingsPanel;
class StatusBarWidget;

struct MainWindowOptions {
    std::chrono::milliseconds minuteInterval{60000};  // 时钟_计时
    std::chrono::milliseconds initInterval{1};        // 时钟_初始化
    std::chrono::milliseconds noticeInterval{3000};   // 时钟_显示通知
    std::chrono::milliseconds alertRepeatPause{1000};
    SoundPlayer* soundPlayer = nullptr;  // null: the window's own SdlSoundPlayer; must outlive the window
    std::function<void(const QUrl&)> openUrl;            // null: the desktop's default browser
    QString announcedVersion = QStringLiteral("1.3.1");  // the version the vendor's service announced
    // 导出店铺备份… and 导入店铺备份… ask for the backup's file and passphrase here (tests); null: the file
    // dialog and the passphrase dialog. An empty answer cancels.
    std::function<QString(bool exporting)> backupFile;
    std::function<QString(bool exporting)> backupPassphrase;
};

class MainWindow : public QMainWindow, private LogSink, private MessageSink {
    Q_OBJECT

  public:
    // Client area: controls are placed in pixels in a 1126 × 631 area above a 24-pixel status bar. The outer
    // size of 1132 × 683 assumes a 3-pixel frame and a 22-pixel caption, which the window manager adds.
    static constexpr int kClientWidth = 1126;
    static constexpr int kControlsHeight = 631;
    static constexpr int kStatusBarHeight = 24;

    MainWindow(const std::filesystem::path& dataDir, Endpoints endpoints, MainWindowOptions options = {},
               QWidget* parent = nullptr);
    // With a run already opened (folders, lock and vendor check done): the window attaches its outputs.
    MainWindow(std::unique_ptr<AppCore> core, MainWindowOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    static QString TitleFor(const QString& version, const Endpoints& endpoints);
    static QStringList ReleaseNotes();
    QUrl tutorialUrl() const;

    AppCore& core() { return *core_; }
    SettingsFile& settingsFile() { return core_->settingsFile(); }
    StoreFile& storeFile() { return core_->storeFile(); }
    MarketplaceSession& session() { return core_->session(); }
    StoreTableModel& stores() { return core_->stores(); }
    OrderTableModel& orders() { return core_->orders(); }
    MonitorCycle& cycle() { return core_->cycle(); }
    Alerts& alerts() { return core_->alerts(); }
    MessageSink& messages() { return *this; }
    LogSink& log() { return *this; }  // 编辑框_显示
    // Goods id (GBK) of the order row last made current or right-clicked.
    const std::string& selectedGoodsId() const;

    // Section 0 (320 pixels) or 1 (800 pixels) of 状态条1.
    void SetStatusText(int part, const QString& text);
    // Rebuilds the store list from the file, checking every session, with the progress in the status bar and
    // the store buttons disabled meanwhile; a store-file failure is shown. Returns the store file's result
    // (1, -1, -2).
    int ReloadStoreList();
    // 按钮_开始监测: monitoring until stopped.
    void StartMonitoring();
    // 导出店铺备份… / 导入店铺备份… (the store list's menu): a file, a passphrase, then the work on a worker
    // thread (the key derivation takes a noticeable moment) while the window goes on; the outcome is said in
    // a box. An import lists its stores without disturbing monitoring.
    void ExportStores();
    void ImportStores();
    bool backupRunning() const { return backupThread_.joinable(); }

    // The reminders of Config.ini's section "提醒" and the tray icon (its icon is absent without a tray).
    Notifier& reminders() { return core_->reminders(); }
    TrayWindow& tray() { return *tray_; }
    // The dialog "监测设置" (from the log's right-click menu or the tray menu).
    void OpenMonitorSettings();
    // The dialog "提醒设置" (from the log's right-click menu, Ctrl+, or the tray menu).
    void OpenReminderSettings();
    // The history window (this month's groups), from the status bar and the tray menu.
    void OpenHistory();
    // The log's view: every line, or only new groups and notices (the idle lines hidden). Kept in Config.ini;
    // every line is still written into the log either way.
    void SetLogShowsOnlyNews(bool on);
    bool logShowsOnlyNews() const { return logOnlyNews_; }

  signals:
    // A backup's work has ended and its outcome been said.
    void backupFinished(bool ok);
    // The initialisation step has begun (once, 1 ms after the window opens), before the store list loads.
    void initialisationStarted();
    // The initialisation step has filled the store list (once, shortly after the window opens).
    void storeListLoaded(int result);
    // 时钟_显示通知 has fired (once, three seconds after the window opens): the vendor's notice goes here.
    void noticeDue();
    // The store login window should open: relogin false from 按钮_添加店铺, true from a double-click on a
    // store (its account is stores().selectedAccount()).
    void loginWindowRequested(bool relogin);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // LogSink
    void AppendText(const std::string& text) override;
    void Clear() override;
    // MessageSink
    void ShowMessage(const std::string& text, MessageIcon icon) override;

    void BuildControls();
    void BuildTimers();
    void WireControls();
    void OnInitialisationTimer();
    StoreResult LoadStoresOnce();
    void OnRemoveStore();
    void OnStoreListDoubleClicked();
    // The store ids of the rows selected in the store list, in the order shown.
    std::vector<std::string> SelectedStores() const;
    // The store ids the store list's menu acts on: the selected rows, or the clicked one (selected then) when
    // it is not among them; in the order shown.
    std::vector<std::string> StoresToActOn(const QModelIndex& clicked);
    void AddStoreActions(QMenu& menu, const std::vector<std::string>& storeIds);
    void LoginStoresAgain(const std::vector<std::string>& storeIds);
    void AddBackupActions(QMenu& menu);
    // The file and passphrase asked for (empty: cancelled).
    QString AskBackupFile(bool exporting);
    QString AskBackupPassphrase(bool exporting, const QString& file);
    void RunBackup(bool exporting, const QString& file, const std::string& passphrase);
    void OnBackupDone(bool exporting, const QString& file, const std::string& failure, BackupCounts counts);
    void ShowGoodsPicture(const QString& address);
    void OpenUrl(const QUrl& url);
    void ShowWarning(const QString& text);
    // Whether the alert sounds can be heard; if not, the status bar (and with withBox a warning) says why.
    bool SayWhenSilent(bool withBox);
    void OnIdle();
    void WireReminders();
    void ShowDesktopBatch(const QString& title, const QString& text);

    MainWindowOptions options_;
    std::unique_ptr<AppCore> core_;
    bool closePending_ = false;
    bool storesLoading_ = false;
    bool reloadAgain_ = false;
    bool startAfterLoad_ = false;
    bool logOnlyNews_ = false;
    bool closeAfterBackup_ = false;
    std::deque<QString> logLines_;  // every line, for when the view changes

    // Controls (owned by their parent widgets).
    SettingsPanel* settingsPanel_ = nullptr;
    OrderListWidget* orderList_ = nullptr;
    QTableView* storeList_ = nullptr;
    StoreListProxy* storesShown_ = nullptr;  // the store list as shown: filtered by 组合框_状态筛选
    QComboBox* stateChoice_ = nullptr;
    QWidget* storeListViewport_ = nullptr;  // kept: the filter must not call into a view being destroyed
    QLabel* goodsPicture_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    StatusBarWidget* statusBar_ = nullptr;
    QTimer* initTimer_ = nullptr;
    QTimer* noticeTimer_ = nullptr;
    LoginWindowHost* logins_ = nullptr;

    std::unique_ptr<TrayWindow> tray_;
    // The backup's worker: joined before the core (whose store file it uses) is gone.
    PooledThread backupThread_;

    // Last: its destructor joins the fetches before anything they report to is gone.
    std::unique_ptr<PictureFetcher> pictures_;
};

}  // namespace tandrel
