#pragma once
// The executable's arguments: global options, then an optional command.

#include <optional>
#include <string>
#include <vector>

namespace tandrel {

struct CommandLine {
    bool help = false;
    std::optional<std::string> dataDir;  // --data-dir DIR
    std::vector<std::string> command;    // e.g. {"store", "add", "ACCOUNT"}; empty: the window
    bool headless = false;               // --headless: monitor without a window, the log on stdout
    int passes = 0;                      // --passes N: stop after N passes (headless); 0: until stopped
    bool demo = false;                   // --demo: against the built-in simulator, in a temporary folder
    bool startMonitoring = false;        // --start-monitoring: the window starts monitoring once loaded
};

// Parses argv; on a wrong command or option returns nullopt with error set to one line for the user.
std::optional<CommandLine> ParseCommandLine(const std::vector<std::string>& args, std::string& error);

const char* UsageText();

}  // namespace tandrel
