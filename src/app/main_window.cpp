#include "app/main_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <iostream>
#include <utility>

#include "app/monitor_settings_dialog.h"
#include "app/order_list_widget.h"
#include "app/report_view.h"
#include "app/settings_panel.h"
#include "app/status_bar_widget.h"
#include "app/tutorial.h"
#include "net/http_request.h"
#include "notify/history_window.h"
#include "notify/notify_settings_dialog.h"
#include "stores/backup_passphrase_dialog.h"
#include "stores/login_window.h"
#include "support/files.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "update/version_check.h"
#include "widgets/caption_widgets.h"
#include "widgets/fixed_layout.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

// The log would grow without end while rescans are off; older lines give way.
constexpr int kLogLineLimit = 20000;
// Room between a number box and the caption text that continues after it.
constexpr int kCaptionGap = 8;

}  // namespace

MainWindow::MainWindow(const std::filesystem::path& dataDir, Endpoints endpoints, MainWindowOptions options,
                       QWidget* parent)
    : MainWindow(std::make_unique<AppCore>(AppCoreOptions{.dataDir = dataDir,
                                                          .endpoints = std::move(endpoints),
                                                          .soundPlayer = options.soundPlayer,
                                                          .alertRepeatPause = options.alertRepeatPause}),
                 options, parent) {}

