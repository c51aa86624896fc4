// Entry point: the store commands and headless monitoring run without a display; otherwise the window opens.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/command_line.h"
#include "app/demo.h"
#include "app/headless.h"
#include "app/store_commands.h"
#include "support/endpoints.h"

namespace {

std::filesystem::path ResolveDataDir(const tandrel::CommandLine& line) {
    if (line.dataDir) return *line.dataDir;
    if (const char* env = std::getenv("TANDREL_DATA_DIR"); env && *env) return env;
    return QCoreApplication::applicationDirPath().toStdString();
}

int RunWindowed(int& argc, char** argv, const std::filesystem::path&, const tandrel::Endpoints&) {
    (void)argc, (void)argv;
    std::cout << "Tandrel 1.3.1: the main window is not built yet; see tandrel --help.\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto line = tandrel::ParseCommandLine(args, error);
    if (!line) {
        std::cerr << "tandrel: " << error << "\n"
                  << "Usage: tandrel [--data-dir DIR] [--headless [--passes N]] [--demo] [COMMAND]; see "
                     "tandrel --help\n";
        return 2;
    }
    if (line->help) {
        std::cout << tandrel::UsageText();
        return 0;
    }
    auto endpoints = tandrel::Endpoints::FromEnvironment(&error);
    if (!error.empty()) {
        std::cerr << "tandrel: " << error << "\n";
        return 2;
    }

    if (!line->headless && line->command.empty()) {
        // The window needs its own application object; the demo's market lives as long as the window.
        std::unique_ptr<tandrel::DemoMarket> demo;
        std::unique_ptr<QTemporaryDir> demoDir;
        std::filesystem::path dataDir;
        {
            QCoreApplication probe(argc, argv);
            dataDir = ResolveDataDir(*line);
        }
        if (line->demo) {
            demo = std::make_unique<tandrel::DemoMarket>();
            demoDir = std::make_unique<QTemporaryDir>();
            dataDir = demoDir->path().toStdString();
            if (!demo->SeedStores(dataDir, std::cerr)) return 1;
            endpoints = demo->endpoints();
        }
        return RunWindowed(argc, argv, dataDir, endpoints);
    }

    QCoreApplication app(argc, argv);
    std::filesystem::path dataDir = ResolveDataDir(*line);
    if (!line->command.empty())
        return tandrel::RunStoreCommand(line->command, dataDir, endpoints, std::cin, std::cout, std::cerr);

    std::unique_ptr<tandrel::DemoMarket> demo;
    QTemporaryDir demoDir;
    QTimer demoClock;
    if (line->demo) {
        demo = std::make_unique<tandrel::DemoMarket>();
        if (!line->dataDir) dataDir = demoDir.path().toStdString();
        if (!demo->SeedStores(dataDir, std::cerr)) {
            std::cerr << "tandrel: the demo stores could not be set up\n";
            return 1;
        }
        endpoints = demo->endpoints();
        QObject::connect(&demoClock, &QTimer::timeout, [&demo] { demo->Step(); });
        demoClock.start(3000);
    }
    return tandrel::RunHeadless(dataDir, endpoints, line->passes, std::cout, std::cerr);
}
