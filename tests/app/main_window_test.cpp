#include "app/main_window.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QInputMethodEvent>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QTableWidget>

#include "main_window_fixture.h"
#include "notify/history_file.h"
#include "notify/history_window.h"

namespace tandrel {
namespace {

// --- The window and its controls ---------------------------------------------------------------------------

TEST_F(MainWindowTest, EveryControlHasItsKindCaptionAndPlace) {
    std::string error;
    endpoints_ = Endpoints::With("", "", "", "", "", &error);
    MainWindow& window = Open();
    // Without a vendor address the title has no site line that would point nowhere.
    EXPECT_EQ(window.windowTitle(), Q("TandrelV1.3.1"));

    struct Expected {
        const char* name;
        const char* kind;
        const char* caption;  // null: not checked
        QRect geometry;
    };
    // clang-format off
    const Expected controls[] = {
        {"组合框_店铺筛选", "QComboBox", nullptr, {1, 1, 200, 24}},
        {"编辑框_搜索订单", "QLineEdit", "", {205, 1, 351, 24}},
        {"超级列表框_订单数据1", "QTableView", nullptr, {1, 27, 555, 525}},
        {"组合框_状态筛选", "QComboBox", nullptr, {558, 1, 120, 24}},
        {"超级列表框_店铺列表", "QTableView", nullptr, {558, 27, 566, 337}},
        {"图片框2", "QLabel", "", {558, 371, 135, 135}},
        {"标签2", "QLabel", "提示：如果店铺掉线了，可在列表中双击这个店铺重新登录！   【简单好用】", {702, 371, 422, 16}},
        {"选择框_提示音", "QCheckBox", "有开团的提示音响           次", {702, 398, 235, 16}},
        {"编辑框_提示音_次数", "QLineEdit", "3", {830, 393, 42, 24}},
        {"标签1", "QLabel", "可同时监测所有店铺，每个店仅需1秒！", {911, 398, 205, 16}},
        {"按钮_新团声音", "QPushButton", "声音一", {888, 421, 50, 24}},
        {"按钮_老团声音", "QPushButton", "声音二", {959, 421, 50, 24}},
        {"选择框_新团老团使用不同的提示音", "QCheckBox", "新团老团使用不同的提示音", {702, 426, 186, 16}},
        {"选择框_新团老团使用不同的提示音_声音对换", "QCheckBox", "声音对换", {1029, 426, 84, 16}},
        {"选择框_剩余时间", "QCheckBox", "只提示剩余时间<            小时的团", {702, 457, 267, 16}},
        {"编辑框_剩余时间值", "QLineEdit", "3", {830, 454, 42, 24}},
        {"标签12", "QLabel", "监测间隔           毫秒", {971, 457, 149, 16}},
        {"编辑框_监测间隔", "QLineEdit", "100", {1034, 453, 42, 25}},
        {"选择框_定时重扫", "QCheckBox", "定时重扫，每隔             分钟自动重新扫一遍(老团将全部重扫)", {702, 489, 417, 16}},
        {"编辑框_定时重扫_时间值", "QLineEdit", "60", {830, 483, 42, 24}},
        {"按钮_开始监测", "QPushButton", "开始监测", {592, 516, 68, 32}},
        {"按钮_停止监测", "QPushButton", "停止监测", {699, 516, 68, 32}},
        {"按钮_使用教程", "QPushButton", "使用教程", {809, 516, 68, 32}},
        {"按钮_添加店铺", "QPushButton", "添加店铺", {920, 516, 68, 32}},
        {"按钮_移出店铺", "QPushButton", "移出店铺", {1028, 516, 68, 32}},
        {"编辑框_显示", "QPlainTextEdit", "", {0, 555, 1126, 76}},
        {"画板_通知", "QFrame", nullptr, {267, 99, 591, 457}},
        {"编辑框2", "QPlainTextEdit", nullptr, {0, 3, 585, 396}},
        {"按钮_关闭通知", "QPushButton", "关闭提示", {232, 404, 120, 40}},
    };
    // clang-format on
    for (const auto& expected : controls) {
        SCOPED_TRACE(expected.name);
        auto* widget = Control(expected.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(expected.kind)) << widget->metaObject()->className();
        EXPECT_EQ(widget->geometry(), expected.geometry);
        if (!expected.caption) continue;
        QString caption;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            caption = button->text();
        else if (auto* label = qobject_cast<QLabel*>(widget))
            caption = label->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            caption = edit->text();
        else if (auto* text = qobject_cast<QPlainTextEdit*>(widget))
            caption = text->toPlainText();
        EXPECT_EQ(caption, Q(expected.caption));
    }
    // The panel's controls sit inside the panel, the others in the client area, which the panel covers.
    auto* panel = Control("画板_通知");
    EXPECT_EQ(Control("编辑框2")->parentWidget(), panel);
    EXPECT_EQ(Control("按钮_关闭通知")->parentWidget(), panel);
    EXPECT_EQ(Control("按钮_开始监测")->parentWidget(), window.centralWidget());
    EXPECT_EQ(window.centralWidget()->children().last(), panel);
    EXPECT_EQ(window.centralWidget()->geometry(), QRect(0, 0, 1126, 631));
    EXPECT_EQ(window.minimumSize(), QSize(1126, 655));
    EXPECT_EQ(window.maximumSize(), QSize(1126, 655));

    EXPECT_TRUE(Control("按钮_添加店铺")->isEnabled());
    EXPECT_TRUE(Control<QPlainTextEdit>("编辑框_显示")->isReadOnly());

    auto* bar = Control<QStatusBar>("状态条1");
    ASSERT_EQ(window.statusBar(), bar);
    const auto parts = bar->findChildren<QLabel*>();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0]->width(), 320);
    EXPECT_EQ(parts[1]->width(), 800);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto right = [&](QWidget* part) { return part->mapTo(&window, QPoint(part->width() - 1, 0)).x(); };
    EXPECT_LT(right(parts[1]), window.width()) << "the second part is cut off";
    EXPECT_GT(parts[1]->mapTo(&window, QPoint()).x(), right(parts[0]));
    window.SetStatusText(1, Q("客服"));
    EXPECT_EQ(parts[1]->text(), Q("客服"));
    EXPECT_EQ(parts[1]->textFormat(), Qt::PlainText);  // the vendor's support text is never rendered

