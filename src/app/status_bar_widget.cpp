#include "app/status_bar_widget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

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

QPushButton* StatusBarWidget::AddButton(const QString& caption, const char* name) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(QString::fromUtf8(name));
    button->setFlat(true);
    button->setFixedHeight(kHeight - 4);
    button->setCursor(Qt::PointingHandCursor);
    // Over the right end of the second part (the support line rarely reaches it): the two parts keep their
    // widths, which fill the bar.
    button->setAutoFillBackground(true);
    buttons_.push_back(button);
    PlaceButtons();
    button->show();
    return button;
}

void StatusBarWidget::resizeEvent(QResizeEvent* event) {
    QStatusBar::resizeEvent(event);
    PlaceButtons();
}

void StatusBarWidget::PlaceButtons() {
    int right = width() - 2;
    for (auto it = buttons_.rbegin(); it != buttons_.rend(); ++it) {
        QPushButton* button = *it;
        button->adjustSize();
        right -= button->width();
        button->move(right, (height() - button->height()) / 2);
        button->raise();
        right -= 4;
    }
}

void StatusBarWidget::SetText(int part, const QString& text) {
    if (part >= 0 && part < static_cast<int>(parts_.size()))
        parts_[static_cast<std::size_t>(part)]->setText(text);
}

QString StatusBarWidget::Text(int part) const {
    if (part < 0 || part >= static_cast<int>(parts_.size())) return {};
    return parts_[static_cast<std::size_t>(part)]->text();
}

}  // namespace tandrel
