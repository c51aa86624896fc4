// Entry point: the store commands and headless monitoring run without a display; otherwise the window opens.
#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/autostart.h"
#include "app/command_line.h"
#include "app/demo.h"
#include "app/gui_main.h"
#include "app/headless.h"
#include "app/store_commands.h"
#include "net/endpoints.h"
#include "settings/data_folder.h"
#include "stores/keyring_keys.h"
#include "support/arguments.h"
#include "support/files.h"
#include "support/plain_text.h"
#include "support/qt_text.h"
#ifdef _WIN32
#include "app/windows_console.h"
#endif

namespace {

// A portable copy uses its own folder, an installed one the user's data location (unless one is named).
// Asking Qt for either needs an application object, which this one is only for.
tandrel::DataFolderChoice DefaultDataDir(int& argc, char** argv) {
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tandrel"));
    const auto programDir = tandrel::PathFromQString(QCoreApplication::applicationDirPath());
    const auto choice = tandrel::ChooseDataFolder(
        programDir, tandrel::IsWritableFolder(programDir),
        tandrel::PathFromQString(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
    return choice;
}

// The demo's market and its temporary folder, alive as long as the run.
struct Demo {
    tandrel::DemoMarket market;
    QTemporaryDir folder;
};

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    tandrel::AttachParentConsole();
#endif
    // Whatever reaches the terminal may carry outside text (notices, names, answers): none of it may act
    // on the terminal.
    const tandrel::FilteredStream cleanOut(std::cout), cleanErr(std::cerr);
    // UTF-8 on every platform (on Windows from the UTF-16 command line), so a Chinese --data-dir arrives
    // whole.
    std::vector<std::string> args = tandrel::Utf8Arguments(argc, argv);
    args.erase(args.begin());
    std::string error;
    const auto line = tandrel::ParseCommandLine(args, error);
    if (!line) {
        std::cerr << "tandrel: " << error << "\nUsage: "
                  << "tandrel [--data-dir DIR] [--headless [--passes N]] "
                  << "[--demo] [--start-monitoring] [COMMAND]; see tandrel --help\n";
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
    // The demo without --data-dir works in a temporary folder and leaves the usual one alone.
    const tandrel::DataFolderChoice copy = DefaultDataDir(argc, argv);
    const char* envDir = std::getenv("TANDREL_DATA_DIR");
    std::filesystem::path dataDir = line->dataDir       ? tandrel::PathFromUtf8(*line->dataDir)
                                    : line->demo        ? std::filesystem::path()
                                    : envDir && *envDir ? tandrel::PathFromUtf8(envDir)
                                                        : copy.path;
    // Nothing in the data folder is read or written before it is known to be the merchant's alone: a
    // folder another account can write could hold its Config.ini, or links into its own files.
    if (!dataDir.empty()) {
        std::string note;
        const std::string refusal = tandrel::ClaimDataFolder(dataDir,
                                                             {{"Config.ini"},
                                                              {"tandrel.lock"},
                                                              {"notices.json"},
                                                              {"shop", true},
                                                              {tandrel::PathFromUtf8("商品ID"), true},
                                                              {"history", true},
                                                              {"outbox", true}},
                                                             &note);
        std::cerr << note;
        if (!refusal.empty()) {
            std::cerr << "tandrel: " << refusal << '\n';
            if (!line->headless && line->command.empty())
                return tandrel::RunGui(argc, argv, dataDir, endpoints, false, refusal);
            return 1;
        }
    }
    // The registration to start with the computer names this folder unless it is the one found anyway; the
    // demo's temporary folder cannot be registered at all.
    if (!line->demo) tandrel::SetAutostartDataFolder(dataDir, dataDir == copy.path);
    if (!line->demo && !copy.portable) {
        // An installed copy keeps its store file's key in the system keyring; a portable one the built-in
        // key, so that its folder still moves between computers.
        tandrel::StoreFile::SetDefaultKeySource(std::make_shared<tandrel::KeyringKeys>(
            [](const std::string& note) { std::cerr << note << '\n'; }));
    }

    std::unique_ptr<Demo> demo;
    if (line->demo) {
        demo = std::make_unique<Demo>();
        if (!line->dataDir) dataDir = tandrel::PathFromQString(demo->folder.path());
        if (!demo->market.SeedStores(dataDir, std::cerr)) {
            std::cerr << "tandrel: the demo stores could not be set up\n";
            return 1;
        }
        endpoints = demo->market.endpoints();
        // TANDREL_DEMO_STEP_MS quickens the market for soak runs: milliseconds between new groups.
        long stepMs = 3000;
        if (const char* text = std::getenv("TANDREL_DEMO_STEP_MS"); text && *text) {
            char* end = nullptr;
            stepMs = std::strtol(text, &end, 10);
            if (*end != '\0' || stepMs < 10 || stepMs > 3600000) {
                std::cerr << "tandrel: TANDREL_DEMO_STEP_MS must be a number of milliseconds from 10 to "
                             "3600000\n";
                return 2;
            }
        }
        demo->market.StartStepping(std::chrono::milliseconds(stepMs));
    }

    if (!line->headless && line->command.empty())
        return tandrel::RunGui(argc, argv, dataDir, endpoints, line->demo || line->startMonitoring);

    QCoreApplication app(argc, argv);
    if (!line->command.empty())
        return tandrel::RunStoreCommand(line->command, dataDir, endpoints, std::cin, std::cout, std::cerr);
    return tandrel::RunHeadless(dataDir, endpoints, line->passes, std::cout, std::cerr);
}