    const MainWindowOptions defaults;
    EXPECT_EQ(defaults.minuteInterval, 60000ms);
    EXPECT_EQ(defaults.initInterval, 1ms);
    EXPECT_EQ(defaults.noticeInterval, 3000ms);
    for (const char* timer : {"时钟_计时", "时钟_初始化", "时钟_显示通知"})
        EXPECT_TRUE(Control<QTimer>(timer)) << timer;

    auto* menu = Control<QMenu>("监测菜单");
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (auto* action : menu->actions())
        items << action->text();
    EXPECT_EQ(items, QStringList({Q("打开商品"), Q("复制商品ID"), Q("导出全部商品ID"), Q("导出选中商品ID")}));
    EXPECT_EQ(window.menuWidget(), nullptr);
}

TEST_F(MainWindowTest, ListsShowTheModelsWithHiddenColumnsAtWidthZeroThatCannotBeDraggedOpen) {
    Open();
    const std::pair<const char*, QAbstractItemModel*> lists[] = {{"超级列表框_订单数据1", &window_->orders()},
                                                                 {"超级列表框_店铺列表", &window_->stores()}};
    for (const auto& [name, model] : lists) {
        SCOPED_TRACE(name);
        auto* view = Control<QTableView>(name);
        // Shown through a proxy that sorts or filters, never the model itself, which keeps its order.
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(view->model());
        ASSERT_NE(proxy, nullptr);
        ASSERT_EQ(proxy->sourceModel(), model);
        const auto width =
            model == &window_->orders() ? &OrderTableModel::ColumnWidth : &StoreTableModel::ColumnWidth;
        for (int column = 0; column < 7; ++column) {
            EXPECT_EQ(view->columnWidth(column), width(column));
            EXPECT_EQ(view->horizontalHeader()->sectionResizeMode(column) == QHeaderView::Fixed,
                      width(column) == 0);
        }
        EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    }
}

TEST_F(MainWindowTest, UpdatePanelShowsTheReleaseNotesUntilClosedForGood) {
    Open();
    const QStringList lines = Control<QPlainTextEdit>("编辑框2")->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 27);
    EXPECT_EQ(lines[0], Q("更新日志："));
    EXPECT_EQ(lines[2], Q("V1.3.0 更新时间：2018.6.1"));
    EXPECT_EQ(lines[14], Q("【Vorlix】祝大家元旦快乐！新年全都发大财~"));
    EXPECT_EQ(lines[26], Q("点击店铺名、商品ID、开团账号、开团订单号、剩余时间都可以自动排序！"));
    for (int empty : {1, 6, 10, 15, 19, 23})
        EXPECT_TRUE(lines[empty].isEmpty()) << empty;
    EXPECT_TRUE(Control<QPlainTextEdit>("编辑框2")->isReadOnly());

    auto* panel = Control("画板_通知");
    EXPECT_FALSE(panel->isHidden());
    Control<QPushButton>("按钮_关闭通知")->click();
    EXPECT_TRUE(panel->isHidden());
    EXPECT_EQ(Stored("提示_主界面"), "3");

    Open();
    EXPECT_TRUE(Control("画板_通知")->isHidden());
}

// --- Settings through the real controls and the real Config.ini -------------------------------------------

TEST_F(MainWindowTest, WithoutConfigFileTheDefaultsShowAndNothingIsWritten) {
    MainWindow& window = Open();
    EXPECT_EQ(Control<QLineEdit>("编辑框_监测间隔")->text(), Q("100"));
    EXPECT_EQ(Control<QLineEdit>("编辑框_定时重扫_时间值")->text(), Q("60"));
    EXPECT_EQ(Control<QLineEdit>("编辑框_剩余时间值")->text(), Q("3"));
    EXPECT_EQ(Control<QLineEdit>("编辑框_提示音_次数")->text(), Q("3"));
    for (auto* box : window.findChildren<QCheckBox*>())
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    EXPECT_EQ(window.findChildren<QCheckBox*>().size(), 5);
    EXPECT_FALSE(Control("画板_通知")->isHidden());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Config.ini"));
}

TEST_F(MainWindowTest, EveryCheckBoxSavesItsOwnFlag) {
    MainWindow& window = Open();
    const std::pair<const char*, const char*> boxes[] = {
        {"选择框_提示音", "设置_提示音"},
        {"选择框_定时重扫", "设置_定时重扫"},
        {"选择框_新团老团使用不同的提示音", "设置_新团老团使用不同的提示音"},
        {"选择框_剩余时间", "设置_剩余时间"},
        {"选择框_新团老团使用不同的提示音_声音对换", "设置_新团老团使用不同的提示音_声音对换"},
    };
    for (const auto& [name, key] : boxes) {
        SCOPED_TRACE(name);
        auto* box = Control<QCheckBox>(name);
        box->click();
        EXPECT_EQ(Stored(key), "1");
        EXPECT_TRUE(box->isChecked());
    }
    const Settings& on = window.settingsFile().settings();
    EXPECT_TRUE(on.alertSoundEnabled && on.rescanEnabled && on.distinctSounds && on.remainingFilterEnabled &&
                on.swapSounds);
    Control<QCheckBox>("选择框_新团老团使用不同的提示音_声音对换")->click();
    EXPECT_EQ(Stored("设置_新团老团使用不同的提示音_声音对换"), "0");
    EXPECT_FALSE(window.settingsFile().settings().swapSounds);
    EXPECT_EQ(Stored("设置_提示音"), "1");
}

