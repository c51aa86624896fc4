#pragma once
// Starting with the computer: the program registers itself to start at the merchant's login with
// --start-monitoring, which opens the window and starts monitoring once the stores are loaded. On Windows a
// value "Tandrel" under the user's Run key; elsewhere an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/tandrel.desktop (~/.config/autostart by default). What is registered is the
// truth: the dialog reads it back rather than keeping a setting of its own that could disagree.

#include <filesystem>
#include <string>
#include <string_view>

namespace tandrel {

// What the registration starts.
struct AutostartCommand {
    std::filesystem::path program{};  // absolute
    std::filesystem::path
        dataDir{};  // named with --data-dir; empty: the default folder, found again at login
};

// Set once at start, before any window: this run's data folder, to be named in the registration when it is
// not the default one. A run that never calls it (the demo, in a folder that is gone when it ends) cannot
// register.
void SetAutostartDataFolder(const std::filesystem::path& dataDir, bool isDefault);
// Whether this run may register (SetAutostartDataFolder was called).
bool AutostartAvailable();
// This run's command: QCoreApplication::applicationFilePath and the folder set above.
AutostartCommand ThisAutostartCommand();

// Whether this run's command is registered.
bool AutostartEnabled();
// Registers this run's command, or removes the registration; empty when done, or the reason (UTF-8).
std::string SetAutostart(bool on);

// The same for a given command (tests).
bool AutostartRegistered(const AutostartCommand& command);
std::string RegisterAutostart(const AutostartCommand& command);
std::string RemoveAutostart();

#ifndef _WIN32
// Where the entry is: $XDG_CONFIG_HOME (when absolute, as the XDG base directory rules say) or ~/.config, then
// autostart/tandrel.desktop.
std::filesystem::path AutostartEntryPath();
// The entry's text, or empty when a path cannot be written in an Exec line (not UTF-8, or a line break).
std::string AutostartEntryText(const AutostartCommand& command);
// One argument of an Exec line, quoted as desktop entry files require when it needs quoting:
// inside double quotes with " ` $ \ escaped, % doubled, then every backslash escaped once more as a string
// value's.
std::string ExecArgument(std::string_view utf8);
#endif

}  // namespace tandrel
