// tavro-cli: decrypt, encrypt, verify and re-key Tavro documents from the
// command line, for scripts, backups and recovery without the editor.

#include "commands.h"
#include "exit_codes.h"
#include "process_hardening.h"
#include "temporary_cleanup.h"
#include "versions.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::cli {
namespace {

constexpr const char* kHelp = R"(Usage:
  tavro-cli decrypt FILE [-o OUT] KEY
  tavro-cli encrypt [IN] -o FILE KEY [--lossy] [--no-versions]
  tavro-cli verify FILE [KEY]
  tavro-cli rekey FILE KEY NEW-KEY [--force] [--no-versions]
  tavro-cli versions FILE [--purge]
  tavro-cli restore FILE NUMBER
  tavro-cli --help

Commands:
  decrypt   Writes the text of the document FILE as UTF-8 to OUT, or to
            standard output without -o. Line feeds are written as stored.
            A new output file is readable by its owner only (0600). When the
            document is damaged (any defect verify reports) or the read is
            doubtful (below), the text that could be read is still written,
            the reason goes to stderr in verify's words and the exit code
            is 3.
  encrypt   Reads UTF-8 text from IN, or from standard input when IN is
            absent or "-", and writes it as the document FILE. Carriage
            returns are removed, as the editor does; a leading byte order
            mark is dropped. Text that is not valid UTF-8, or that holds a
            NUL character (which a document cannot store), is refused with
            its byte offset (exit 2), never altered. Text with characters
            code page 936 cannot hold is refused naming the first few
            (exit 1); with --lossy each of them is written as "?".
  verify    Without a key, checks the header and CRC of FILE. With a KEY,
            also reads the text and judges it (below), so a wrong key or
            a file that is no document is told apart from a clean read.
            Prints one line and exits 0 when sound, or prints the reason to
            stderr and exits 3. An empty (0-byte) file is a sound empty
            document.
  rekey     Decrypts FILE with its key and encrypts it again under NEW-KEY,
            replacing the file atomically and keeping its permissions. A
            damaged file, or a doubtful read (most likely a wrong key), is
            left unchanged (exit 3); --force rekeys it all the same, and the
            bytes it had stay in the version store.
  versions  Lists the versions kept of FILE, newest first: number, local
            time it was replaced, size and what replaced it. With --purge,
            removes them all.
  restore   Puts version NUMBER (as versions lists it) in place of FILE,
            atomically; the bytes it replaces are kept as a version first.

A read is doubtful unless the header, CRC, pad count and length are sound,
the text encodes back to exactly the bytes it was read from, it holds no
control character but tab and line breaks, no U+FFFD, no private-use or
unassigned character, and at most one in 16 of its characters is a rare
one (a GBK ideograph outside GB2312, or anything outside the code page).
The format has no key check: this is how a wrong key shows.

Versions. Before encrypt, rekey or restore replaces an existing document,
its bytes are kept exactly as they were (still encrypted under their own
key) in $XDG_DATA_HOME/tavro/versions/ (by default
~/.local/share/tavro/versions/), readable by you alone: every version of
the last hour, one per hour for a day, one per day for 30 days, at most
100 and at most 10 times the largest version or 256 MB per document
(the newest is always kept). A version costs no copy on the same file
system. encrypt keeps only a target shaped like a document. When no
version can be kept, a warning says why and the write goes on.
--no-versions (encrypt, rekey) keeps none, for scripts that keep their
own copies.

KEY, one of:
  --password-stdin     The first line of standard input, without its line
                       ending, is the password. For encrypt reading its text
                       from standard input, the text is everything after
                       that line.
  --key-file PATH      The key comes from the content of the file PATH.
  --no-password        The document has no password (the all-zero key).
  (none)               When standard input is a terminal, the password is
                       asked for without echo (twice when writing).

NEW-KEY (rekey), one of:
  --new-password-stdin   The next line of standard input: line 2 when the
                         old password is also read from standard input,
                         else line 1.
  --new-key-file PATH
  --new-no-password
  (none)                 Asked for twice at the terminal, without echo.

A password is never accepted as an argument: other users could read it in
the process list. Passwords are UTF-8 and are hashed in code page 936, like
the editor's.

Options:
  -o, --output PATH    Where decrypt or encrypt writes; "-" is standard output.
  -h, --help           Shows this help.

Files are written all-or-nothing: to a temporary file in the same folder
(unnamed where the file system allows, else removed on INT, TERM or HUP),
synced to disk, then renamed over the target. A failed or interrupted write
leaves the target as it was. A symbolic link is followed, also to a file
that does not exist yet. An output that is the input file is refused.
Documents of any size pass through a few megabytes of memory.

Exit codes:
  0  success
  1  usage error: bad arguments, no key given, no password line on stdin,
     an output that is the input file, text encrypt cannot store without
     --lossy, or a version number FILE does not have
  2  input or output error: a file could not be read or written (a full
     disk or the file size limit included), or the text or password is not
     valid UTF-8, or the text holds a NUL character
  3  the document is damaged (header, length, pad count or CRC) or the
     read is doubtful, or rekey refused it
)";

