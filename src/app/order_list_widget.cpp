#include "app/order_list_widget.h"

#include <QAction>
#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "app/report_view.h"
#include "monitor/order_list_actions.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "widgets/message_boxes.h"

namespace tandrel {

OrderListWidget::OrderListWidget(OrderTableModel& orders, OrderListServices services, QWidget* parent)
    : QTableView(parent), orders_(orders), services_(std::move(services)) {
    SetUpReportView(this, &orders_, &OrderTableModel::ColumnWidth, QAbstractItemView::ExtendedSelection);

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

void OrderListWidget::OnRowAdded(int row) {
    // The list holds still under the pointer and while its menu is open, so that a click or a menu action
    // hits the row the merchant aimed at; it says how many rows came meanwhile.
    if (underMouse() || menu_->isVisible()) {
        ++unseenRows_;
        unseenLabel_->setText(QStringLiteral(" 有%1个新订单（移开鼠标后显示） ").arg(unseenRows_));
        unseenLabel_->adjustSize();
        unseenLabel_->move(width() - unseenLabel_->width() - 4, height() - unseenLabel_->height() - 4);
        unseenLabel_->show();
        unseenLabel_->raise();
        pointerCheck_->start();
        return;
    }
    scrollTo(orders_.index(row, 0));
}

void OrderListWidget::CatchUp() {
    if (unseenRows_ == 0 || underMouse() || menu_->isVisible()) return;
    unseenRows_ = 0;
    unseenLabel_->hide();
    pointerCheck_->stop();
    if (orders_.rowCount() > 0) scrollTo(orders_.index(orders_.rowCount() - 1, 0));
}

void OrderListWidget::leaveEvent(QEvent* event) {
    QTableView::leaveEvent(event);
    CatchUp();
}

void OrderListWidget::SortBy(int column) {
    // The selected order stays selected wherever the sort moves it, and its picture with it.
    const QModelIndex current = currentIndex();
    const bool had = current.isValid() && current.row() < orders_.rowCount();
    const OrderTableModel::Row selected =
        had ? orders_.rows()[static_cast<std::size_t>(current.row())] : OrderTableModel::Row{};
    if (!SortOrderList(orders_, column)) return;
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, Qt::AscendingOrder);
    if (!had) return;
    const auto& rows = orders_.rows();
    const auto found = std::find(rows.begin(), rows.end(), selected);
    if (found == rows.end()) return emit pictureAddressChanged(QString());
    const int row = static_cast<int>(found - rows.begin());
    selectionModel()->setCurrentIndex(orders_.index(row, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void OrderListWidget::OnContextMenu(const QPoint& pos) {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    selectedGoodsId_ = orders_.Cell(current.row(), OrderTableModel::kGoodsId);
    menu_->popup(viewport()->mapToGlobal(pos));
}

void OrderListWidget::OnCurrentRowChanged(const QModelIndex& current) {
    if (!current.isValid()) return;
    selectedGoodsId_ = orders_.Cell(current.row(), OrderTableModel::kGoodsId);
    emit pictureAddressChanged(
        QString::fromStdString(GbkToUtf8(orders_.Cell(current.row(), OrderTableModel::kThumbUrl))));
}

void OrderListWidget::OpenGoodsPage() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    // The goods id of the current row as it is now (a sort may have moved rows since the menu opened).
    const std::string& goodsId = orders_.Cell(current.row(), OrderTableModel::kGoodsId);
    OpenUrl(QUrl(QString::fromStdString(GoodsPageUrl(services_.endpoints, GbkToUtf8(goodsId)))));
}

void OrderListWidget::ExportGoodsIdsOf(bool selectedOnly) {
    std::vector<int> rows;
    if (selectedOnly) {
        for (const QModelIndex& index : selectionModel()->selectedRows())
            rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
    } else {
        for (int row = 0; row < orders_.rowCount(); ++row)
            rows.push_back(row);
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
