#include "app/order_list_widget.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "app/report_view.h"
#include "monitor/order_list_actions.h"
#include "support/plain_text.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "widgets/message_boxes.h"

namespace tandrel {

OrderListWidget::OrderListWidget(OrderTableModel& orders, OrderListServices services, QWidget* parent)
    : QTableView(parent),
      orders_(orders),
      proxy_(new OrderListProxy(orders, this)),
      services_(std::move(services)) {
    SetUpReportView(this, proxy_, &OrderTableModel::ColumnWidth, QAbstractItemView::ExtendedSelection);

    // A pop-up only: the window has no menu bar.
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("监测菜单"));
    connect(menu_->addAction(QStringLiteral("打开商品")), &QAction::triggered, this,
            &OrderListWidget::OpenGoodsPage);
    connect(menu_->addAction(QStringLiteral("复制商品ID")), &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(FromGbk(selectedGoodsId_)); });
    connect(menu_->addAction(QStringLiteral("导出全部商品ID")), &QAction::triggered, this,
            [this] { ExportGoodsIdsOf(false); });
    connect(menu_->addAction(QStringLiteral("导出选中商品ID")), &QAction::triggered, this,
            [this] { ExportGoodsIdsOf(true); });

    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &OrderListWidget::OnCurrentRowChanged);
    horizontalHeader()->setSectionsClickable(true);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &OrderListWidget::SortBy);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &OrderListWidget::OnContextMenu);
    connect(&orders_, &OrderTableModel::rowAdded, this, &OrderListWidget::OnRowAdded);
    connect(&orders_, &QAbstractItemModel::modelReset, this, &OrderListWidget::RebuildStoreChoices);
    connect(menu_, &QMenu::aboutToHide, this, [this] {
        // After the chosen action has run.
        QMetaObject::invokeMethod(this, &OrderListWidget::CatchUp, Qt::QueuedConnection);
    });

    unseenLabel_ = new QLabel(this);
    unseenLabel_->setObjectName(QStringLiteral("标签_新订单"));
    unseenLabel_->setAutoFillBackground(true);
    unseenLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    unseenLabel_->hide();
    pointerCheck_ = new QTimer(this);
    pointerCheck_->setInterval(300);
    connect(pointerCheck_, &QTimer::timeout, this, [this] {
        // Whatever the last event said, the pointer is where the cursor is.
        if (!rect().contains(mapFromGlobal(QCursor::pos()))) setAttribute(Qt::WA_UnderMouse, false);
        CatchUp();
    });
}

void OrderListWidget::AttachFilters(QComboBox* stores, QLineEdit* search) {
    storeChoice_ = stores;
    search_ = search;
    // A search is a few words; a pasted page is cut short rather than compared against every row.
    search_->setMaxLength(64);
    search_->setPlaceholderText(QStringLiteral("搜索商品ID、开团账号或订单号"));
    search_->setClearButtonEnabled(true);
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        proxy_->SetSearchText(text);
        CatchUp();
    });
    storeChoice_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    storeChoice_->setMinimumContentsLength(8);
    RebuildStoreChoices();
    connect(storeChoice_, &QComboBox::currentIndexChanged, this, [this](int index) {
        proxy_->SetStoreFilter(index <= 0 ? std::string() : ToGbk(storeChoice_->itemData(index).toString()));
    });
}

void OrderListWidget::RebuildStoreChoices() {
    if (!storeChoice_) return;
    const QString chosen = storeChoice_->currentData().toString();
    const QSignalBlocker quiet(storeChoice_);
    storeChoice_->clear();
    storeIds_.clear();
    storeChoice_->addItem(QStringLiteral("全部店铺"), QString());
    for (int row = 0; row < orders_.rowCount(); ++row)
        AddStoreChoice(row);
    const int index = chosen.isEmpty() ? 0 : storeChoice_->findData(chosen);
    storeChoice_->setCurrentIndex(std::max(index, 0));
    proxy_->SetStoreFilter(index <= 0 ? std::string() : ToGbk(chosen));
}

void OrderListWidget::AddStoreChoice(int sourceRow) {
    if (!storeChoice_) return;
    const std::string& id = orders_.Cell(sourceRow, OrderTableModel::kStoreId);
    if (id.empty() || !storeIds_.insert(id).second) return;
    // The name came from the marketplace: one line, no controls, and short enough for the box.
    QString name = FromGbk(RemoveControls(orders_.Cell(sourceRow, OrderTableModel::kStoreName),
                                          TextBytes::Gbk, LineBreaks::ToSpace));
    if (name.size() > 24) name = name.left(23) + QStringLiteral("…");
    storeChoice_->addItem(name + QStringLiteral("（") + FromGbk(id) + QStringLiteral("）"), FromGbk(id));
}

int OrderListWidget::CurrentSourceRow() const {
    const QModelIndex current = currentIndex();
    return current.isValid() ? proxy_->SourceRow(current.row()) : -1;
}

