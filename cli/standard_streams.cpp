#include "standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tavro::cli {

void ReserveStandardStreams()
{
    constexpr int kStandInMode[] = {O_WRONLY, O_RDONLY, O_RDONLY}; // input, output, error
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number, which is fd: those below it are open.
        const int standIn = ::open("/dev/null", kStandInMode[fd]);
        if (standIn >= 0 && standIn != fd) {
            ::dup2(standIn, fd);
            ::close(standIn);
        }
    }
}

} // namespace tavro::cli
