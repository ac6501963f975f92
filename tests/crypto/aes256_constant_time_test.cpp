// Constant time, checked rather than believed: the probe (aes256_ct_probe)
// runs Aes256Init, the per-block operations and the portable bulk path on a
// key and data marked undefined, under valgrind memcheck. Any report of a
// branch or an address that depends on them fails the test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef TAVRO_AES256_CT_PROBE
#error "TAVRO_AES256_CT_PROBE must name the probe executable"
#endif

namespace {

constexpr const char* kSecretBranch = "Conditional jump or move depends on uninitialised value";
constexpr const char* kSecretAddress = "Use of uninitialised value";
constexpr int kValgrindErrorExit = 97;

// The valgrind executable found on PATH, or "" when there is none.
std::string FindValgrind()
{
    const char* path = std::getenv("PATH");
    std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos)
            end = directories.size();
        const std::string candidate = directories.substr(start, end - start) + "/valgrind";
        if (end > start && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

struct ProbeRun {
    int exitCode = -1;
    std::string output; // valgrind's report and the probe's output together
};

ProbeRun RunProbe(const std::string& valgrind, const std::string& argument)
{
    const std::string command = ShellQuote(valgrind) + " --tool=memcheck --error-exitcode=" +
                                std::to_string(kValgrindErrorExit) + " " + ShellQuote(TAVRO_AES256_CT_PROBE) +
                                " " + argument + " 2>&1";
    ProbeRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.output.append(chunk, got);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

TEST(Aes256ConstantTime, NoBranchOrAddressDependsOnKeyOrData)
{
    const std::string valgrind = FindValgrind();
    if (valgrind.empty())
        GTEST_SKIP() << "valgrind is not installed: the constant-time check cannot run here";
    const ProbeRun run = RunProbe(valgrind, "");
    EXPECT_FALSE(Contains(run.output, kSecretBranch)) << run.output;
    EXPECT_FALSE(Contains(run.output, kSecretAddress)) << run.output;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "probe ran")) << run.output;
}

// The same harness on a probe that does branch on a key bit must fail;
// otherwise a clean result above would mean nothing.
TEST(Aes256ConstantTime, TheCheckSeesAKeyDependentBranch)
{
    const std::string valgrind = FindValgrind();
    if (valgrind.empty())
        GTEST_SKIP() << "valgrind is not installed: the constant-time check cannot run here";
    const ProbeRun run = RunProbe(valgrind, "control");
    EXPECT_TRUE(Contains(run.output, kSecretBranch)) << run.output;
    EXPECT_EQ(run.exitCode, kValgrindErrorExit) << run.output;
}

} // namespace
