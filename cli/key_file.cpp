#include "key_file.h"

#include "exit_codes.h"
#include "key_derivation.h"
#include "strong_key.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

namespace tavro::cli {
namespace {

using Clock = std::chrono::steady_clock;

// One line on a terminal's stderr, redrawn in place: nothing for the first
// second (most key files take far less), then at most ten times a second.
class ProgressLine {
public:
    explicit ProgressLine(const std::string& path)
        : path_(path), terminal_(::isatty(STDERR_FILENO) == 1), start_(Clock::now())
    {
    }
    ~ProgressLine()
    {
        if (shown_)
            Put("\r\033[K"); // what follows (a prompt, an error) starts on a clean line
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void Update(std::uint64_t done, std::uint64_t total)
    {
        if (!terminal_)
            return;
        const Clock::time_point now = Clock::now();
        if (now - start_ < std::chrono::seconds(1) || (shown_ && now - drawn_ < std::chrono::milliseconds(100)))
            return;
        drawn_ = now;
        shown_ = true;
        constexpr std::uint64_t kMiB = 1 << 20;
        char figures[96];
        if (total > 0)
            std::snprintf(figures, sizeof figures, "%llu of %llu MiB (%llu%%)",
                          static_cast<unsigned long long>(done / kMiB), static_cast<unsigned long long>(total / kMiB),
                          static_cast<unsigned long long>(std::min(done, total) * 100 / total));
        else
            std::snprintf(figures, sizeof figures, "%llu MiB", static_cast<unsigned long long>(done / kMiB));
        Put("\rtavro-cli: reading key file " + path_ + ": " + figures + " (Ctrl+C stops)\033[K");
    }

private:
    static void Put(const std::string& text)
    {
        [[maybe_unused]] const ssize_t shown = ::write(STDERR_FILENO, text.data(), text.size());
    }

    std::string path_;
    bool terminal_;
    bool shown_ = false;
    Clock::time_point start_;
    Clock::time_point drawn_{};
};

// Runs read with a progress line, and turns every way it can end but a
// whole read into an error naming the file.
void ReadForTool(const std::string& path, const std::function<KeyFileResult(const KeyFileReading&)>& read)
{
    KeyFileResult result;
    {
        ProgressLine progress(path);
        KeyFileReading reading;
        reading.progress = [&progress](std::uint64_t done, std::uint64_t total) { progress.Update(done, total); };
        result = read(reading);
    }
    const std::string prefix = "cannot read key file " + path + ": ";
    switch (result.status) {
    case KeyFileStatus::Derived:
        return;
    case KeyFileStatus::CannotOpen:
    case KeyFileStatus::ReadError:
        throw CliFailure(kExitIo, prefix + std::strerror(result.error));
    case KeyFileStatus::Device:
        throw CliFailure(kExitIo, prefix + "it is a device, not a file (a device may never end)");
    case KeyFileStatus::Cancelled:
        break;
    }
    throw CliFailure(kExitIo, prefix + "cancelled");
}

} // namespace

void KeyFromFile(const std::string& path, DocumentKey& key)
{
    ReadForTool(path, [&](const KeyFileReading& reading) { return ReadKeyFile(path, key, reading); });
}

void DigestFromFile(const std::string& path, SecureBytes& digest)
{
    ReadForTool(path, [&](const KeyFileReading& reading) { return DigestKeyFile(path, digest, reading); });
}

} // namespace tavro::cli
