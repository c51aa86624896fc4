// Pictures of the reminder settings dialog and of a tray notification for the README:
//   notify_screenshots OUTDIR
// Run under an X server with a tray host (xvfb-run, trayer); without a tray only the dialog is written.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "assets/assets.h"
#include "notify/notify_settings_dialog.h"
#include "notify/tray_window.h"

namespace {

void Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    QApplication app(argc, argv);
    tandrel::InitAssets();
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/tandrel.png")));
    QFile sheet(QStringLiteral(":/skin/tandrel.qss"));
    if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    const QString out = QString::fromLocal8Bit(argv[1]);

    QTemporaryDir dir;
    tandrel::NotifySettingsDialog dialog((dir.path() + "/Config.ini").toStdString(), {}, nullptr);
    auto* kind = dialog.findChild<QComboBox*>(QStringLiteral("组合框_机器人类型"));
    kind->setCurrentIndex(kind->findData(static_cast<int>(tandrel::RobotKind::DingTalk)));
    dialog.findChild<QLineEdit*>(QStringLiteral("编辑框_机器人地址"))
        ->setText(QStringLiteral("https://robot.example/robot/send?access_token=3f9c…"));
    dialog.findChild<QLineEdit*>(QStringLiteral("编辑框_机器人密钥"))->setText(QStringLiteral("SEC8d41…"));
    // The second and third robots: the two personal channels, on their own addresses.
    auto* kind2 = dialog.findChild<QComboBox*>(QStringLiteral("组合框_机器人类型2"));
    kind2->setCurrentIndex(kind2->findData(static_cast<int>(tandrel::RobotKind::PushPlus)));
    dialog.findChild<QLineEdit*>(QStringLiteral("编辑框_机器人密钥2"))->setText(QStringLiteral("7c1e0b9a…"));
    auto* kind3 = dialog.findChild<QComboBox*>(QStringLiteral("组合框_机器人类型3"));
    kind3->setCurrentIndex(kind3->findData(static_cast<int>(tandrel::RobotKind::ServerChan)));
    dialog.findChild<QLineEdit*>(QStringLiteral("编辑框_机器人密钥3"))->setText(QStringLiteral("SCT2841Tq…"));
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("编辑框_机器人回复"))
        ->setPlainText(
            QStringLiteral("机器人3 发送成功：服务器答复 HTTP 200（{\"code\":0,\"message\":\"\"}）"));
    dialog.show();
    Pump(500);
    dialog.grab().save(out + "/notify_settings_dialog.png");
    dialog.hide();

    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fprintf(stderr, "no system tray: only the dialog was written\n");
        return 0;
    }
    tandrel::TrayWindow tray(app.windowIcon(), QStringLiteral("Tandrel"));
    Pump(1000);
    tray.ShowBatch(
        QStringLiteral("有2个开团订单"),
        QStringLiteral("小满的店 商品1234567 阿花 剩23.5小时\n小满的店 商品7654321 小李 剩8.2小时"));
    Pump(1500);
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->geometry();
    // The tray host sits at the top right, the balloon below it.
    const QRect corner(area.width() - 250, 0, 250, 110);
    screen->grabWindow(0, corner.x(), corner.y(), corner.width(), corner.height())
        .save(out + "/tray_notification.png");
    return 0;
}
