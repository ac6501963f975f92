// tavro-cli against what a user would type instead, in the same run:
//   encrypt:  iconv -f UTF-8 -t CP936 TEXT | openssl enc -aes-256-ecb -K KEY
//   decrypt:  openssl enc -d -aes-256-ecb -K KEY -in BODY | iconv -f CP936 -t UTF-8
// on the same Chinese and ASCII text, with wall time and peak resident
// memory of every process (from wait4). The pipeline's peak is that of its
// larger stage, as /usr/bin/time reports a shell pipeline. Runs are
// interleaved (tool, pipeline, tool, ...) and the median is shown: on a
// machine shared with other work, each side meets the same load. Warm: the
// files in the page cache; cold (in brackets): one more run of each after
// this run's files were dropped from the cache (posix_fadvise).
// The tool syncs what it writes to disk and the pipeline does not, so a
// second row times the pipeline followed by "sync FILE" on its output.
// Goals: the tool's wall time at most 0.5x the pipeline's (sync or not),
// both directions, its peak RSS under 64 MiB at any size.
//
// A second table puts the strong format (.tvrs) beside .tvro, both through
// the tool on the same text and key file. Its key derivation (Argon2id at
// the default cost, timed here in-process) is reported apart, and "net" is
// the .tvrs time less it. Goal: net at most 1.0x the .tvro time. The
// processes' CPU time (user + system, median) is shown as well: it
// compares the work done even on a busy machine. The .tvrs peak RSS holds
// Argon2id's memory (64 MiB), which is the point of Argon2id.
//
// Usage: cli_bench [SIZE_MIB...] [--runs N]   (default: 256 1024, 5 runs)
// Inputs go to a folder under $TMPDIR (or /tmp) that is removed afterwards;
// encrypt runs with --no-versions (versions_bench times the version store).
#include "document_key.h"
#include "key_derivation.h"
#include "strong_key.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Stage {
    std::vector<std::string> argv;
    std::string stdoutPath; // empty: stdout goes to the next stage or /dev/null
};

// The runs of one command: warm runs, and one cold run.
struct Measured {
    std::vector<double> seconds, cpu; // warm runs: wall time; user + system time of all processes
    double cold = 0, coldCpu = 0;
    double peakMiB = 0; // largest process in any run

    static double Median(std::vector<double> values)
    {
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        const std::size_t middle = values.size() / 2;
        return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    }
    double wall() const { return Median(seconds); }
    double processor() const { return Median(cpu); }
};

// Runs the stages as one pipeline, then each command of after alone, in
// turn, and records the whole as one run; true when every process exits 0.
bool Run(const std::vector<Stage>& stages, Measured& measured, bool cold,
         const std::vector<std::vector<std::string>>& after = {})
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::vector<Stage>> steps{stages};
    for (const std::vector<std::string>& command : after)
        steps.push_back({{command, {}}});
    bool ok = true;
    double peak = 0;
    double cpu = 0;
    for (const std::vector<Stage>& step : steps) {
        std::vector<pid_t> pids;
        int previousRead = -1;
        for (std::size_t i = 0; i < step.size(); ++i) {
            int link[2] = {-1, -1};
            const bool piped = i + 1 < step.size();
            if (piped && ::pipe(link) != 0)
                return false;
            const pid_t pid = ::fork();
            if (pid == 0) {
                if (previousRead >= 0)
                    ::dup2(previousRead, STDIN_FILENO);
                if (piped) {
                    ::dup2(link[1], STDOUT_FILENO);
                } else {
                    const std::string& out = step[i].stdoutPath.empty() ? "/dev/null" : step[i].stdoutPath;
                    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                    ::dup2(fd, STDOUT_FILENO);
                }
                for (int fd = 3; fd < 64; ++fd)
                    ::close(fd);
                std::vector<char*> args;
                for (const std::string& arg : step[i].argv)
                    args.push_back(const_cast<char*>(arg.c_str()));
                args.push_back(nullptr);
                ::execvp(args[0], args.data());
                ::_exit(127);
            }
            pids.push_back(pid);
            if (previousRead >= 0)
                ::close(previousRead);
            if (piped) {
                ::close(link[1]);
                previousRead = link[0];
            }
        }
        for (pid_t pid : pids) {
            int status = 0;
            rusage usage{};
            ::wait4(pid, &status, 0, &usage);
            ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
            peak = std::max(peak, static_cast<double>(usage.ru_maxrss) / 1024.0);
            for (const timeval& time : {usage.ru_utime, usage.ru_stime})
                cpu += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        }
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (cold) {
        measured.cold = took.count();
        measured.coldCpu = cpu;
    } else {
        measured.seconds.push_back(took.count());
        measured.cpu.push_back(cpu);
    }
    measured.peakMiB = std::max(measured.peakMiB, peak);
    return ok;
}