class UsageError : public CliFailure {
public:
    explicit UsageError(const std::string& message)
        : CliFailure(kExitUsage, message + " (see tavro-cli --help)")
    {
    }
};

// Options that take a value: the value follows as the next argument or after "=".
enum class ValueOption { Output, KeyFile, NewKeyFile };

struct ParsedArguments {
    bool help = false;
    std::vector<std::string> operands;
    std::optional<std::string> output;
    std::vector<std::string> keyOptions;    // as written, to report conflicts
    std::vector<std::string> newKeyOptions;
    std::vector<std::string> flags; // --force, --lossy, --no-versions, --purge
    Options options;
};

void SetKeySource(KeySource& source, std::vector<std::string>& given, const std::string& option, KeySourceKind kind,
                  const std::string& path = {})
{
    given.push_back(option);
    source.kind = kind;
    source.keyFile = path;
}

bool LooksLikePasswordArgument(std::string_view arg)
{
    for (std::string_view refused : {"--password", "--new-password", "--pass", "--passphrase"}) {
        if (arg == refused || (arg.starts_with(refused) && arg[refused.size()] == '='))
            return true;
    }
    return arg == "-p" || (arg.starts_with("-p") && !arg.starts_with("--"));
}

ParsedArguments ParseArguments(int argc, char** argv)
{
    ParsedArguments parsed;
    Options& options = parsed.options;
    bool onlyOperands = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyOperands || arg == "-" || !arg.starts_with("-")) {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyOperands = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            parsed.help = true;
            continue;
        }
        if (arg == "--password-stdin") {
            SetKeySource(options.key, parsed.keyOptions, arg, KeySourceKind::PasswordStdin);
            continue;
        }
        if (arg == "--no-password") {
            SetKeySource(options.key, parsed.keyOptions, arg, KeySourceKind::NoPassword);
            continue;
        }
        if (arg == "--new-password-stdin") {
            SetKeySource(options.newKey, parsed.newKeyOptions, arg, KeySourceKind::PasswordStdin);
            continue;
        }
        if (arg == "--new-no-password") {
            SetKeySource(options.newKey, parsed.newKeyOptions, arg, KeySourceKind::NoPassword);
            continue;
        }
        if (arg == "--force" || arg == "--lossy" || arg == "--no-versions" || arg == "--purge") {
            parsed.flags.push_back(arg);
            continue;
        }
        if (LooksLikePasswordArgument(arg))
            throw UsageError("a password is never accepted as an argument (it would show in the process list); "
                             "use --password-stdin, --key-file or the prompt");

        // Options with a value: "--name VALUE", "--name=VALUE", "-o VALUE", "-oVALUE".
        std::string name = arg;
        std::optional<std::string> value;
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (arg.starts_with("-o") && arg.size() > 2) {
            name = "-o";
            value = arg.substr(2);
        }
        std::optional<ValueOption> which;
        if (name == "-o" || name == "--output")
            which = ValueOption::Output;
        else if (name == "--key-file")
            which = ValueOption::KeyFile;
        else if (name == "--new-key-file")
            which = ValueOption::NewKeyFile;
        if (!which)
            throw UsageError("unknown option " + name);
        if (!value) {
            if (i + 1 >= argc)
                throw UsageError(name + " needs a value");
            value = argv[++i];
        }
        if (value->empty())
            throw UsageError(name + " needs a non-empty value");

        switch (*which) {
        case ValueOption::Output:
            if (parsed.output)
                throw UsageError("-o given twice");
            parsed.output = *value;
            break;
        case ValueOption::KeyFile:
            SetKeySource(options.key, parsed.keyOptions, name, KeySourceKind::KeyFile, *value);
            break;
        case ValueOption::NewKeyFile:
            SetKeySource(options.newKey, parsed.newKeyOptions, name, KeySourceKind::KeyFile, *value);
            break;
        }
    }
    return parsed;
}