TEST_F(MainWindowTest, NumberBoxesStoreWhatIsTypedTrimmedAndShowDefaultsOnlyAfterAReload) {
    MainWindow& window = Open();
    Type("编辑框_监测间隔", "0");
    EXPECT_EQ(Stored("设置_监测间隔"), "0");
    EXPECT_EQ(Control<QLineEdit>("编辑框_监测间隔")->text(), Q("0"));
    EXPECT_EQ(window.settingsFile().settings().monitorIntervalMs, 100);
    Control<QCheckBox>("选择框_定时重扫")->click();
    EXPECT_EQ(Control<QLineEdit>("编辑框_监测间隔")->text(), Q("100"));
    EXPECT_EQ(Stored("设置_监测间隔"), "0");

    Type("编辑框_剩余时间值", "  25  ");
    Type("编辑框_定时重扫_时间值", "7");
    Type("编辑框_提示音_次数", "5");
    EXPECT_EQ(Stored("设置_剩余时间值"), "25");
    EXPECT_EQ(Stored("设置_定时重扫_时间值"), "7");
    EXPECT_EQ(Stored("设置_提示音_次数"), "5");
    const Settings& s = window.settingsFile().settings();
    EXPECT_EQ(std::tuple(s.remainingHours, s.rescanMinutes, s.alertRepeatCount), std::tuple(25, 7, 5));
    EXPECT_EQ(Control<QLineEdit>("编辑框_剩余时间值")->text(), Q("25"));  // the box shows its value

    // A full-width blank and full-width digits, as a Chinese input method types them: the value is what
    // the box then shows, not the 100 ms a text starting with a blank would read as.
    auto* interval = Control<QLineEdit>("编辑框_监测间隔");
    interval->selectAll();
    QInputMethodEvent typed;
    typed.setCommitString(Q("\u3000５００"));
    QApplication::sendEvent(interval, &typed);
    EXPECT_EQ(Control<QLineEdit>("编辑框_监测间隔")->text(), Q("500"));
    EXPECT_EQ(Stored("设置_监测间隔"), "500");
    EXPECT_EQ(window.settingsFile().settings().monitorIntervalMs, 500);
}

// A paste of lines into a number box must not reach Config.ini as lines of their own.
TEST_F(MainWindowTest, NumberBoxesTakeDigitsOnly) {
    Open();
    auto* edit = Control<QLineEdit>("编辑框_监测间隔");
    edit->selectAll();
    QGuiApplication::clipboard()->setText(Q("100\n[提醒]\n机器人类型=webhook\n机器人地址=http://evil"));
    edit->paste();
    Type("编辑框_剩余时间值", "2x5");
    EXPECT_EQ(ProfileFile(dir_ / "Config.ini").Read(Utf8ToGbk("提醒"), Utf8ToGbk("机器人类型")), "");
    EXPECT_EQ(Stored("设置_监测间隔").find('['), std::string::npos) << Stored("设置_监测间隔");
    EXPECT_EQ(Stored("设置_剩余时间值"), "25");
}

TEST_F(MainWindowTest, StoredValuesDriveTheControlsAtOpening) {
    WriteConfig(
        "[设置]\r\n设置_提示音=-1\r\n提示_主界面=3\r\n设置_定时重扫_时间值=abc\r\n设置_剩余时间值=4\r\n");
    Open();
    EXPECT_TRUE(Control<QCheckBox>("选择框_提示音")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("选择框_剩余时间")->isChecked());
    EXPECT_TRUE(Control("画板_通知")->isHidden());
    EXPECT_EQ(Control<QLineEdit>("编辑框_定时重扫_时间值")->text(), Q("60"));
    EXPECT_EQ(Control<QLineEdit>("编辑框_剩余时间值")->text(), Q("4"));

    WriteConfig("[设置]\r\n提示_主界面=4\r\n");
    Open();
    EXPECT_FALSE(Control("画板_通知")->isHidden());
}

// --- Timers ---------------------------------------------------------------------------------------------

TEST_F(MainWindowTest, InitialisationAndNoticeTimersActExactlyOnce) {
    auto options = Options();
    options.initInterval = 1ms;
    options.noticeInterval = 5ms;
    MainWindow& window = Open(options);
    QSignalSpy loaded(&window, &MainWindow::storeListLoaded);
    QSignalSpy notice(&window, &MainWindow::noticeDue);
    QTest::qWait(300);
    ASSERT_EQ(loaded.count(), 1);
    EXPECT_EQ(loaded.first().first().toInt(), kStoreOk);
    EXPECT_EQ(notice.count(), 1);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "shop" / "users.dat"));
}

TEST_F(MainWindowTest, MinuteCounterStartsAtZeroAndCountsWithoutMonitoring) {
    auto options = Options();
    options.minuteInterval = 40ms;
    MainWindow& window = Open(options);
    EXPECT_EQ(window.cycle().rescanMinuteCounter(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.cycle().rescanMinuteCounter() >= 1; }, 5000));
    EXPECT_FALSE(window.cycle().running());
}

// --- Store list and its buttons -------------------------------------------------------------------------

