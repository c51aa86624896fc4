// The Run key under the user's registry: registered, read back, told apart from another copy's command,
// removed, and removing twice is no failure. Whatever the account had registered before is put back.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "app/autostart.h"

namespace tandrel {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::optional<std::wstring> RunValue() {
    wchar_t buffer[4096];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Tandrel", RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(buffer);
}

class RunKeyTest : public ::testing::Test {
  protected:
    void SetUp() override { before_ = RunValue(); }
    void TearDown() override {
        RemoveAutostart();
        if (!before_) return;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"Tandrel", 0, REG_SZ, reinterpret_cast<const BYTE*>(before_->c_str()),
                           static_cast<DWORD>((before_->size() + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
    }
    std::optional<std::wstring> before_;
};

TEST_F(RunKeyTest, RegistersReadsBackAndRemovesTheRunValue) {
    const AutostartCommand command{
        .program = std::filesystem::path(L"C:\\Program Files\\Tandrel 店铺\\bin\\tandrel.exe"),
        .dataDir = std::filesystem::path(L"D:\\数据\\ends in a backslash\\")};
    ASSERT_EQ(RegisterAutostart(command), "");
    EXPECT_TRUE(AutostartRegistered(command));
    // Quoted so that the command line splits back into exactly these arguments.
    EXPECT_EQ(RunValue(),
              std::wstring(L"\"C:\\Program Files\\Tandrel 店铺\\bin\\tandrel.exe\" --start-monitoring "
                           L"--data-dir \"D:\\数据\\ends in a backslash\\\\\""));
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(RunValue()->c_str(), &count);
    ASSERT_NE(args, nullptr);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(std::wstring(args[3]), L"D:\\数据\\ends in a backslash\\");
    LocalFree(args);

    // Another copy's registration is not this one's.
    EXPECT_FALSE(AutostartRegistered({.program = command.program, .dataDir = {}}));

    EXPECT_EQ(RemoveAutostart(), "");
    EXPECT_FALSE(RunValue().has_value());
    EXPECT_FALSE(AutostartRegistered(command));
    EXPECT_EQ(RemoveAutostart(), "");  // nothing to remove is no failure
}

}  // namespace
}  // namespace tandrel
