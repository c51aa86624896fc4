#include "app/gui_main.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

#include "app/main_window.h"
#include "app/vendor_startup.h"
#include "assets/assets.h"
#include "stores/store_file.h"
#include "support/instance_lock.h"
#include "support/qt_text.h"
#include "widgets/message_boxes.h"

namespace tandrel {

bool ApplySkin(QApplication& app) {
    InitAssets();
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/tandrel.png")));
    QFile sheet(QStringLiteral(":/skin/tandrel.qss"));
    if (!sheet.open(QIODevice::ReadOnly)) return false;
    const QString text = QString::fromUtf8(sheet.readAll());
    if (text.isEmpty()) return false;
    app.setStyleSheet(text);
    return true;
}

int RunGui(int& argc, char** argv, const std::filesystem::path& dataDir, const Endpoints& endpoints,
           bool startMonitoring) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    ApplySkin(app);
    EnsureWorkDirs(dataDir);
    const InstanceLock lock(dataDir);
    if (!lock.held()) {
        MessageBoxes::Show(nullptr, QMessageBox::Warning, QString::fromStdString(lock.RefusalText()));
        return 1;
    }
    VendorWindowServices services{
        .showMessage = [](QWidget* parent, QMessageBox::Icon icon, const QString& title,
                          const QString& text) { MessageBoxes::ShowTitled(parent, icon, title, text); },
        .openUrl = {}};
    VendorStartup vendor(endpoints, PathFromQString(QCoreApplication::applicationDirPath()), services);
    if (!vendor.Run()) return vendor.exitCode();
    MainWindowOptions options;
    options.announcedVersion = vendor.announcedVersion();
    MainWindow window(dataDir, endpoints, options);
    vendor.Attach(window);
    if (startMonitoring) {
        // Queued, so the load's handler has returned before the cycle (which runs until stopped) begins.
        QObject::connect(
            &window, &MainWindow::storeListLoaded, &window,
            [&window](int result) {
                if (result == kStoreOk) window.core().StartMonitoring();
            },
            Qt::QueuedConnection);
    }
    window.show();
    return QApplication::exec();
}

}  // namespace tandrel