MainWindow::MainWindow(std::unique_ptr<AppCore> core, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      core_(std::move(core)),
      pictures_(std::make_unique<PictureFetcher>(this)) {
    core_->AttachOutputs(this, this);
    core_->SetIdleHandler([this] { OnIdle(); });
    core_->SetMonitoringEndedHandler([this] {
        if (tray_) tray_->SetMonitoring(false);
    });
    setWindowTitle(TitleFor(options_.announcedVersion, core_->endpoints()));
    BuildControls();
    core_->AttachControls(settingsPanel_, settingsPanel_);
    WireControls();
    core_->Startup();
    logOnlyNews_ = core_->settingsFile().LogShowsOnlyNews();
    WireReminders();
    BuildTimers();
}

MainWindow::~MainWindow() {
    // A backup under way finishes (it cannot be cut short inside its transaction), and its outcome is not
    // said to a window being taken apart.
    backupThread_.join();
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    // Monitoring ends first: nothing of it may reach a window being taken apart.
    core_->JoinMonitoring();
    core_->SetMonitoringEndedHandler({});
    pictures_.reset();  // no fetch may report to a window being taken apart
    tray_.reset();
    // The window closes for good: what waits for the robot goes out now, within a bound.
    core_->Finish(std::chrono::seconds(3));
    // The controls' handlers reach into the core, which is gone by the time QObject's destructor deletes the
    // children: the controls go first.
    delete takeCentralWidget();
    core_->AttachControls(nullptr, nullptr);
    core_->AttachOutputs(nullptr, nullptr);
}

QString MainWindow::TitleFor(const QString& version, const Endpoints& endpoints) {
    return QString::fromStdString(ProgramTitle(version.toStdString(), VendorAddresses::From(endpoints).site));
}

QUrl MainWindow::tutorialUrl() const {
    // Without a vendor there is no page on the web: the tutorial carried with the program opens instead.
    if (!core_->endpoints().vendorConfigured()) return LocalTutorialUrl();
    return QUrl(QString::fromStdString(core_->endpoints().vendor.Url("http", "/forum/tutorial.html")));
}

void MainWindow::BuildControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kControlsHeight);
    setCentralWidget(client);
    settingsPanel_ = new SettingsPanel(core_->settingsFile(), this);

    // Created in drawing order: later controls lie above earlier ones (the number boxes above the captions
    // they sit in, the update-log panel above everything).
    orderList_ =
        Place(new OrderListWidget(
                  core_->orders(),
                  {.endpoints = core_->endpoints(), .dataDir = core_->dataDir(), .openUrl = options_.openUrl},
                  client),
              "超级列表框_订单数据1", {1, 27, 555, 525});
    orderList_->AttachFilters(Place(new QComboBox(client), "组合框_店铺筛选", {1, 1, 200, 24}),
                              Place(new QLineEdit(client), "编辑框_搜索订单", {205, 1, 351, 24}));
    storeList_ = Place(new QTableView(client), "超级列表框_店铺列表", {558, 27, 566, 337});
    storesShown_ = new StoreListProxy(core_->stores(), this);
    // Several stores at once: pausing, resuming or logging in an agency's stores one by one would not do.
    SetUpReportView(storeList_, storesShown_, &StoreTableModel::ColumnWidth,
                    QAbstractItemView::ExtendedSelection);
    stateChoice_ = Place(new QComboBox(client), "组合框_状态筛选", {558, 1, 120, 24});
    for (const char* state : {"全部", "正常", "异常", "已暂停"})
        stateChoice_->addItem(QString::fromUtf8(state));

    goodsPicture_ = Place(new QLabel(client), "图片框2", {558, 371, 135, 135});
    goodsPicture_->setAlignment(Qt::AlignCenter);
    goodsPicture_->setFrameShape(QFrame::StyledPanel);

    Place(new QLabel(QStringLiteral("提示：如果店铺掉线了，可在列表中双击这个店铺重新登录！   【简单好用】"),
                     client),
          "标签2", {702, 371, 422, 16});

    SettingsPanel& panel = *settingsPanel_;
    auto flagBox = [&](SettingFlag flag, const QString& caption, const char* name, const QRect& geometry) {
        return panel.AddFlagBox(flag, caption, name, geometry, client);
    };
    auto numberEdit = [&](SettingNumber number, const char* text, const char* name, const QRect& geometry) {
        return panel.AddNumberEdit(number, text, name, geometry, client);
    };
    auto button = [&](const QString& caption, const char* name, const QRect& geometry) {
        return Place(new QPushButton(caption, client), name, geometry);
    };
    auto tailAfter = [](const QWidget* owner, const QWidget* edit) {
        return edit->geometry().right() + 1 + kCaptionGap - owner->x();
    };

    auto* soundBox = flagBox(SettingFlag::AlertSound, QStringLiteral("有开团的提示音响           次"),
                             "选择框_提示音", {702, 398, 235, 16});
    auto* repeatEdit =
        numberEdit(SettingNumber::AlertRepeatCount, "3", "编辑框_提示音_次数", {830, 393, 42, 24});
    soundBox->setTailX(tailAfter(soundBox, repeatEdit));

    Place(new QLabel(QStringLiteral("可同时监测所有店铺，每个店仅需1秒！"), client), "标签1",
          {911, 398, 205, 16});
    auto* newSound = button(QStringLiteral("声音一"), "按钮_新团声音", {888, 421, 50, 24});
    auto* oldSound = button(QStringLiteral("声音二"), "按钮_老团声音", {959, 421, 50, 24});
    flagBox(SettingFlag::DistinctSounds, QStringLiteral("新团老团使用不同的提示音"),
            "选择框_新团老团使用不同的提示音", {702, 426, 186, 16});
    flagBox(SettingFlag::SwapSounds, QStringLiteral("声音对换"), "选择框_新团老团使用不同的提示音_声音对换",
            {1029, 426, 84, 16});

    auto* remainingBox =
        flagBox(SettingFlag::RemainingFilter, QStringLiteral("只提示剩余时间<            小时的团"),
                "选择框_剩余时间", {702, 457, 267, 16});
    auto* hoursEdit = numberEdit(SettingNumber::RemainingHours, "3", "编辑框_剩余时间值", {830, 454, 42, 24});
    remainingBox->setTailX(tailAfter(remainingBox, hoursEdit));

    auto* intervalLabel =
        Place(new GapLabel(QStringLiteral("监测间隔           毫秒"), client), "标签12", {971, 457, 149, 16});
    auto* intervalEdit =
        numberEdit(SettingNumber::MonitorInterval, "100", "编辑框_监测间隔", {1034, 453, 42, 25});
    intervalLabel->setTailX(tailAfter(intervalLabel, intervalEdit));

    auto* rescanBox = flagBox(SettingFlag::Rescan,
                              QStringLiteral("定时重扫，每隔             分钟自动重新扫一遍(老团将全部重扫)"),
                              "选择框_定时重扫", {702, 489, 417, 16});
    auto* minutesEdit =
        numberEdit(SettingNumber::RescanMinutes, "60", "编辑框_定时重扫_时间值", {830, 483, 42, 24});
    rescanBox->setTailX(tailAfter(rescanBox, minutesEdit));

    auto* startButton = button(QStringLiteral("开始监测"), "按钮_开始监测", {592, 516, 68, 32});
    panel.SetStartButton(startButton);
    auto* stopButton = button(QStringLiteral("停止监测"), "按钮_停止监测", {699, 516, 68, 32});
    auto* tutorialButton = button(QStringLiteral("使用教程"), "按钮_使用教程", {809, 516, 68, 32});
    auto* addButton = button(QStringLiteral("添加店铺"), "按钮_添加店铺", {920, 516, 68, 32});
    auto* removeButton = button(QStringLiteral("移出店铺"), "按钮_移出店铺", {1028, 516, 68, 32});

    log_ = Place(new QPlainTextEdit(client), "编辑框_显示", {0, 555, 1126, 76});
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kLogLineLimit);

    auto* updatePanel = Place(new QFrame(client), "画板_通知", {267, 99, 591, 457});
    updatePanel->setFrameShape(QFrame::StyledPanel);
    updatePanel->setAutoFillBackground(true);
    panel.SetUpdatePanel(updatePanel);
    auto* notes = Place(new QPlainTextEdit(updatePanel), "编辑框2", {0, 3, 585, 396});
    QFont notesFont = notes->font();
    notesFont.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                           QStringLiteral("WenQuanYi Micro Hei")});
    notes->setFont(notesFont);
    notes->setReadOnly(true);
    notes->setPlainText(ReleaseNotes().join(u'\n'));
    auto* closeNotes =
        Place(new QPushButton(QStringLiteral("关闭提示"), updatePanel), "按钮_关闭通知", {232, 404, 120, 40});

    statusBar_ = new StatusBarWidget(this);
    setStatusBar(statusBar_);
    setFixedSize(kClientWidth, kControlsHeight + kStatusBarHeight);

    connect(newSound, &QPushButton::clicked, this, [this] {
        if (SayWhenSilent(true)) core_->alerts().TestPlay(0);
    });
    connect(oldSound, &QPushButton::clicked, this, [this] {
        if (SayWhenSilent(true)) core_->alerts().TestPlay(1);
    });
    connect(startButton, &QPushButton::clicked, this, &MainWindow::StartMonitoring);
    connect(stopButton, &QPushButton::clicked, this, [this] { core_->StopMonitoring(); });
    connect(tutorialButton, &QPushButton::clicked, this, [this] { OpenUrl(tutorialUrl()); });
    connect(addButton, &QPushButton::clicked, this, [this] { emit loginWindowRequested(false); });
    connect(removeButton, &QPushButton::clicked, this, &MainWindow::OnRemoveStore);
    connect(closeNotes, &QPushButton::clicked, this, [this] { core_->settingsFile().HideUpdatePanel(); });
}

