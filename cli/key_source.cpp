#include "key_source.h"

#include "exit_codes.h"
#include "key_derivation.h"
#include "key_file.h"
#include "strong_key.h"
#include "utf8.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tavro::cli {
namespace {

[[noreturn]] void ReadFailure(const char* what)
{
    throw CliFailure(kExitIo, std::string("cannot read ") + what + ": " + std::strerror(errno));
}

// --- Echo off while a password is typed ---------------------------------
//
// A signal that ends the process mid-prompt must not leave the terminal
// without echo, so the fatal ones restore it before taking their course.

termios gSavedTerminal{};
volatile sig_atomic_t gEchoOff = 0;
constexpr int kRestoreSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void RestoreTerminalAndReraise(int signal)
{
    if (gEchoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

class EchoOff {
public:
    EchoOff()
    {
        if (::tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0)
            ReadFailure("the terminal");
        struct sigaction action{};
        action.sa_handler = RestoreTerminalAndReraise;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kRestoreSignals); ++i)
            ::sigaction(kRestoreSignals[i], &action, &previous_[i]);
        termios quiet = gSavedTerminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
        quiet.c_lflag |= ECHONL; // Enter still moves to the next line
        gEchoOff = 1;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        // TCSADRAIN, not TCSAFLUSH: text typed ahead after the password
        // (encrypt reading from the terminal) must not be thrown away.
        ::tcsetattr(STDIN_FILENO, TCSADRAIN, &gSavedTerminal);
        gEchoOff = 0;
        for (std::size_t i = 0; i < std::size(kRestoreSignals); ++i)
            ::sigaction(kRestoreSignals[i], &previous_[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    struct sigaction previous_[std::size(kRestoreSignals)]{};
};

SecureBytes PromptHidden(StandardInput& input, const std::string& prompt)
{
    SecureBytes line;
    bool typed = false;
    {
        EchoOff quiet;
        [[maybe_unused]] const ssize_t shown = ::write(STDERR_FILENO, prompt.data(), prompt.size());
        typed = input.ReadLine(line);
    }
    if (!typed)
        throw CliFailure(kExitUsage, "no password entered");
    return line;
}

void KeyFromPassword(std::span<const std::uint8_t> utf8, DocumentKey& key)
{
    SecureText text;
    std::size_t errorOffset = 0;
    if (!Utf8ToUtf16(utf8, text, errorOffset))
        throw CliFailure(kExitIo, "the password is not valid UTF-8 (byte " + std::to_string(errorOffset + 1) + ")");
    DeriveKeyFromPassword({text.data(), text.size()}, key);
}

std::string MissingKeyMessage(KeyRole role)
{
    const std::string prefix = role == KeyRole::New ? "--new-" : "--";
    return std::string(role == KeyRole::New ? "no new key given" : "no key given") + ": use " + prefix +
           "password-stdin, " + prefix + "key-file PATH or " + prefix +
           "no-password (standard input is not a terminal to prompt on)";
}

} // namespace

bool StandardInput::ReadLine(SecureBytes& line)
{
    line.clear();
    bool gotAny = false;
    for (;;) {
        std::uint8_t byte = 0;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ReadFailure("standard input");
        }
        if (got == 0)
            break;
        gotAny = true;
        if (byte == '\n')
            break;
        line.push_back(byte);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return gotAny;
}

SecureBytes StandardInput::ReadRest()
{
    SecureBytes content;
    std::size_t size = 0;
    for (;;) {
        if (content.size() - size < 4096)
            content.resize(content.size() * 2 + 65536);
        const ssize_t got = ::read(STDIN_FILENO, content.data() + size, content.size() - size);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ReadFailure("standard input");
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    content.resize(size);
    return content;
}

bool StandardInput::IsTerminal() const { return ::isatty(STDIN_FILENO) == 1; }

void ObtainKey(const KeySource& source, KeyRole role, KeyUse use, const std::string& document,
               StandardInput& input, DocumentKey& key)
{
    switch (source.kind) {
    case KeySourceKind::NoPassword:
        key = kZeroKey;
        return;

    case KeySourceKind::KeyFile:
        KeyFromFile(source.keyFile, key);
        return;

    case KeySourceKind::PasswordStdin: {
        SecureBytes line;
        if (!input.ReadLine(line))
            throw CliFailure(kExitUsage, std::string("standard input ended before the ") +
                                             (role == KeyRole::New ? "new password" : "password") + " line");
        KeyFromPassword(line, key);
        return;
    }

    case KeySourceKind::NotGiven:
        break;
    }

    if (!input.IsTerminal())
        throw CliFailure(kExitUsage, MissingKeyMessage(role));
    const std::string what = role == KeyRole::New ? "New password" : "Password";
    const SecureBytes typed = PromptHidden(input, what + " for " + document + ": ");
    if (use == KeyUse::Write) {
        const SecureBytes again =
            PromptHidden(input, role == KeyRole::New ? "Retype the new password: " : "Retype the password: ");
        if (typed != again)
            throw CliFailure(kExitUsage, "the passwords typed differ; nothing was written");
    }
    KeyFromPassword(typed, key);
}

} // namespace tavro::cli

namespace tavro::cli {

StrongKeySource ObtainStrongSecret(const KeySource& source, KeyRole role, KeyUse use, const std::string& document,
                                   StandardInput& input, SecureBytes& secret)
{
    const std::string prefix = role == KeyRole::New ? "--new-" : "--";
    switch (source.kind) {
    case KeySourceKind::NoPassword:
        throw CliFailure(kExitUsage, "a strong document needs a password or a key file; " + prefix +
                                         "no-password makes only .tvro documents (see tavro-cli --help)");

    case KeySourceKind::KeyFile: {
        DigestFromFile(source.keyFile, secret);
        return StrongKeySource::KeyFile;
    }

    case KeySourceKind::PasswordStdin:
        if (!input.ReadLine(secret))
            throw CliFailure(kExitUsage, std::string("standard input ended before the ") +
                                             (role == KeyRole::New ? "new password" : "password") + " line");
        break;

    case KeySourceKind::NotGiven: {
        if (!input.IsTerminal())
            throw CliFailure(kExitUsage, MissingKeyMessage(role));
        const std::string what = role == KeyRole::New ? "New password" : "Password";
        secret = PromptHidden(input, what + " for " + document + ": ");
        if (use == KeyUse::Write) {
            const SecureBytes again =
                PromptHidden(input, role == KeyRole::New ? "Retype the new password: " : "Retype the password: ");
            if (secret != again)
                throw CliFailure(kExitUsage, "the passwords typed differ; nothing was written");
        }
        break;
    }
    }
    // Hashed as typed, but only valid UTF-8: the window could not type
    // anything else, and a document it cannot open must not be made.
    SecureText checked;
    std::size_t errorOffset = 0;
    if (!Utf8ToUtf16(secret, checked, errorOffset))
        throw CliFailure(kExitIo, "the password is not valid UTF-8 (byte " + std::to_string(errorOffset + 1) + ")");
    return StrongKeySource::Password;
}

} // namespace tavro::cli
