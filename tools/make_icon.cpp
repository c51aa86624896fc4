// Draws the program's icon, 48 × 48 pixels with an alpha channel: a bell on a teal tile, with an orange dot
// for "something new". Usage: make_icon <output.png>
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

constexpr int kSize = 48;

QPainterPath BellBody() {
    // Symmetric about x = 24: a rounded crown, straight shoulders and a flared rim.
    QPainterPath bell;
    bell.moveTo(24, 10.5);
    bell.cubicTo(31.5, 10.5, 34, 16.5, 34, 22);
    bell.lineTo(34, 28);
    bell.cubicTo(34, 30.5, 36.5, 32.5, 38, 33.5);
    bell.lineTo(38, 35.5);
    bell.lineTo(10, 35.5);
    bell.lineTo(10, 33.5);
    bell.cubicTo(11.5, 32.5, 14, 30.5, 14, 28);
    bell.lineTo(14, 22);
    bell.cubicTo(14, 16.5, 16.5, 10.5, 24, 10.5);
    bell.closeSubpath();
    return bell;
}

void Draw(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);

    // The tile.
    QLinearGradient tile(0, 2, 0, 46);
    tile.setColorAt(0, QColor(0x2f, 0xb5, 0xa2));
    tile.setColorAt(1, QColor(0x17, 0x6b, 0x62));
    p.setPen(QPen(QColor(0x12, 0x57, 0x50), 1));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(1.5, 1.5, 45, 45), 10, 10);

    // A soft highlight across the top half.
    QLinearGradient gloss(0, 2, 0, 24);
    gloss.setColorAt(0, QColor(255, 255, 255, 70));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawRoundedRect(QRectF(2.5, 2.5, 43, 22), 9, 9);

    // The bell's shadow, then the bell, its knob and its clapper.
    p.setBrush(QColor(0, 0, 0, 45));
    p.drawPath(BellBody().translated(0.8, 1.2));
    QLinearGradient metal(10, 0, 38, 0);
    metal.setColorAt(0, QColor(0xff, 0xff, 0xff));
    metal.setColorAt(1, QColor(0xe3, 0xf1, 0xee));
    p.setBrush(metal);
    p.drawPath(BellBody());
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(24, 9.5), 2.3, 2.3);
    p.drawEllipse(QPointF(24, 38.2), 3.4, 3.4);

    // The badge.
    QRadialGradient badge(QPointF(36.5, 11), 8);
    badge.setColorAt(0, QColor(0xff, 0xa2, 0x5c));
    badge.setColorAt(1, QColor(0xf0, 0x6e, 0x1e));
    p.setPen(QPen(Qt::white, 1.6));
    p.setBrush(badge);
    p.drawEllipse(QPointF(37, 11.5), 6.2, 6.2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon <output.png>\n");
        return 2;
    }
    QImage image(kSize, kSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        Draw(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "make_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
