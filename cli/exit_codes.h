// Exit codes of tavro-cli and the failure that carries one up to main.
#pragma once

#include <stdexcept>
#include <string>

namespace tavro::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,   // bad arguments or missing key input
    kExitIo = 2,      // a file or stream could not be read or written, or the text is not UTF-8
    kExitDamaged = 3, // the document's header or CRC shows damage
};

// Ends the command: main prints "tavro-cli: " + what() as one line on
// stderr and exits with exitCode.
class CliFailure : public std::runtime_error {
public:
    CliFailure(ExitCode code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
    ExitCode exitCode;
};

} // namespace tavro::cli
