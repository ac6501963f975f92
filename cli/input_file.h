// An input read in pieces: a file opened once, or standard input for "-".
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tavro::cli {

// Whether a device (/dev/zero, a disk, a terminal) named by path is taken.
// A document never is: it may never end. Standard input is taken as it is.
enum class Devices { Allowed, Refused };

class InputFile {
public:
    // Opens path ("-" or empty: standard input). Throws CliFailure(kExitIo)
    // naming it when it cannot be opened, is a folder, or is a device that
    // devices refuses (found by name first, so that it is never opened).
    explicit InputFile(const std::string& path, Devices devices = Devices::Allowed);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to buffer.size() bytes; 0 only at the end of the input.
    std::size_t Read(std::span<std::uint8_t> buffer);
    // Read, then more while the buffer has room and more bytes are there
    // without waiting (a pipe hands them out a little at a time).
    std::size_t ReadAvailable(std::span<std::uint8_t> buffer);
    // Reads at offset without moving on (regular files only); short at the end.
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer);

    const std::string& name() const { return name_; }
    const struct stat& info() const { return info_; }
    int fd() const { return fd_; }

private:
    [[noreturn]] void Fail(int error) const;

    std::string name_;
    int fd_ = -1;
    bool owned_ = false;
    struct stat info_{};
};

// The size of the pieces commands read and write: large enough that system
// calls and per-piece work do not count, small enough to stay in cache.
inline constexpr std::size_t kPieceSize = 1 << 20;

} // namespace tavro::cli
