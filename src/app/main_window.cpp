#include "app/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/message_boxes.h"
#include "monitor/order_list_actions.h"
#include "stores/login_window.h"
#include "stores/store_list.h"
#include "support/fixed_layout.h"
#include "support/http_request.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "support/wait_pumping.h"

namespace tandrel {
namespace {

constexpr int kStatusPartWidths[2] = {320, 800};
// The log would grow without end while rescans are off; older lines give way.
constexpr int kLogLineLimit = 20000;
// Room between a number box and the caption text that continues after it.
constexpr int kCaptionGap = 8;

// A caption with a run of blanks that a number box sits in ("有开团的提示音响           次"). The blanks were
// measured for a font whose space is half a character wide; with a narrower space the text after them would
// slide under the box, so that text is drawn from a fixed place right of the box instead.
std::pair<QString, QString> SplitAtBlankRun(const QString& caption) {
    const auto start = caption.indexOf(QStringLiteral("  "));
    if (start < 0) return {caption, {}};
    auto end = start;
    while (end < caption.size() && caption[end] == u' ')
        ++end;
    return {caption.left(start), caption.mid(end)};
}

class GapCheckBox final : public QCheckBox {
  public:
    GapCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {}
    void setTailX(int x) {
        tailX_ = x;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        const auto [head, tail] = SplitAtBlankRun(text());
        if (tail.isEmpty() || tailX_ < 0) return QCheckBox::paintEvent(event);
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text = head;
        painter.drawControl(QStyle::CE_CheckBox, option);
        painter.drawItemText(rect().adjusted(tailX_, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                             option.palette, isEnabled(), tail, foregroundRole());
    }

  private:
    int tailX_ = -1;
};

class GapLabel final : public QLabel {
  public:
    GapLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {}
    void setTailX(int x) {
        tailX_ = x;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        const auto [head, tail] = SplitAtBlankRun(text());
        if (tail.isEmpty() || tailX_ < 0) return QLabel::paintEvent(event);
        QPainter painter(this);
        const int flags = Qt::AlignLeft | Qt::AlignVCenter;
        style()->drawItemText(&painter, contentsRect(), flags, palette(), isEnabled(), head,
                              foregroundRole());
        style()->drawItemText(&painter, rect().adjusted(tailX_, 0, 0, 0), flags, palette(), isEnabled(), tail,
                              foregroundRole());
    }

  private:
    int tailX_ = -1;
};

void SetUpListView(QTableView* view, QAbstractItemModel* model, int (*columnWidth)(int),
                   QAbstractItemView::SelectionMode selectionMode) {
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(selectionMode);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(false);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->setCornerButtonEnabled(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(20);
    QHeaderView* header = view->horizontalHeader();
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < model->columnCount(); ++column) {
        const int width = columnWidth(column);
        view->setColumnWidth(column, width);
        // Hidden columns carry data (the password, the cookie, the picture address): never dragged open.
        if (width == 0) header->setSectionResizeMode(column, QHeaderView::Fixed);
    }
}

}  // namespace

MainWindow::MainWindow(const std::filesystem::path& dataDir, Endpoints endpoints, MainWindowOptions options,
                       QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      endpoints_(std::move(endpoints)),
      ownPlayer_(options_.soundPlayer ? nullptr : std::make_unique<SdlSoundPlayer>()),
      player_(options_.soundPlayer ? *options_.soundPlayer : *ownPlayer_),
      settingsFile_(dataDir / "Config.ini", this),
      storeFile_(dataDir, this),
      session_(endpoints_),
      storesSession_(endpoints_),
      alerts_(
          player_, [this] { return settingsFile_.settings(); }, options_.alertRepeatPause),
      cycle_({.stores = stores_,
              .orders = orders_,
              .log = *this,
              .controls = *this,
              .messages = *this,
              .session = session_,
              .storeFile = &storeFile_,
              .settings = [this]() -> const Settings& { return settingsFile_.settings(); },
              .raiseAlert = [this](std::string_view orderSn) { alerts_.RaiseAlert(orderSn); },
              .wait = &WaitPumping}),
      dataDir_(dataDir),
      pictures_(std::make_unique<PictureFetcher>(this)) {
    alerts_.SetOldOrders(&cycle_.oldOrders());
    setWindowTitle(TitleFor(options_.announcedVersion, endpoints_));
    BuildControls();
    WireControls();
    settingsFile_.LoadSettings(false);
    BuildTimers();
}

MainWindow::~MainWindow() {
    pictures_.reset();  // no fetch may report to a window being taken apart
    // The controls' handlers reach into the models and the cycle, members that are gone by the time QObject's
    // destructor deletes the children: the controls go first.
    delete takeCentralWidget();
    delete orderMenu_;
}

QString MainWindow::TitleFor(const QString& version, const Endpoints& endpoints) {
    return QStringLiteral("Tandrel") + QStringLiteral("V") + version + QStringLiteral("  软件官网：Vorlix ") +
           QString::fromStdString(endpoints.vendor.Url("http", ""));
}

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

QUrl MainWindow::tutorialUrl() const {
    return QUrl(QString::fromStdString(endpoints_.vendor.Url("http", "/forum/tutorial.html")));
}

void MainWindow::BuildControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kControlsHeight);
    setCentralWidget(client);