void OrderListWidget::OnRowAdded(int sourceRow) {
    AddStoreChoice(sourceRow);
    const int shown = proxy_->ShownRow(sourceRow);
    if (shown < 0) return;  // filtered out: nothing to follow or count
    // The list holds still under the pointer and while its menu is open, so that a click or a menu action
    // hits the row the merchant aimed at; it says how many rows came meanwhile.
    if (underMouse() || menu_->isVisible()) {
        // Sorted, the row may land above the rows in view: they stay where they are on the screen.
        QScrollBar* bar = verticalScrollBar();
        if (shown <= bar->value() && verticalScrollMode() == QAbstractItemView::ScrollPerItem) {
            updateGeometries();
            bar->setValue(bar->value() + 1);
        }
        ++unseenRows_;
        unseenLabel_->setText(QStringLiteral(" 有%1个新订单（移开鼠标后显示） ").arg(unseenRows_));
        unseenLabel_->adjustSize();
        unseenLabel_->move(width() - unseenLabel_->width() - 4, height() - unseenLabel_->height() - 4);
        unseenLabel_->show();
        unseenLabel_->raise();
        pointerCheck_->start();
        return;
    }
    ScrollToShown(shown);
}

void OrderListWidget::ScrollToShown(int shownRow) {
    // The scroll range is brought up to date first (the view lays itself out later): the last row would be
    // scrolled to only partly.
    updateGeometries();
    scrollTo(proxy_->index(shownRow, 0));
}

void OrderListWidget::CatchUp() {
    if (unseenRows_ == 0 || underMouse() || menu_->isVisible()) return;
    unseenRows_ = 0;
    unseenLabel_->hide();
    pointerCheck_->stop();
    // The newest row still shown, wherever the sort put it.
    for (int row = orders_.rowCount() - 1; row >= 0; --row)
        if (const int shown = proxy_->ShownRow(row); shown >= 0) return ScrollToShown(shown);
}

void OrderListWidget::leaveEvent(QEvent* event) {
    QTableView::leaveEvent(event);
    CatchUp();
}

void OrderListWidget::SortBy(int column) {
    if (!OrderListProxy::Sortable(column)) return;
    // A new column sorts ascending; the same column again reverses. The selected order stays selected
    // wherever the sort moves it (the view's indexes follow the proxy's rows), and its picture with it.
    const Qt::SortOrder order = proxy_->sortColumn() == column && proxy_->sortOrder() == Qt::AscendingOrder
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    proxy_->sort(column, order);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, order);
    if (currentIndex().isValid()) ScrollToShown(currentIndex().row());
}

void OrderListWidget::OnContextMenu(const QPoint& pos) {
    const int row = CurrentSourceRow();
    if (row < 0) return;
    selectedGoodsId_ = orders_.Cell(row, OrderTableModel::kGoodsId);
    menu_->popup(viewport()->mapToGlobal(pos));
}

void OrderListWidget::OnCurrentRowChanged(const QModelIndex& current) {
    if (!current.isValid()) return;
    const int row = proxy_->SourceRow(current.row());
    selectedGoodsId_ = orders_.Cell(row, OrderTableModel::kGoodsId);
    emit pictureAddressChanged(
        QString::fromStdString(GbkToUtf8(orders_.Cell(row, OrderTableModel::kThumbUrl))));
}

void OrderListWidget::OpenGoodsPage() {
    // The goods id of the current row as it is now (a sort may have moved rows since the menu opened).
    const int row = CurrentSourceRow();
    if (row < 0) return;
    const std::string& goodsId = orders_.Cell(row, OrderTableModel::kGoodsId);
    OpenUrl(QUrl(QString::fromStdString(GoodsPageUrl(services_.endpoints, GbkToUtf8(goodsId)))));
}

void OrderListWidget::ExportGoodsIdsOf(bool selectedOnly) {
    // The rows as they are shown: in the order of the sort, and only those the filters let through.
    std::vector<int> rows;
    if (selectedOnly) {
        std::vector<int> shown;
        for (const QModelIndex& index : selectionModel()->selectedRows())
            shown.push_back(index.row());
        std::sort(shown.begin(), shown.end());
        for (int row : shown)
            rows.push_back(proxy_->SourceRow(row));
    } else {
        rows = proxy_->ShownSourceRows();
    }
    // No ids, no file: there is nothing to say it went anywhere, nor a folder to open.
    if (rows.empty()) {
        MessageBoxes::Show(window(), QMessageBox::Warning, QStringLiteral("没有可导出的商品ID"));
        return;
    }
    std::string failure;
    const auto file =
        ExportGoodsIds(orders_, rows, services_.dataDir, std::chrono::system_clock::now(), &failure);
    if (!failure.empty()) {
        MessageBoxes::Show(window(), QMessageBox::Warning,
                           QStringLiteral("导出失败：") + PathToQString(file) + QStringLiteral("\n") +
                               QString::fromStdString(failure));
        return;
    }
    MessageBoxes::Show(window(), QMessageBox::Information,
                       QStringLiteral("已导出") + QString::number(rows.size()) +
                           QStringLiteral("个商品ID到：\n") + PathToQString(file));
    OpenUrl(QUrl::fromLocalFile(PathToQString(services_.dataDir / std::filesystem::path(u8"商品ID"))));
}

void OrderListWidget::OpenUrl(const QUrl& url) {
    OpenExternally(window(), url, services_.openUrl);
}

}  // namespace tandrel
