// ChildProcess: a program started by a test, with its standard output read through a pipe (or
// through a pseudo-terminal, to see what the program shows on a terminal) and its standard
// error collected in a file. The test reads output as it comes (ReadUntil), sends signals and
// waits for the exit status. The destructor kills a child that still runs. Test thread only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
  public:
    enum class Output { Pipe, Terminal };

    // Starts `argv` in `workDir` (empty: the test's current directory); a pseudo-terminal is
    // `columns` wide.
    ChildProcess(const std::vector<std::string>& argv, Output output = Output::Pipe,
                 const std::string& workDir = "", unsigned short columns = 100)
        : stderrFile_(TempName()) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);

        if (output == Output::Terminal) {
            winsize size{};
            size.ws_row = 24;
            size.ws_col = columns;
            pid_ = forkpty(&outFd_, nullptr, nullptr, &size);
            if (pid_ == 0) ExecChild(args, workDir);
        } else {
            int fds[2];
            if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
            pid_ = fork();
            if (pid_ == 0) {
                dup2(fds[1], STDOUT_FILENO);
                close(fds[0]);
                close(fds[1]);
                ExecChild(args, workDir);
            }
            close(fds[1]);
            outFd_ = fds[0];
        }
        if (pid_ < 0) throw std::runtime_error("fork failed");
    }
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) close(outFd_);
        unlink(stderrFile_.c_str());
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Types `text` at the child's terminal (Output::Terminal only).
    void Type(const std::string& text) {
        if (outFd_ >= 0 && ::write(outFd_, text.data(), text.size()) < 0) {
            throw std::runtime_error("cannot write to the child's terminal");
        }
    }
    void Signal(int sig) { kill(pid_, sig); }

    // Reads standard output until `done(outputSoFar)` holds or the output ends or `timeoutMs`
    // passes; returns whether `done` held.
    bool ReadUntil(const std::function<bool(const std::string&)>& done, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done(out_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !ReadSome(static_cast<int>(left))) return done(out_);
        }
        return true;
    }
    bool ReadUntilContains(const std::string& text, int timeoutMs) {
        return ReadUntil([&](const std::string& s) { return s.find(text) != std::string::npos; },
                         timeoutMs);
    }

    // Reads the rest of the output and waits for the exit; returns the exit status (128 + the
    // signal number when killed), or -1 when the child had not ended within `timeoutMs`.
    int Wait(int timeoutMs = 60000) {
        ReadUntil([](const std::string&) { return false; }, timeoutMs);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            usleep(10000);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& Out() const { return out_; }
    std::string Err() const {
        std::ifstream in(stderrFile_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    static std::string TempName() {
        char pattern[] = "/tmp/rc-child-err-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        return pattern;
    }

    [[noreturn]] void ExecChild(std::vector<char*>& args, const std::string& workDir) {
        const int err = open(stderrFile_.c_str(), O_WRONLY | O_TRUNC);
        if (err >= 0) dup2(err, STDERR_FILENO);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }

    // One read; false at the end of the output or when nothing came within `timeoutMs`.
    bool ReadSome(int timeoutMs) {
        if (outFd_ < 0) return false;
        pollfd p{outFd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(outFd_, buffer, sizeof buffer);
        if (n <= 0) {  // end of output (a pseudo-terminal reports EIO once the child is gone)
            close(outFd_);
            outFd_ = -1;
            return false;
        }
        out_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    std::string stderrFile_;
    pid_t pid_ = -1;
    int outFd_ = -1;
    bool exited_ = false;
    std::string out_;
};

}  // namespace testsupport