    // Created in drawing order: later controls lie above earlier ones (the number boxes above the captions
    // they sit in, the update-log panel above everything).
    orderList_ = Place(new QTableView(client), "超级列表框_订单数据1", {1, 1, 555, 551});
    SetUpListView(orderList_, &orders_, &OrderTableModel::ColumnWidth, QAbstractItemView::ExtendedSelection);
    storeList_ = Place(new QTableView(client), "超级列表框_店铺列表", {558, 1, 566, 363});
    SetUpListView(storeList_, &stores_, &StoreTableModel::ColumnWidth, QAbstractItemView::SingleSelection);

    goodsPicture_ = Place(new QLabel(client), "图片框2", {558, 371, 135, 135});
    goodsPicture_->setAlignment(Qt::AlignCenter);
    goodsPicture_->setFrameShape(QFrame::StyledPanel);

    Place(new QLabel(QStringLiteral("提示：如果店铺掉线了，可在列表中双击这个店铺重新登录！   【简单好用】"),
                     client),
          "标签2", {702, 371, 422, 16});

    auto flagBox = [&](SettingFlag flag, const QString& caption, const char* name, const QRect& geometry) {
        auto* box = Place(new GapCheckBox(caption, client), name, geometry);
        flagBoxes_[static_cast<std::size_t>(flag)] = box;
        return box;
    };
    auto numberEdit = [&](SettingNumber number, const char* text, const char* name, const QRect& geometry) {
        auto* edit = Place(new QLineEdit(QString::fromUtf8(text), client), name, geometry);
        numberEdits_[static_cast<std::size_t>(number)] = edit;
        return edit;
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

    startButton_ = button(QStringLiteral("开始监测"), "按钮_开始监测", {592, 516, 68, 32});
    auto* stopButton = button(QStringLiteral("停止监测"), "按钮_停止监测", {699, 516, 68, 32});
    auto* tutorialButton = button(QStringLiteral("使用教程"), "按钮_使用教程", {809, 516, 68, 32});
    auto* addButton = button(QStringLiteral("添加店铺"), "按钮_添加店铺", {920, 516, 68, 32});
    auto* removeButton = button(QStringLiteral("移出店铺"), "按钮_移出店铺", {1028, 516, 68, 32});

    log_ = Place(new QPlainTextEdit(client), "编辑框_显示", {0, 555, 1126, 76});
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kLogLineLimit);

