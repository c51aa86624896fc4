#pragma once
// The report-style look that both lists of the main window share: whole rows, no editing, no grid, columns at
// the model's widths, and hidden columns that cannot be dragged open.

#include <QAbstractItemView>
#include <QHeaderView>
#include <QTableView>

namespace tandrel {

inline void SetUpReportView(QTableView* view, QAbstractItemModel* model, int (*columnWidth)(int),
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

}  // namespace tandrel
