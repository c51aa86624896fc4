#include "app/command_line.h"

#include <string>

namespace tandrel {

const char* UsageText() {
    return "Usage: tandrel [--data-dir DIR] [--headless [--passes N]] [--demo] [--start-monitoring]\n"
           "               [COMMAND]\n"
           "\n"
           "Without a command, the main window opens.\n"
           "\n"
           "Commands:\n"
           "  store add ACCOUNT     log the store in (password: first line of standard input) and save it\n"
           "  store list            check every saved store's session and list the stores\n"
           "  store remove STOREID  remove a saved store\n"
           "  store export FILE     write every store (account, password, id, name, session) to FILE,\n"
           "                        encrypted under a passphrase (first line of standard input, at least\n"
           "                        8 characters): how stores move to another computer\n"
           "  store import FILE     add the stores of a backup made by store export, or update those with\n"
           "                        the same store id (the same passphrase on standard input)\n"
           "\n"
           "Options:\n"
           "  --data-dir DIR        where Config.ini, shop/ and the exports live (default: "
           "TANDREL_DATA_DIR;\n"
           "                        else the program's folder for a portable copy, one whose folder is\n"
           "                        writable or holds portable.txt; else the user's data folder)\n"
           "  --headless            monitor every saved store without a window; the log goes to stdout;\n"
           "                        SIGINT or SIGTERM stops it\n"
           "  --passes N            with --headless: stop after N passes over the stores\n"
           "  --demo                run against a built-in simulated marketplace in a temporary folder\n"
           "  --start-monitoring    open the window and start monitoring once the stores are loaded; the\n"
           "                        login start that 开机自动启动并开始监测 (in 监测设置) registers uses it\n"
           "  -h, --help            show this help\n"
           "\n"
           "Exit status: 0 done; 1 failed; 2 wrong usage; 3 (store add) the back end wants SMS "
           "verification.\n";
}

std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!line.command.empty()) {
            line.command.push_back(arg);
        } else if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else if (arg == "--data-dir" || arg.rfind("--data-dir=", 0) == 0) {
            std::string value;
            if (arg == "--data-dir") {
                if (i + 1 >= args.size()) {
                    error = "--data-dir needs a directory";
                    return std::nullopt;
                }
                value = args[++i];
            } else {
                value = arg.substr(11);
            }
            if (value.empty()) {
                error = "--data-dir needs a directory";
                return std::nullopt;
            }
            line.dataDir = value;
        } else if (arg == "--headless") {
            line.headless = true;
        } else if (arg == "--demo") {
            line.demo = true;
        } else if (arg == "--start-monitoring") {
            line.startMonitoring = true;
        } else if (arg == "--passes" || arg.rfind("--passes=", 0) == 0) {
            const std::string value =
                arg == "--passes" ? (i + 1 < args.size() ? args[++i] : "") : arg.substr(9);
            std::size_t used = 0;
            int n = 0;
            try {
                n = std::stoi(value, &used);
            } catch (...) {
                used = 0;
            }
            if (value.empty() || used != value.size() || n < 1) {
                error = "--passes needs a whole number of at least 1";
                return std::nullopt;
            }
            line.passes = n;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else {
            line.command.push_back(arg);
        }
    }
    if (line.passes > 0 && !line.headless) {
        error = "--passes works only with --headless";
        return std::nullopt;
    }
    if (line.startMonitoring && line.headless) {
        error = "--start-monitoring is for the window; --headless monitors already";
        return std::nullopt;
    }
    if (!line.command.empty() && (line.headless || line.demo || line.startMonitoring)) {
        error = "--headless, --demo and --start-monitoring do not take a command";
        return std::nullopt;
    }
    if (line.help || line.command.empty()) return line;
    const auto& c = line.command;
    const bool valid = c[0] == "store" && c.size() >= 2 &&
                       ((c[1] == "add" && c.size() == 3) || (c[1] == "list" && c.size() == 2) ||
                        ((c[1] == "remove" || c[1] == "export" || c[1] == "import") && c.size() == 3));
    if (!valid) {
        error = "unknown command: ";
        for (const auto& word : c)
            error += word + " ";
        error.pop_back();
        return std::nullopt;
    }
    return line;
}

}  // namespace tandrel
