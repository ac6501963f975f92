// tavro-cli against what a user would type instead, in the same run:
//   encrypt:  iconv -f UTF-8 -t CP936 TEXT | openssl enc -aes-256-ecb -K KEY
//   decrypt:  openssl enc -d -aes-256-ecb -K KEY -in BODY | iconv -f CP936 -t UTF-8
// on the same Chinese and ASCII text, with wall time (best of the runs) and
// peak resident memory of every process (from wait4). The pipeline's peak
// is that of its larger stage, as /usr/bin/time reports a shell pipeline.
// Goals: the tool's wall time at most 1.0x the pipeline's, its peak RSS
// under 64 MiB at any size. The tool also syncs what it writes; the
// pipeline does not.
//
// A second table puts the strong format (.tvrs) beside .tvro, both through
// the tool on the same text and key file. Its key derivation (Argon2id at
// the default cost, timed here in-process) is reported apart, and "net" is
// the .tvrs time less it. Goal: net at most 1.0x the .tvro time. The
// processes' CPU time (user + system, best run) is shown as well: it
// compares the work done even on a busy machine. The .tvrs peak RSS holds
// Argon2id's memory (64 MiB), which is the point of Argon2id.
//
// Usage: cli_bench [SIZE_MIB...] [--runs N]   (default: 64 256, 3 runs)
// Inputs go to a folder under $TMPDIR (or /tmp) that is removed afterwards.
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

struct Measured {
    double seconds = 1e300;
    double first = 0;   // the first run: input and output not yet in the cache
    double cpu = 1e300; // user + system time of all processes, best run
    double peakMiB = 0; // largest process
};