TEST_F(MainWindowTest, WithoutAStoreDoubleClickAndRemoveWantASelectionAndStartSaysSo) {
    MainWindow& window = Open();
    QSignalSpy login(&window, &MainWindow::loginWindowRequested);
    QTest::mouseDClick(Control<QTableView>("超级列表框_店铺列表")->viewport(), Qt::LeftButton, {},
                       QPoint(100, 200));
    ASSERT_EQ(RecordedTexts(), (std::vector<QString>{Q("请选择店铺")}));
    EXPECT_EQ(MessageBoxes::Recorded()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(login.count(), 0);

    MessageBoxes::ClearRecorded();
    MessageBoxes::SetNextAnswer(QMessageBox::Cancel);
    Control<QPushButton>("按钮_移出店铺")->click();
    ASSERT_EQ(MessageBoxes::Recorded().size(), 1u);
    const auto& confirmation = MessageBoxes::Recorded()[0];
    EXPECT_EQ(confirmation.text, Q("您正在移出店铺，确定要移出吗？"));
    EXPECT_EQ(confirmation.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(confirmation.icon, QMessageBox::Warning);

    MessageBoxes::ClearRecorded();
    MessageBoxes::SetNextAnswer(QMessageBox::Ok);
    Control<QPushButton>("按钮_移出店铺")->click();
    EXPECT_EQ(RecordedTexts(), (std::vector<QString>{Q("您正在移出店铺，确定要移出吗？"), Q("请选择店铺")}));

    MessageBoxes::ClearRecorded();
    Control<QPushButton>("按钮_开始监测")->click();
    EXPECT_EQ(RecordedTexts(), (std::vector<QString>{Q("无店铺，请添加店铺！")}));
    EXPECT_TRUE(Control<QPushButton>("按钮_开始监测")->isEnabled());
}

TEST_F(MainWindowSimTest, StoresLoadAtOpeningAndASelectedOneCanBeRemoved) {
    MainWindow& window = OpenLoaded();
    ASSERT_EQ(window.stores().rowCount(), 2);
    EXPECT_EQ(window.stores().Cell(1, StoreTableModel::kState), StoreStateOnline());

    auto* list = Control<QTableView>("超级列表框_店铺列表");
    QSignalSpy login(&window, &MainWindow::loginWindowRequested);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(0, 1)).center());
    EXPECT_EQ(window.stores().selectedStoreId(), "11");
    EXPECT_EQ(window.stores().selectedAccount(), "a1");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualRect(list->model()->index(0, 1)).center());
    ASSERT_EQ(login.count(), 1);
    EXPECT_TRUE(login.first().first().toBool());
    EXPECT_TRUE(MessageBoxes::Recorded().empty());

    // Cancelled, it stays.
    MessageBoxes::SetNextAnswer(QMessageBox::Cancel);
    Control<QPushButton>("按钮_移出店铺")->click();
    EXPECT_EQ(RecordedTexts(), (std::vector<QString>{Q("您正在移出店铺，确定要移出吗？")}));
    EXPECT_EQ(window.stores().rowCount(), 2);

    // The reload after a removal (which may happen during a monitoring pause) leaves the cycle's cookie
    // alone.
    MessageBoxes::ClearRecorded();
    window.session().currentCookie() = "SESSION_TOKEN=being-polled";
    MessageBoxes::SetNextAnswer(QMessageBox::Ok);
    Control<QPushButton>("按钮_移出店铺")->click();
    EXPECT_EQ(window.session().currentCookie(), "SESSION_TOKEN=being-polled");
    ASSERT_EQ(window.stores().rowCount(), 1);
    EXPECT_EQ(window.stores().Cell(0, StoreTableModel::kStoreId), "22");
    EXPECT_EQ(window.stores().Cell(0, StoreTableModel::kNumber), "1");
    std::vector<StoreRecord> records;
    StoreFile(dir_.path()).ReadAll(records);
    ASSERT_EQ(records.size(), 1u);

    // The rebuilt list has nothing selected: a second click asks for a store.
    MessageBoxes::ClearRecorded();
    MessageBoxes::SetNextAnswer(QMessageBox::Ok);
    Control<QPushButton>("按钮_移出店铺")->click();
    EXPECT_EQ(RecordedTexts(), (std::vector<QString>{Q("您正在移出店铺，确定要移出吗？"), Q("请选择店铺")}));
    EXPECT_EQ(window.stores().rowCount(), 1);
}

