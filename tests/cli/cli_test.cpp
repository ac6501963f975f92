#include "cli/cli_process.h"

#include "support/hex.h"
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <tuple>

using namespace tavro::test;
namespace fs = std::filesystem;

namespace {

const std::string kCli = TAVRO_CLI_PATH;

ProcessResult Cli(std::vector<std::string> args, ProcessRun run = {})
{
    args.insert(args.begin(), kCli);
    return RunProcess(args, run);
}

ProcessRun Stdin(std::string data)
{
    ProcessRun run;
    run.stdinData = std::move(data);
    return run;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Errors and warnings are exactly one line on stderr.
::testing::AssertionResult OneLine(const std::string& err)
{
    if (err.empty() || err.back() != '\n' || std::count(err.begin(), err.end(), '\n') != 1 ||
        !err.starts_with("tavro-cli: "))
        return ::testing::AssertionFailure() << "not one tavro-cli line: [" << err << "]";
    return ::testing::AssertionSuccess();
}

std::vector<std::string> Entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using tavro::test::Hex;

// Mixed Chinese, ASCII and punctuation, at least size bytes of UTF-8.
std::string ChineseText(std::size_t size)
{
    const std::string line = "加密文档的第一行：中文与ASCII混排，还有标点。Line 1234567890 €\n";
    std::string text;
    while (text.size() < size)
        text += line;
    return text;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        std::string folder = std::string(base && *base ? base : "/tmp") + "/tavro-cli-test-XXXXXX";
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        dir_ = folder;
        // The tool keeps its versions here, apart from the test's files.
        std::string data = std::string(base && *base ? base : "/tmp") + "/tavro-cli-data-XXXXXX";
        ASSERT_NE(::mkdtemp(data.data()), nullptr);
        data_ = data;
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
    void TearDown() override
    {
        std::error_code ignored;
        for (const fs::path& folder : {dir_, data_}) {
            for (const auto& entry : fs::recursive_directory_iterator(folder, ignored))
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
            fs::remove_all(folder, ignored);
        }
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // A document of text under password, written by the tool itself.
    std::string Encrypt(const std::string& name, const std::string& text, const std::string& password)
    {
        const ProcessResult r = Cli({"encrypt", "-o", Path(name), "--password-stdin"}, Stdin(password + "\n" + text));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Path(name);
    }

    // The bytes of each version the store holds of path, newest first.
    std::vector<std::string> StoredVersions(const std::string& path) const
    {
        std::vector<std::pair<std::uint64_t, std::string>> found;
        const std::string record = "tavro version history 1\n" + fs::canonical(path).string();
        std::error_code error;
        for (const auto& folder : fs::directory_iterator(data_ / "tavro" / "versions", error)) {
            if (ReadFile(folder.path() / "document") != record)
                continue;
            for (const auto& entry : fs::directory_iterator(folder.path())) {
                const std::string name = entry.path().filename().string();
                if (name != "document")
                    found.emplace_back(std::stoull(name), ReadFile(entry.path()));
            }
        }
        std::sort(found.rbegin(), found.rend());
        std::vector<std::string> bytes;
        for (const auto& version : found)
            bytes.push_back(version.second);
        return bytes;
    }

    fs::path dir_;
    fs::path data_;
};

// --- Round trips ----------------------------------------------------------

struct Sample {
    const char* name;
    std::string text;
};

class CliRoundTrip : public CliTest, public ::testing::WithParamInterface<Sample> {};

TEST_P(CliRoundTrip, EveryKeySourceGivesTheTextBack)
{
    const std::string& text = GetParam().text;

    // Password as the first line of stdin, the text after it.
    const std::string byPassword = Encrypt("password.tvro", text, "密码 pass");
    ProcessResult r = Cli({"decrypt", byPassword, "--password-stdin"}, Stdin("密码 pass\r\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, text);
    EXPECT_EQ(r.err, "");

    // Key file, text from a file, decrypted into a file.
    WriteFile(Path("key.bin"), std::string("\x00\xff key file \x80", 14));
    WriteFile(Path("in.txt"), text);
    r = Cli({"encrypt", Path("in.txt"), "-o", Path("keyfile.tvro"), "--key-file", Path("key.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"decrypt", Path("keyfile.tvro"), "-o", Path("out.txt"), "--key-file=" + Path("key.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(Path("out.txt")), text);

    // No password: the all-zero key.
    r = Cli({"encrypt", "-", "-o", Path("open.tvro"), "--no-password"}, Stdin(text));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"decrypt", Path("open.tvro"), "--no-password"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, text);

    // The three keys differ: no document opens under another's key.
    if (!text.empty()) {
        r = Cli({"decrypt", byPassword, "--no-password"});
        EXPECT_NE(r.out, text);
        r = Cli({"decrypt", Path("open.tvro"), "--key-file", Path("key.bin")});
        EXPECT_NE(r.out, text);
    }
    for (const char* name : {"password.tvro", "keyfile.tvro", "open.tvro"})
        EXPECT_EQ(Cli({"verify", Path(name)}).exitCode, 0) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CliRoundTrip,
    ::testing::Values(Sample{"Chinese", "中文文本：这是一个加密的文档。\n第二行，还有标点！\n"},
                      Sample{"Ascii", "Plain ASCII text\nwith two lines and no final line feed"},
                      Sample{"Euro", "€ 1.50\n€€€ sixteen bytes€"}, Sample{"Empty", ""},
                      Sample{"LineFeedsOnly", "\n\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, EightMegabyteTextRoundTrips)
{
    const std::string text = ChineseText(8 << 20);
    WriteFile(Path("big.txt"), text);
    WriteFile(Path("key"), "key file content");
    ProcessResult r = Cli({"encrypt", Path("big.txt"), "-o", Path("big.tvro"), "--key-file", Path("key")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Cli({"decrypt", Path("big.tvro"), "--key-file", Path("key")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out == text) << "decrypted " << r.out.size() << " bytes of " << text.size();
}

TEST_F(CliTest, EncryptDropsCarriageReturnsAndByteOrderMark)
{
    const std::string doc = Encrypt("crlf.tvro", "\xEF\xBB\xBF" "first\r\nsecond\r\n中文\r", "pw");
    const ProcessResult r = Cli({"decrypt", doc, "--password-stdin"}, Stdin("pw"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "first\nsecond\n中文");
}

// --- Interoperability with independent tools --------------------------------

TEST_F(CliTest, DocumentDecryptsWithOpenSslAndCarriesZlibCrc)
{
    const std::string password = "密码€pw";
    const std::string passwordCp936 = "\xC3\xDC\xC2\xEB\x80pw";
    const std::string text = "中文 ASCII €\n第二行";
    const std::string textCp936 = "\xD6\xD0\xCE\xC4 ASCII \x80\n\xB5\xDA\xB6\xFE\xD0\xD0";

    const std::string file = ReadFile(Encrypt("interop.tvro", text, password));
    ASSERT_GE(file.size(), 5u);
    const std::string body = file.substr(5);
    ASSERT_EQ(body.size(), 32u); // 19 bytes of text and 13 of filler
    EXPECT_EQ(static_cast<unsigned char>(file[0]), body.size() - textCp936.size());
    const auto* bodyBytes = reinterpret_cast<const Bytef*>(body.data());
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), bodyBytes, static_cast<uInt>(body.size()));
    std::uint32_t stored = 0;
    for (int i = 3; i >= 0; --i)
        stored = stored << 8 | static_cast<unsigned char>(file[static_cast<std::size_t>(1 + i)]);
    EXPECT_EQ(stored, crc);

    if (!ProgramExists("openssl"))
        GTEST_SKIP() << "the openssl command is not installed; its decryption check is skipped";

    // The key is the 32 characters of the lower-case hex MD5 of the password's code page 936 bytes.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    ASSERT_EQ(EVP_Digest(passwordCp936.data(), passwordCp936.size(), digest, &digestSize, EVP_md5(), nullptr), 1);
    const std::string keyCharacters = Hex(digest, digestSize);
    const std::string keyHex = Hex(reinterpret_cast<const unsigned char*>(keyCharacters.data()), keyCharacters.size());

    WriteFile(Path("body.bin"), body);
    const ProcessResult r =
        RunProcess({"openssl", "enc", "-d", "-aes-256-ecb", "-nopad", "-K", keyHex, "-in", Path("body.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(r.out.size(), body.size());
    EXPECT_EQ(r.out.substr(0, textCp936.size()), textCp936);
}

// --- Damage ---------------------------------------------------------------

TEST_F(CliTest, VerifyTellsSoundFromDamaged)
{
    const std::string doc = Encrypt("sound.tvro", "forty bytes of text, or three blocks..", "pw");
    ProcessResult r = Cli({"verify", doc});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("sound"), std::string::npos);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);

    WriteFile(Path("empty.tvro"), "");
    r = Cli({"verify", Path("empty.tvro")});
    EXPECT_EQ(r.exitCode, 0) << "a 0-byte file is an empty, never saved document: " << r.err;

    const std::string file = ReadFile(doc);
    std::vector<std::pair<std::string, std::string>> damaged;
    std::string flipped = file;
    flipped[5 + 20] = static_cast<char>(flipped[5 + 20] ^ 0x01);
    damaged.emplace_back("flipped body byte", flipped);
    std::string badCrc = file;
    badCrc[4] = static_cast<char>(badCrc[4] ^ 0x80);
    damaged.emplace_back("flipped CRC byte", badCrc);
    for (std::size_t n = 1; n <= 4; ++n)
        damaged.emplace_back("header cut to " + std::to_string(n) + " bytes", file.substr(0, n));
    for (std::size_t cut : {1u, 16u, 40u})
        damaged.emplace_back("body cut by " + std::to_string(cut) + " bytes", file.substr(0, file.size() - cut));
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        WriteFile(Path("damaged.tvro"), bytes);
        r = Cli({"verify", Path("damaged.tvro")});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    }
}

TEST_F(CliTest, DecryptOfDamagedDocumentStillWritesTheTextAndWarns)
{
    const std::string text = "0123456789abcdef0123456789ABCDEF0123456789+-*/=!";
    std::string file = ReadFile(Encrypt("doc.tvro", text, "pw"));
    file[5 + 40] = static_cast<char>(file[5 + 40] ^ 0x10); // third block only
    WriteFile(Path("doc.tvro"), file);

    ProcessResult r = Cli({"decrypt", Path("doc.tvro"), "-o", Path("out.txt"), "--password-stdin"}, Stdin("pw\n"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFile(Path("out.txt")).starts_with(text.substr(0, 32))) << "the undamaged blocks are written";

    WriteFile(Path("short.tvro"), file.substr(0, 3));
    r = Cli({"decrypt", Path("short.tvro"), "--password-stdin"}, Stdin("pw\n"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(OneLine(r.err));

    WriteFile(Path("empty.tvro"), "");
    r = Cli({"decrypt", Path("empty.tvro"), "--password-stdin"}, Stdin("pw\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

// --- Rekey ----------------------------------------------------------------

TEST_F(CliTest, RekeyWithPasswordsFromStdinKeepsTextAndPermissions)
{
    const std::string text = ChineseText(300);
    const std::string doc = Encrypt("doc.tvro", text, "old password");
    ASSERT_EQ(::chmod(doc.c_str(), 0640), 0);

    ProcessResult r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, Stdin("old password\nnew 密码\n"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = Cli({"decrypt", doc, "--password-stdin"}, Stdin("new 密码\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, text);
    struct stat info{};
    ASSERT_EQ(::stat(doc.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"doc.tvro"});
}

TEST_F(CliTest, RekeyBetweenKeyFilesPasswordsAndNoPassword)
{
    const std::string text = "rekeyed through every kind of key\n";
    WriteFile(Path("k1"), "first key file");
    WriteFile(Path("k2"), "second key file");
    ASSERT_EQ(Cli({"encrypt", "-o", Path("doc.tvro"), "--key-file", Path("k1")}, Stdin(text)).exitCode, 0);

    ProcessResult r = Cli({"rekey", Path("doc.tvro"), "--key-file", Path("k1"), "--new-key-file", Path("k2")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"decrypt", Path("doc.tvro"), "--key-file", Path("k2")}).out, text);

    // Only the new password comes from stdin: it is line 1.
    r = Cli({"rekey", Path("doc.tvro"), "--key-file", Path("k2"), "--new-password-stdin"}, Stdin("fresh\n"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"decrypt", Path("doc.tvro"), "--password-stdin"}, Stdin("fresh\n")).out, text);

    r = Cli({"rekey", Path("doc.tvro"), "--password-stdin", "--new-no-password"}, Stdin("fresh\n"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"decrypt", Path("doc.tvro"), "--no-password"}).out, text);
}

TEST_F(CliTest, RekeyLeavesTheFileUnchangedWhenItCannotBeDoneSafely)
{
    const std::string doc = Encrypt("doc.tvro", ChineseText(1000), "right");
    const std::string before = ReadFile(doc);

    // A wrong old key yields garbage that would not survive re-encryption.
    ProcessResult r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, Stdin("wrong\nnew\n"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_EQ(ReadFile(doc), before);

    // No second line for the new password.
    r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, Stdin("right\n"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_EQ(ReadFile(doc), before);

    std::string damaged = before;
    damaged[100] = static_cast<char>(damaged[100] ^ 0x04);
    WriteFile(doc, damaged);
    r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, Stdin("right\nnew\n"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_EQ(ReadFile(doc), damaged);
}

// --- Prompting at a terminal ----------------------------------------------

TEST_F(CliTest, PromptsAtATerminalWithoutEcho)
{
    const std::string text = "typed at a terminal\n";
    const std::string doc = Encrypt("doc.tvro", text, "hidden-word");
    ProcessRun typed;
    typed.terminalReplies = std::vector<std::string>{"hidden-word\n"};
    ProcessResult r = Cli({"decrypt", doc}, typed);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, text);
    EXPECT_NE(r.err.find("Password"), std::string::npos) << r.err;
    EXPECT_EQ(r.terminal.find("hidden-word"), std::string::npos) << "echoed: " << r.terminal;

    // A new password is asked twice; a mismatch writes nothing.
    WriteFile(Path("in.txt"), text);
    typed.terminalReplies = std::vector<std::string>{"one\n", "two\n"};
    r = Cli({"encrypt", Path("in.txt"), "-o", Path("new.tvro")}, typed);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(Path("new.tvro")));

    typed.terminalReplies = std::vector<std::string>{"same\n", "same\n"};
    r = Cli({"encrypt", Path("in.txt"), "-o", Path("new.tvro")}, typed);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"decrypt", Path("new.tvro"), "--password-stdin"}, Stdin("same\n")).out, text);
}

// --- Usage ----------------------------------------------------------------

TEST_F(CliTest, UsageErrorsExitOneWithOneLine)
{
    const std::string doc = Encrypt("doc.tvro", "text", "pw");
    const std::vector<std::vector<std::string>> misuses = {
        {},
        {"frobnicate", doc},
        {"decrypt"},
        {"decrypt", doc, doc, "--no-password"},
        {"decrypt", doc, "--no-password", "--bogus"},
        {"decrypt", doc, "--no-password", "--key-file"},
        {"decrypt", doc, "--no-password", "--password-stdin"},
        {"decrypt", doc, "--no-password", "--new-no-password"},
        {"encrypt", "--no-password"},
        {"verify", doc, "-o", Path("out")},
        {"decrypt", doc, "--no-password", "--force"},
        {"encrypt", "-o", Path("out"), "--no-password", "--purge"},
        {"versions", doc, "--no-password"},
        {"versions", "-"},
        {"restore", doc},
        {"restore", doc, "0"},
        {"restore", doc, "1x"},
        {"restore", doc, "1", "--no-versions"},
        {"rekey", doc, "--no-password", "--new-no-password", "-o", Path("out")},
        {"decrypt", "-", "--password-stdin"},
        // Standard input is a pipe, not a terminal: nothing to prompt on.
        {"decrypt", doc},
        {"rekey", doc, "--no-password"},
    };
    for (const auto& args : misuses) {
        std::string joined;
        for (const auto& arg : args)
            joined += arg + " ";
        SCOPED_TRACE(joined);
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(OneLine(r.err));
    }

    // --password-stdin with nothing on stdin.
    ProcessResult r = Cli({"decrypt", doc, "--password-stdin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(OneLine(r.err));
}

TEST_F(CliTest, PasswordAsArgumentIsRefused)
{
    const std::string doc = Encrypt("doc.tvro", "text", "pw");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"decrypt", doc, "--password", "pw"},
          std::vector<std::string>{"decrypt", doc, "--password=pw"}, std::vector<std::string>{"decrypt", doc, "-ppw"},
          std::vector<std::string>{"rekey", doc, "--password-stdin", "--new-password=x"}}) {
        SCOPED_TRACE(args[2]);
        const ProcessResult r = Cli(args, Stdin("pw\n"));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("never accepted"), std::string::npos) << r.err;
    }
}

TEST_F(CliTest, HelpDescribesEveryOption)
{
    const ProcessResult r = Cli({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* option : {"decrypt", "encrypt", "verify", "rekey", "--password-stdin", "--key-file",
                               "--no-password", "--new-password-stdin", "--new-key-file", "--new-no-password",
                               "-o", "UTF-8", "Exit codes", "versions", "restore", "--force", "--lossy",
                               "--no-versions", "--purge", "doubtful", "$XDG_DATA_HOME/tavro/versions/"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

// --- Input and output failures ----------------------------------------------

// A key file or document that cannot be read whole, or that is a device
// that may never end, is an error naming it: never a key from part of it,
// never a command that runs for ever.
TEST_F(CliTest, UnreadableInputsExitTwo)
{
    const std::string doc = Encrypt("doc.tvro", "text", "pw");
    WriteFile(Path("bad.txt"), "valid start \xE4\xB8 cut, then \xFF");
    WriteFile(Path("in.txt"), "text");
    struct Failure {
        std::vector<std::string> args;
        std::string input;
        std::string reason; // part of the message, when it matters
    };
    const std::vector<Failure> failures = {
        {{"decrypt", Path("missing.tvro"), "--no-password"}, "", ""},
        {{"verify", Path("missing.tvro")}, "", ""},
        {{"encrypt", Path("missing.txt"), "-o", Path("out.tvro"), "--no-password"}, "", ""},
        {{"decrypt", doc, "--key-file", Path("missing.key")}, "", ""},
        {{"decrypt", doc, "--key-file", dir_.string()}, "", ""},
        {{"encrypt", Path("bad.txt"), "-o", Path("out.tvro"), "--no-password"}, "", ""},
        {{"encrypt", "-o", Path("out.tvro"), "--password-stdin"}, "pw\nLatin-1 caf\xE9\n", ""},
        {{"decrypt", doc, "--password-stdin"}, "not UTF-8 \xC0\xAF\n", ""},
        // Its first read fails (EIO): no key, so no document under the key of nothing.
        {{"encrypt", Path("in.txt"), "-o", Path("out.tvro"), "--key-file", "/proc/self/mem"},
         "",
         "cannot read key file /proc/self/mem: Input/output error"},
        {{"encrypt", Path("in.txt"), "-o", Path("out.tvro"), "--key-file", "/dev/zero"},
         "",
         "cannot read key file /dev/zero: it is a device"},
        {{"rekey", doc, "--no-password", "--new-key-file", "/dev/urandom"}, "", "key file /dev/urandom: it is a device"},
        {{"decrypt", "/dev/zero", "--no-password"}, "", "cannot read /dev/zero: it is a device"},
        {{"verify", "/dev/zero"}, "", "cannot read /dev/zero: it is a device"},
        {{"rekey", "/dev/zero", "--no-password", "--new-no-password"}, "", "cannot read /dev/zero: it is a device"},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.args[0] + " " + failure.args[1] + " " + failure.args.back());
        const ProcessResult r = Cli(failure.args, Stdin(failure.input));
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find(failure.reason), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(Path("out.tvro")));
    }
}

// A closed standard stream is named as the reason: the document must not
// take its number and pass for standard output, or be read as the password.
TEST_F(CliTest, ClosedStandardStreamIsNamedAsTheReason)
{
    const std::string doc = Encrypt("doc.tvro", "text", "pw");
    const std::vector<std::tuple<int, std::vector<std::string>, std::string>> cases = {
        {STDOUT_FILENO, {"decrypt", doc, "-o", "-", "--password-stdin"},
         "cannot write standard output: it is closed or not open for writing"},
        {STDOUT_FILENO, {"encrypt", "-o", "-", "--password-stdin"},
         "cannot write standard output: it is closed or not open for writing"},
        {STDIN_FILENO, {"decrypt", doc, "--password-stdin"}, "cannot read standard input: Bad file descriptor"},
    };
    for (const auto& [stream, args, reason] : cases) {
        SCOPED_TRACE(args[0] + " without descriptor " + std::to_string(stream));
        ProcessRun closed = Stdin("pw\ntext");
        closed.closedStreams = {stream};
        const ProcessResult r = Cli(args, closed);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err, "tavro-cli: " + reason + "\n");
        EXPECT_EQ(r.out, "");
    }
}

// The folder is made read-only; a root test process runs the tool as nobody,
// for whom the permission bits apply.
TEST_F(CliTest, UnwritableFolderExitsTwoAndKeepsTheTarget)
{
    ProcessRun unprivileged;
    unprivileged.asUnprivilegedUser = true;
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    if (Cli({"--help"}, unprivileged).exitCode != 0)
        GTEST_SKIP() << "the tool cannot run as an unprivileged user from this build folder";

    const std::string doc = Encrypt("doc.tvro", "new text", "pw");
    ASSERT_TRUE(fs::create_directory(Path("locked")));
    WriteFile(Path("locked/target.txt"), "old content");
    ASSERT_EQ(::chmod(Path("locked/target.txt").c_str(), 0666), 0);
    const std::string lockedDoc = Encrypt("locked/doc.tvro", "locked", "pw");
    ASSERT_EQ(::chmod(lockedDoc.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(doc.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(Path("locked").c_str(), 0555), 0);
    const std::string lockedBefore = ReadFile(lockedDoc);

    unprivileged.stdinData = "pw\nnew\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"decrypt", doc, "-o", Path("locked/target.txt"), "--password-stdin"},
          std::vector<std::string>{"encrypt", "-o", Path("locked/target.txt"), "--password-stdin"},
          std::vector<std::string>{"rekey", lockedDoc, "--password-stdin", "--new-password-stdin"}}) {
        SCOPED_TRACE(args[0]);
        const ProcessResult r = Cli(args, unprivileged);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(OneLine(r.err));
    }
    EXPECT_EQ(ReadFile(Path("locked/target.txt")), "old content");
    EXPECT_EQ(ReadFile(lockedDoc), lockedBefore);
    EXPECT_EQ(Entries(Path("locked")), (std::vector<std::string>{"doc.tvro", "target.txt"}));
}

// A write that fails part-way (here at the file size limit) must not touch
// the target nor leave the temporary file behind.
TEST_F(CliTest, WriteFailingPartWayKeepsTheTargetAndLeavesNoTemporaryFile)
{
    const std::string text = ChineseText(64 << 10);
    const std::string doc = Encrypt("doc.tvro", text, "pw");
    const std::string docBefore = ReadFile(doc);
    WriteFile(Path("target"), "old content");

    ProcessRun limited;
    limited.fileSizeLimit = 16 << 10;
    limited.stdinData = "pw\n" + text;
    ProcessResult r = Cli({"encrypt", "-o", Path("target"), "--password-stdin"}, limited);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(OneLine(r.err));

    limited.stdinData = "pw\n";
    r = Cli({"decrypt", doc, "-o", Path("target"), "--password-stdin"}, limited);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(OneLine(r.err));

    limited.stdinData = "pw\nnew\n";
    r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, limited);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(OneLine(r.err));

    EXPECT_EQ(ReadFile(Path("target")), "old content");
    EXPECT_EQ(ReadFile(doc), docBefore);
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"doc.tvro", "target"}));
}

TEST_F(CliTest, OutputFollowsSymlinksAndRelativePaths)
{
    const std::string doc = Encrypt("doc.tvro", "through the link", "pw");
    WriteFile(Path("real.txt"), "old");
    fs::create_symlink("real.txt", Path("link.txt"));
    ProcessRun run = Stdin("pw\n");
    run.workingDirectory = dir_.string();
    ProcessResult r = Cli({"decrypt", "doc.tvro", "-o", "link.txt", "--password-stdin"}, run);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(Path("link.txt")));
    EXPECT_EQ(ReadFile(Path("real.txt")), "through the link");
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"doc.tvro", "link.txt", "real.txt"}));
}

// --- Streaming, refusals and messages -----------------------------------------

// The size of the pieces the tool reads from a file.
constexpr std::size_t kPiece = 1 << 20;

TEST_F(CliTest, NulInTheTextIsRefusedWithItsByteOffset)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string("before\0after", 12), "(byte 7)"},
        {std::string("\xEF\xBB\xBF" "ab\0", 6), "(byte 6)"}, // counted with the byte order mark
        {std::string(kPiece + 3, 'a') + std::string(1, '\0'), "(byte " + std::to_string(kPiece + 4) + ")"},
    };
    for (const auto& [text, offset] : cases) {
        SCOPED_TRACE(offset);
        WriteFile(Path("n.txt"), text);
        const ProcessResult r = Cli({"encrypt", Path("n.txt"), "-o", Path("n.tvro"), "--no-password"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("contains a NUL character " + offset), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(Path("n.tvro")));
    }
}

TEST_F(CliTest, BadUtf8IsReportedAtItsByteCountedFromTheStart)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\xEF\xBB\xBF" "ok \xFF", "(byte 7)"}, // after a byte order mark
        {std::string(kPiece - 1, 'a') + "\xE4\xB8" "x", "(byte " + std::to_string(kPiece) + ")"}, // cut by a piece end
        {std::string(kPiece, 'a') + "\xC0\xAF", "(byte " + std::to_string(kPiece + 1) + ")"},
    };
    for (const auto& [text, offset] : cases) {
        SCOPED_TRACE(offset);
        WriteFile(Path("bad.txt"), text);
        const ProcessResult r = Cli({"encrypt", Path("bad.txt"), "-o", Path("bad.tvro"), "--no-password"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("is not valid UTF-8 " + offset), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(Path("bad.tvro")));
    }
}

// Characters of two and three bytes, and a CR LF, cut at the end of the
// tool's read pieces; the file is larger than one piece and its text
// decrypts whole.
TEST_F(CliTest, CharactersCutAtPieceBoundariesSurvive)
{
    for (std::size_t before : {kPiece - 1, kPiece - 2, kPiece - 3}) {
        SCOPED_TRACE(before);
        const std::string text = std::string(before, 'a') + "中\u00E9\r\n文€" + ChineseText(1000);
        std::string expected = text;
        expected.erase(expected.find('\r'), 1);
        WriteFile(Path("t.txt"), text);
        ASSERT_EQ(Cli({"encrypt", Path("t.txt"), "-o", Path("t.tvro"), "--no-password"}).exitCode, 0);
        const ProcessResult r = Cli({"decrypt", Path("t.tvro"), "--no-password"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out == expected);
    }
}

TEST_F(CliTest, EncryptToAPipeAndDecryptFromOne)
{
    const std::string text = ChineseText(3 * kPiece);
    WriteFile(Path("t.txt"), text);
    const ProcessResult encrypted = Cli({"encrypt", Path("t.txt"), "-o", "-", "--no-password"});
    ASSERT_EQ(encrypted.exitCode, 0) << encrypted.err;
    EXPECT_EQ(Cli({"verify", "-"}, Stdin(encrypted.out)).exitCode, 0);
    const ProcessResult r = Cli({"decrypt", "-", "--no-password"}, Stdin(encrypted.out));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out == text);
}

// decrypt names every defect verify names, in the same words, and exits 3;
// the text it could read is still written.
TEST_F(CliTest, DecryptReportsEveryDefectVerifyReports)
{
    const std::string sound = ReadFile(Encrypt("doc.tvro", "forty bytes of text, or three blocks..", "pw"));
    auto withCrc = [](std::string file) {
        const auto* body = reinterpret_cast<const Bytef*>(file.data() + 5);
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), body, static_cast<uInt>(file.size() - 5));
        for (int i = 0; i < 4; ++i)
            file[static_cast<std::size_t>(1 + i)] = static_cast<char>(crc >> (8 * i));
        return file;
    };
    std::string padSixteen = sound;
    padSixteen[0] = 16;
    std::string flippedCrc = sound;
    flippedCrc[2] = static_cast<char>(flippedCrc[2] ^ 0x20);
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"pad count 16", padSixteen},
        {"pad count above an empty body", std::string("\x01\xFF\xFF\xFF\xFF", 5)},
        {"partial block, CRC matching", withCrc(sound + "x")},
        {"body cut short, CRC matching", withCrc(sound.substr(0, sound.size() - 3))},
        {"stored CRC flipped", flippedCrc},
        {"header cut short", sound.substr(0, 3)},
    };
    for (const auto& [what, bytes] : damaged) {
        SCOPED_TRACE(what);
        WriteFile(Path("damaged.tvro"), bytes);
        const ProcessResult verify = Cli({"verify", Path("damaged.tvro")});
        ASSERT_EQ(verify.exitCode, 3);
        const std::string reason = verify.err.substr(std::string("tavro-cli: ").size(), verify.err.size() - 12);
        const ProcessResult r =
            Cli({"decrypt", Path("damaged.tvro"), "-o", Path("out.txt"), "--password-stdin"}, Stdin("pw\n"));
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err << " lacks " << reason;
        EXPECT_TRUE(fs::exists(Path("out.txt"))) << "what could be read is written";
        fs::remove(Path("out.txt"));
    }
}

