#include "widgets/caption_widgets.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace tandrel {

std::pair<QString, QString> SplitAtBlankRun(const QString& caption) {
    const auto start = caption.indexOf(QStringLiteral("  "));
    if (start < 0) return {caption, {}};
    auto end = start;
    while (end < caption.size() && caption[end] == u' ')
        ++end;
    return {caption.left(start), caption.mid(end)};
}

void GapCheckBox::setTailX(int x) {
    tailX_ = x;
    update();
}

void GapCheckBox::paintEvent(QPaintEvent* event) {
    const auto [head, tail] = SplitAtBlankRun(text());
    if (tail.isEmpty() || tailX_ < 0) return QCheckBox::paintEvent(event);
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = head;
    painter.drawControl(QStyle::CE_CheckBox, option);
    painter.drawItemText(rect().adjusted(tailX_, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, option.palette,
                         isEnabled(), tail, foregroundRole());
}

void GapLabel::setTailX(int x) {
    tailX_ = x;
    update();
}

void GapLabel::paintEvent(QPaintEvent* event) {
    const auto [head, tail] = SplitAtBlankRun(text());
    if (tail.isEmpty() || tailX_ < 0) return QLabel::paintEvent(event);
    QPainter painter(this);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter;
    style()->drawItemText(&painter, contentsRect(), flags, palette(), isEnabled(), head, foregroundRole());
    style()->drawItemText(&painter, rect().adjusted(tailX_, 0, 0, 0), flags, palette(), isEnabled(), tail,
                          foregroundRole());
}

}  // namespace tandrel