    updatePanel_ = Place(new QFrame(client), "画板_通知", {267, 99, 591, 457});
    updatePanel_->setFrameShape(QFrame::StyledPanel);
    updatePanel_->setAutoFillBackground(true);
    auto* notes = Place(new QPlainTextEdit(updatePanel_), "编辑框2", {0, 3, 585, 396});
    QFont notesFont = notes->font();
    notesFont.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                           QStringLiteral("WenQuanYi Micro Hei")});
    notes->setFont(notesFont);
    notes->setReadOnly(true);
    notes->setPlainText(ReleaseNotes().join(u'\n'));
    auto* closeNotes = Place(new QPushButton(QStringLiteral("关闭提示"), updatePanel_), "按钮_关闭通知",
                             {232, 404, 120, 40});

    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("状态条1"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(kStatusBarHeight);
    // The bar's own layout puts 6 pixels between its items, and 320 + 6 + 800 would not fit: the parts
    // share one row of their own, edge to edge.
    auto* partsRow = new QWidget(bar);
    auto* partsLayout = new QHBoxLayout(partsRow);
    partsLayout->setContentsMargins(0, 0, 0, 0);
    partsLayout->setSpacing(0);
    for (std::size_t i = 0; i < statusParts_.size(); ++i) {
        statusParts_[i] = new QLabel(partsRow);
        statusParts_[i]->setFixedWidth(kStatusPartWidths[i]);
        partsLayout->addWidget(statusParts_[i]);
    }
    partsLayout->addStretch();
    bar->addWidget(partsRow, 1);
    setStatusBar(bar);
    setFixedSize(kClientWidth, kControlsHeight + kStatusBarHeight);

    // A pop-up only: the window has no menu bar.
    orderMenu_ = new QMenu(this);
    orderMenu_->setObjectName(QStringLiteral("监测菜单"));
    connect(orderMenu_->addAction(QStringLiteral("打开商品")), &QAction::triggered, this,
            &MainWindow::OpenGoodsPage);
    connect(orderMenu_->addAction(QStringLiteral("复制商品ID")), &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(FromGbk(selectedGoodsId_)); });
    connect(orderMenu_->addAction(QStringLiteral("导出全部商品ID")), &QAction::triggered, this,
            [this] { ExportGoodsIdsOf(false); });
    connect(orderMenu_->addAction(QStringLiteral("导出选中商品ID")), &QAction::triggered, this,
            [this] { ExportGoodsIdsOf(true); });

    connect(newSound, &QPushButton::clicked, this, [this] { alerts_.TestPlay(0); });
    connect(oldSound, &QPushButton::clicked, this, [this] { alerts_.TestPlay(1); });
    connect(startButton_, &QPushButton::clicked, this, &MainWindow::OnStartMonitoring);
    connect(stopButton, &QPushButton::clicked, this, [this] { cycle_.RequestStop(); });
    connect(tutorialButton, &QPushButton::clicked, this, [this] { OpenUrl(tutorialUrl()); });
    connect(addButton, &QPushButton::clicked, this, [this] { emit loginWindowRequested(false); });
    connect(removeButton, &QPushButton::clicked, this, &MainWindow::OnRemoveStore);
    connect(closeNotes, &QPushButton::clicked, this, [this] { settingsFile_.HideUpdatePanel(); });
}

void MainWindow::WireControls() {
    for (std::size_t i = 0; i < flagBoxes_.size(); ++i) {
        const auto flag = static_cast<SettingFlag>(i);
        connect(flagBoxes_[i], &QCheckBox::clicked, this,
                [this, flag](bool checked) { settingsFile_.SaveFlag(SettingsFile::KeyOf(flag), checked); });
    }
    // textEdited, not textChanged: the loads that rewrite the boxes must not write the file again.
    for (std::size_t i = 0; i < numberEdits_.size(); ++i) {
        const auto number = static_cast<SettingNumber>(i);
        connect(numberEdits_[i], &QLineEdit::textEdited, this, [this, number](const QString& text) {
            settingsFile_.SaveNumberText(SettingsFile::KeyOf(number), ToGbk(text));
        });
    }

    connect(storeList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                stores_.TrackCurrentRow(current.isValid() ? current.row() : -1);
            });
    // Watched on the viewport: a double-click on the empty part of the list counts too.
    storeListViewport_ = storeList_->viewport();
    storeListViewport_->installEventFilter(this);

    connect(orderList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &MainWindow::OnOrderRowChanged);
    orderList_->horizontalHeader()->setSectionsClickable(true);
    connect(orderList_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { SortOrderList(orders_, column); });
    orderList_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(orderList_, &QWidget::customContextMenuRequested, this, &MainWindow::OnOrderListContextMenu);
    connect(&orders_, &OrderTableModel::rowAdded, this,
            [this](int row) { orderList_->scrollTo(orders_.index(row, 0)); });

    const auto showMessage = [](QWidget* owner, const std::string& text, MessageIcon icon) {
        const auto boxIcon =
            icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning;
        MessageBoxes::Show(owner, boxIcon, FromGbk(text));
    };
    auto* logins = new LoginWindowHost({.storeFile = storeFile_,
                                        .session = storesSession_,
                                        .stores = stores_,
                                        .reloadStoreList = [this] { ReloadStoreList(); },
                                        .showMessage = showMessage,
                                        .openUrl = options_.openUrl},
                                       this);
    connect(this, &MainWindow::loginWindowRequested, logins, &LoginWindowHost::Open);
}

