// Takes docs/main_window.png: the main window during the demo, an order row selected and its goods picture
// shown. Run it with a display (xvfb-run does): make_screenshot OUTPUT.png
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <iostream>

#include "app/demo.h"
#include "app/gui_main.h"
#include "app/main_window.h"
#include "stores/store_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_screenshot OUTPUT.png\n";
        return 2;
    }
    QApplication app(argc, argv);
    tandrel::ApplySkin(app);
    QTemporaryDir folder;
    const std::filesystem::path dataDir = folder.path().toStdString();
    tandrel::DemoMarket market;
    if (!market.SeedStores(dataDir, std::cerr)) return 1;
    market.StartStepping(std::chrono::milliseconds(700));
    tandrel::EnsureWorkDirs(dataDir);
    tandrel::MainWindow window(dataDir, market.endpoints());
    QObject::connect(
        &window, &tandrel::MainWindow::storeListLoaded, &window,
        [&window](int) {
            if (auto* start = window.findChild<QPushButton*>(QStringLiteral("按钮_开始监测"))) start->click();
        },
        Qt::QueuedConnection);
    window.show();

    int status = 1;
    // Once some groups have come in, select the third row, wait for its picture, and take the window.
    QTimer::singleShot(9000, &window, [&] {
        auto* list = window.findChild<QTableView*>(QStringLiteral("超级列表框_订单数据1"));
        if (!list || list->model()->rowCount() < 3) {
            std::cerr << "make_screenshot: too few orders came in\n";
            return app.exit(1);
        }
        list->setFocus();
        list->selectionModel()->setCurrentIndex(
            list->model()->index(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTimer::singleShot(1500, &window, [&] {
            auto* picture = window.findChild<QLabel*>(QStringLiteral("图片框2"));
            if (!picture || picture->pixmap().isNull()) {
                std::cerr << "make_screenshot: the goods picture did not arrive\n";
                return app.exit(1);
            }
            status = window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
            // Closing the window stops monitoring first, which returns from the start button's click.
            window.close();
            app.exit(status);
        });
    });
    app.exec();
    return status;
}
