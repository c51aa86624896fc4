#include "app/order_list_widget.h"

#include <QComboBox>
#include <QCursor>
#include <QLineEdit>

#include "../common/windows_compat.h"
#include "main_window_fixture.h"

namespace tandrel {
namespace {

// The order list in its window: its menu, sorting, filters, goods page, copy and export.

QAction* MenuAction(QMenu* menu, const char* text) {
    for (QAction* a : menu->actions())
        if (a->text() == Q(text)) return a;
    ADD_FAILURE() << text;
    return menu->actions().first();
}

// A column's cells in the order the list shows them, separated by spaces.
QString ShownCells(QTableView* list, int column) {
    QStringList cells;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        cells << list->model()->index(row, column).data().toString();
    return cells.join(u' ');
}

TEST_F(MainWindowTest, OrderListFollowsNewRowsAndOffersItsMenuOnlyForACurrentRow) {
    MainWindow& window = Open();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* list = Control<QTableView>("超级列表框_订单数据1");
    list->setAttribute(Qt::WA_UnderMouse, false);  // wherever the platform put the pointer
    auto* menu = Control<QMenu>("监测菜单");
    const auto rightClick = [&](QPoint pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, list->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(list->viewport(), &event);
    };

    rightClick({20, 20});
    EXPECT_FALSE(menu->isVisible());

    for (int i = 0; i < 60; ++i)
        window.orders().AddOrderRow("s", "g" + std::to_string(i), "n", "o", "3", "");
    const QModelIndex last = list->model()->index(59, 0);
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(last).center()));

    list->setCurrentIndex(list->model()->index(58, 0));
    EXPECT_EQ(window.selectedGoodsId(), "g58");
    list->setCurrentIndex(list->model()->index(59, 2));
    rightClick(list->visualRect(last).center());
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(window.selectedGoodsId(), "g59");
    menu->hide();
}

TEST_F(MainWindowTest, AnExportThatFailsSaysSoWithAWarningAndOpensNothing) {
    MainWindow& window = Open();
    auto* menu = Control<QMenu>("监测菜单");
    window.orders().AddOrderRow(Utf8ToGbk("店"), "g1", "n", "o", "1", "");
    // The export folder cannot be made: a file stands in its place.
    const auto folder = dir_.path() / std::filesystem::path(u8"商品ID");
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "x";
    for (QAction* a : menu->actions())
        if (a->text() == Q("导出全部商品ID")) a->trigger();
    ASSERT_EQ(MessageBoxes::Recorded().size(), 1u);
    EXPECT_EQ(MessageBoxes::Recorded()[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(MessageBoxes::Recorded()[0].text.startsWith(Q("导出失败：")));
    EXPECT_TRUE(MessageBoxes::Recorded()[0].text.contains(Q("商品ID")));
    EXPECT_TRUE(openedUrls_.empty());
}

// With no row to take, neither export writes a file or opens the folder; a warning says there is nothing.
TEST_F(MainWindowTest, AnExportWithoutRowsWritesNothingAndSaysSo) {
    MainWindow& window = Open();
    auto* list = Control<QTableView>("超级列表框_订单数据1");
    auto* search = Control<QLineEdit>("编辑框_搜索订单");
    auto* menu = Control<QMenu>("监测菜单");
    window.orders().AddOrderRow(Utf8ToGbk("店"), "g1", "n", "o", "1", "");
    list->setCurrentIndex(list->model()->index(0, 0));
    list->selectionModel()->clearSelection();
    MenuAction(menu, "导出选中商品ID")->trigger();
    search->setText(Q("nothing-matches"));  // every row filtered out
    MenuAction(menu, "导出全部商品ID")->trigger();
    EXPECT_EQ(RecordedTexts(), (std::vector<QString>{Q("没有可导出的商品ID"), Q("没有可导出的商品ID")}));
    for (const auto& shown : MessageBoxes::Recorded())
        EXPECT_EQ(shown.icon, QMessageBox::Warning);
    EXPECT_TRUE(openedUrls_.empty());
    const auto folder = dir_.path() / std::filesystem::path(u8"商品ID");
    EXPECT_TRUE(!std::filesystem::exists(folder) || std::filesystem::is_empty(folder));
}

TEST_F(MainWindowTest, OrderListSortsCopiesOpensAndExports) {
    MainWindow& window = Open();
    auto* list = Control<QTableView>("超级列表框_订单数据1");
    auto* menu = Control<QMenu>("监测菜单");
    const auto action = [&](const char* text) { return MenuAction(menu, text); };
    for (const char* hours : {"5.5", "2", "3.8"})
        window.orders().AddOrderRow(Utf8ToGbk("店"), std::string("g") + hours, "n", "o", hours, "");

    // A header click sorts ascending by that column; numbers closer than 1 keep their order.
    list->horizontalHeader()->sectionClicked(OrderTableModel::kRemaining);
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("g2 g3.8 g5.5"));

    list->setCurrentIndex(list->model()->index(1, 0));
    action("复制商品ID")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Q("g3.8"));
    action("打开商品")->trigger();
    ASSERT_FALSE(openedUrls_.empty());
    EXPECT_EQ(openedUrls_.back().toString().toStdString(), GoodsPageUrl(endpoints_, "g3.8"));

    list->selectionModel()->select(list->model()->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    action("导出选中商品ID")->trigger();
    action("导出全部商品ID")->trigger();
    ASSERT_EQ(RecordedTexts().size(), 2u);
    // Each says where the file went.
    EXPECT_TRUE(RecordedTexts()[0].startsWith(Q("已导出2个商品ID到：\n")))
        << RecordedTexts()[0].toStdString();
    EXPECT_TRUE(RecordedTexts()[1].startsWith(Q("已导出3个商品ID到：\n")));
    EXPECT_TRUE(RecordedTexts()[1].contains(Q("商品ID：3个")));
    EXPECT_TRUE(openedUrls_.back().isLocalFile());
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(dir_.path() / std::filesystem::path(u8"商品ID"))) {
        std::string content;
        ReadWholeFile(entry.path(), content, 1 << 20);
        files.push_back(content);
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"g2\r\ng3.8\r\ng5.5\r\n", "g3.8\r\ng5.5\r\n"}));
}

