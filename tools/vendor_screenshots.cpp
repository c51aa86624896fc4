// Takes the pictures of the vendor windows for docs/: the start-up window after the check (the demo service's
// logo, notice and support line), the notice window while locked, the updater window mid-download and the
// new-version window. Run under a display (xvfb-run). Usage: vendor_screenshots <docs dir>
#include <QApplication>
#include <QFile>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "app/vendor_startup.h"
#include "assets/assets.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "update/new_version_window.h"
#include "update/notice_window.h"
#include "update/updater_window.h"
#include "widgets/message_boxes.h"

using namespace tandrel;

namespace {

bool Save(QWidget& window, const QString& path) {
    QTest::qWait(300);
    const bool ok = window.grab().save(path);
    if (!ok) std::fprintf(stderr, "vendor_screenshots: cannot write %s\n", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vendor_screenshots <docs dir>\n");
        return 2;
    }
    const QString docs = QString::fromLocal8Bit(argv[1]);
    InitAssets();
    QFile sheet(QStringLiteral(":/skin/tandrel.qss"));
    if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));

    sim::MarketplaceSim market;
    QFile logo(QStringLiteral(":/logo/demo_vendor_logo.gif"));
    if (logo.open(QIODevice::ReadOnly)) market.vendor().SetLogo(logo.readAll().toStdString());
    const Endpoints endpoints = Endpoints::AllAt(market.baseUrl());
    MessageBoxes::SetUnattended(true);  // the pictures are of the windows, not of their boxes
    VendorWindowServices quiet{.openUrl = [](const QUrl&) {}};
    const auto scratch = std::filesystem::temp_directory_path() / "tandrel-vendor-screenshots";
    std::filesystem::create_directories(scratch);

    // First without a start-up notice or a logo of the service's: the carried logo shows.
    auto plain = sim::VendorService::DefaultFields("1.3.1");
    plain[7] = "0";
    plain[15] = "0";
    market.vendor().SetVersionFields(plain);
    bool ok = true;
    {
        VendorStartup first(endpoints, scratch, quiet);
        if (!first.Run() || !first.startupWindow()) return 1;
        ok = Save(*first.startupWindow(), docs + "/startup_window.png");
    }
    market.vendor().SetVersionFields(sim::VendorService::DefaultFields("1.3.1"));
    VendorStartup startup(endpoints, scratch, quiet);
    if (!startup.Run() || !startup.startupWindow()) return 1;
    ok = Save(*startup.startupWindow(), docs + "/startup_window_notice.png") && ok;
    startup.startupWindow()->close();

    NoticeWindow notice(startup.result().windowNotice, "5", quiet);
    notice.show();
    ok = Save(notice, docs + "/notice_window.png") && ok;
    notice.hide();

    // A newer version whose package arrives slowly enough to be caught half-way.
    auto fields = sim::VendorService::DefaultFields("1.3.2");
    std::string block;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string field = fields[i];
        if (auto at = field.find("{base}"); at != std::string::npos) field.replace(at, 6, market.baseUrl());
        block += (i ? "|" : "") + field;
    }
    market.vendor().SetVersionFields(fields);
    market.vendor().SetPackage(std::string(4 << 20, 'x'), sim::PackageDelivery::Whole,
                               std::chrono::milliseconds(4));
    UpdaterOptions options;
    options.programDir = scratch;
    options.unpackDir = scratch;
    options.startProgram = [](const std::filesystem::path&) { return true; };
    UpdaterWindow updater(VersionRecord::Parse(block), options, startup.result().supportText, {}, quiet);
    updater.show();
    updater.Begin();
    QTest::qWait(900);
    ok = Save(updater, docs + "/updater_window.png") && ok;
    updater.hide();

    NewVersionWindow manual(VersionRecord::Parse(block).Field(kFieldManualDownload),
                            startup.result().supportText, QString::fromStdString(market.baseUrl()), quiet);
    manual.show();
    ok = Save(manual, docs + "/new_version_window.png") && ok;
    std::filesystem::remove_all(scratch);
    return ok ? 0 : 1;
}
