// Draws the start-up window's logo as a GIF, 562 × 168 pixels: the program's name on a teal banner. With
// "--demo" it draws the banner that the demo's simulated vendor serves in its place (the same size, another
// colour and caption). Qt writes no GIF, so the encoder (LZW, one global 256-colour table) is here.
// Usage: make_logo [--demo] <output.gif>
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int kWidth = 562;
constexpr int kHeight = 168;

QColor Start(bool demo) {
    return demo ? QColor(0x3a, 0x4e, 0x9c) : QColor(0x2f, 0xb5, 0xa2);
}
QColor End(bool demo) {
    return demo ? QColor(0x1d, 0x27, 0x55) : QColor(0x14, 0x5e, 0x56);
}

QColor Mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Every colour the banner holds lies between a point of the background gradient and white: 16 steps along
// the gradient times 16 towards white make the 256 colours.
QList<QRgb> Palette(bool demo) {
    QList<QRgb> palette;
    for (int g = 0; g < 16; ++g) {
        const QColor base = Mix(Start(demo), End(demo), g / 15.0);
        for (int w = 0; w < 16; ++w)
            palette.push_back(Mix(base, Qt::white, w / 15.0).rgb());
    }
    return palette;
}

QImage Draw(bool demo) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient background(0, 0, kWidth, kHeight);
    background.setColorAt(0, Start(demo));
    background.setColorAt(1, End(demo));
    p.fillRect(image.rect(), background);
    // Rings behind the name: something spreading, as news of a group does.
    p.setPen(QPen(QColor(255, 255, 255, 40), 6));
    for (int r = 40; r <= 160; r += 40)
        p.drawEllipse(QPoint(470, 84), r, r);
    p.setPen(Qt::white);
    QFont title(QStringLiteral("WenQuanYi Micro Hei"));
    title.setPixelSize(64);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(36, 18, 500, 80), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tandrel"));
    QFont caption(QStringLiteral("WenQuanYi Micro Hei"));
    caption.setPixelSize(24);
    p.setFont(caption);
    p.drawText(
        QRect(40, 100, 500, 40), Qt::AlignLeft | Qt::AlignVCenter,
        demo ? QStringLiteral("演示服务器 · 模拟的厂商标志") : QStringLiteral("开团监测 · 新团即时提醒"));
    p.end();
    return image;
}

class BitWriter {
  public:
    void Put(int code, int size) {
        buffer_ |= static_cast<unsigned long>(code) << bits_;
        bits_ += size;
        while (bits_ >= 8) {
            bytes_.push_back(static_cast<unsigned char>(buffer_ & 0xFF));
            buffer_ >>= 8;
            bits_ -= 8;
        }
    }
    std::vector<unsigned char> Finish() {
        if (bits_ > 0) bytes_.push_back(static_cast<unsigned char>(buffer_ & 0xFF));
        return bytes_;
    }

  private:
    std::vector<unsigned char> bytes_;
    unsigned long buffer_ = 0;
    int bits_ = 0;
};

std::vector<unsigned char> Lzw(const std::vector<unsigned char>& pixels) {
    constexpr int kMinCodeSize = 8, kClear = 256, kEnd = 257;
    BitWriter out;
    std::map<std::pair<int, int>, int> table;
    int codeSize = kMinCodeSize + 1, maxCode = kEnd, current = -1;
    out.Put(kClear, codeSize);
    for (unsigned char pixel : pixels) {
        if (current < 0) {
            current = pixel;
            continue;
        }
        if (auto it = table.find({current, pixel}); it != table.end()) {
            current = it->second;
            continue;
        }
        out.Put(current, codeSize);
        table[{current, pixel}] = ++maxCode;
        if (maxCode >= (1 << codeSize)) ++codeSize;
        if (maxCode == 4095) {
            out.Put(kClear, codeSize);
            table.clear();
            codeSize = kMinCodeSize + 1;
            maxCode = kEnd;
        }
        current = pixel;
    }
    out.Put(current, codeSize);
    out.Put(kClear, codeSize);
    out.Put(kEnd, kMinCodeSize + 1);
    return out.Finish();
}

std::string Gif(const QImage& source, const QList<QRgb>& palette) {
    const QImage image = source.convertToFormat(QImage::Format_Indexed8, palette, Qt::DiffuseDither);
    std::string gif = "GIF89a";
    auto word = [&gif](int v) {
        gif += static_cast<char>(v & 0xFF);
        gif += static_cast<char>((v >> 8) & 0xFF);
    };
    word(image.width());
    word(image.height());
    gif += static_cast<char>(0xF7);  // a global table of 256 colours
    gif += '\0';
    gif += '\0';
    const auto colours = image.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < colours.size() ? colours[i] : 0;
        gif += static_cast<char>(qRed(c));
        gif += static_cast<char>(qGreen(c));
        gif += static_cast<char>(qBlue(c));
    }
    gif += ',';
    word(0);
    word(0);
    word(image.width());
    word(image.height());
    gif += '\0';
    gif += static_cast<char>(8);
    std::vector<unsigned char> pixels;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        pixels.insert(pixels.end(), line, line + image.width());
    }
    const auto data = Lzw(pixels);
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        gif += static_cast<char>(n);
        gif.append(reinterpret_cast<const char*>(data.data() + at), n);
    }
    gif += '\0';
    gif += ';';
    return gif;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const bool demo = argc == 3 && std::strcmp(argv[1], "--demo") == 0;
    if (argc != 2 && !demo) {
        std::fprintf(stderr, "usage: make_logo [--demo] <output.gif>\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    const std::string gif = Gif(Draw(demo), Palette(demo));
    std::FILE* f = std::fopen(path, "wb");
    if (!f || std::fwrite(gif.data(), 1, gif.size(), f) != gif.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_logo: cannot write %s\n", path);
        return 1;
    }
    // Read it back: a logo that Qt cannot decode would silently show nothing.
    QImage check;
    if (!check.load(QString::fromLocal8Bit(path)) || check.size() != QSize(kWidth, kHeight)) {
        std::fprintf(stderr, "make_logo: %s does not read back as a %d x %d picture\n", path, kWidth,
                     kHeight);
        return 1;
    }
    return 0;
}
