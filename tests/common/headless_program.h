#pragma once
// The program run headless in a child process, as from a terminal without a display, its stdout and stderr
// read through pipes. A child still running when the object goes (a failed assertion) is killed and reaped.
// On Windows the child is made with CreateProcessW (headless_program_windows.h); there is no Signal().

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel::testing {

struct HeadlessRun {
    std::filesystem::path dataDir{};
    std::string merchantUrl{};  // TANDREL_MERCHANT_URL
    std::string vendorUrl{};    // TANDREL_VENDOR_URL; empty: none
    int passes = 0;             // 0: until a signal stops it
};

struct Finished {
    bool exited = false;  // ended by exit, not by a signal
    int status = -1;      // its exit status when it exited
    std::string out, err;
};

// The environment of the child: this process's, less the display and the addresses, plus the run's addresses.
inline std::vector<std::string> ChildEnvironment(const std::vector<std::string>& inherited,
                                                 const HeadlessRun& run) {
    std::vector<std::string> env;
    for (const std::string& entry : inherited) {
        bool dropped = false;
        for (std::string_view name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=",
                                      "TANDREL_MERCHANT_URL=", "TANDREL_VENDOR_URL="})
            dropped = dropped || std::string_view(entry).starts_with(name);
        if (!dropped) env.push_back(entry);
    }
    env.push_back("TANDREL_MERCHANT_URL=" + run.merchantUrl);
    if (!run.vendorUrl.empty()) env.push_back("TANDREL_VENDOR_URL=" + run.vendorUrl);
    return env;
}

}  // namespace tandrel::testing

#ifdef _WIN32
#include "headless_program_windows.h"
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tandrel::testing {

class HeadlessProgram {
  public:
    HeadlessProgram(const char* executable, const HeadlessRun& run) {
        std::vector<std::string> args = {executable, "--headless", "--data-dir", run.dataDir.string()};
        if (run.passes > 0) args.insert(args.end(), {"--passes", std::to_string(run.passes)});
        // The environment is made before the fork: the child of a threaded process only calls exec.
        std::vector<std::string> inherited;
        for (char** e = environ; *e; ++e)
            inherited.emplace_back(*e);
        std::vector<std::string> env = ChildEnvironment(inherited, run);
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int outPipe[2], errPipe[2];
        if (pipe(outPipe) != 0) return;
        if (pipe(errPipe) != 0) {
            close(outPipe[0]);
            close(outPipe[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            close(outPipe[0]);
            close(errPipe[0]);
            execve(executable, argv.data(), envp.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        out_ = outPipe[0];
        err_ = errPipe[0];
    }
    ~HeadlessProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    bool started() const { return pid_ > 0; }

    // Reads stdout until it holds text; false when it ended first.
    bool WaitForOutput(std::string_view text) {
        while (out_ >= 0 && outText_.find(text) == std::string::npos)
            ReadSome(out_, outText_);
        return outText_.find(text) != std::string::npos;
    }

    void Signal(int signal) const {
        if (pid_ > 0) kill(pid_, signal);
    }

    // Reads both outputs to their end and reaps the child.
    Finished Finish() {
        while (out_ >= 0 || err_ >= 0) {
            pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) break;
            if (fds[0].revents) ReadSome(out_, outText_);
            if (fds[1].revents) ReadSome(err_, errText_);
        }
        Finished f;
        f.out = std::move(outText_);
        f.err = std::move(errText_);
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
            f.exited = WIFEXITED(status);
            if (f.exited) f.status = WEXITSTATUS(status);
        }
        pid_ = -1;
        return f;
    }

  private:
    // One read; the descriptor is closed (and set to -1) at its end.
    static void ReadSome(int& fd, std::string& into) {
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) return;
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
        } else {
            close(fd);
            fd = -1;
        }
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string outText_, errText_;
};

}  // namespace tandrel::testing
#endif
