#pragma once
// HeadlessProgram on Windows: the child made with CreateProcessW, its stdout and stderr read through pipes
// (two threads in Finish, since Windows cannot wait on anonymous pipes). Included by headless_program.h.

#include <windows.h>

#include <thread>

namespace tandrel::testing {

namespace windows_child {

inline std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

inline std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                        nullptr);
    return utf8;
}

// One argument quoted as the C runtime's parser reads it back: backslashes doubled only before a quote.
inline std::wstring Quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

inline std::string WithoutCarriageReturns(std::string text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
    return out;
}

inline void ReadAll(HANDLE& pipe, std::string& into) {
    char buffer[4096];
    DWORD n = 0;
    while (pipe && ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        into.append(buffer, n);
    if (pipe) CloseHandle(pipe);
    pipe = nullptr;
}

}  // namespace windows_child

class HeadlessProgram {
  public:
    HeadlessProgram(const char* executable, const HeadlessRun& run) {
        using namespace windows_child;
        std::vector<std::wstring> args = {Wide(executable), L"--headless", L"--data-dir",
                                          run.dataDir.wstring()};
        if (run.passes > 0) args.insert(args.end(), {L"--passes", std::to_wstring(run.passes)});
        std::wstring commandLine;
        for (const auto& a : args)
            commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(a);

        std::vector<std::string> inherited;
        if (wchar_t* block = GetEnvironmentStringsW()) {
            for (const wchar_t* e = block; *e; e += wcslen(e) + 1)
                inherited.push_back(Utf8(e));
            FreeEnvironmentStringsW(block);
        }
        std::wstring envBlock;
        for (const auto& e : ChildEnvironment(inherited, run))
            envBlock += Wide(e) + L'\0';
        envBlock += L'\0';

        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE outWrite = nullptr, errWrite = nullptr;
        if (!CreatePipe(&out_, &outWrite, &inheritable, 0)) return;
        if (!CreatePipe(&err_, &errWrite, &inheritable, 0)) {
            CloseHandle(outWrite);
            return;
        }
        SetHandleInformation(out_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(err_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        PROCESS_INFORMATION info{};
        if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                           envBlock.data(), nullptr, &startup, &info)) {
            process_ = info.hProcess;
            CloseHandle(info.hThread);
        }
        CloseHandle(outWrite);
        CloseHandle(errWrite);
    }
    ~HeadlessProgram() {
        if (process_) {
            TerminateProcess(process_, 137);
            WaitForSingleObject(process_, INFINITE);
            CloseHandle(process_);
        }
        if (out_) CloseHandle(out_);
        if (err_) CloseHandle(err_);
    }
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    bool started() const { return process_ != nullptr; }

    // Reads stdout until it holds text; false when it ended first.
    bool WaitForOutput(std::string_view text) {
        char buffer[4096];
        DWORD n = 0;
        while (out_ && outText_.find(text) == std::string::npos) {
            if (ReadFile(out_, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                outText_.append(buffer, n);
            } else {
                CloseHandle(out_);
                out_ = nullptr;
            }
        }
        return outText_.find(text) != std::string::npos;
    }

    // Reads both outputs to their end and waits for the child.
    Finished Finish() {
        std::thread errReader([this] { windows_child::ReadAll(err_, errText_); });
        windows_child::ReadAll(out_, outText_);
        errReader.join();
        Finished f;
        // The program writes its lines in text mode, which ends them with CR LF on Windows.
        f.out = windows_child::WithoutCarriageReturns(std::move(outText_));
        f.err = windows_child::WithoutCarriageReturns(std::move(errText_));
        DWORD code = 0;
        if (process_ && WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process_, &code)) {
            f.exited = true;
            f.status = static_cast<int>(code);
        }
        if (process_) CloseHandle(process_);
        process_ = nullptr;
        return f;
    }

  private:
    HANDLE process_ = nullptr;
    HANDLE out_ = nullptr, err_ = nullptr;
    std::string outText_, errText_;
};

}  // namespace tandrel::testing
