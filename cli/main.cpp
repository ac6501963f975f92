// tavro-cli: decrypt, encrypt, verify and re-key Tavro documents from the
// command line, for scripts, backups and recovery without the editor.

#include "commands.h"
#include "exit_codes.h"
#include "strong_commands.h"
#include "process_hardening.h"
#include "standard_streams.h"
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
  tavro-cli encrypt [IN] -o FILE [--format strong|tvro] KEY [--lossy] [--no-versions]
  tavro-cli verify FILE [KEY]
  tavro-cli rekey FILE [--format strong|tvro] KEY NEW-KEY [--force] [--no-versions]
  tavro-cli versions FILE [--purge]
  tavro-cli restore FILE NUMBER
  tavro-cli --help

Formats:
  tvro      The editor's format from the start: AES-256 under the MD5 of the
            password (in code page 936) or of the key file; a CRC-32 catches
            accidental damage only. A wrong key goes undetected, and
            characters code page 936 lacks are stored as "?".
  strong    ".tvrs": the text in UTF-8, every character kept, sealed with
            XChaCha20-Poly1305 under a key Argon2id makes (64 MiB, 3 passes:
            a fraction of a second) from the password or the key file, with
            a random salt. A wrong key and any change to the file are
            detected. It needs a password or a key file.
  decrypt, verify and rekey tell the format by the file's first bytes,
  whatever its name. encrypt writes the strong format with --format strong
  or an output name ending in ".tvrs", else .tvro.

Commands:
  decrypt   Writes the text of the document FILE as UTF-8 to OUT, or to
            standard output without -o. Line feeds are written as stored.
            A new output file is readable by its owner only (0600). When the
            document is damaged (any defect verify reports) or the read is
            doubtful (below), the text that could be read is still written,
            the reason goes to stderr in verify's words and the exit code
            is 3. For a strong document that is the text up to the damage,
            every byte of it authenticated; under a wrong key nothing is
            written (exit 3).
  encrypt   Reads UTF-8 text from IN, or from standard input when IN is
            absent or "-", and writes it as the document FILE. Carriage
            returns are removed, as the editor does; a leading byte order
            mark is dropped. Text that is not valid UTF-8 is refused with
            its byte offset (exit 2), never altered; so is a NUL character
            for .tvro, which cannot store it. For .tvro, text with
            characters code page 936 cannot hold is refused naming the
            first few (exit 1); with --lossy each of them is written as "?".
  verify    Checks FILE and prints one line, exit 0 when sound; else prints
            the reason to stderr and exits 3. A .tvro document: without KEY
            its header and CRC; with KEY also its text, judged (below), so
            a wrong key or a file that is no document is told apart from a
            clean read. An empty (0-byte) file is a sound empty .tvro
            document. A strong document: without KEY its header alone and
            that a record follows; with KEY every record, which finds any
            change.
  rekey     Decrypts FILE with its key and encrypts it again under NEW-KEY,
            replacing the file atomically and keeping its permissions. A
            damaged file, or a doubtful read (most likely a wrong key), is
            left unchanged (exit 3); --force rekeys it all the same, and the
            bytes it had stay in the version store. A file that another
            program writes, replaces or removes while rekey runs is left as
            that program left it (exit 3).
            A strong document gets a fresh salt. The format stays unless
            --format names the other; a strong document becomes .tvro only
            if code page 936 holds every character of it (else exit 2,
            unchanged). --new-no-password makes a .tvro document, so on a
            strong one it needs --format tvro.
  versions  Lists the versions kept of FILE, newest first: number, local
            time it was replaced, size and what replaced it. With --purge,
            removes them all.
  restore   Puts version NUMBER (as versions lists it) in place of FILE,
            atomically; the bytes it replaces are kept as a version first.

FILE (decrypt, verify, rekey) is a document; "-" is standard input (not
for rekey). A device such as /dev/zero is refused (exit 2): it may never end.

A .tvro read is doubtful unless the header, CRC, pad count and length are
sound, the text encodes back to exactly the bytes it was read from, it holds
no control character but tab and line breaks, no U+FFFD, no private-use or
unassigned character, and at most one in 16 of its characters is a rare one
(a GBK ideograph outside GB2312, or anything outside the code page). The
format has no key check: this is how a wrong key shows. A strong document
tells a wrong key for certain.

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
  --key-file PATH      The key comes from the whole content of the file
                       PATH. A file that cannot be read to its end is an
                       error (exit 2), never a shorter key. A named pipe is
                       read until its writer closes it; a device such as
                       /dev/zero or /dev/urandom is refused (exit 2). When a
                       key file takes more than a second to read, its
                       progress is shown on a terminal; Ctrl+C stops it.
  --no-password        The document has no password (the all-zero key;
                       .tvro only).
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
the process list. Passwords are UTF-8. A .tvro key hashes them in code page
936, like the editor's; a strong key takes their UTF-8 bytes.

Options:
  -o, --output PATH    Where decrypt or encrypt writes; "-" is standard output.
  --format FORMAT      strong or tvro: what encrypt or rekey writes.
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
     disk or the file size limit included), a document or key file is a
     device, standard output is closed, or the text or password is not
     valid UTF-8, or the text holds a character the format written cannot
     store (NUL for .tvro; rekey --format tvro: any code page 936 lacks)
  3  the document is damaged (header, length, pad count or CRC; for a
     strong document, any record that does not authenticate), the read is
     doubtful, the key of a strong document is wrong, rekey refused the old
     key, or another program changed FILE while rekey ran
)";

class UsageError : public CliFailure {
public:
    explicit UsageError(const std::string& message)
        : CliFailure(kExitUsage, message + " (see tavro-cli --help)")
    {
    }
};

// Options that take a value: the value follows as the next argument or after "=".
enum class ValueOption { Output, KeyFile, NewKeyFile, Format };

struct ParsedArguments {
    bool help = false;
    std::vector<std::string> operands;
    std::optional<std::string> output;
    std::vector<std::string> keyOptions;    // as written, to report conflicts
    std::vector<std::string> newKeyOptions;
    bool formatGiven = false;
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
        else if (name == "--format")
            which = ValueOption::Format;
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
        case ValueOption::Format:
            if (parsed.formatGiven)
                throw UsageError("--format given twice");
            parsed.formatGiven = true;
            if (*value == "strong")
                options.format = DocumentFormat::Strong;
            else if (*value == "tvro")
                options.format = DocumentFormat::Tvro;
            else
                throw UsageError("--format takes strong or tvro, not " + *value);
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
        options.command = Command::Verify; // a key is optional: with it the text is checked too
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
    if (options.format && options.command != Command::Encrypt && options.command != Command::Rekey)
        throw UsageError("--format applies to encrypt and rekey; " + command + " tells the format by the file");
    if (options.command == Command::Encrypt && options.key.kind == KeySourceKind::NoPassword &&
        EncryptFormat(options) == DocumentFormat::Strong)
        throw UsageError("a strong document needs a password or a key file; --no-password makes only .tvro "
                         "documents (use --format tvro)");
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
    // Before anything is opened: no file may take a closed stream's number.
    tavro::cli::ReserveStandardStreams();
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