// 移出店铺 removes the rows selected, never the row that is merely current: one deselected with Ctrl, the
// neighbour made current when the filter hides the selected row, or the row of a list rebuilt since.
TEST_F(MainWindowSimTest, RemovalTakesExactlyTheSelectedStores) {
    MainWindow& window = OpenShownWithFourStores();
    ASSERT_EQ(window.stores().rowCount(), 4);
    auto* list = Control<QTableView>("超级列表框_店铺列表");
    auto* states = Control<QComboBox>("组合框_状态筛选");
    auto* remove = Control<QPushButton>("按钮_移出店铺");
    const auto click = [&](int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                          list->visualRect(list->model()->index(row, 1)).center());
    };
    const auto storedIds = [&] {
        std::vector<StoreRecord> records;
        StoreFile(dir_.path()).ReadAll(records);
        std::vector<std::string> ids;
        for (const auto& r : records)
            ids.push_back(r.storeId);
        return ids;
    };
    const auto asksForAStoreAndRemovesNone = [&](const std::vector<std::string>& ids) {
        MessageBoxes::ClearRecorded();
        MessageBoxes::SetNextAnswer(QMessageBox::Ok);
        remove->click();
        QCoreApplication::processEvents();
        EXPECT_EQ(RecordedTexts(),
                  (std::vector<QString>{Q("您正在移出店铺，确定要移出吗？"), Q("请选择店铺")}));
        EXPECT_EQ(storedIds(), ids);
        EXPECT_EQ(window.stores().rowCount(), static_cast<int>(ids.size()));
    };

    {
        SCOPED_TRACE("deselected with Ctrl, still current");
        click(0);
        click(0, Qt::ControlModifier);
        ASSERT_TRUE(list->selectionModel()->selectedRows().isEmpty());
        ASSERT_EQ(list->currentIndex().row(), 0);
        asksForAStoreAndRemovesNone({"11", "22", "33", "44"});
    }
    {
        SCOPED_TRACE("hidden by the filter, a neighbour current");
        window.core().book().Offline("33", Utf8ToGbk("密码错误"));
        QCoreApplication::processEvents();
        click(1);                    // 22
        states->setCurrentIndex(2);  // 异常: 33 alone
        ASSERT_EQ(list->model()->rowCount(), 1);
        ASSERT_TRUE(list->currentIndex().isValid());
        asksForAStoreAndRemovesNone({"11", "22", "33", "44"});
        states->setCurrentIndex(0);
    }
    {
        SCOPED_TRACE("the list rebuilt under the selection");
        click(0);
        ASSERT_EQ(window.stores().selectedStoreId(), "11");
        // A store logged in meanwhile: the list is rebuilt.
        ASSERT_TRUE(StoreFile(dir_.path())
                        .SaveStore({.account = "a5", .password = "p5", .storeId = "55", .session = "c5"})
                        .ok());
        ASSERT_TRUE(window.core().SyncStores().ok());
        QCoreApplication::processEvents();
        ASSERT_EQ(window.stores().rowCount(), 5);
        asksForAStoreAndRemovesNone({"11", "22", "33", "44", "55"});
    }

    // Three selected, the last row current: exactly those three leave, after one confirmation.
    list->selectionModel()->clearSelection();
    for (int row : {0, 1, 3})
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list->selectionModel()->setCurrentIndex(list->model()->index(4, 0), QItemSelectionModel::NoUpdate);
    MessageBoxes::ClearRecorded();
    MessageBoxes::SetNextAnswer(QMessageBox::Ok);
    remove->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(RecordedTexts(), (std::vector<QString>{Q("您正在移出店铺，确定要移出吗？")}));
    EXPECT_EQ(storedIds(), (std::vector<std::string>{"33", "55"}));
    ASSERT_EQ(window.stores().rowCount(), 2);
    EXPECT_EQ(window.stores().Cell(0, StoreTableModel::kStoreId), "33");
    EXPECT_EQ(window.stores().Cell(1, StoreTableModel::kStoreId), "55");
}

TEST_F(MainWindowSimTest, StartAndStopRunTheCycleWithTheWindowAsItsLogAndControls) {
    sim_.SetOrders("11", {{.orderSn = "sn1",
                           .createdDuration = 86401,
                           .goodsId = "g1",
                           .uid = "u1",
                           .thumbUrl = "http://127.0.0.1:1/t.png",
                           .goodsName = "goods",
                           .groupOrderId = "G1"}});
    MainWindow& window = OpenLoaded();
    Type("编辑框_监测间隔", "1");
    auto* start = Control<QPushButton>("按钮_开始监测");
    bool startDisabledWhileRunning = false;
    QObject::connect(&window.orders(), &OrderTableModel::rowAdded, &window, [&] {
        startDisabledWhileRunning = !start->isEnabled();
        QTimer::singleShot(0, Control<QPushButton>("按钮_停止监测"), &QPushButton::click);
    });
    start->click();  // returns at once: monitoring runs on its own thread
    EXPECT_TRUE(window.core().monitoring());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.core().monitoring(); }, 5000));

    EXPECT_TRUE(startDisabledWhileRunning);
    EXPECT_TRUE(start->isEnabled());
    ASSERT_EQ(window.orders().rowCount(), 1);
    EXPECT_EQ(window.orders().Cell(0, OrderTableModel::kGoodsId), "g1");
    const std::string log = LogText();
    EXPECT_NE(log.find("有新开团订单，开团账号：小明，剩余时间：3.8小时"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.rfind('\n') + 1).substr(21), " 已停止") << log;
}

TEST_F(MainWindowSimTest, ClosingDuringMonitoringEndsItAtOnceWithItsLastLine) {
    MainWindow& window = OpenLoaded();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    Control<QPushButton>("按钮_开始监测")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.cycle().running(); }, 5000));
    QTest::qWait(100);
    const auto asked = std::chrono::steady_clock::now();
    window.close();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
    EXPECT_FALSE(window.cycle().running());
    EXPECT_FALSE(window.core().monitoring());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(LogText().substr(LogText().rfind('\n') + 1).substr(21), " 已停止");
}

// Monitoring reads the window's boxes from a copy made on the window's thread: a change must reach the copy
// at once, not when a timer next comes round.
TEST_F(MainWindowSimTest, AChangedIntervalCountsAtOnceWhileMonitoring) {
    MainWindow& window = OpenLoaded();
    Type("编辑框_监测间隔", "20");
    Control<QPushButton>("按钮_开始监测")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.cycle().running(); }, 5000));
    EXPECT_EQ(window.cycle().IntervalMs(), 20);
    Type("编辑框_监测间隔", "777");
    EXPECT_EQ(window.cycle().IntervalMs(), 777);
    Control<QLineEdit>("编辑框_监测间隔")->backspace();
    EXPECT_EQ(window.cycle().IntervalMs(), 77);
    Control<QPushButton>("按钮_停止监测")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.core().monitoring(); }, 5000));
}

