#include "app/autostart.h"

#include <QCoreApplication>
#include <mutex>
#include <system_error>

#include "support/qt_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <QStringDecoder>
#include <cstdlib>

#include "support/files.h"
#endif

namespace tandrel {
namespace {

struct Registration {
    std::mutex mutex;
    bool available = false;
    std::filesystem::path dataDir;
};

Registration& ThisRun() {
    static Registration registration;
    return registration;
}

}  // namespace

void SetAutostartDataFolder(const std::filesystem::path& dataDir, bool isDefault) {
    Registration& run = ThisRun();
    std::lock_guard lock(run.mutex);
    run.available = true;
    run.dataDir.clear();
    // Absolute: at login the program starts in another working folder.
    std::error_code ec;
    if (!isDefault) run.dataDir = std::filesystem::absolute(dataDir, ec);
    if (!isDefault && ec) run.dataDir = dataDir;
}

bool AutostartAvailable() {
    Registration& run = ThisRun();
    std::lock_guard lock(run.mutex);
    return run.available;
}

AutostartCommand ThisAutostartCommand() {
    Registration& run = ThisRun();
    std::lock_guard lock(run.mutex);
    return {.program = PathFromQString(QCoreApplication::applicationFilePath()), .dataDir = run.dataDir};
}

bool AutostartEnabled() {
    return AutostartAvailable() && AutostartRegistered(ThisAutostartCommand());
}

std::string SetAutostart(bool on) {
    if (!on) return RemoveAutostart();
    if (!AutostartAvailable()) return "演示模式使用临时文件夹，不能设置开机自动启动";
    return RegisterAutostart(ThisAutostartCommand());
}

#ifdef _WIN32

namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kValueName = L"Tandrel";

// One argument as CommandLineToArgvW reads it back: in quotes, a backslash run before a quote (the closing
// one included) doubled.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'"') out.append(slashes + 1, L'\\');
        slashes = c == L'\\' ? slashes + 1 : 0;
        out.push_back(c);
    }
    out.append(slashes, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring CommandText(const AutostartCommand& command) {
    std::wstring text = Quoted(std::filesystem::path(command.program).make_preferred().wstring());
    text += L" --start-monitoring";
    if (!command.dataDir.empty())
        text += L" --data-dir " + Quoted(std::filesystem::path(command.dataDir).make_preferred().wstring());
    return text;
}

std::string Failure(const char* what, LSTATUS status) {
    return std::string(what) + "（错误 " + std::to_string(status) + "）";
}

}  // namespace

bool AutostartRegistered(const AutostartCommand& command) {
    wchar_t buffer[4096];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValueName, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return false;
    return std::wstring(buffer) == CommandText(command);
}

std::string RegisterAutostart(const AutostartCommand& command) {
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return Failure("无法打开注册表的启动项", status);
    const std::wstring text = CommandText(command);
    status = RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return Failure("无法写入注册表的启动项", status);
    if (!AutostartRegistered(command)) return "注册表的启动项写入后读不出来";
    return {};
}

std::string RemoveAutostart() {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return {};
    if (status != ERROR_SUCCESS) return Failure("无法打开注册表的启动项", status);
    status = RegDeleteValueW(key, kValueName);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return Failure("无法删除注册表的启动项", status);
    return {};
}

#else

namespace {

constexpr std::uintmax_t kEntryMaxBytes = 64 * 1024;

bool IsUtf8(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(QByteArray::fromStdString(bytes));
    return !decoder.hasError();
}

std::string ExecLine(const AutostartCommand& command) {
    std::string line = "Exec=" + ExecArgument(command.program.native()) + " --start-monitoring";
    if (!command.dataDir.empty()) line += " --data-dir " + ExecArgument(command.dataDir.native());
    return line;
}

bool Writable(const std::filesystem::path& path) {
    for (const char c : path.native())
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return IsUtf8(path.native());
}

}  // namespace

std::filesystem::path AutostartEntryPath() {
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/')
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::filesystem::path(home) / ".config";
    else
        return {};
    return config / "autostart" / "tandrel.desktop";
}

std::string ExecArgument(std::string_view utf8) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote = utf8.empty() || utf8.find_first_of(kReserved) != std::string_view::npos;
    std::string quoted;
    if (quote) quoted.push_back('"');
    for (const char c : utf8) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted.push_back('\\');
        if (c == '%') quoted.push_back('%');  // a field code otherwise
        quoted.push_back(c);
    }
    if (quote) quoted.push_back('"');
    // The value is a string, whose own escape for a backslash is applied before the quoting is read.
    std::string value;
    for (const char c : quoted) {
        if (c == '\\') value.push_back('\\');
        value.push_back(c);
    }
    return value;
}

std::string AutostartEntryText(const AutostartCommand& command) {
    if (!Writable(command.program) || !Writable(command.dataDir)) return {};
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Tandrel\n"
           "Comment=开机自动启动并开始监测\n" +
           ExecLine(command) +
           "\n"
           "Icon=tandrel\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartRegistered(const AutostartCommand& command) {
    const std::filesystem::path path = AutostartEntryPath();
    std::error_code ec;
    // A link at that name is not this program's entry, whatever it points to.
    if (path.empty() || !std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec)))
        return false;
    std::string text;
    if (ReadWholeFile(path, text, kEntryMaxBytes) != ReadStatus::Ok) return false;
    const std::string exec = ExecLine(command);
    bool found = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (line == exec) found = true;
        if (line == "Hidden=true") return false;
        start = end + 1;
    }
    return found;
}

std::string RegisterAutostart(const AutostartCommand& command) {
    const std::filesystem::path path = AutostartEntryPath();
    if (path.empty()) return "找不到用户的配置文件夹（HOME 未设置）";
    const std::string text = AutostartEntryText(command);
    if (text.empty()) return "程序或数据文件夹的路径无法写入自启动项：" + PathToUtf8(command.program);
    const std::filesystem::path folder = path.parent_path();
    if (!MakePrivateFolders(folder)) return "无法创建文件夹：" + PathToUtf8(folder);
    // The folder is this account's alone: another account that could write there could swap the entry.
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 022) != 0)
        return "文件夹不属于当前用户或他人可写，未写入自启动项：" + PathToUtf8(folder);
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    // A link planted at the name is neither written through nor replaced: it is someone's, and said.
    if (std::filesystem::is_symlink(status)) return "自启动项是一个链接，未写入：" + PathToUtf8(path);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        return "自启动项不是普通文件，未写入：" + PathToUtf8(path);
    if (!WriteFileAtomically(path, text)) return "无法写入自启动项：" + PathToUtf8(path);
    if (!AutostartRegistered(command)) return "自启动项写入后读不出来：" + PathToUtf8(path);
    return {};
}

std::string RemoveAutostart() {
    const std::filesystem::path path = AutostartEntryPath();
    if (path.empty()) return {};
    std::error_code ec;
    // Only a file of that name is removed; a link there was never this program's.
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) return {};
    if (!std::filesystem::remove(path, ec) && ec) return "无法删除自启动项：" + PathToUtf8(path);
    return {};
}

#endif

}  // namespace tandrel
