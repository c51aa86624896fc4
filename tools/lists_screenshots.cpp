// Pictures of the two lists as an agency uses them, from the main window during the demo: the order list
// filtered by one store and sorted, and the store list with several stores selected.
//   lists_screenshots OUTDIR
// Run it with a display (xvfb-run -a does).
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <iostream>

#include "app/demo.h"
#include "app/gui_main.h"
#include "app/main_window.h"
#include "monitor/order_table_model.h"
#include "support/qt_text.h"

namespace {

bool Save(const QPixmap& picture, const QString& path) {
    if (picture.isNull() || !picture.save(path)) {
        std::cerr << "lists_screenshots: could not write " << path.toStdString() << '\n';
        return false;
    }
    std::cout << path.toStdString() << '\n';
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: lists_screenshots OUTDIR\n";
        return 2;
    }
    QApplication app(argc, argv);
    tandrel::ApplySkin(app);
    tandrel::InstallQtChinese(app);
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir folder;
    const std::filesystem::path dataDir = tandrel::PathFromQString(folder.path());
    tandrel::DemoMarket market;
    if (!market.SeedStores(dataDir, std::cerr)) return 1;
    market.StartStepping(std::chrono::milliseconds(150));
    tandrel::MainWindow window(dataDir, market.endpoints());
    QObject::connect(
        &window, &tandrel::MainWindow::storeListLoaded, &window, [&window](int) { window.StartMonitoring(); },
        Qt::QueuedConnection);
    window.move(0, 0);
    window.show();

    int status = 1;
    QTimer::singleShot(9000, &window, [&] {
        auto* orders = window.findChild<QTableView*>(QStringLiteral("超级列表框_订单数据1"));
        auto* storeChoice = window.findChild<QComboBox*>(QStringLiteral("组合框_店铺筛选"));
        auto* stores = window.findChild<QTableView*>(QStringLiteral("超级列表框_店铺列表"));
        if (!orders || !storeChoice || !stores || storeChoice->count() < 2 ||
            stores->model()->rowCount() < 3) {
            std::cerr << "lists_screenshots: the demo gave too few rows or stores\n";
            window.close();
            return app.exit(1);
        }
        // One store's groups, the least time left first.
        storeChoice->setCurrentIndex(1);
        orders->horizontalHeader()->sectionClicked(tandrel::OrderTableModel::kRemaining);
        orders->setCurrentIndex(orders->model()->index(0, 0));
        QApplication::processEvents();
        bool saved = Save(window.grab(QRect(0, 0, 558, 556)), out + "/order-list-filtered.png");

        // Two stores of three selected, as for pausing or logging them in together.
        for (int row : {0, 2})
            stores->selectionModel()->select(stores->model()->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QApplication::processEvents();
        saved = Save(window.grab(QRect(556, 0, 570, 366)), out + "/store-list-selected.png") && saved;
        status = saved ? 0 : 1;
        window.close();
        app.exit(status);
    });
    app.exec();
    return status;
}