// A box left open (as the login's "登录成功" may be) runs its own event loop; monitoring neither waits for it
// nor stops working, and a stop given meanwhile still ends it at once.
TEST_F(MainWindowSimTest, MonitoringGoesOnWhileABoxIsOpenAndStopsAtOnceFromIt) {
    MainWindow& window = OpenLoaded();
    window.show();
    Type("编辑框_监测间隔", "20");
    const auto orderLists = [this] {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += r.target.rfind("/chats/ungroupOrders", 0) == 0;
        return n;
    };
    Control<QPushButton>("按钮_开始监测")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.cycle().running(); }, 5000));
    int duringBox = -1;
    std::chrono::milliseconds stopTook{-1};
    QTimer::singleShot(0, &window, [&] {
        QMessageBox box(QMessageBox::Information, Q("提示"), Q("登录成功"), QMessageBox::Ok, &window);
        const int before = orderLists();
        QTimer::singleShot(1000, &box, [&] {
            duringBox = orderLists() - before;
            const auto asked = std::chrono::steady_clock::now();
            Control<QPushButton>("按钮_停止监测")->click();
            while (window.cycle().running() && std::chrono::steady_clock::now() - asked < 2s)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            stopTook = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - asked);
            box.accept();
        });
        box.exec();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return duringBox >= 0 && !window.core().monitoring(); }, 10000));
    EXPECT_GE(duringBox, 5);  // a store's list about every 40 ms (its interval and the pause after it)
    EXPECT_LT(stopTook.count(), 500);
    EXPECT_EQ(LogText().substr(LogText().rfind('\n') + 1).substr(21), " 已停止");
}

TEST_F(MainWindowSimTest, StopCloseAndQuitEndALongPauseAtOnce) {
    // At a 60 s interval the cycle sits in a pause nearly all the time: each way out must cut it short.
    const std::vector<std::pair<const char*, std::function<void(MainWindow&)>>> ways = {
        {"stop", [this](MainWindow&) { Control<QPushButton>("按钮_停止监测")->click(); }},
        {"close", [](MainWindow& w) { w.close(); }},
        {"tray quit", [](MainWindow& w) { emit w.tray().quitRequested(); }},
        {"tray stop", [](MainWindow& w) { emit w.tray().stopRequested(); }},
    };
    for (const auto& [name, way] : ways) {
        SCOPED_TRACE(name);
        MainWindow& window = OpenLoaded();
        window.show();
        Type("编辑框_监测间隔", "60000");
        std::chrono::steady_clock::time_point asked;
        QTimer::singleShot(300ms, &window, [&] {
            asked = std::chrono::steady_clock::now();
            way(window);
        });
        window.StartMonitoring();
        // A guard against hanging for a minute should the pause not end.
        ASSERT_TRUE(QTest::qWaitFor([&] { return asked != std::chrono::steady_clock::time_point{}; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.core().monitoring(); }, 5000));
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
        EXPECT_LT(took.count(), 500);
        EXPECT_EQ(LogText().substr(LogText().rfind('\n') + 1).substr(21), " 已停止");
        window_.reset();
    }
}

TEST_F(MainWindowSimTest, TheDemoStartIsTheWindowsStartAndTheTrayMenuFollowsIt) {
    auto options = Options();
    options.initInterval = 1ms;
    MainWindow& window = Open(options);
    Type("编辑框_监测间隔", "1");
    StartWhenLoaded(window);
    QAction* trayStart = nullptr;
    QAction* trayStop = nullptr;
    for (QAction* action : window.tray().menu()->actions()) {
        if (action->text() == Q("开始监测")) trayStart = action;
        if (action->text() == Q("停止监测")) trayStop = action;
    }
    ASSERT_TRUE(trayStart && trayStop);
    bool startOffWhileRunning = false, stopOnWhileRunning = false, buttonOffWhileRunning = false;
    bool seenRunning = false;
    // The cycle runs inside the queued start; the look is taken from within it.
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, &window, [&] {
        if (!window.cycle().running() || seenRunning) return;
        seenRunning = true;
        startOffWhileRunning = !trayStart->isEnabled();
        stopOnWhileRunning = trayStop->isEnabled();
        buttonOffWhileRunning = !Control<QPushButton>("按钮_开始监测")->isEnabled();
        window.cycle().RequestStop();
    });
    probe.start(20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return seenRunning && !window.cycle().running(); }, 10000));
    probe.stop();
    EXPECT_TRUE(startOffWhileRunning);
    EXPECT_TRUE(stopOnWhileRunning);
    EXPECT_TRUE(buttonOffWhileRunning);
    EXPECT_TRUE(QTest::qWaitFor([&] { return trayStart->isEnabled() && !trayStop->isEnabled(); }, 5000));
}

// --- Other buttons, the order list, the log ---------------------------------------------------------------

TEST_F(MainWindowTest, SoundButtonsTestPlayTheirSoundAndTheTutorialOpensInTheBrowser) {
    Open();
    Control<QPushButton>("按钮_新团声音")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player_.Plays().size() >= 3; }, 5000));
    Control<QPushButton>("按钮_老团声音")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player_.Plays().size() >= 4; }, 5000));
    EXPECT_EQ(player_.Plays(), (std::vector<int>{0, 0, 0, 1}));  // sound A three times (the default count)

    Control<QPushButton>("按钮_使用教程")->click();
    ASSERT_EQ(openedUrls_.size(), 1u);
    EXPECT_EQ(openedUrls_[0], window_->tutorialUrl());
    EXPECT_EQ(openedUrls_[0].toString().toStdString(),
              sim::MarketplaceSim::RefusedBaseUrl() + "/forum/tutorial.html");
}

