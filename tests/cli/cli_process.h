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
    std::optional<long> fileSizeLimit;    // RLIMIT_FSIZE in bytes; SIGXFSZ is ignored so writes fail
    bool asUnprivilegedUser = false;      // when root, run as nobody so that file permissions apply
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

// Whether argv[0] can be found as an executable.
bool ProgramExists(const std::string& name);

} // namespace tavro::test
