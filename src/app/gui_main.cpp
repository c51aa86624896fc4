#include "app/gui_main.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/main_window.h"
#include "app/vendor_startup.h"
#include "assets/assets.h"
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

void StartWhenLoaded(MainWindow& window) {
    // Queued, so the load's handler has returned before the cycle (which runs until stopped) begins.
    QObject::connect(
        &window, &MainWindow::storeListLoaded, &window,
        [&window](int result) {
            if (result == kStoreOk) window.StartMonitoring();  // the button's own start
        },
        Qt::QueuedConnection);
}

bool InstallQtChinese(QApplication& app) {
    // Owned by the application: it must live as long as any window may ask for a text.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

int RunGui(int& argc, char** argv, const std::filesystem::path& dataDir, const Endpoints& endpoints,
           bool startMonitoring, const std::string& refusal) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    ApplySkin(app);
    InstallQtChinese(app);
    if (!refusal.empty()) {
        // Started from a desktop there is no terminal to read stderr on.
        MessageBoxes::Show(nullptr, QMessageBox::Warning, QString::fromStdString(refusal));
        return 1;
    }
    auto core = std::make_unique<AppCore>(AppCoreOptions{.dataDir = dataDir, .endpoints = endpoints});
    VendorStartup vendor(endpoints, PathFromQString(QCoreApplication::applicationDirPath()),
                         VendorWindowServices{});
    if (!core->Open(vendor)) return vendor.exitCode();
    MainWindowOptions options;
    options.announcedVersion = vendor.announcedVersion();
    MainWindow window(std::move(core), options);
    vendor.Attach(window);
    if (startMonitoring) StartWhenLoaded(window);
    window.show();
    return QApplication::exec();
}

}  // namespace tandrel