TEST_F(MainWindowTest, LogShowsEveryLineAndItsLastOne) {
    MainWindow& window = Open();
    auto* log = Control<QPlainTextEdit>("编辑框_显示");
    for (int i = 0; i < 50; ++i)
        AppendStatusLine(window.log(), Utf8ToGbk("第" + std::to_string(i) + "行"));
    EXPECT_EQ(log->blockCount(), 50);
    EXPECT_EQ(log->document()->lastBlock().text(), Q("第49行"));
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
    window.log().Clear();
    EXPECT_TRUE(log->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, SkinAndIconComeFromTheResources) {
    auto& app = *qApp;
    ASSERT_TRUE(ApplySkin(app));
    EXPECT_TRUE(app.styleSheet().contains(QStringLiteral("QPushButton")));
    const QImage icon(QStringLiteral(":/icons/tandrel.png"));
    EXPECT_EQ(icon.size(), QSize(48, 48));
    EXPECT_EQ(icon.depth(), 32);
    EXPECT_TRUE(icon.hasAlphaChannel());
    EXPECT_FALSE(app.windowIcon().isNull());
    app.setStyleSheet({});
}
TEST_F(MainWindowTest, TheLogCanShowOnlyNewGroupsAndNoticesAndKeepsThatChoice) {
    MainWindow& window = Open();
    auto* log = Control<QPlainTextEdit>("编辑框_显示");
    AppendStatusLine(window.log(), Utf8ToGbk("[T] 店铺ID：1(A)  无开团订单，持续监测中..."));
    AppendStatusLine(window.log(),
                     Utf8ToGbk("[T] 店铺ID：1(A) 商品：g 有新开团订单，开团账号：n，剩余时间：3小时"));
    window.SetLogShowsOnlyNews(true);
    AppendStatusLine(window.log(), Utf8ToGbk("[T] 店铺ID：1(A)  无开团订单，持续监测中..."));
    AppendStatusLine(window.log(), Utf8ToGbk("[T] 已停止"));
    EXPECT_EQ(log->toPlainText(),
              Q("[T] 店铺ID：1(A) 商品：g 有新开团订单，开团账号：n，剩余时间：3小时\n[T] 已停止"));
    window_.reset();
    MainWindow& again = Open();
    EXPECT_TRUE(again.logShowsOnlyNews());
    again.SetLogShowsOnlyNews(false);
    AppendStatusLine(again.log(), Utf8ToGbk("[T] 店铺ID：1(A)  无开团订单，持续监测中..."));
    EXPECT_EQ(Control<QPlainTextEdit>("编辑框_显示")->blockCount(), 1);
    EXPECT_EQ(
        GbkToUtf8(ProfileFile(dir_ / "Config.ini").Read(Utf8ToGbk("界面"), Utf8ToGbk("日志只显示新团"))),
        "0");
}

TEST_F(MainWindowTest, SilentAlertsSayWhyInTheWindowAndOnTheSoundButtons) {
    player_.unavailable = "没有可用的声音设备（no device）";
    MainWindow& window = Open();
    Control<QPushButton>("按钮_新团声音")->click();
    ASSERT_EQ(RecordedTexts().size(), 1u);
    EXPECT_EQ(RecordedTexts()[0], Q("提示音无法播放：没有可用的声音设备（no device）"));
    EXPECT_TRUE(player_.Plays().empty());
    EXPECT_EQ(Control<QPushButton>("按钮_老团声音")->toolTip(), RecordedTexts()[0]);
    bool shown = false;
    for (QLabel* label : window.statusBar()->findChildren<QLabel*>())
        shown = shown || label->text() == RecordedTexts()[0];
    EXPECT_TRUE(shown);
}

TEST_F(MainWindowTest, TheHistoryWindowListsThisMonthNewestFirstAndSearches) {
    std::vector<ReportedGroup> groups;
    for (int i = 0; i < 3; ++i) {
        ReportedGroup g;
        g.time = std::chrono::system_clock::now() + std::chrono::seconds(i);
        g.storeId = "1";
        g.storeName = Utf8ToGbk(i == 1 ? "乙店" : "甲店");
        g.goodsId = "g" + std::to_string(i);
        g.orderSn = "sn" + std::to_string(i);
        groups.push_back(g);
    }
    ASSERT_TRUE(HistoryFile(dir_.path()).Append(groups));
    MainWindow& window = Open();
    Control<QPushButton>("按钮_历史记录")->click();
    auto* history = window.findChild<HistoryWindow*>();
    ASSERT_NE(history, nullptr);
    QTableWidget* table = history->table();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(0, 7)->text(), Q("sn2"));
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), Q("店铺名称"));
    history->Filter(Q("乙店"));
    int visible = 0;
    for (int r = 0; r < table->rowCount(); ++r)
        visible += table->isRowHidden(r) ? 0 : 1;
    EXPECT_EQ(visible, 1);
    EXPECT_FALSE(table->isRowHidden(1));
    // The tray's menu has it too.
    bool inTray = false;
    for (QAction* action : window.tray().menu()->actions())
        inTray = inTray || action->text() == Q("历史记录");
    EXPECT_TRUE(inTray);
    EXPECT_NE(window.findChild<QPushButton*>(Q("按钮_提醒设置")), nullptr);
}

TEST_F(MainWindowSimTest, AStoreIsPausedFromItsMenuAndStaysPaused) {
    MainWindow& window = OpenLoaded();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* list = Control<QTableView>("超级列表框_店铺列表");
    const std::string storeId = window.stores().Cell(0, StoreTableModel::kStoreId);
    QTimer::singleShot(0, &window, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_GE(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), Q("暂停监测此店铺"));
        menu->actions()[0]->trigger();
        menu->close();
    });
    const QPoint at = list->visualRect(list->model()->index(0, 1)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
    EXPECT_EQ(GbkToUtf8(window.stores().Cell(0, StoreTableModel::kState)), "已暂停");
    EXPECT_EQ(window.settingsFile().PausedStores(), std::set<std::string>{storeId});
    window_.reset();
    // A new run lists it paused without checking it.
    sim_.ClearRequests();
    MainWindow& again = OpenLoaded();
    EXPECT_EQ(GbkToUtf8(again.stores().Cell(0, StoreTableModel::kState)), "已暂停");
}