void MainWindow::WireControls() {
    connect(
        storeList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            core_->stores().TrackCurrentRow(current.isValid() ? storesShown_->SourceRow(current.row()) : -1);
        });
    // A rebuilt list (an import, a login, a removal) has no current row, but the view says so with its
    // signals blocked.
    connect(storesShown_, &QAbstractItemModel::modelReset, this,
            [this] { core_->stores().TrackCurrentRow(-1); });
    connect(stateChoice_, &QComboBox::currentIndexChanged, this, [this](int index) {
        storesShown_->SetStateFilter(static_cast<StoreStateFilter>(std::clamp(index, 0, 3)));
    });
    // Watched on the viewport: a double-click on the empty part of the list counts too.
    storeListViewport_ = storeList_->viewport();
    storeListViewport_->installEventFilter(this);

    connect(orderList_, &OrderListWidget::pictureAddressChanged, this, &MainWindow::ShowGoodsPicture);

    // Stores can be paused (neither checked nor polled), resumed and logged in again from the list's
    // right-click menu: the selected ones, or the one clicked when it is not among them. The backup's entries
    // are there too, also below the rows and in an empty list, where a new computer's import begins.
    storeList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(storeList_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex at = storeList_->indexAt(pos);
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("菜单_店铺"));
        if (at.isValid()) {
            AddStoreActions(menu, StoresToActOn(at));
            menu.addSeparator();
        }
        AddBackupActions(menu);
        menu.exec(storeList_->viewport()->mapToGlobal(pos));
    });

    logins_ = new LoginWindowHost({.storeFile = core_->storeFile(),
                                   .session = core_->storesSession(),
                                   .stores = core_->stores(),
                                   // Only what the login changed: the other stores and monitoring go on.
                                   .reloadStoreList =
                                       [this] {
                                           if (const StoreResult synced = core_->SyncStores(); !synced.ok())
                                               ShowMessage(synced.error, MessageIcon::Exclamation);
                                       },
                                   .openUrl = options_.openUrl},
                                  this);
    connect(this, &MainWindow::loginWindowRequested, logins_, &LoginWindowHost::Open);
}