// Turns the parsed arguments into Options, refusing every combination the
// command does not take.
Options CheckArguments(ParsedArguments& parsed)
{
    Options& options = parsed.options;
    if (parsed.operands.empty())
        throw UsageError("no command given");
    const std::string command = parsed.operands.front();
    const std::vector<std::string> operands(parsed.operands.begin() + 1, parsed.operands.end());

    std::size_t minOperands = 1;
    std::size_t maxOperands = 1;
    bool takesOutput = false;
    bool takesKey = true;
    std::vector<std::string> takesFlags;
    if (command == "decrypt") {
        options.command = Command::Decrypt;
        takesOutput = true;
    } else if (command == "encrypt") {
        options.command = Command::Encrypt;
        takesOutput = true;
        minOperands = 0;
        takesFlags = {"--lossy", "--no-versions"};
    } else if (command == "verify") {
        options.command = Command::Verify; // the key is optional
    } else if (command == "rekey") {
        options.command = Command::Rekey;
        takesFlags = {"--force", "--no-versions"};
    } else if (command == "versions") {
        options.command = Command::Versions;
        takesKey = false;
        takesFlags = {"--purge"};
    } else if (command == "restore") {
        options.command = Command::Restore;
        takesKey = false;
        minOperands = maxOperands = 2;
    } else {
        throw UsageError("unknown command " + command);
    }

    if (operands.size() < minOperands)
        throw UsageError(command + (maxOperands == 2 ? " needs a FILE and a version number" : " needs a FILE"));
    if (operands.size() > maxOperands)
        throw UsageError(command + (maxOperands == 2 ? " takes a file and a version number, got " : " takes one file, got ") +
                         std::to_string(operands.size()));
    if (!operands.empty())
        options.input = operands.front();
    if (options.command == Command::Restore) {
        const std::string& number = operands[1];
        if (number.empty() || number.size() > 18 || number.find_first_not_of("0123456789") != std::string::npos ||
            std::stoull(number) == 0)
            throw UsageError("restore needs a version number as tavro-cli versions lists it, not " + number);
        options.versionNumber = std::stoull(number);
    }
    if ((options.command == Command::Versions || options.command == Command::Restore) && options.input == "-")
        throw UsageError(command + " needs a document's path, not standard input");
    for (const std::string& flag : parsed.flags) {
        if (std::find(takesFlags.begin(), takesFlags.end(), flag) == takesFlags.end())
            throw UsageError(flag + " does not apply to " + command);
        options.force = options.force || flag == "--force";
        options.lossy = options.lossy || flag == "--lossy";
        options.keepVersions = options.keepVersions && flag != "--no-versions";
        options.purge = options.purge || flag == "--purge";
    }

    if (parsed.output && !takesOutput)
        throw UsageError(command + " takes no -o");
    if (options.command == Command::Encrypt && !parsed.output)
        throw UsageError("encrypt needs -o FILE");
    options.output = parsed.output.value_or("");

    if (!takesKey && !parsed.keyOptions.empty())
        throw UsageError(command + " needs no key; " + parsed.keyOptions.front() + " does not apply");
    if (parsed.keyOptions.size() > 1)
        throw UsageError("choose one key source, not " + parsed.keyOptions[0] + " and " + parsed.keyOptions[1]);
    if (options.command != Command::Rekey && !parsed.newKeyOptions.empty())
        throw UsageError(parsed.newKeyOptions.front() + " applies to rekey only");
    if (parsed.newKeyOptions.size() > 1)
        throw UsageError("choose one new key source, not " + parsed.newKeyOptions[0] + " and " +
                         parsed.newKeyOptions[1]);

    // Standard input can carry the document or the password, not both.
    const bool documentOnStdin = options.input == "-" && options.command != Command::Encrypt;
    // Verify without a key asks for none.
    const bool keyOnStdin = options.key.kind == KeySourceKind::PasswordStdin ||
                            (options.key.kind == KeySourceKind::NotGiven && options.command != Command::Verify) ||
                            options.newKey.kind == KeySourceKind::PasswordStdin ||
                            (options.command == Command::Rekey && options.newKey.kind == KeySourceKind::NotGiven);
    if (options.command == Command::Rekey && options.input == "-")
        throw UsageError("rekey replaces a file; standard input cannot be one");
    if (documentOnStdin && takesKey && keyOnStdin)
        throw UsageError("the document and the password cannot both come from standard input");
    return options;
}

int Run(int argc, char** argv)
{
    ParsedArguments parsed = ParseArguments(argc, argv);
    if (parsed.help) {
        if (std::fputs(kHelp, stdout) < 0 || std::fflush(stdout) != 0)
            throw CliFailure(kExitIo, std::string("cannot write standard output: ") + std::strerror(errno));
        return kExitOk;
    }
    const Options options = CheckArguments(parsed);
    switch (options.command) {
    case Command::Decrypt:
        return RunDecrypt(options);
    case Command::Encrypt:
        return RunEncrypt(options);
    case Command::Verify:
        return RunVerify(options);
    case Command::Rekey:
        return RunRekey(options);
    case Command::Versions:
        return RunVersions(options);
    case Command::Restore:
        return RunRestore(options);
    }
    return kExitUsage;
}

} // namespace
} // namespace tavro::cli

int main(int argc, char** argv)
{
    // Keys and plaintext must not end up in a core dump.
    tavro::DisableCoreDumps();
    // A closed output pipe must show up as a failed write (exit 2), not kill
    // the process silently; likewise the file size limit (SIGXFSZ). A
    // signal that ends the process removes a half-written temporary file.
    ::signal(SIGPIPE, SIG_IGN);
    tavro::cli::InstallSignalCleanup();
    try {
        return tavro::cli::Run(argc, argv);
    } catch (const tavro::cli::CliFailure& failure) {
        std::fprintf(stderr, "tavro-cli: %s\n", failure.what());
        return failure.exitCode;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tavro-cli: %s\n", error.what());
        return tavro::cli::kExitIo;
    }
}