// Runs the stages as one pipeline; true when every stage exits 0.
bool RunPipeline(const std::vector<Stage>& stages, Measured& measured)
{
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> pids;
    int previousRead = -1;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        int link[2] = {-1, -1};
        const bool piped = i + 1 < stages.size();
        if (piped && ::pipe(link) != 0)
            return false;
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (previousRead >= 0)
                ::dup2(previousRead, STDIN_FILENO);
            if (piped) {
                ::dup2(link[1], STDOUT_FILENO);
            } else {
                const std::string& out = stages[i].stdoutPath.empty() ? "/dev/null" : stages[i].stdoutPath;
                const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                ::dup2(fd, STDOUT_FILENO);
            }
            for (int fd = 3; fd < 64; ++fd)
                ::close(fd);
            std::vector<char*> args;
            for (const std::string& arg : stages[i].argv)
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
    bool ok = true;
    double peak = 0;
    double cpu = 0;
    for (pid_t pid : pids) {
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        peak = std::max(peak, static_cast<double>(usage.ru_maxrss) / 1024.0);
        for (const timeval& time : {usage.ru_utime, usage.ru_stime})
            cpu += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    }
    measured.cpu = std::min(measured.cpu, cpu);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (measured.first == 0)
        measured.first = took.count();
    measured.seconds = std::min(measured.seconds, took.count());
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

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::size_t> sizes;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(static_cast<std::size_t>(std::atol(argv[i])));
    }
    if (sizes.empty())
        sizes = {64, 256};

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
            if (derivation.first == 0)
                derivation.first = took.count();
            derivation.seconds = std::min(derivation.seconds, took.count());
        }
    }
    std::vector<std::string> strongRows;

    std::printf("tavro-cli vs iconv|openssl, best of %d runs (wall s; peak RSS MiB)\n", runs);
    std::printf("%8s | %8s %8s %6s | %8s %8s %6s | %9s %9s | %9s %9s\n", "size", "enc tool", "pipe", "ratio",
                "dec tool", "pipe", "ratio", "RSS enc", "pipe", "RSS dec", "pipe");
    bool allOk = true;
    for (std::size_t mib : sizes) {
        const fs::path text = folder / "text.txt", doc = folder / "doc.tvro", out = folder / "out.txt",
                       body = folder / "pipeline.bin", back = folder / "pipeline.txt", strong = folder / "doc.tvrs";
        WriteText(text, mib << 20);
        Measured toolEnc, pipeEnc, toolDec, pipeDec, strongEnc, strongDec;
        bool ok = true;
        for (int run = 0; run < runs; ++run) {
            ok &= RunPipeline({{{cli, "encrypt", text.string(), "-o", doc.string(), "--key-file", keyFile.string()}, {}}},
                              toolEnc);
            ok &= RunPipeline({{{"iconv", "-f", "UTF-8", "-t", "CP936", text.string()}, {}},
                               {{"openssl", "enc", "-aes-256-ecb", "-K", keyHex}, body.string()}},
                              pipeEnc);
            ok &= RunPipeline({{{cli, "decrypt", doc.string(), "-o", out.string(), "--key-file", keyFile.string()}, {}}},
                              toolDec);
            ok &= RunPipeline({{{"openssl", "enc", "-d", "-aes-256-ecb", "-K", keyHex, "-in", body.string()}, {}},
                               {{"iconv", "-f", "CP936", "-t", "UTF-8"}, back.string()}},
                              pipeDec);
            fs::remove(out);
            ok &= RunPipeline(
                {{{cli, "encrypt", text.string(), "-o", strong.string(), "--key-file", keyFile.string()}, {}}},
                strongEnc);
            ok &= RunPipeline(
                {{{cli, "decrypt", strong.string(), "-o", out.string(), "--key-file", keyFile.string()}, {}}},
                strongDec);
            ok &= SizeOf(out) == SizeOf(text);
            fs::remove(out);
        }
        // Both round trips give the text back (the tool's output was checked
        // by size on its last run; the pipeline's likewise).
        ok &= RunPipeline({{{cli, "decrypt", doc.string(), "-o", out.string(), "--key-file", keyFile.string()}, {}}},
                          toolDec);
        ok &= SizeOf(out) == SizeOf(text) && SizeOf(back) == SizeOf(text);
        std::printf("%5zu MB | %8.2f %8.2f %5.2fx | %8.2f %8.2f %5.2fx | %9.1f %9.1f | %9.1f %9.1f%s\n", mib,
                    toolEnc.seconds, pipeEnc.seconds, toolEnc.seconds / pipeEnc.seconds, toolDec.seconds,
                    pipeDec.seconds, toolDec.seconds / pipeDec.seconds, toolEnc.peakMiB, pipeEnc.peakMiB,
                    toolDec.peakMiB, pipeDec.peakMiB, ok ? "" : "  (FAILED)");
        std::fflush(stdout);
        allOk &= ok;
        char row[256];
        const double netEnc = strongEnc.seconds - derivation.seconds, netDec = strongDec.seconds - derivation.seconds;
        std::snprintf(row, sizeof row,
                      "%5zu MB | %5.2f (%4.2f) %5.2f (%4.2f) %5.2f %5.2fx | %5.2f (%4.2f) %5.2f (%4.2f) %5.2f %5.2fx | "
                      "%4.2f/%4.2f %4.2f/%4.2f | %6.1f %6.1f%s",
                      mib, toolEnc.seconds, toolEnc.first, strongEnc.seconds, strongEnc.first, netEnc,
                      netEnc / toolEnc.seconds, toolDec.seconds, toolDec.first, strongDec.seconds, strongDec.first,
                      netDec, netDec / toolDec.seconds, toolEnc.cpu, strongEnc.cpu, toolDec.cpu, strongDec.cpu,
                      strongEnc.peakMiB, strongDec.peakMiB, ok ? "" : "  (FAILED)");
        strongRows.emplace_back(row);
        for (const fs::path& p : {text, doc, out, body, back, strong})
            fs::remove(p);
    }
    std::printf("\ntavro-cli .tvrs beside .tvro, best of %d runs (wall s, first run in brackets; peak RSS MiB)\n"
                "key derivation apart (Argon2id, 3 passes over 64 MiB): %.3f s best, %.3f s first; net = .tvrs less it;\n"
                "CPU = user + system seconds of the tool, .tvro/.tvrs\n",
                runs, derivation.seconds, derivation.first);
    std::printf("%8s | %12s %12s %5s %6s | %12s %12s %5s %6s | %-9s %-9s | %6s %6s\n", "size", "enc tvro", "enc tvrs",
                "net", "ratio", "dec tvro", "dec tvrs", "net", "ratio", "CPU enc", "CPU dec", "RSS en", "RSS de");
    for (const std::string& row : strongRows)
        std::printf("%s\n", row.c_str());

    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return allOk ? 0 : 1;
}