void MainWindow::BuildTimers() {
    auto timer = [this](const char* name, std::chrono::milliseconds interval, bool singleShot) {
        auto* t = new QTimer(this);
        t->setObjectName(QString::fromUtf8(name));
        t->setInterval(interval);
        t->setSingleShot(singleShot);
        return t;
    };
    core_->StartMinuteTick(options_.minuteInterval, this);  // 时钟_计时
    initTimer_ = timer("时钟_初始化", options_.initInterval, true);
    noticeTimer_ = timer("时钟_显示通知", options_.noticeInterval, true);
    connect(initTimer_, &QTimer::timeout, this, &MainWindow::OnInitialisationTimer);
    connect(noticeTimer_, &QTimer::timeout, this, [this] { emit noticeDue(); });
    initTimer_->start();
    noticeTimer_->start();
}

void MainWindow::OnInitialisationTimer() {
    initTimer_->stop();
    emit initialisationStarted();
    emit storeListLoaded(ReloadStoreList());
}

int MainWindow::ReloadStoreList() {
    // A reload asked for while one runs (a login finishing meanwhile) comes after it: the list is never
    // rebuilt under a rebuild.
    if (storesLoading_) {
        reloadAgain_ = true;
        return kStoreOk;
    }
    StoreResult result;
    do {
        reloadAgain_ = false;
        result = LoadStoresOnce();
    } while (reloadAgain_ && !closePending_);
    if (std::exchange(startAfterLoad_, false) && !closePending_)
        QMetaObject::invokeMethod(this, &MainWindow::StartMonitoring, Qt::QueuedConnection);
    return result.code;
}

