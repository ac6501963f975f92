// Runs a program as a child process with pipes on its standard streams, the
// way a script would run tavro-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavro::test {

struct ProcessRun {
    std::string stdinData;                // written to the child's stdin, which is then closed
    std::string workingDirectory;         // empty: the test's own
    std::optional<long> fileSizeLimit;    // RLIMIT_FSIZE in bytes
    bool fileSizeSignalIgnored = true;    // with a limit: SIGXFSZ ignored so writes fail (else left as is)
    bool asUnprivilegedUser = false;      // when root, run as nobody so that file permissions apply
    std::vector<int> closedStreams;       // standard descriptors (0-2) the child starts without
    std::vector<std::string> environment; // NAME=VALUE settings added to the child's environment
    // Run with stdin on a new pseudo-terminal instead of a pipe: each reply
    // is typed once one more password prompt has appeared on stderr.
    std::optional<std::vector<std::string>> terminalReplies;
};

struct ProcessResult {
    int exitCode = -1; // 128 + signal number when killed by a signal
    std::string out;
    std::string err;
    std::string terminal; // what the pseudo-terminal showed (its echo)
};

// argv[0] is looked up in PATH when it has no slash.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessRun& run = {});

// A child run step by step: its standard input stays open for Feed, and it
// can tell the test through a pipe that it reached a point (the pipe's
// descriptor number is put in the environment variable readyVariable), so a
// signal can be sent at a known place rather than after a sleep.
class SteppedProcess {
public:
    SteppedProcess(const std::vector<std::string>& argv, const std::string& readyVariable,
                   const std::vector<std::string>& environment = {});
    ~SteppedProcess();
    SteppedProcess(const SteppedProcess&) = delete;
    SteppedProcess& operator=(const SteppedProcess&) = delete;

    void Feed(const std::string& data);
    // Blocks until the child reports through the pipe; false if it ended
    // (or closed the pipe) without reporting.
    bool WaitReady();
    int pid() const { return pid_; }
    // Closes standard input, collects stderr and waits for the end.
    ProcessResult Finish();

private:
    int pid_ = -1;
    int stdin_ = -1, ready_ = -1, err_ = -1;
};

// Whether argv[0] can be found as an executable.
bool ProgramExists(const std::string& name);

} // namespace tavro::test
