#include "cli_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace tavro::test {
namespace {

constexpr uid_t kNobody = 65534;

void Check(bool ok, const char* what)
{
    if (!ok)
        throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

std::size_t Count(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

// Reads what is available on fd into sink; false once it is closed.
bool Drain(int fd, std::string& sink)
{
    char buffer[65536];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
        sink.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && (errno == EINTR || errno == EAGAIN);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessRun& run)
{
    // Everything the child needs is prepared here: after fork it may only
    // make async-signal-safe calls.
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    // The environment too, so that the child does not allocate: a test may
    // start children from several threads.
    std::vector<std::string> settings = run.environment;
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.push_back(*entry);
    for (std::string& setting : settings)
        environment.push_back(setting.data());
    environment.push_back(nullptr);

    int in[2], out[2], err[2];
    Check(::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0, "pipe");
    int master = -1;
    int parentSlave = -1; // keeps the master from reporting a hang-up before the child opens its side
    char slaveName[128] = {};
    if (run.terminalReplies) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        Check(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
                  ::ptsname_r(master, slaveName, sizeof slaveName) == 0,
              "pseudo-terminal");
        parentSlave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
        Check(parentSlave >= 0, "pseudo-terminal");
    }
    // A child that stops reading its input must not kill this process.
    ::signal(SIGPIPE, SIG_IGN);
    const bool dropPrivileges = run.asUnprivilegedUser && ::geteuid() == 0;

    const pid_t pid = ::fork();
    Check(pid >= 0, "fork");
    if (pid == 0) {
        if (run.terminalReplies) {
            // A new session whose controlling terminal is the slave side.
            const int slave = (::setsid(), ::open(slaveName, O_RDWR));
            if (slave < 0 || ::dup2(slave, STDIN_FILENO) < 0)
                ::_exit(126);
        } else if (::dup2(in[0], STDIN_FILENO) < 0) {
            ::_exit(126);
        }
        if (::dup2(out[1], STDOUT_FILENO) < 0 || ::dup2(err[1], STDERR_FILENO) < 0)
            ::_exit(126);
        for (const int fd : run.closedStreams)
            ::close(fd);
        if (!run.workingDirectory.empty() && ::chdir(run.workingDirectory.c_str()) != 0)
            ::_exit(126);
        if (run.fileSizeLimit) {
            const rlimit limit{static_cast<rlim_t>(*run.fileSizeLimit), static_cast<rlim_t>(*run.fileSizeLimit)};
            if (run.fileSizeSignalIgnored)
                ::signal(SIGXFSZ, SIG_IGN);
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
                ::_exit(126);
        }
        ::signal(SIGPIPE, SIG_DFL);
        if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(126);
        ::execvpe(args[0], args.data(), environment.data());
        ::_exit(127);
    }

    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    ProcessResult result;
    std::size_t written = 0;
    std::size_t repliesSent = 0;
    // Never block on the child's input: a child that streams writes its
    // output while its input is still coming, and must be read meanwhile.
    int stdinFd = in[1];
    ::fcntl(stdinFd, F_SETFL, O_NONBLOCK);
    if (run.terminalReplies) {
        ::close(stdinFd);
        stdinFd = -1;
    }
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        if (stdinFd >= 0 && written == run.stdinData.size()) {
            ::close(stdinFd);
            stdinFd = -1;
        }
        if (run.terminalReplies && repliesSent < run.terminalReplies->size() &&
            Count(result.err, "assword") > repliesSent) {
            const std::string& reply = (*run.terminalReplies)[repliesSent++];
            Check(::write(master, reply.data(), reply.size()) == static_cast<ssize_t>(reply.size()), "type");
        }
        pollfd fds[4] = {{stdinFd, POLLOUT, 0}, {outOpen ? out[0] : -1, POLLIN, 0},
                         {errOpen ? err[0] : -1, POLLIN, 0}, {master, POLLIN, 0}};
        if (::poll(fds, 4, 30000) <= 0)
            throw std::runtime_error("child process hangs: " + argv[0]);
        if (fds[0].revents & (POLLOUT | POLLERR)) {
            const ssize_t n = ::write(stdinFd, run.stdinData.data() + written, run.stdinData.size() - written);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                // full for now: the child is busy writing its output
            } else if (n < 0) { // the child stopped reading: the rest is not wanted
                ::close(stdinFd);
                stdinFd = -1;
            } else {
                written += static_cast<std::size_t>(n);
            }
        }
        if (fds[1].revents)
            outOpen = Drain(out[0], result.out);
        if (fds[2].revents)
            errOpen = Drain(err[0], result.err);
        if (fds[3].revents)
            Drain(master, result.terminal);
    }
    if (stdinFd >= 0)
        ::close(stdinFd);
    ::close(out[0]);
    ::close(err[0]);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (master >= 0) {
        // Whatever the terminal still holds for the master side.
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
            result.terminal.append(buffer, static_cast<std::size_t>(got));
        ::close(master);
        ::close(parentSlave);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

SteppedProcess::SteppedProcess(const std::vector<std::string>& argv, const std::string& readyVariable,
                               const std::vector<std::string>& environment)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    constexpr int kReadyFd = 3;
    std::vector<std::string> settings = environment;
    settings.push_back(readyVariable + "=" + std::to_string(kReadyFd));

    int in[2], ready[2], err[2];
    Check(::pipe2(in, O_CLOEXEC) == 0 && ::pipe2(ready, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0, "pipe");
    ::signal(SIGPIPE, SIG_IGN);
    pid_ = ::fork();
    Check(pid_ >= 0, "fork");
    if (pid_ == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (::dup2(in[0], STDIN_FILENO) < 0 || ::dup2(devNull, STDOUT_FILENO) < 0 ||
            ::dup2(err[1], STDERR_FILENO) < 0 || ::dup2(ready[1], kReadyFd) < 0)
            ::_exit(126);
        for (std::string& setting : settings)
            ::putenv(setting.data());
        ::signal(SIGPIPE, SIG_DFL);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(ready[1]);
    ::close(err[1]);
    stdin_ = in[1];
    ready_ = ready[0];
    err_ = err[0];
}

SteppedProcess::~SteppedProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Finish();
    }
}

void SteppedProcess::Feed(const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(stdin_, data.data() + done, data.size() - done);
        Check(n > 0 || errno == EINTR, "feed the child");
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

bool SteppedProcess::WaitReady()
{
    pollfd fd{ready_, POLLIN, 0};
    if (::poll(&fd, 1, 30000) <= 0)
        throw std::runtime_error("child process never reported ready");
    char byte = 0;
    return ::read(ready_, &byte, 1) == 1;
}

ProcessResult SteppedProcess::Finish()
{
    ProcessResult result;
    if (stdin_ >= 0)
        ::close(stdin_);
    stdin_ = -1;
    while (Drain(err_, result.err)) {
    }
    ::close(err_);
    ::close(ready_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

bool ProgramExists(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (::access((folder + "/" + name).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

} // namespace tavro::test