StoreResult MainWindow::LoadStoresOnce() {
    // Every event is handled while the sessions are checked, clicks too; the controls that would work on a
    // half-built list are disabled until it is complete, and the status bar counts the stores.
    const QString before = statusBar_->Text(0);
    std::vector<std::pair<QPointer<QWidget>, bool>> held;
    for (const char* name : {"按钮_开始监测", "按钮_添加店铺", "按钮_移出店铺"})
        if (auto* control = findChild<QWidget*>(QString::fromUtf8(name)))
            held.emplace_back(control, control->isEnabled());
    held.emplace_back(storeList_, storeList_->isEnabled());
    // An open login window would log in on the session the checks are using.
    if (LoginWindow* login = logins_->window()) held.emplace_back(login, login->isEnabled());
    for (auto& [control, enabled] : held)
        control->setEnabled(false);
    tray_->SetStartAllowed(false);
    storesLoading_ = true;

    const auto pump = [] { QCoreApplication::processEvents(); };
    const auto progress = [this](int n, int total) {
        SetStatusText(0, QStringLiteral("正在检查店铺 %1/%2…").arg(n).arg(total));
    };
    StoreResult result;
    {
        // A session check waiting on the network keeps the window live; closing abandons it.
        const HttpWaitScope waiting(pump, [this] { return closePending_; });
        result = core_->LoadStores(pump, progress);
    }

    storesLoading_ = false;
    tray_->SetStartAllowed(true);
    for (auto& [control, enabled] : held)
        if (control) control->setEnabled(enabled);
    // Unless something else has been said there meanwhile (a silent sound).
    if (statusBar_->Text(0).startsWith(QStringLiteral("正在检查店铺"))) SetStatusText(0, before);
    if (!result.error.empty()) ShowMessage(result.error, MessageIcon::Exclamation);
    return result;
}

bool MainWindow::SayWhenSilent(bool withBox) {
    const std::string why = core_->soundPlayer().Unavailable();
    if (why.empty()) return true;
    const QString text = QStringLiteral("提示音无法播放：") + QString::fromStdString(why);
    SetStatusText(0, text);
    statusBar_->setToolTip(text);
    for (const char* name : {"按钮_新团声音", "按钮_老团声音"})
        if (auto* button = findChild<QPushButton*>(QString::fromUtf8(name))) button->setToolTip(text);
    if (withBox) ShowWarning(text);
    return false;
}

void MainWindow::StartMonitoring() {
    // A start that slipped in while the list is rebuilt (the tray's, queued before it was disabled) runs on
    // the complete list.
    if (storesLoading_) {
        startAfterLoad_ = true;
        return;
    }
    // Alerts that will not be heard are said at the start, not discovered at the first group.
    if (core_->settingsFile().settings().alertSoundEnabled) SayWhenSilent(false);
    // Monitoring runs on its own thread: this click returns at once, and nothing opened meanwhile pauses it.
    if (core_->BeginMonitoring()) tray_->SetMonitoring(true);
}

void MainWindow::OnIdle() {
    if (!closePending_) return;
    closePending_ = false;
    // Queued: the handler that ran the work is still on the stack.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (backupThread_.joinable()) {
        // A backup being written or imported ends first (a moment); the window closes then.
        closeAfterBackup_ = true;
        event->ignore();
        return;
    }
    if (core_->busy()) {
        // The store list is loading inside a handler below us: let it unwind, then close.
        core_->StopMonitoring();
        closePending_ = true;
        event->ignore();
        return;
    }
    // Monitoring's thread ends within a fraction of a second, whatever it was waiting for.
    core_->JoinMonitoring();
    QMainWindow::closeEvent(event);
}

