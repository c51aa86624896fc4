#include "notify/history_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <chrono>

#include "notify/history_file.h"
#include "support/qt_text.h"

namespace tandrel {
namespace {

// The history's columns, as the file's header names them.
QStringList Columns() {
    return QString::fromStdString(HistoryFile::HeaderLine()).split(u',');
}

}  // namespace

HistoryWindow::HistoryWindow(std::filesystem::path dataDir, QWidget* parent)
    : QDialog(parent), dataDir_(std::move(dataDir)) {
    setObjectName(QStringLiteral("窗口_历史记录"));
    setWindowTitle(QStringLiteral("历史记录（本月）"));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("编辑框_搜索"));
    search_->setPlaceholderText(QStringLiteral("搜索店铺、商品ID、开团账号、订单号…"));
    search_->setClearButtonEnabled(true);
    auto* reload = new QPushButton(QStringLiteral("刷新"), this);
    count_ = new QLabel(this);
    bar->addWidget(search_, 1);
    bar->addWidget(reload);
    bar->addWidget(count_);
    layout->addLayout(bar);

    table_ = new QTableWidget(this);
    table_->setObjectName(QStringLiteral("列表_历史记录"));
    table_->setColumnCount(static_cast<int>(Columns().size()));
    table_->setHorizontalHeaderLabels(Columns());
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(20);
    table_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table_);
    resize(960, 480);

    connect(search_, &QLineEdit::textChanged, this, &HistoryWindow::Filter);
    connect(reload, &QPushButton::clicked, this, &HistoryWindow::Reload);
    Reload();
}

void HistoryWindow::Reload() {
    const auto rows = HistoryFile(dataDir_).RowsOf(std::chrono::system_clock::now());
    table_->setRowCount(0);
    table_->setRowCount(static_cast<int>(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size() && c < static_cast<std::size_t>(table_->columnCount());
             ++c)
            table_->setItem(static_cast<int>(r), static_cast<int>(c),
                            new QTableWidgetItem(QString::fromStdString(rows[r][c])));
    table_->resizeColumnsToContents();
    Filter(search_->text());
}

void HistoryWindow::Filter(const QString& text) {
    const QString wanted = text.trimmed();
    int shown = 0;
    for (int r = 0; r < table_->rowCount(); ++r) {
        bool match = wanted.isEmpty();
        for (int c = 0; c < table_->columnCount() && !match; ++c)
            if (const QTableWidgetItem* item = table_->item(r, c))
                match = item->text().contains(wanted, Qt::CaseInsensitive);
        table_->setRowHidden(r, !match);
        shown += match ? 1 : 0;
    }
    count_->setText(QStringLiteral("%1 / %2 条").arg(shown).arg(table_->rowCount()));
}

}  // namespace tandrel
