#include "input_file.h"

#include "exit_codes.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavro::cli {

namespace {

bool IsDevice(const struct stat& info) { return S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode); }

} // namespace

InputFile::InputFile(const std::string& path, Devices devices)
    : name_(path.empty() || path == "-" ? "standard input" : path)
{
    const bool named = !path.empty() && path != "-";
    const auto refuseDevice = [&](const struct stat& info) {
        if (named && devices == Devices::Refused && IsDevice(info))
            throw CliFailure(kExitIo, "cannot read " + name_ + ": it is a device, not a document");
    };
    if (!named) {
        fd_ = STDIN_FILENO;
    } else {
        struct stat byName{};
        if (::stat(path.c_str(), &byName) == 0)
            refuseDevice(byName);
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            Fail(errno);
        owned_ = true;
    }
    if (::fstat(fd_, &info_) != 0)
        Fail(errno);
    if (S_ISDIR(info_.st_mode))
        Fail(EISDIR);
    refuseDevice(info_);
}

InputFile::~InputFile()
{
    if (owned_)
        ::close(fd_);
}

void InputFile::Fail(int error) const
{
    throw CliFailure(kExitIo, "cannot read " + name_ + ": " + std::strerror(error));
}

std::size_t InputFile::Read(std::span<std::uint8_t> buffer)
{
    for (;;) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            Fail(errno);
    }
}

std::size_t InputFile::ReadAvailable(std::span<std::uint8_t> buffer)
{
    std::size_t done = Read(buffer);
    while (done > 0 && done < buffer.size()) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0)
            break;
        const std::size_t got = Read(buffer.subspan(done));
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

std::size_t InputFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::pread(fd_, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Fail(errno);
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

} // namespace tavro::cli