void MainWindow::OnRemoveStore() {
    if (MessageBoxes::Show(this, QMessageBox::Warning, QStringLiteral("您正在移出店铺，确定要移出吗？"),
                           QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    // The rows selected, not the current one: a row deselected with Ctrl, or one that became current when the
    // filter or a state change hid the selected row, is not the merchant's choice.
    const std::vector<std::string> storeIds = SelectedStores();
    if (storeIds.empty()) return ShowWarning(QStringLiteral("请选择店铺"));
    // Only those stores leave the list; monitoring drops their work without a line.
    bool missing = false;
    for (const std::string& storeId : storeIds) {
        const StoreResult result = core_->RemoveStore(storeId);
        if (result.code == kStoreNotFound) {
            missing = true;
        } else if (!result.ok()) {
            ShowMessage(result.error, MessageIcon::Exclamation);
            return;
        }
    }
    if (missing) ShowWarning(QStringLiteral("没有找到此店铺记录"));
}

std::vector<std::string> MainWindow::SelectedStores() const {
    std::vector<int> shown;
    for (const QModelIndex& index : storeList_->selectionModel()->selectedRows())
        shown.push_back(index.row());
    std::sort(shown.begin(), shown.end());
    std::vector<std::string> storeIds;
    for (int row : shown)
        storeIds.push_back(core_->stores().Cell(storesShown_->SourceRow(row), StoreTableModel::kStoreId));
    return storeIds;
}

std::vector<std::string> MainWindow::StoresToActOn(const QModelIndex& clicked) {
    QItemSelectionModel* selection = storeList_->selectionModel();
    if (!selection->isRowSelected(clicked.row(), {}))
        selection->setCurrentIndex(clicked, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return SelectedStores();
}

void MainWindow::AddStoreActions(QMenu& menu, const std::vector<std::string>& storeIds) {
    std::vector<std::string> paused, watched;
    for (const std::string& id : storeIds)
        (core_->IsStorePaused(id) ? paused : watched).push_back(id);
    const QString which = storeIds.size() == 1 ? QStringLiteral("此店铺")
                                               : QStringLiteral("选中的%1个店铺").arg(storeIds.size());
    const auto setPaused = [this](const std::vector<std::string>& ids, bool pause) {
        if (!core_->SetStoresPaused(ids, pause))
            ShowWarning(QStringLiteral("设置保存失败：") + PathToQString(core_->dataDir() / "Config.ini"));
    };
    if (!watched.empty())
        connect(menu.addAction(QStringLiteral("暂停监测") + which), &QAction::triggered, this,
                [setPaused, watched] { setPaused(watched, true); });
    if (!paused.empty())
        connect(menu.addAction(QStringLiteral("恢复监测") + which), &QAction::triggered, this,
                [setPaused, paused] { setPaused(paused, false); });
    QAction* login = menu.addAction(QStringLiteral("重新登录") + which);
    // Queued: the logins wait on the network, and the menu's own loop is done by then.
    connect(login, &QAction::triggered, this, [this, storeIds] {
        QMetaObject::invokeMethod(
            this, [this, storeIds] { LoginStoresAgain(storeIds); }, Qt::QueuedConnection);
    });
    login->setEnabled(!storesLoading_);
}

void MainWindow::LoginStoresAgain(const std::vector<std::string>& storeIds) {
    // Not under a rebuild of the list, nor one under it: a reload asked for meanwhile comes after.
    if (storesLoading_ || storeIds.empty() || closePending_) return;
    storesLoading_ = true;
    const bool listEnabled = storeList_->isEnabled();
    storeList_->setEnabled(false);
    tray_->SetStartAllowed(false);
    const QString before = statusBar_->Text(0);
    StoreResult result;
    {
        const HttpWaitScope waiting([] { QCoreApplication::processEvents(); },
                                    [this] { return closePending_; });
        result = core_->LoginStoresAgain(storeIds, [this](int n, int total) {
            SetStatusText(0, QStringLiteral("正在重新登录店铺 %1/%2…").arg(n).arg(total));
        });
    }
    storesLoading_ = false;
    storeList_->setEnabled(listEnabled);
    tray_->SetStartAllowed(true);
    if (statusBar_->Text(0).startsWith(QStringLiteral("正在重新登录店铺"))) SetStatusText(0, before);
    if (!result.error.empty()) ShowMessage(result.error, MessageIcon::Exclamation);
    if (closePending_) return;
    if (std::exchange(reloadAgain_, false)) ReloadStoreList();
    if (std::exchange(startAfterLoad_, false))
        QMetaObject::invokeMethod(this, &MainWindow::StartMonitoring, Qt::QueuedConnection);
}

void MainWindow::AddBackupActions(QMenu& menu) {
    QAction* exporting = menu.addAction(QStringLiteral("导出店铺备份…"));
    exporting->setObjectName(QStringLiteral("菜单项_导出店铺备份"));
    QAction* importing = menu.addAction(QStringLiteral("导入店铺备份…"));
    importing->setObjectName(QStringLiteral("菜单项_导入店铺备份"));
    // Queued: the dialogs open after the menu's own loop is done.
    connect(exporting, &QAction::triggered, this,
            [this] { QMetaObject::invokeMethod(this, &MainWindow::ExportStores, Qt::QueuedConnection); });
    connect(importing, &QAction::triggered, this,
            [this] { QMetaObject::invokeMethod(this, &MainWindow::ImportStores, Qt::QueuedConnection); });
    // One backup at a time; an import does not land in a list being rebuilt.
    exporting->setEnabled(!backupRunning());
    importing->setEnabled(!backupRunning() && !storesLoading_);
}

QString MainWindow::AskBackupFile(bool exporting) {
    if (options_.backupFile) return options_.backupFile(exporting);
    const QString filter = QStringLiteral("店铺备份 (*.tbak);;所有文件 (*)");
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (exporting)
        return QFileDialog::getSaveFileName(this, QStringLiteral("导出店铺备份"),
                                            QDir(folder).filePath(QStringLiteral("店铺备份.tbak")), filter);
    return QFileDialog::getOpenFileName(this, QStringLiteral("导入店铺备份"), folder, filter);
}

QString MainWindow::AskBackupPassphrase(bool exporting, const QString& file) {
    if (options_.backupPassphrase) return options_.backupPassphrase(exporting);
    BackupPassphraseDialog dialog(
        exporting ? BackupPassphraseDialog::Purpose::Export : BackupPassphraseDialog::Purpose::Import,
        QDir::toNativeSeparators(file), this);
    if (dialog.exec() != QDialog::Accepted) return {};
    return QString::fromStdString(dialog.passphrase());
}

void MainWindow::ExportStores() {
    if (backupRunning() || closePending_) return;
    const QString file = AskBackupFile(true);
    if (file.isEmpty()) return;
    const QString passphrase = AskBackupPassphrase(true, file);
    if (passphrase.isEmpty()) return;
    RunBackup(true, file, passphrase.toStdString());
}

void MainWindow::ImportStores() {
    if (backupRunning() || storesLoading_ || closePending_) return;
    const QString file = AskBackupFile(false);
    if (file.isEmpty()) return;
    const QString passphrase = AskBackupPassphrase(false, file);
    if (passphrase.isEmpty()) return;
    RunBackup(false, file, passphrase.toStdString());
}

void MainWindow::RunBackup(bool exporting, const QString& file, const std::string& passphrase) {
    // A dialog may have let a second one begin meanwhile.
    if (backupRunning()) return;
    SetStatusText(0, exporting ? QStringLiteral("正在导出店铺备份…") : QStringLiteral("正在导入店铺备份…"));
    setCursor(Qt::BusyCursor);
    // The same store file object as monitoring's: every operation opens the file on its own connection, and
    // the import is one transaction that a cookie monitoring keeps meanwhile waits for (or follows).
    backupThread_.Start([this, exporting, file, passphrase, &storeFile = core_->storeFile()] {
        BackupCounts counts;
        const std::filesystem::path path = PathFromQString(file);
        std::string failure = exporting ? tandrel::ExportStoreBackup(storeFile, path, passphrase, counts)
                                        : tandrel::ImportStoreBackup(storeFile, path, passphrase, counts);
        QMetaObject::invokeMethod(
            this,
            [this, exporting, file, failure = std::move(failure), counts] {
                OnBackupDone(exporting, file, failure, counts);
            },
            Qt::QueuedConnection);
    });
}

void MainWindow::OnBackupDone(bool exporting, const QString& file, const std::string& failure,
                              BackupCounts counts) {
    backupThread_.join();
    unsetCursor();
    if (statusBar_->Text(0).startsWith(exporting ? QStringLiteral("正在导出店铺备份")
                                                 : QStringLiteral("正在导入店铺备份")))
        SetStatusText(0, QString());
    if (failure.empty() && !exporting) {
        // The list takes the imported stores as after a login: monitoring goes on, and reads them from its
        // next pass. A rebuild under way reads the file again afterwards instead.
        if (storesLoading_)
            reloadAgain_ = true;
        else if (const StoreResult synced = core_->SyncStores(); !synced.ok())
            ShowMessage(synced.error, MessageIcon::Exclamation);
    }
    if (std::exchange(closeAfterBackup_, false)) {
        emit backupFinished(failure.empty());
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    QString text;
    if (!failure.empty())
        text = (exporting ? QStringLiteral("导出失败：") : QStringLiteral("导入失败：")) +
               QString::fromStdString(failure);
    else if (exporting)
        text = QStringLiteral("已导出 %1 个店铺到：\n%2\n请妥善保管此文件，并记住口令。")
                   .arg(counts.stores)
                   .arg(QDir::toNativeSeparators(file));
    else
        text = QStringLiteral("已导入 %1 个店铺（新增 %2 个，更新 %3 个）")
                   .arg(counts.stores)
                   .arg(counts.added)
                   .arg(counts.updated);
    MessageBoxes::Show(this, failure.empty() ? QMessageBox::Information : QMessageBox::Warning, text);
    emit backupFinished(failure.empty());
}

void MainWindow::OnStoreListDoubleClicked() {
    if (core_->stores().selectedAccount().empty()) return ShowWarning(QStringLiteral("请选择店铺"));
    emit loginWindowRequested(true);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == storeListViewport_ && event->type() == QEvent::MouseButtonDblClick)
        OnStoreListDoubleClicked();
    return QMainWindow::eventFilter(watched, event);
}

const std::string& MainWindow::selectedGoodsId() const {
    return orderList_->selectedGoodsId();
}

void MainWindow::ShowGoodsPicture(const QString& address) {
    goodsPicture_->clear();
    if (address.isEmpty()) return;
    pictures_->Fetch(address.toStdString(), [this](const QByteArray& bytes) {
        QPixmap picture;
        if (!picture.loadFromData(bytes)) return goodsPicture_->clear();
        goodsPicture_->setPixmap(picture.scaled(goodsPicture_->contentsRect().size(), Qt::KeepAspectRatio,
                                                Qt::SmoothTransformation));
    });
}

void MainWindow::OpenUrl(const QUrl& url) {
    OpenExternally(this, url, options_.openUrl);
}

void MainWindow::ShowWarning(const QString& text) {
    MessageBoxes::Show(this, QMessageBox::Warning, text);
}

void MainWindow::SetStatusText(int part, const QString& text) {
    statusBar_->SetText(part, text);
}

namespace {

// The line a store without news gives on every page of every pass: about six a second at a short interval.
bool IsIdleLine(const QString& line) {
    return line.endsWith(QStringLiteral("无开团订单，持续监测中..."));
}

}  // namespace

void MainWindow::AppendText(const std::string& text) {
    // The log's texts arrive as whole lines, each with its line break; every one becomes one line of the box.
    QString line = FromGbk(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (line.endsWith(u'\n')) line.chop(1);
    logLines_.push_back(line);
    if (logLines_.size() > static_cast<std::size_t>(kLogLineLimit)) logLines_.pop_front();
    if (logOnlyNews_ && IsIdleLine(line)) return;
    log_->appendPlainText(line);
    log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MainWindow::Clear() {
    logLines_.clear();
    log_->clear();
}

void MainWindow::SetLogShowsOnlyNews(bool on) {
    if (on != core_->settingsFile().LogShowsOnlyNews()) core_->settingsFile().SaveLogShowsOnlyNews(on);
    logOnlyNews_ = on;
    QStringList shown;
    for (const QString& line : logLines_)
        if (!on || !IsIdleLine(line)) shown.push_back(line);
    log_->setPlainText(shown.join(u'\n'));
    log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MainWindow::ShowMessage(const std::string& text, MessageIcon icon) {
    MessageBoxes::Show(this, icon, text);
}

}  // namespace tandrel
