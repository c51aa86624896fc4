#pragma once
// The order list 超级列表框_订单数据1 with what the merchant does with it: sorting by a column header click
// (a second click on the same column reverses it), the store filter 组合框_店铺筛选 and the search box
// 编辑框_搜索订单 above it, and the right-click menu 监测菜单 (open the goods page, copy the goods id, export
// the shown or the selected goods ids). It shows the model through an OrderListProxy: every row it acts on is
// the row shown. It tells the window the current row's picture address; the window shows the picture.

#include <QTableView>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "monitor/order_list_actions.h"
#include "monitor/order_table_model.h"
#include "net/endpoints.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;
class QMenu;

namespace tandrel {

struct OrderListServices {
    Endpoints endpoints;                       // the mobile site's goods pages
    std::filesystem::path dataDir;             // exports go to 商品ID/ under it
    std::function<void(const QUrl&)> openUrl;  // null: the desktop's default browser
};

class OrderListWidget final : public QTableView {
    Q_OBJECT

  public:
    OrderListWidget(OrderTableModel& orders, OrderListServices services, QWidget* parent);

    // The filter controls the window placed above the list: the store filter lists "全部店铺" and every
    // store that has a row, the search box narrows the rows as it is typed in.
    void AttachFilters(QComboBox* stores, QLineEdit* search);
    OrderListProxy& shown() { return *proxy_; }

    // Goods id (GBK) of the row last made current or right-clicked.
    const std::string& selectedGoodsId() const { return selectedGoodsId_; }
    QMenu* menu() const { return menu_; }
    // Rows that arrived while the list held still (the pointer over it, or its menu open).
    int unseenRows() const { return unseenRows_; }

  signals:
    // A row became current: its goods picture address (UTF-8), empty when it has none.
    void pictureAddressChanged(const QString& address);

  protected:
    void leaveEvent(QEvent* event) override;

  private:
    void OnRowAdded(int sourceRow);
    void AddStoreChoice(int sourceRow);
    void RebuildStoreChoices();
    // The model's row of the current row (-1: none).
    int CurrentSourceRow() const;
    void CatchUp();
    void ScrollToShown(int shownRow);
    void SortBy(int column);
    void OnContextMenu(const QPoint& pos);
    void OnCurrentRowChanged(const QModelIndex& current);
    void OpenGoodsPage();
    void ExportGoodsIdsOf(bool selectedOnly);
    void OpenUrl(const QUrl& url);

    OrderTableModel& orders_;
    OrderListProxy* proxy_ = nullptr;
    OrderListServices services_;
    QComboBox* storeChoice_ = nullptr;
    QLineEdit* search_ = nullptr;
    std::set<std::string> storeIds_;  // those in the store filter
    std::string selectedGoodsId_;
    QMenu* menu_ = nullptr;
    QLabel* unseenLabel_ = nullptr;
    int unseenRows_ = 0;
    // While rows wait: the pointer may have left without a leave event (a box that closed over the list).
    QTimer* pointerCheck_ = nullptr;
};

}  // namespace tandrel