TEST_F(CliTest, MessagesNameTheReason)
{
    const std::string doc = Encrypt("doc.tvro", "text", "pw");
    ProcessResult r = Cli({"decrypt", doc, "--no-password", "--password-stdin"}, Stdin("pw\n"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tavro-cli: choose one key source, not --no-password and --password-stdin "
                     "(see tavro-cli --help)\n");

    r = Cli({"decrypt", doc, "--key-file", dir_.string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "tavro-cli: cannot read key file " + dir_.string() + ": Is a directory\n");
}

TEST_F(CliTest, RekeyOfADocumentWithAFlippedStoredCrcLeavesItUnchanged)
{
    const std::string doc = Encrypt("doc.tvro", ChineseText(200), "pw");
    std::string file = ReadFile(doc);
    file[3] = static_cast<char>(file[3] ^ 0x01); // header bytes 1-4 hold the CRC
    WriteFile(doc, file);
    const ProcessResult r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, Stdin("pw\nnew\n"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("the stored CRC-32 does not match the cipher body; left unchanged"), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFile(doc), file);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"doc.tvro"});
}

// Another program saves, rewrites or removes the document while rekey
// waits for its new key (a named pipe the test feeds once the document is
// changed): rekey refuses (exit 3) and replaces nothing, so the other
// program's version stays. Both ways of putting a file in place are run.
TEST_F(CliTest, RekeyRefusesWhenAnotherProgramChangedTheDocument)
{
    const std::string doc = Path("doc.tvro");
    const std::string sameLength = ReadFile(Encrypt("other.tvro", "the other program's text", "pw"));
    fs::remove(Path("other.tvro"));
    const std::vector<std::pair<std::string, std::function<void()>>> writers = {
        {"saved by rename",
         [&] { ASSERT_EQ(Cli({"encrypt", "-o", doc, "--password-stdin"}, Stdin("pw\nnewer")).exitCode, 0); }},
        {"rewritten in place", [&] { std::ofstream(doc, std::ios::binary | std::ios::in) << sameLength; }},
        {"removed", [&] { fs::remove(doc); }},
    };
    for (const bool named : {false, true}) {
        for (const auto& [what, write] : writers) {
            SCOPED_TRACE(what + (named ? ", named temporary file" : ""));
            Encrypt("doc.tvro", "the text rekey read", "pw");
            ASSERT_EQ(::mkfifo(Path("new.key").c_str(), 0600), 0);
            ProcessRun run = Stdin("pw\n");
            if (named)
                run.environment.push_back("TAVRO_CLI_TEST_NAMED_TEMP=1");
            ProcessResult r;
            std::thread rekey([&] { r = Cli({"rekey", doc, "--password-stdin", "--new-key-file", Path("new.key")}, run); });
            // The pipe opens for writing once rekey opened it to read: by then
            // rekey has read the document.
            int key = -1;
            for (int wait = 0; wait < 10000 && key < 0; ++wait) {
                key = ::open(Path("new.key").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (key < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_GE(key, 0) << "rekey never opened its new key file";
            write();
            const bool exists = fs::exists(doc);
            const std::string written = exists ? ReadFile(doc) : "";
            if (key >= 0) {
                EXPECT_EQ(::write(key, "new key", 7), 7);
                ::close(key);
            }
            rekey.join();
            EXPECT_EQ(r.exitCode, 3) << r.err;
            EXPECT_TRUE(OneLine(r.err));
            EXPECT_NE(r.err.find("changed, replaced or removed by another program"), std::string::npos) << r.err;
            EXPECT_EQ(fs::exists(doc), exists);
            EXPECT_EQ(exists ? ReadFile(doc) : "", written);
            fs::remove(Path("new.key"));
            fs::remove(doc);
            EXPECT_TRUE(Entries(dir_).empty()) << "a temporary file was left";
        }
    }
}

// A key file that is a named pipe is opened once: its one writer's bytes are
// the key (a second open would find no writer, and hang or hash nothing).
TEST_F(CliTest, KeyFileThatIsANamedPipeIsReadOnce)
{
    const std::string content = "key material from a pipe";
    WriteFile(Path("key.bin"), content);
    const std::string doc = Path("doc.tvro");
    ASSERT_EQ(Cli({"encrypt", "-o", doc, "--key-file", Path("key.bin")}, Stdin("secret text")).exitCode, 0);
    ASSERT_EQ(::mkfifo(Path("key.fifo").c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(Path("key.fifo"), std::ios::binary) << content; });
    const ProcessResult r = Cli({"decrypt", doc, "--key-file", Path("key.fifo")});
    writer.join();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "secret text");
}

TEST_F(CliTest, PlaintextOutputIsCreatedForItsOwnerOnly)
{
    const std::string doc = Encrypt("doc.tvro", "private", "pw");
    ProcessResult r = Cli({"decrypt", doc, "-o", Path("new.txt"), "--password-stdin"}, Stdin("pw\n"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    struct stat info{};
    ASSERT_EQ(::stat(Path("new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    WriteFile(Path("shared.txt"), "old");
    ASSERT_EQ(::chmod(Path("shared.txt").c_str(), 0644), 0);
    r = Cli({"decrypt", doc, "-o", Path("shared.txt"), "--password-stdin"}, Stdin("pw\n"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(::stat(Path("shared.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u) << "an existing file keeps its mode";
    EXPECT_EQ(ReadFile(Path("shared.txt")), "private");
}

TEST_F(CliTest, OutputThatIsTheInputIsRefused)
{
    const std::string doc = Encrypt("doc.tvro", "keep me encrypted", "pw");
    const std::string before = ReadFile(doc);
    fs::create_symlink("doc.tvro", Path("alias.tvro"));
    WriteFile(Path("in.txt"), "text");
    const std::vector<std::vector<std::string>> runs = {
        {"decrypt", doc, "-o", doc, "--password-stdin"},
        {"decrypt", doc, "-o", Path("alias.tvro"), "--password-stdin"},
        {"encrypt", Path("in.txt"), "-o", Path("in.txt"), "--password-stdin"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0] + " -o " + args[3]);
        const ProcessResult r = Cli(args, Stdin("pw\n"));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("is the input file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFile(doc), before);
    EXPECT_EQ(ReadFile(Path("in.txt")), "text");
    EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"alias.tvro", "doc.tvro", "in.txt"}));
}

TEST_F(CliTest, DanglingSymlinkOutputCreatesTheFileItNames)
{
    const std::string doc = Encrypt("doc.tvro", "through a dangling link", "pw");
    fs::create_symlink("made.txt", Path("link.txt"));
    const ProcessResult r = Cli({"decrypt", doc, "-o", Path("link.txt"), "--password-stdin"}, Stdin("pw\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(Path("link.txt")));
    EXPECT_EQ(ReadFile(Path("made.txt")), "through a dangling link");
}

// Without SIGXFSZ ignored by the caller, the file size limit ends in a
// message and exit 2, not a silent death by signal.
TEST_F(CliTest, FileSizeLimitIsReportedNotFatal)
{
    ProcessRun limited;
    limited.fileSizeLimit = 16 << 10;
    limited.fileSizeSignalIgnored = false;
    limited.stdinData = "pw\n" + ChineseText(64 << 10);
    const ProcessResult r = Cli({"encrypt", "-o", Path("big.tvro"), "--password-stdin"}, limited);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_TRUE(Entries(dir_).empty());
}

// --- Doubtful reads and versions ----------------------------------------------

// A wrong password, and a right one on a text that is no written text: both
// exit 3 naming the failed test, and decrypt still writes what it read.
TEST_F(CliTest, DoubtfulReadExitsThreeAndStillWrites)
{
    const std::string doc = Encrypt("doc.tvro", ChineseText(200), "right");
    const std::string bell = Encrypt("bell.tvro", "ring the bell \x07 twice\n", "right");
    const std::vector<std::tuple<std::string, std::string, std::string>> doubtful = {
        {doc, "wrong\n", "wrong password or key file"},
        {bell, "right\n", "control characters"},
    };
    for (const auto& [file, password, reason] : doubtful) {
        SCOPED_TRACE(reason);
        ProcessResult r = Cli({"decrypt", file, "-o", Path("out.txt"), "--password-stdin"}, Stdin(password));
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("doubtful read"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_TRUE(fs::exists(Path("out.txt"))) << "what was read is written";
        fs::remove(Path("out.txt"));

        r = Cli({"verify", file, "--password-stdin"}, Stdin(password));
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
        EXPECT_EQ(Cli({"verify", file}).exitCode, 0) << "without a key, the header and CRC alone";
    }
    const ProcessResult r = Cli({"verify", doc, "--password-stdin"}, Stdin("right\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("reads clean"), std::string::npos) << r.out;
}

// A document with the all-zero key (--no-password) of plaintext as given,
// enciphered by OpenSSL, its CRC by zlib.
std::string DocumentOf(std::string plaintext)
{
    const std::size_t pad = (16 - plaintext.size() % 16) % 16;
    plaintext.append(pad, 'x');
    const unsigned char key[32] = {};
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(context, EVP_aes_256_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(context, 0);
    std::string body(plaintext.size(), '\0');
    int made = 0;
    EVP_EncryptUpdate(context, reinterpret_cast<unsigned char*>(body.data()), &made,
                      reinterpret_cast<const unsigned char*>(plaintext.data()), static_cast<int>(plaintext.size()));
    EVP_CIPHER_CTX_free(context);
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(body.data()),
                            static_cast<uInt>(body.size()));
    std::string file(1, static_cast<char>(pad));
    for (int i = 0; i < 4; ++i)
        file += static_cast<char>(crc >> (8 * i));
    return file + body;
}

// decrypt decodes and judges a document in pieces on two cores, verify in
// one stream: on documents of several pieces they agree, the share of rare
// characters being the whole text's, and decrypt writes the text whole,
// also where no byte below 0x80 lets it cut the text for a megabyte or two.
TEST_F(CliTest, DecryptJudgesADocumentOfManyPiecesAsVerifyDoes)
{
    struct Text {
        std::string cp936, utf8;
        void Add(const std::string& bytes, const std::string& text, std::size_t times)
        {
            for (std::size_t i = 0; i < times; ++i) {
                cp936 += bytes;
                utf8 += text;
            }
        }
    };
    const std::string zhong = "\xD6\xD0", wen = "\xCE\xC4", rare = "\x81\x40"; // 中, 文, 丂 (GBK only)
    Text crowded; // one in 4 rare in the first half piece, one in 26 overall
    crowded.Add(rare + zhong + zhong + zhong, "丂中中中", 1 << 16);
    crowded.Add(zhong + wen + zhong + wen + "\n", "中文中文\n", 300000);
    std::string thirteen;
    for (int i = 0; i < 13; ++i)
        thirteen += zhong;
    Text spread; // one in 15 rare throughout
    spread.Add(rare + thirteen + "\n", "丂中中中中中中中中中中中中中\n", 200000);
    Text unbroken; // 1.5 MiB of double-byte characters alone, between lines, from an odd offset
    unbroken.Add("line\n", "line\n", 100000);
    unbroken.Add("x", "x", 1);
    unbroken.Add(zhong + wen, "中文", 400000);
    unbroken.Add("\nline\n", "\nline\n", 100000);
    Text invalid; // a lead byte before '0' in the third piece
    invalid.Add(zhong + wen + "\n", "中文\n", 500000);
    invalid.Add("\x81" "0", "\uFFFD0", 1);
    invalid.Add(zhong + wen + "\n", "中文\n", 300000);
    Text nul; // the text ends at a 0x00 in the second piece
    nul.Add(zhong + wen + "\n", "中文\n", 250000);
    nul.cp936 += std::string(1, '\0') + zhong + "\n";

    struct Case {
        const char* name;
        const Text* text;
        int exitCode;
        std::string written; // all of the text before a NUL
    };
    const Case cases[] = {
        {"rare characters crowded in one piece", &crowded, 0, crowded.utf8},
        {"rare characters spread, too many", &spread, 3, spread.utf8},
        {"double-byte characters alone for pieces", &unbroken, 0, unbroken.utf8},
        {"an invalid sequence in the third piece", &invalid, 3, invalid.utf8},
        {"a 0x00 in the second piece", &nul, 3, nul.utf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("doc.tvro"), DocumentOf(c.text->cp936));
        const ProcessResult verify = Cli({"verify", Path("doc.tvro"), "--no-password"});
        ASSERT_EQ(verify.exitCode, c.exitCode) << verify.err;
        const ProcessResult r = Cli({"decrypt", Path("doc.tvro"), "--no-password"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_TRUE(r.out == c.written) << r.out.size() << " bytes written of " << c.written.size();
        if (c.exitCode != 0) {
            const std::size_t reason = verify.err.find("doubtful read");
            ASSERT_NE(reason, std::string::npos) << verify.err;
            EXPECT_NE(r.err.find(verify.err.substr(reason, verify.err.size() - 1 - reason)), std::string::npos)
                << r.err << " / " << verify.err;
        }
    }
}

// The short note of a regretted forced rekey comes back whole from its version.
TEST_F(CliTest, ForcedRekeyWithAWrongPasswordIsUndoneByRestore)
{
    const std::string note = "pin 4711, door 2580, safe 1357";
    const std::string doc = Encrypt("note.tvro", note, "right");
    const std::string before = ReadFile(doc);

    ProcessResult r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, Stdin("wrong\nnew\n"));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(doc), before);
    EXPECT_TRUE(StoredVersions(doc).empty());

    r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin", "--force"}, Stdin("wrong\nnew\n"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("tavro-cli restore " + doc + " 1"), std::string::npos) << r.err;
    EXPECT_NE(Cli({"decrypt", doc, "--password-stdin"}, Stdin("new\n")).out, note);

    r = Cli({"versions", doc});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_TRUE(r.out.starts_with("   1  ")) << r.out;
    EXPECT_NE(r.out.find("          37 bytes  command line"), std::string::npos) << r.out;

    r = Cli({"restore", doc, "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(doc), before);
    r = Cli({"decrypt", doc, "--password-stdin"}, Stdin("right\n"));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, note);
    EXPECT_EQ(StoredVersions(doc).size(), 2u) << "the restore kept what it replaced";
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"note.tvro"});

    r = Cli({"versions", "--purge", doc});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(StoredVersions(doc).empty());
}

// Each write onto an existing document keeps exactly one version holding
// the bytes it replaced; nothing else does.
TEST_F(CliTest, EveryWriteOverADocumentKeepsOneVersionOfIt)
{
    const std::string doc = Encrypt("doc.tvro", "first text", "pw");
    std::vector<std::string> expected;
    auto wrote = [&](const std::vector<std::string>& args, const std::string& input) {
        SCOPED_TRACE(args[0]);
        const std::string replaced = ReadFile(doc);
        const ProcessResult r = Cli(args, Stdin(input));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        expected.insert(expected.begin(), replaced);
        EXPECT_EQ(StoredVersions(doc), expected);
    };
    wrote({"encrypt", "-o", doc, "--password-stdin"}, "pw\nsecond text");
    // As on a file system without unnamed temporary files.
    ::setenv("TAVRO_CLI_TEST_NAMED_TEMP", "1", 1);
    wrote({"encrypt", "-o", doc, "--password-stdin"}, "pw\nthird text");
    ::unsetenv("TAVRO_CLI_TEST_NAMED_TEMP");
    wrote({"rekey", doc, "--password-stdin", "--new-password-stdin"}, "pw\nnew\n");
    wrote({"restore", doc, "1"}, "");

    // No version: a new file, --no-versions, a target that is no document.
    const std::vector<std::vector<std::string>> keepNothing = {
        {"encrypt", "-o", Path("new.tvro"), "--no-password"},
        {"encrypt", "-o", doc, "--no-password", "--no-versions"},
        {"rekey", doc, "--no-password", "--new-no-password", "--no-versions"},
        {"encrypt", "-o", Path("plain.txt"), "--no-password"},
    };
    WriteFile(Path("plain.txt"), "a plain text file, 38 bytes of it....\n");
    const std::size_t kept = StoredVersions(doc).size();
    for (const auto& args : keepNothing) {
        SCOPED_TRACE(args[2]);
        EXPECT_EQ(Cli(args, Stdin("text")).exitCode, 0);
    }
    EXPECT_EQ(StoredVersions(doc).size(), kept);
    EXPECT_TRUE(StoredVersions(Path("new.tvro")).empty());
    EXPECT_TRUE(StoredVersions(Path("plain.txt")).empty());
}

TEST_F(CliTest, UnwritableVersionStoreWarnsAndWritesAllTheSame)
{
    const std::string doc = Encrypt("doc.tvro", "old text", "pw");
    WriteFile(Path("not-a-folder"), "");
    ProcessRun run = Stdin("pw\nnew text");
    ::setenv("XDG_DATA_HOME", Path("not-a-folder").c_str(), 1);
    ProcessResult r = Cli({"encrypt", "-o", doc, "--password-stdin"}, run);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("warning: no version kept of " + doc), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Not a directory"), std::string::npos) << r.err;
    EXPECT_EQ(Cli({"decrypt", doc, "--password-stdin"}, Stdin("pw\n")).out, "new text");
}

TEST_F(CliTest, EncryptRefusesCharactersTheDocumentCannotHold)
{
    WriteFile(Path("in.txt"), "smile 😀, zero-width\u200Bspace, café, 😀 again");
    WriteFile(Path("doc.tvro"), "old");
    ProcessResult r = Cli({"encrypt", Path("in.txt"), "-o", Path("doc.tvro"), "--no-password"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(OneLine(r.err));
    EXPECT_NE(r.err.find("U+1F600 😀, U+200B \u200B;"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--lossy"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(Path("doc.tvro")), "old");

    r = Cli({"encrypt", Path("in.txt"), "-o", Path("doc.tvro"), "--no-password", "--lossy"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Cli({"decrypt", Path("doc.tvro"), "--no-password"}).out, "smile ??, zero-width?space, café, ?? again");

    // The pieces are converted at once on two cores: the first fault in the
    // text is the one named, not a later one converted first.
    WriteFile(Path("in.txt"), "😀" + std::string(kPiece, 'a') + "\xFF");
    r = Cli({"encrypt", Path("in.txt"), "-o", Path("doc.tvro"), "--no-password"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("U+1F600"), std::string::npos) << r.err;
}

// --- Signals in the middle of a write ---------------------------------------

bool FolderHasUnnamedFiles(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

// Lines of /proc/PID/limits naming the core file size.
std::string CoreLimit(int pid)
{
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(limits, line);) {
        if (line.starts_with("Max core file size"))
            return line;
    }
    return "";
}

struct SignalCase {
    const char* command; // "decrypt" or "encrypt"
    int signal;
    bool namedTemporary; // as on file systems without O_TMPFILE
};

class CliSignal : public CliTest, public ::testing::WithParamInterface<SignalCase> {};

// The tool is fed part of its input through a pipe, tells through the test
// hook that its first output bytes are in the temporary file, and is then
// signalled while it waits for the rest. Nothing of the output may remain.
TEST_P(CliSignal, InterruptedWriteLeavesNothingBehind)
{
    const SignalCase& c = GetParam();
    if (!c.namedTemporary && !FolderHasUnnamedFiles(dir_.string()))
        GTEST_SKIP() << "this file system has no O_TMPFILE";
    const std::string text = ChineseText(3 * kPiece);
    WriteFile(Path("key"), "signal test key");
    const std::string decrypting = std::string(c.command) == "decrypt" ? "yes" : "";
    std::string input = text;
    if (!decrypting.empty()) {
        WriteFile(Path("text.txt"), text);
        ASSERT_EQ(Cli({"encrypt", Path("text.txt"), "-o", Path("doc.tvro"), "--key-file", Path("key")}).exitCode, 0);
        input = ReadFile(Path("doc.tvro"));
        fs::remove(Path("text.txt"));
    }
    const std::vector<std::string> before = Entries(dir_);

    std::vector<std::string> environment;
    if (c.namedTemporary)
        environment.push_back("TAVRO_CLI_TEST_NAMED_TEMP=1");
    SteppedProcess child({kCli, c.command, "-", "-o", Path("out"), "--key-file", Path("key")},
                         "TAVRO_CLI_TEST_READY_FD", environment);
    child.Feed(input.substr(0, 2 * kPiece));
    ASSERT_TRUE(child.WaitReady());

    // While it writes: no core dumps, and the temporary file is visible
    // only where it has to have a name.
    EXPECT_NE(CoreLimit(child.pid()).find(" 0 "), std::string::npos) << CoreLimit(child.pid());
    const std::vector<std::string> during = Entries(dir_);
    const bool temporaryVisible =
        std::any_of(during.begin(), during.end(), [](const std::string& name) { return name.starts_with(".tavro-"); });
    EXPECT_EQ(temporaryVisible, c.namedTemporary);
    if (c.namedTemporary) {
        for (const std::string& name : during) {
            struct stat info{};
            if (name.starts_with(".tavro-") && ::stat(Path(name).c_str(), &info) == 0) {
                EXPECT_EQ(info.st_mode & 077, 0u) << "a partial file is for its owner only";
            }
        }
    }

    ASSERT_EQ(::kill(child.pid(), c.signal), 0);
    const ProcessResult r = child.Finish();
    EXPECT_EQ(r.exitCode, 128 + c.signal) << r.err;
    EXPECT_EQ(Entries(dir_), before);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CliSignal,
    ::testing::Values(SignalCase{"decrypt", SIGINT, true}, SignalCase{"decrypt", SIGTERM, true},
                      SignalCase{"decrypt", SIGHUP, true}, SignalCase{"encrypt", SIGTERM, true},
                      SignalCase{"decrypt", SIGKILL, false}, SignalCase{"encrypt", SIGKILL, false},
                      SignalCase{"decrypt", SIGINT, false}),
    [](const auto& info) {
        return std::string(info.param.command) + "_" + sigabbrev_np(info.param.signal) +
               (info.param.namedTemporary ? "_named" : "_unnamed");
    });

} // namespace