void MainWindow::BuildTimers() {
    auto timer = [this](const char* name, std::chrono::milliseconds interval, bool singleShot) {
        auto* t = new QTimer(this);
        t->setObjectName(QString::fromUtf8(name));
        t->setInterval(interval);
        t->setSingleShot(singleShot);
        return t;
    };
    minuteTimer_ = timer("时钟_计时", options_.minuteInterval, false);
    initTimer_ = timer("时钟_初始化", options_.initInterval, true);
    noticeTimer_ = timer("时钟_显示通知", options_.noticeInterval, true);
    connect(minuteTimer_, &QTimer::timeout, this, [this] { cycle_.TickMinute(); });
    connect(initTimer_, &QTimer::timeout, this, &MainWindow::OnInitialisationTimer);
    connect(noticeTimer_, &QTimer::timeout, this, [this] { emit noticeDue(); });
    minuteTimer_->start();
    initTimer_->start();
    noticeTimer_->start();
}

void MainWindow::OnInitialisationTimer() {
    initTimer_->stop();
    emit storeListLoaded(ReloadStoreList());
}

int MainWindow::ReloadStoreList() {
    EnterBusy();
    // Rows are painted as they fill; clicks wait until the list is complete, so no handler works on a list
    // that is half rebuilt.
    const auto pump = [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    // A session check waiting on the network keeps the window painted; closing abandons it.
    const HttpWaitScope waiting(pump, [this] { return closePending_; });
    const int result = LoadStoreList(stores_, storeFile_, storesSession_, pump);
    LeaveBusy();
    return result;
}

void MainWindow::OnStartMonitoring() {
    EnterBusy();
    // Requests of the cycle wait with the window live; a stop or a close abandons them.
    const HttpWaitScope waiting([] { QCoreApplication::processEvents(); }, [this] { return closePending_; });
    cycle_.StartMonitoring();
    LeaveBusy();
}

void MainWindow::LeaveBusy() {
    if (--busy_ > 0 || !closePending_) return;
    closePending_ = false;
    // Queued: the handler that ran the work is still on the stack.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (busy_ > 0) {
        // The cycle or the store list is running inside a handler below us: let it unwind, then close.
        cycle_.RequestStop();
        closePending_ = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void MainWindow::OnRemoveStore() {
    if (MessageBoxes::Show(this, QMessageBox::Warning, QStringLiteral("您正在移出店铺，确定要移出吗？"),
                           QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    if (stores_.selectedStoreId().empty()) return ShowWarning(QStringLiteral("请选择店铺"));
    const int result = storeFile_.RemoveStore(stores_.selectedStoreId());
    if (result == kStoreOk)
        ReloadStoreList();
    else if (result == kStoreNotFound)
        ShowWarning(QStringLiteral("没有找到此店铺记录"));
    // Other results were reported by the store file.
}

void MainWindow::OnStoreListDoubleClicked() {
    if (stores_.selectedAccount().empty()) return ShowWarning(QStringLiteral("请选择店铺"));
    emit loginWindowRequested(true);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == storeListViewport_ && event->type() == QEvent::MouseButtonDblClick)
        OnStoreListDoubleClicked();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::OnOrderListContextMenu(const QPoint& pos) {
    const QModelIndex current = orderList_->currentIndex();
    if (!current.isValid()) return;
    selectedGoodsId_ = orders_.Cell(current.row(), OrderTableModel::kGoodsId);
    orderMenu_->popup(orderList_->viewport()->mapToGlobal(pos));
}

void MainWindow::OnOrderRowChanged(const QModelIndex& current) {
    if (!current.isValid()) return;
    selectedGoodsId_ = orders_.Cell(current.row(), OrderTableModel::kGoodsId);
    goodsPicture_->clear();
    const std::string& address = orders_.Cell(current.row(), OrderTableModel::kThumbUrl);
    if (address.empty()) return;
    pictures_->Fetch(GbkToUtf8(address), [this](const QByteArray& bytes) {
        QPixmap picture;
        if (!picture.loadFromData(bytes)) return goodsPicture_->clear();
        goodsPicture_->setPixmap(picture.scaled(goodsPicture_->contentsRect().size(), Qt::KeepAspectRatio,
                                                Qt::SmoothTransformation));
    });
}

void MainWindow::OpenGoodsPage() {
    const QModelIndex current = orderList_->currentIndex();
    if (!current.isValid()) return;
    // The goods id of the current row as it is now (a sort may have moved rows since the menu opened).
    const std::string& goodsId = orders_.Cell(current.row(), OrderTableModel::kGoodsId);
    OpenUrl(QUrl(QString::fromStdString(GoodsPageUrl(endpoints_, GbkToUtf8(goodsId)))));
}

void MainWindow::ExportGoodsIdsOf(bool selectedOnly) {
    std::vector<int> rows;
    if (selectedOnly) {
        for (const QModelIndex& index : orderList_->selectionModel()->selectedRows())
            rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
    } else {
        for (int row = 0; row < orders_.rowCount(); ++row)
            rows.push_back(row);
    }
    std::string failure;
    const auto file = ExportGoodsIds(orders_, rows, dataDir_, std::chrono::system_clock::now(), &failure);
    if (!failure.empty()) {
        MessageBoxes::Show(this, QMessageBox::Warning,
                           QStringLiteral("导出失败：") + QString::fromStdU16String(file.u16string()) +
                               QStringLiteral("\n") + QString::fromStdString(failure));
        return;
    }
    MessageBoxes::Show(this, QMessageBox::Information, QStringLiteral("已导出"));
    OpenUrl(QUrl::fromLocalFile(
        QString::fromStdU16String((dataDir_ / std::filesystem::path(u8"商品ID")).u16string())));
}

void MainWindow::OpenUrl(const QUrl& url) {
    if (options_.openUrl)
        options_.openUrl(url);
    else
        QDesktopServices::openUrl(url);
}

void MainWindow::ShowWarning(const QString& text) {
    MessageBoxes::Show(this, QMessageBox::Warning, text);
}

void MainWindow::SetStatusText(int part, const QString& text) {
    if (part >= 0 && part < static_cast<int>(statusParts_.size()))
        statusParts_[static_cast<std::size_t>(part)]->setText(text);
}

void MainWindow::SetUpdatePanelVisible(bool visible) {
    updatePanel_->setVisible(visible);
}

void MainWindow::SetFlagChecked(SettingFlag flag, bool checked) {
    flagBoxes_[static_cast<std::size_t>(flag)]->setChecked(checked);
}

void MainWindow::SetNumberText(SettingNumber number, const std::string& text) {
    numberEdits_[static_cast<std::size_t>(number)]->setText(FromGbk(text));
}

bool MainWindow::RemainingFilterChecked() const {
    return flagBoxes_[static_cast<std::size_t>(SettingFlag::RemainingFilter)]->isChecked();
}

std::string MainWindow::MonitorIntervalText() const {
    return ToGbk(numberEdits_[static_cast<std::size_t>(SettingNumber::MonitorInterval)]->text());
}

void MainWindow::SetStartEnabled(bool enabled) {
    startButton_->setEnabled(enabled);
}

void MainWindow::AppendText(const std::string& text) {
    // The log's texts arrive as whole lines, each with its line break; every one becomes one line of the box.
    QString line = FromGbk(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (line.endsWith(u'\n')) line.chop(1);
    log_->appendPlainText(line);
    log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void MainWindow::Clear() {
    log_->clear();
}

void MainWindow::ShowMessage(const std::string& text, MessageIcon icon) {
    MessageBoxes::Show(this,
                       icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::Warning,
                       FromGbk(text));
}

}  // namespace tandrel