TEST_F(MainWindowTest, RemainingTimeSortsByValueWithAnArrowAndThePictureFollowsTheSelection) {
    MainWindow& window = Open();
    auto* list = Control<OrderListWidget>("超级列表框_订单数据1");
    window.orders().AddOrderRow("s", "gA", "n", "o", "1.2", "http://127.0.0.1:1/a.png");
    window.orders().AddOrderRow("s", "gB", "n", "o", "0.9", "http://127.0.0.1:1/b.png");
    window.orders().AddOrderRow("s", "gC", "n", "o", "-0.5", "http://127.0.0.1:1/c.png");
    QSignalSpy pictures(list, &OrderListWidget::pictureAddressChanged);
    list->setCurrentIndex(list->model()->index(0, 0));
    list->horizontalHeader()->sectionClicked(OrderTableModel::kRemaining);
    // Less than 1 apart, still in order of value.
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("gC gB gA"));
    EXPECT_TRUE(list->horizontalHeader()->isSortIndicatorShown());
    EXPECT_EQ(list->horizontalHeader()->sortIndicatorSection(), OrderTableModel::kRemaining);
    // The selected order (gA) moved to the end; the selection and its picture went with it.
    EXPECT_EQ(list->currentIndex().row(), 2);
    EXPECT_EQ(window.selectedGoodsId(), "gA");
    ASSERT_FALSE(pictures.isEmpty());
    EXPECT_EQ(pictures.last().at(0).toString(), Q("http://127.0.0.1:1/a.png"));
}

TEST_F(MainWindowTest, TheOrderListHoldsStillUnderThePointerAndSaysHowManyRowsCame) {
    MainWindow& window = Open();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* list = Control<OrderListWidget>("超级列表框_订单数据1");
    list->setAttribute(Qt::WA_UnderMouse, false);  // wherever the platform put the pointer
    for (int i = 0; i < 40; ++i)
        window.orders().AddOrderRow("s", "g" + std::to_string(i), "n", "o", "3", "");
    list->verticalScrollBar()->setValue(0);
    list->setAttribute(Qt::WA_UnderMouse, true);  // the pointer rests on the list
    const QModelIndex aimed = list->indexAt({20, 30});
    for (int i = 40; i < 43; ++i)
        window.orders().AddOrderRow("s", "g" + std::to_string(i), "n", "o", "3", "");
    EXPECT_EQ(list->verticalScrollBar()->value(), 0);
    EXPECT_EQ(list->indexAt({20, 30}), aimed);  // the same row under the same spot
    auto* label = Control<QLabel>("标签_新订单");
    EXPECT_TRUE(label->isVisible());
    EXPECT_TRUE(label->text().contains(Q("有3个新订单"))) << label->text().toStdString();
    EXPECT_EQ(list->unseenRows(), 3);

    list->setAttribute(Qt::WA_UnderMouse, false);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list, &leave);
    EXPECT_FALSE(label->isVisible());
    EXPECT_EQ(list->unseenRows(), 0);
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(list->model()->index(42, 0)).center()));
}

