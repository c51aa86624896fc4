#include "app/status_bar_widget.h"

#include <QHBoxLayout>
#include <QLabel>

namespace tandrel {
namespace {

constexpr int kPartWidths[2] = {320, 800};

}  // namespace

StatusBarWidget::StatusBarWidget(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("状态条1"));
    setSizeGripEnabled(false);
    setFixedHeight(kHeight);
    // The bar's own layout puts 6 pixels between its items, and 320 + 6 + 800 would not fit: the parts
    // share one row of their own, edge to edge.
    auto* partsRow = new QWidget(this);
    auto* partsLayout = new QHBoxLayout(partsRow);
    partsLayout->setContentsMargins(0, 0, 0, 0);
    partsLayout->setSpacing(0);
    for (std::size_t i = 0; i < parts_.size(); ++i) {
        parts_[i] = new QLabel(partsRow);
        parts_[i]->setFixedWidth(kPartWidths[i]);
        parts_[i]->setTextFormat(Qt::PlainText);  // the vendor's support text is shown, never rendered
        partsLayout->addWidget(parts_[i]);
    }
    partsLayout->addStretch();
    addWidget(partsRow, 1);
}

void StatusBarWidget::SetText(int part, const QString& text) {
    if (part >= 0 && part < static_cast<int>(parts_.size()))
        parts_[static_cast<std::size_t>(part)]->setText(text);
}

}  // namespace tandrel