TEST_F(MainWindowSimTest, SeveralSelectedStoresArePausedResumedAndLoggedInAgainAlsoWhileFiltered) {
    MainWindow& window = OpenShownWithFourStores();
    ASSERT_EQ(window.stores().rowCount(), 4);
    auto* list = Control<QTableView>("超级列表框_店铺列表");
    auto* states = Control<QComboBox>("组合框_状态筛选");
    ASSERT_NE(states, nullptr);
    QStringList filters;
    for (int i = 0; i < states->count(); ++i)
        filters << states->itemText(i);
    EXPECT_EQ(filters, QStringList({Q("全部"), Q("正常"), Q("异常"), Q("已暂停")}));

    const auto shownIds = [&] {
        std::vector<std::string> ids;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            ids.push_back(
                list->model()->index(row, StoreTableModel::kStoreId).data().toString().toStdString());
        return ids;
    };
    const auto select = [&](std::initializer_list<int> rows) {
        list->selectionModel()->clearSelection();
        for (int row : rows)
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    };
    // Right-clicks shown row `row` and chooses the item `choice`; the menu's items for the stores (those
    // before the backup's, after the separator) come back.
    const auto choose = [&](int row, const char* choice) {
        QStringList items;
        QTimer::singleShot(0, &window, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* action : menu->actions()) {
                if (action->isSeparator()) break;
                items << action->text();
            }
            for (QAction* action : menu->actions())
                if (action->text() == Q(choice)) action->trigger();
            menu->close();
        });
        const QPoint at = list->visualRect(list->model()->index(row, 1)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
        QCoreApplication::processEvents();  // a queued re-login runs now
        return items;
    };
    const auto state = [&](const std::string& id) {
        for (int row = 0; row < window.stores().rowCount(); ++row)
            if (window.stores().Cell(row, StoreTableModel::kStoreId) == id)
                return GbkToUtf8(window.stores().Cell(row, StoreTableModel::kState));
        return std::string("absent");
    };

    select({0, 2});
    EXPECT_EQ(choose(0, "暂停监测选中的2个店铺"),
              QStringList({Q("暂停监测选中的2个店铺"), Q("重新登录选中的2个店铺")}));
    EXPECT_EQ(window.settingsFile().PausedStores(), (std::set<std::string>{"11", "33"}));
    EXPECT_EQ(state("22"), "正常");
    EXPECT_EQ(state("44"), "正常");

    // Filtered, the rows shown are the ones acted on.
    states->setCurrentIndex(3);  // 已暂停
    EXPECT_EQ(shownIds(), (std::vector<std::string>{"11", "33"}));
    select({1});
    // A right-click outside the selection acts on the row clicked alone.
    choose(0, "恢复监测此店铺");
    EXPECT_EQ(window.settingsFile().PausedStores(), std::set<std::string>{"33"});
    EXPECT_EQ(shownIds(), std::vector<std::string>{"33"});  // 11 left the filter as it resumed
    states->setCurrentIndex(0);
    select({0, 2});  // 11 watched, 33 paused: both ways are offered
    EXPECT_EQ(
        choose(2, "恢复监测选中的2个店铺"),
        QStringList({Q("暂停监测选中的2个店铺"), Q("恢复监测选中的2个店铺"), Q("重新登录选中的2个店铺")}));
    EXPECT_TRUE(window.settingsFile().PausedStores().empty());

    // Two stores offline; the filter 异常 shows them, and logging both in again logs in exactly those two.
    window.core().book().Offline("22", Utf8ToGbk("密码错误"));
    window.core().book().Offline("44", Utf8ToGbk("密码错误"));
    QCoreApplication::processEvents();
    states->setCurrentIndex(2);  // 异常
    ASSERT_EQ(shownIds(), (std::vector<std::string>{"22", "44"}));
    sim_.AddStore(
        {.account = "a4", .password = "changed", .mallId = "44", .mallName = "Four", .mobile = "4"});
    sim_.ClearRequests();
    select({0, 1});
    choose(1, "重新登录选中的2个店铺");
    ASSERT_TRUE(QTest::qWaitFor([&] { return state("22") == "正常"; }, 10000)) << state("22");
    EXPECT_EQ(state("44"), "已掉线，请登录店铺");
    std::vector<std::string> loggedIn;
    for (const auto& request : sim_.Requests())
        if (request.target.find("/chats/auth") == 0) loggedIn.push_back(request.body);
    ASSERT_EQ(loggedIn.size(), 2u);
    EXPECT_NE(loggedIn[0].find("a2"), std::string::npos);
    EXPECT_NE(loggedIn[1].find("a4"), std::string::npos);
    EXPECT_EQ(state("11"), "等待检查");  // resumed, not checked since
    EXPECT_EQ(shownIds(), std::vector<std::string>{"44"});
    EXPECT_NE(LogText().find("已重新登录"), std::string::npos);
    EXPECT_NE(LogText().find("重新登录失败"), std::string::npos);
}

// Last: the translator stays installed for the rest of the process.
TEST_F(MainWindowTest, QtsOwnTextsAreChineseAndBoxesAreWideEnoughForTheirTitles) {
    ASSERT_TRUE(InstallQtChinese(*qApp));
    const QString title = Q("收到机器人的测试消息回复");
    auto box = MessageBoxes::Build(nullptr, QMessageBox::Information, title, Q("好"),
                                   QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton);
    EXPECT_EQ(box->button(QMessageBox::Ok)->text(), Q("确定"));
    EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), Q("取消"));
    box->show();
    EXPECT_GE(box->width(), QFontMetrics(box->font()).horizontalAdvance(title) + 100);
    MainWindow& window = Open();
    (void)window;
    std::unique_ptr<QMenu> menu(Control<QPlainTextEdit>("编辑框_显示")->createStandardContextMenu());
    QStringList texts;
    for (QAction* action : menu->actions())
        texts.push_back(action->text());
    EXPECT_TRUE(texts.join(u' ').contains(Q("复制"))) << texts.join(u' ').toStdString();
    EXPECT_TRUE(texts.join(u' ').contains(Q("全选")));
    EXPECT_FALSE(texts.join(u' ').contains(Q("Copy")));
}

}  // namespace
}  // namespace tandrel