// A box that opened and closed over the list leaves no leave event behind: the label still goes once the
// pointer is elsewhere.
TEST_F(MainWindowTest, TheNewRowsLabelGoesWhenThePointerIsGoneWithoutALeaveEvent) {
    MainWindow& window = Open();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* list = Control<OrderListWidget>("超级列表框_订单数据1");
    QCursor::setPos(list->mapToGlobal(list->rect().center()));
    list->setAttribute(Qt::WA_UnderMouse, true);
    window.orders().AddOrderRow("s", "g1", "n", "o", "3", "");
    auto* label = Control<QLabel>("标签_新订单");
    ASSERT_TRUE(label->isVisible());
    QTest::qWait(400);
    EXPECT_TRUE(label->isVisible());  // the pointer is still there
    QCursor::setPos(window.mapToGlobal(QPoint(window.width() - 5, window.height() - 5)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !label->isVisible(); }, 2000));
    EXPECT_EQ(list->unseenRows(), 0);
}

TEST_F(MainWindowTest, ASortedListActsOnTheRowShownNotTheModelRowOfTheSameIndex) {
    MainWindow& window = Open();
    auto* list = Control<OrderListWidget>("超级列表框_订单数据1");
    auto* menu = Control<QMenu>("监测菜单");
    const auto action = [&](const char* text) { return MenuAction(menu, text); };
    for (const char* id : {"101", "202", "303"})
        window.orders().AddOrderRow("s", id, "n", "o", "1", std::string("http://127.0.0.1:1/") + id + ".png");
    // The first click sorts ascending, the second reverses.
    list->horizontalHeader()->sectionClicked(OrderTableModel::kGoodsId);
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("101 202 303"));
    list->horizontalHeader()->sectionClicked(OrderTableModel::kGoodsId);
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("303 202 101"));
    EXPECT_EQ(list->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(window.orders().Cell(0, OrderTableModel::kGoodsId), "101");  // the model keeps its order

    QSignalSpy pictures(list, &OrderListWidget::pictureAddressChanged);
    list->setCurrentIndex(list->model()->index(0, 0));
    EXPECT_EQ(window.selectedGoodsId(), "303");
    ASSERT_FALSE(pictures.isEmpty());
    EXPECT_EQ(pictures.last().at(0).toString(), Q("http://127.0.0.1:1/303.png"));
    action("复制商品ID")->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Q("303"));
    action("打开商品")->trigger();
    ASSERT_FALSE(openedUrls_.empty());
    EXPECT_EQ(openedUrls_.back().toString().toStdString(), GoodsPageUrl(endpoints_, "303"));
    const QPoint at = list->visualRect(list->model()->index(0, 1)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &event);
    EXPECT_EQ(window.selectedGoodsId(), "303");
    menu->hide();

    list->selectionModel()->select(list->model()->index(1, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    action("导出选中商品ID")->trigger();
    ASSERT_EQ(RecordedTexts().size(), 1u);
    std::string content;
    for (const auto& entry :
         std::filesystem::directory_iterator(dir_.path() / std::filesystem::path(u8"商品ID")))
        ReadWholeFile(entry.path(), content, 1 << 20);
    EXPECT_EQ(content, "303\r\n202\r\n");  // the rows shown, in the order shown
}

TEST_F(MainWindowTest, TheStoreFilterAndTheSearchBoxNarrowTheListAndAnExportTakesTheRowsShown) {
    MainWindow& window = Open();
    auto* list = Control<OrderListWidget>("超级列表框_订单数据1");
    auto* stores = Control<QComboBox>("组合框_店铺筛选");
    auto* search = Control<QLineEdit>("编辑框_搜索订单");
    ASSERT_NE(stores, nullptr);
    ASSERT_NE(search, nullptr);
    window.orders().AddOrderRow(Utf8ToGbk("一号店"), "101", "Ann", "o1", "1", "", "11");
    window.orders().AddOrderRow(Utf8ToGbk("二号店"), "202", "Bob", "o2", "1", "", "22");
    window.orders().AddOrderRow(Utf8ToGbk("一号店"), "103", Utf8ToGbk("小明"), "o3", "1", "", "11");
    // A name from outside is shown on one line, without its controls.
    window.orders().AddOrderRow(Utf8ToGbk("三号\n店\x1b[31m"), "304", "Cy", "o4", "1", "", "33");
    QStringList items;
    for (int i = 0; i < stores->count(); ++i)
        items << stores->itemText(i);
    EXPECT_EQ(items, QStringList({Q("全部店铺"), Q("一号店（11）"), Q("二号店（22）"), Q("三号 店（33）")}));

    stores->setCurrentIndex(1);
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("101 103"));
    search->setText(Q("小明"));
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("103"));
    // A row of another store, or one the search does not hold, stays out.
    window.orders().AddOrderRow(Utf8ToGbk("二号店"), "205", Utf8ToGbk("小明"), "o5", "1", "", "22");
    window.orders().AddOrderRow(Utf8ToGbk("一号店"), "106", Utf8ToGbk("小明"), "o6", "1", "", "11");
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("103 106"));

    for (QAction* a : list->menu()->actions())
        if (a->text() == Q("导出全部商品ID")) a->trigger();
    ASSERT_EQ(RecordedTexts().size(), 1u);
    EXPECT_TRUE(RecordedTexts()[0].startsWith(Q("已导出2个商品ID到：\n")))
        << RecordedTexts()[0].toStdString();

    search->clear();
    EXPECT_EQ(ShownCells(list, OrderTableModel::kGoodsId), Q("101 103 106"));
    stores->setCurrentIndex(0);
    EXPECT_EQ(list->model()->rowCount(), window.orders().rowCount());
    // The list emptied (a new run of the window's rows), the filter lists only what is there.
    stores->setCurrentIndex(2);
    window.orders().Clear();
    EXPECT_EQ(stores->count(), 1);
    EXPECT_EQ(stores->currentIndex(), 0);
    window.orders().AddOrderRow(Utf8ToGbk("二号店"), "207", "n", "o7", "1", "", "22");
    EXPECT_EQ(list->model()->rowCount(), 1);
}

