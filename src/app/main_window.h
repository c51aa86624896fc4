#pragma once
// The main window: the order list, the store list, the settings controls, the monitoring log and the buttons
// that start and stop monitoring. It owns the settings file, the store file, the two lists and the monitoring
// cycle, and is the cycle's log, controls and message boxes.

#include <QMainWindow>
#include <QString>
#include <QUrl>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/picture_fetcher.h"
#include "monitor/alerts.h"
#include "monitor/monitor_cycle.h"
#include "monitor/order_table_model.h"
#include "monitor/sound_player.h"
#include "settings/settings.h"
#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"
#include "support/endpoints.h"
#include "support/messages.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace tandrel {

struct MainWindowOptions {
    std::chrono::milliseconds minuteInterval{60000};  // 时钟_计时
    std::chrono::milliseconds initInterval{1};        // 时钟_初始化
    std::chrono::milliseconds noticeInterval{3000};   // 时钟_显示通知
    std::chrono::milliseconds alertRepeatPause{1000};
    SoundPlayer* soundPlayer = nullptr;  // null: the window's own SdlSoundPlayer; must outlive the window
    std::function<void(const QUrl&)> openUrl;            // null: the desktop's default browser
    QString announcedVersion = QStringLiteral("1.3.1");  // the version the vendor's service announced
};

class MainWindow : public QMainWindow,
                   private SettingsControls,
                   private MonitorControls,
                   private LogSink,
                   private MessageSink {
    Q_OBJECT

  public:
    // Client area: controls are placed in pixels in a 1126 × 631 area above a 24-pixel status bar. The outer
    // size of 1132 × 683 assumes a 3-pixel frame and a 22-pixel caption, which the window manager adds.
    static constexpr int kClientWidth = 1126;
    static constexpr int kControlsHeight = 631;
    static constexpr int kStatusBarHeight = 24;

    MainWindow(const std::filesystem::path& dataDir, Endpoints endpoints, MainWindowOptions options = {},
               QWidget* parent = nullptr);
    ~MainWindow() override;

    static QString TitleFor(const QString& version, const Endpoints& endpoints);
    static QStringList ReleaseNotes();
    QUrl tutorialUrl() const;

    SettingsFile& settingsFile() { return settingsFile_; }
    StoreFile& storeFile() { return storeFile_; }
    MarketplaceSession& session() { return session_; }
    StoreTableModel& stores() { return stores_; }
    OrderTableModel& orders() { return orders_; }
    MonitorCycle& cycle() { return cycle_; }
    Alerts& alerts() { return alerts_; }
    MessageSink& messages() { return *this; }
    LogSink& log() { return *this; }  // 编辑框_显示
    // Goods id (GBK) of the order row last made current or right-clicked.
    const std::string& selectedGoodsId() const { return selectedGoodsId_; }

    // Section 0 (320 pixels) or 1 (800 pixels) of 状态条1.
    void SetStatusText(int part, const QString& text);
    // Rebuilds the store list from the file, checking every session; returns LoadStoreList's result.
    int ReloadStoreList();

  signals:
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
    // SettingsControls
    void SetUpdatePanelVisible(bool visible) override;
    void SetFlagChecked(SettingFlag flag, bool checked) override;
    void SetNumberText(SettingNumber number, const std::string& text) override;
    // MonitorControls
    bool RemainingFilterChecked() const override;
    std::string MonitorIntervalText() const override;
    void SetStartEnabled(bool enabled) override;
    // LogSink
    void AppendText(const std::string& text) override;
    void Clear() override;
    // MessageSink
    void ShowMessage(const std::string& text, MessageIcon icon) override;

    void BuildControls();
    void BuildTimers();
    void WireControls();
    void OnInitialisationTimer();
    void OnStartMonitoring();
    void OnRemoveStore();
    void OnStoreListDoubleClicked();
    void OnOrderListContextMenu(const QPoint& pos);
    void OnOrderRowChanged(const QModelIndex& current);
    void OpenGoodsPage();
    void ExportGoodsIdsOf(bool selectedOnly);
    void OpenUrl(const QUrl& url);
    void ShowWarning(const QString& text);
    // Work that must not be torn down by a close: the close waits until the last of it has returned.
    void EnterBusy() { ++busy_; }
    void LeaveBusy();

    MainWindowOptions options_;
    Endpoints endpoints_;
    std::unique_ptr<SdlSoundPlayer> ownPlayer_;
    SoundPlayer& player_;
    SettingsFile settingsFile_;
    StoreFile storeFile_;
    MarketplaceSession session_;  // the monitoring cycle's
    // Loading the store list and logging stores in use a session of their own: they run during the cycle's
    // pauses and would otherwise replace the cookie of the store being polled.
    MarketplaceSession storesSession_;
    StoreTableModel stores_;
    OrderTableModel orders_;
    Alerts alerts_;
    MonitorCycle cycle_;
    std::filesystem::path dataDir_;
    std::string selectedGoodsId_;
    int busy_ = 0;
    bool closePending_ = false;

    // Controls (owned by their parent widgets).
    QTableView* orderList_ = nullptr;
    QTableView* storeList_ = nullptr;
    QWidget* storeListViewport_ = nullptr;  // kept: the filter must not call into a view being destroyed
    QLabel* goodsPicture_ = nullptr;
    std::array<QCheckBox*, 5> flagBoxes_{};    // by SettingFlag
    std::array<QLineEdit*, 4> numberEdits_{};  // by SettingNumber
    QPushButton* startButton_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QFrame* updatePanel_ = nullptr;
    std::array<QLabel*, 2> statusParts_{};
    QMenu* orderMenu_ = nullptr;
    QTimer* minuteTimer_ = nullptr;
    QTimer* initTimer_ = nullptr;
    QTimer* noticeTimer_ = nullptr;

    // Last: its destructor joins the fetches before anything they report to is gone.
    std::unique_ptr<PictureFetcher> pictures_;
};

}  // namespace tandrel