void WriteText(const fs::path& path, std::size_t size)
{
    const std::string line = "加密文档的第一行：中文与ASCII混排，还有标点。Line 1234567890 €\n";
    std::string block;
    while (block.size() < (1u << 20))
        block += line;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < size; written += block.size())
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

std::uintmax_t SizeOf(const fs::path& path)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

// Drops every file of folder from the page cache, written back first.
void DropFromCache(const fs::path& folder)
{
    for (const auto& entry : fs::directory_iterator(folder)) {
        const int fd = ::open(entry.path().c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::size_t> sizes;
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(static_cast<std::size_t>(std::atol(argv[i])));
    }
    if (sizes.empty())
        sizes = {256, 1024};

    const char* base = std::getenv("TMPDIR");
    std::string folderName = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tavro-cli-bench-XXXXXX";
    if (::mkdtemp(folderName.data()) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path folder(folderName);
    const std::string cli = TAVRO_CLI_PATH;
    const fs::path keyFile = folder / "key";
    std::ofstream(keyFile, std::ios::binary) << "bench key file";
    tavro::DocumentKey key{};
    if (!tavro::DeriveKeyFromFile(keyFile, key))
        return 2;
    std::string keyHex; // openssl -K takes the 32 key bytes in hex
    for (std::uint8_t byte : key) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        keyHex += pair;
    }

    // The strong key of the same key file at the default cost, as the tool derives it.
    Measured derivation;
    {
        tavro::SecureBytes digest;
        if (tavro::DigestKeyFile(keyFile, digest).status != tavro::KeyFileStatus::Derived)
            return 2;
        for (int run = 0; run < runs; ++run) {
            const auto start = std::chrono::steady_clock::now();
            tavro::StrongKeyHolder strongKey;
            if (!tavro::DeriveStrongKey(digest, tavro::NewStrongParameters(tavro::StrongKeySource::KeyFile), strongKey))
                return 2;
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            derivation.seconds.push_back(took.count());
        }
    }
    std::vector<std::string> strongRows;

    std::printf("tavro-cli vs iconv|openssl: wall s, median of %d interleaved runs (cold run in brackets);\n"
                "CPU s: user + system of all processes, median; peak RSS MiB\n",
                runs);
    std::printf("%8s | %12s %12s %6s | %12s %12s %6s | %7s %7s | %7s %7s\n", "size", "enc tool", "pipe", "ratio",
                "dec tool", "pipe", "ratio", "RSS enc", "pipe", "RSS dec", "pipe");
    bool allOk = true;
    for (std::size_t mib : sizes) {
        const fs::path text = folder / "text.txt", doc = folder / "doc.tvro", out = folder / "out.txt",
                       body = folder / "pipeline.bin", back = folder / "pipeline.txt", strong = folder / "doc.tvrs";
        WriteText(text, mib << 20);
        Measured toolEnc, pipeEnc, syncEnc, toolDec, pipeDec, syncDec, strongEnc, strongDec;
        const std::vector<Stage> encrypt{{{cli, "encrypt", text.string(), "-o", doc.string(), "--key-file",
                                           keyFile.string(), "--no-versions"},
                                          {}}};
        const std::vector<Stage> pipeEncrypt{{{"iconv", "-f", "UTF-8", "-t", "CP936", text.string()}, {}},
                                             {{"openssl", "enc", "-aes-256-ecb", "-K", keyHex}, body.string()}};
        const std::vector<Stage> decrypt{
            {{cli, "decrypt", doc.string(), "-o", out.string(), "--key-file", keyFile.string()}, {}}};
        const std::vector<Stage> pipeDecrypt{
            {{"openssl", "enc", "-d", "-aes-256-ecb", "-K", keyHex, "-in", body.string()}, {}},
            {{"iconv", "-f", "CP936", "-t", "UTF-8"}, back.string()}};
        const std::vector<Stage> strongEncrypt{{{cli, "encrypt", text.string(), "-o", strong.string(), "--key-file",
                                                 keyFile.string(), "--no-versions"},
                                                {}}};
        const std::vector<Stage> strongDecrypt{
            {{cli, "decrypt", strong.string(), "-o", out.string(), "--key-file", keyFile.string()}, {}}};
        bool ok = true;
        // Both round trips give the text back (checked by size).
        const auto checkBack = [&](const fs::path& path) {
            ok &= SizeOf(path) == SizeOf(text);
            fs::remove(path);
        };
        for (int round = 0; round <= runs; ++round) {
            const bool cold = round == runs;
            const auto step = [&](const std::vector<Stage>& stages, Measured& measured,
                                  const std::vector<std::vector<std::string>>& after = {}) {
                if (cold)
                    DropFromCache(folder);
                ok &= Run(stages, measured, cold, after);
            };
            step(encrypt, toolEnc);
            step(pipeEncrypt, pipeEnc);
            step(pipeEncrypt, syncEnc, {{"sync", body.string()}});
            step(decrypt, toolDec);
            checkBack(out);
            step(pipeDecrypt, pipeDec);
            step(pipeDecrypt, syncDec, {{"sync", back.string()}});
            checkBack(back);
            step(strongEncrypt, strongEnc);
            step(strongDecrypt, strongDec);
            checkBack(out);
        }
        const auto pair = [](const Measured& m) {
            char text[32];
            std::snprintf(text, sizeof text, "%5.2f (%4.2f)", m.wall(), m.cold);
            return std::string(text);
        };
        const char* failed = ok ? "" : "  (FAILED)";
        std::printf("%5zu MB | %12s %12s %5.2fx | %12s %12s %5.2fx | %7.1f %7.1f | %7.1f %7.1f%s\n", mib,
                    pair(toolEnc).c_str(), pair(pipeEnc).c_str(), toolEnc.wall() / pipeEnc.wall(),
                    pair(toolDec).c_str(), pair(pipeDec).c_str(), toolDec.wall() / pipeDec.wall(), toolEnc.peakMiB,
                    pipeEnc.peakMiB, toolDec.peakMiB, pipeDec.peakMiB, failed);
        std::printf("%8s | %12s %12s %5.2fx | %12s %12s %5.2fx |\n", "+ sync", "", pair(syncEnc).c_str(),
                    toolEnc.wall() / syncEnc.wall(), "", pair(syncDec).c_str(), toolDec.wall() / syncDec.wall());
        std::printf("%8s | %12.2f %12.2f %5.2fx | %12.2f %12.2f %5.2fx |\n", "CPU s", toolEnc.processor(),
                    pipeEnc.processor(), toolEnc.processor() / pipeEnc.processor(), toolDec.processor(),
                    pipeDec.processor(), toolDec.processor() / pipeDec.processor());
        std::fflush(stdout);
        allOk &= ok;
        char row[256];
        const double derived = derivation.wall();
        const double netEnc = strongEnc.wall() - derived, netDec = strongDec.wall() - derived;
        std::snprintf(row, sizeof row,
                      "%5zu MB | %5.2f (%4.2f) %5.2f (%4.2f) %5.2f %5.2fx | %5.2f (%4.2f) %5.2f (%4.2f) %5.2f %5.2fx | "
                      "%4.2f/%4.2f %4.2f/%4.2f | %6.1f %6.1f%s",
                      mib, toolEnc.wall(), toolEnc.cold, strongEnc.wall(), strongEnc.cold, netEnc,
                      netEnc / toolEnc.wall(), toolDec.wall(), toolDec.cold, strongDec.wall(), strongDec.cold, netDec,
                      netDec / toolDec.wall(), toolEnc.processor(), strongEnc.processor(), toolDec.processor(),
                      strongDec.processor(), strongEnc.peakMiB, strongDec.peakMiB, failed);
        strongRows.emplace_back(row);
        for (const fs::path& p : {text, doc, out, body, back, strong})
            fs::remove(p);
    }
    std::printf("\ntavro-cli .tvrs beside .tvro, median of %d runs (wall s, cold run in brackets; peak RSS MiB)\n"
                "key derivation apart (Argon2id, 3 passes over 64 MiB): %.3f s median; net = .tvrs less it;\n"
                "CPU = user + system seconds of the tool, .tvro/.tvrs\n",
                runs, derivation.wall());
    std::printf("%8s | %12s %12s %5s %6s | %12s %12s %5s %6s | %-9s %-9s | %6s %6s\n", "size", "enc tvro", "enc tvrs",
                "net", "ratio", "dec tvro", "dec tvrs", "net", "ratio", "CPU enc", "CPU dec", "RSS en", "RSS de");
    for (const std::string& row : strongRows)
        std::printf("%s\n", row.c_str());

    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return allOk ? 0 : 1;
}