TEST_F(MainWindowTest, RowsArrivingWhileSortedAndFilteredKeepTheViewStillAndOnlyShownOnesAreCounted) {
    MainWindow& window = Open();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* list = Control<OrderListWidget>("超级列表框_订单数据1");
    list->setAttribute(Qt::WA_UnderMouse, false);
    for (int i = 0; i < 200; ++i)
        window.orders().AddOrderRow("s", "g" + std::to_string(i), "n", "o", "3", "", i % 2 ? "22" : "11");
    Control<QComboBox>("组合框_店铺筛选")->setCurrentIndex(1);  // store 11
    list->horizontalHeader()->sectionClicked(OrderTableModel::kNumber);
    list->horizontalHeader()->sectionClicked(OrderTableModel::kNumber);  // the newest first
    list->verticalScrollBar()->setValue(3);
    list->setAttribute(Qt::WA_UnderMouse, true);  // the pointer rests on the list
    const QString aimed =
        list->indexAt({20, 30}).siblingAtColumn(OrderTableModel::kGoodsId).data().toString();
    // Two rows of store 11 land above the rows in view, one of store 22 stays out.
    window.orders().AddOrderRow("s", "new1", "n", "o", "3", "", "11");
    window.orders().AddOrderRow("s", "other", "n", "o", "3", "", "22");
    window.orders().AddOrderRow("s", "new2", "n", "o", "3", "", "11");
    EXPECT_EQ(list->indexAt({20, 30}).siblingAtColumn(OrderTableModel::kGoodsId).data().toString(), aimed);
    auto* label = Control<QLabel>("标签_新订单");
    EXPECT_TRUE(label->isVisible());
    EXPECT_TRUE(label->text().contains(Q("有2个新订单"))) << label->text().toStdString();
    EXPECT_EQ(list->unseenRows(), 2);

    list->setAttribute(Qt::WA_UnderMouse, false);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(list, &leave);
    EXPECT_FALSE(label->isVisible());
    // The newest row shown is followed, where the sort put it: at the top.
    EXPECT_EQ(list->model()->index(0, OrderTableModel::kGoodsId).data().toString(), Q("new2"));
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(list->model()->index(0, 0)).center()));
}

#ifndef _WIN32  // the desktop's opener is found on PATH here; Windows opens through the shell instead
TEST_F(MainWindowTest, APageOrFolderThatCannotBeOpenedIsSaidWithItsAddress) {
    // No browser and no file manager: nothing on the search path opens anything.
    testing::TempDir emptyPath;
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", emptyPath.path().c_str(), 1);
    setenv("BROWSER", "", 1);
    auto options = Options();
    options.openUrl = nullptr;
    MainWindow& window = Open(options);
    Control<QPushButton>("按钮_使用教程")->click();
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_EQ(MessageBoxes::Recorded().size(), 1u);
    EXPECT_EQ(MessageBoxes::Recorded()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(MessageBoxes::Recorded()[0].text,
              Q("无法打开浏览器，请手动打开此地址：\n") + window.tutorialUrl().toString());
}
#endif

}  // namespace
}  // namespace tandrel
