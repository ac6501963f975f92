// tavro-cli on strong documents (".tvrs"), run as a script would run it.
// The tool derives new keys at the smallest Argon2id cost here (its test
// setting TAVRO_CLI_TEST_ARGON2), except where the default cost is the point;
// libsodium serves as the oracle for what is on disk.
#include "cli/cli_process.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

using namespace tavro::test;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

const std::string kCli = TAVRO_CLI_PATH;
const std::string kMagic = "\x89TVRS\r\n\x1a";
constexpr std::size_t kRecord = 65536 + 17;

ProcessResult Cli(std::vector<std::string> args, const std::string& stdinData = "")
{
    args.insert(args.begin(), kCli);
    ProcessRun run;
    run.stdinData = stdinData;
    return RunProcess(args, run);
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Errors and warnings are exactly one line on stderr.
::testing::AssertionResult OneLine(const std::string& err)
{
    if (err.empty() || err.back() != '\n' || std::count(err.begin(), err.end(), '\n') != 1 ||
        !err.starts_with("tavro-cli: "))
        return ::testing::AssertionFailure() << "not one tavro-cli line: [" << err << "]";
    return ::testing::AssertionSuccess();
}

std::uint32_t Le32(const std::string& file, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(file[at + static_cast<std::size_t>(i)]);
    return value;
}

// The text of a one-record strong document under a password, read with
// libsodium from the layout alone: Argon2id of the password's UTF-8 bytes
// under the header's salt and limits, then the record with the header as
// additional data.
std::optional<std::string> SodiumDecrypt(const std::string& file, const std::string& password)
{
    if (file.size() < 58 + 17 || file.size() > 58 + kRecord)
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
    unsigned char key[32];
    if (crypto_pwhash(key, sizeof key, password.data(), password.size(), bytes + 18, Le32(file, 10),
                      std::size_t{Le32(file, 14)} * 1024, crypto_pwhash_ALG_ARGON2ID13) != 0)
        return std::nullopt;
    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_pull(&state, bytes + 34, key);
    std::string text(file.size() - 58 - 17, '\0');
    unsigned char tag = 0;
    if (crypto_secretstream_xchacha20poly1305_pull(&state, reinterpret_cast<unsigned char*>(text.data()), nullptr,
                                                   &tag, bytes + 58, file.size() - 58, bytes, 58) != 0 ||
        tag != crypto_secretstream_xchacha20poly1305_TAG_FINAL)
        return std::nullopt;
    return text;
}

// Mixed Chinese and ASCII, at least size bytes.
std::string ChineseText(std::size_t size)
{
    std::string text;
    while (text.size() < size)
        text += "加密文档的第一行：中文与ASCII混排。Line 1234567890 €\n";
    return text;
}

class CliStrong : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("TAVRO_CLI_TEST_ARGON2", "1,8", 1);
        std::string folder = testing::TempDir() + "tavro-cli-strong-XXXXXX";
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        dir_ = folder;
    }
    void TearDown() override
    {
        ::unsetenv("TAVRO_CLI_TEST_ARGON2");
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    std::string Encrypt(const std::string& name, const std::string& text, const std::string& password)
    {
        const ProcessResult r = Cli({"encrypt", "-o", Path(name), "--password-stdin"}, password + "\n" + text);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return Path(name);
    }

    fs::path dir_;
};

} // namespace

// The format follows --format, else the output's name; every character
// survives (emoji, NUL, text past one record), carriage returns and a byte
// order mark go as for .tvro, and each key source opens what it sealed.
TEST_F(CliStrong, EncryptChoosesTheFormatAndEveryCharacterComesBack)
{
    const std::string text = "\xEF\xBB\xBF中文 😀 a\0b\r\n"s + ChineseText(140000);
    std::string expected = text.substr(3);
    expected.erase(expected.find('\r'), 1);
    WriteFile(Path("in.txt"), text);
    WriteFile(Path("key"), std::string("key\0file", 8));
    struct Case {
        std::string name;
        std::vector<std::string> format;
        bool strong;
    };
    for (const Case& c : {Case{"a.tvrs", {}, true}, Case{"b.TVRS", {}, true}, Case{"c.tvro", {"--format", "strong"}, true},
                          Case{"d", {"--format=strong"}, true}, Case{"e.tvrs", {"--format", "tvro"}, false},
                          Case{"f.txt", {}, false}}) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"encrypt", Path("in.txt"), "-o", Path(c.name), "--key-file", Path("key")};
        args.insert(args.end(), c.format.begin(), c.format.end());
        ProcessResult r = Cli(args);
        if (!c.strong) {
            // .tvro refuses the NUL; only the format is checked here.
            EXPECT_EQ(r.exitCode, 2) << r.err;
            EXPECT_FALSE(fs::exists(Path(c.name)));
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(ReadFile(Path(c.name)).starts_with(kMagic));
        r = Cli({"decrypt", Path(c.name), "--key-file", Path("key")});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out == expected) << r.out.size() << " bytes of " << expected.size();
        r = Cli({"verify", Path(c.name)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("header sound"), std::string::npos) << r.out;
        r = Cli({"verify", Path(c.name), "--key-file", Path("key")});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("every record authenticates"), std::string::npos) << r.out;
    }

    // Through pipes: the document to standard output, and back from standard input.
    ProcessResult piped = Cli({"encrypt", "-", "-o", "-", "--format", "strong", "--key-file", Path("key")}, text);
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    const ProcessResult r = Cli({"decrypt", "-", "--key-file", Path("key")}, piped.out);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out == expected);
}

// What is on disk is what the format says: a password hashed as its UTF-8
// bytes (not code page 936) under the default Argon2id cost, which
// libsodium alone decrypts.
TEST_F(CliStrong, DocumentOpensWithLibsodiumUnderTheDefaultCost)
{
    ::unsetenv("TAVRO_CLI_TEST_ARGON2");
    const std::string text = "中文 text\n";
    const std::string file = ReadFile(Encrypt("doc.tvrs", text, "密码€"));
    ASSERT_TRUE(file.starts_with(kMagic + "\x01\x01"));
    EXPECT_EQ(Le32(file, 10), 3u);
    EXPECT_EQ(Le32(file, 14), 65536u);
    EXPECT_EQ(SodiumDecrypt(file, "密码€"), text);
}

// A wrong key writes nothing and leaves an existing output alone; damage
// past the first record still gives the authenticated text before it;
// verify tells each without writing anything.
TEST_F(CliStrong, WrongKeyAndDamageExitThreeWithTheirReasons)
{
    const std::string doc = Encrypt("doc.tvrs", ChineseText(140000), "pw");
    const std::string text = Cli({"decrypt", doc, "--password-stdin"}, "pw\n").out;
    ASSERT_EQ(text.size(), ChineseText(140000).size());
    WriteFile(Path("out.txt"), "earlier output");
    WriteFile(Path("key"), "a key file");

    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{"--password-stdin"}, std::vector<std::string>{"--key-file", Path("key")}}) {
        SCOPED_TRACE(wrong[0]);
        std::vector<std::string> args = {"decrypt", doc, "-o", Path("out.txt")};
        args.insert(args.end(), wrong.begin(), wrong.end());
        ProcessResult r = Cli(args, "not pw\n");
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("wrong password or key file, or the header is damaged"), std::string::npos) << r.err;
        EXPECT_EQ(ReadFile(Path("out.txt")), "earlier output");
        args[0] = "verify";
        args.erase(args.begin() + 2, args.begin() + 4);
        r = Cli(args, "not pw\n");
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(OneLine(r.err));
    }

    const std::string file = ReadFile(doc);
    std::string flipped = file;
    flipped[58 + kRecord + 100] ^= 0x01;
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t written; // text bytes decrypt still writes
        bool keylessVerifyFinds;
    };
    const std::vector<Case> cases = {
        {"second record flipped", flipped, 65536, false},
        {"cut after the first record", file.substr(0, 58 + kRecord), 65536, false},
        {"byte appended", file + "x", 2 * 65536, false},
        {"header only", file.substr(0, 58), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Path("damaged.tvrs"), c.bytes);
        ProcessResult r = Cli({"decrypt", Path("damaged.tvrs"), "-o", Path("out.txt"), "--password-stdin"}, "pw\n");
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
        EXPECT_TRUE(ReadFile(Path("out.txt")) == text.substr(0, c.written));
        r = Cli({"verify", Path("damaged.tvrs"), "--password-stdin"}, "pw\n");
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_EQ(Cli({"verify", Path("damaged.tvrs")}).exitCode, c.keylessVerifyFinds ? 3 : 0);
    }

    // A header cut short or from a newer version is refused before any key is asked for.
    for (const std::string& bytes : {file.substr(0, 30), file.substr(0, 8) + "\x02" + file.substr(9)}) {
        WriteFile(Path("bad.tvrs"), bytes);
        for (const char* command : {"decrypt", "verify"}) {
            const ProcessResult r = Cli({command, Path("bad.tvrs")});
            EXPECT_EQ(r.exitCode, 3) << command;
            EXPECT_TRUE(OneLine(r.err));
        }
    }
}

// rekey keeps the format unless --format names the other, draws a fresh
// salt for a strong document, and leaves the file unchanged whenever the
// text would not survive or the change was not asked for.
TEST_F(CliStrong, RekeyWithinAndAcrossFormats)
{
    const std::string text = "中文 € text\n第二行";
    const std::string doc = Encrypt("doc.tvrs", text, "old");
    const std::string before = ReadFile(doc);

    ProcessResult r = Cli({"rekey", doc, "--password-stdin", "--new-password-stdin"}, "old\nnew\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string after = ReadFile(doc);
    EXPECT_TRUE(after.starts_with(kMagic));
    EXPECT_NE(after.substr(18, 16), before.substr(18, 16)) << "a re-key draws a fresh salt";
    EXPECT_EQ(Cli({"decrypt", doc, "--password-stdin"}, "new\n").out, text);
    EXPECT_EQ(Cli({"decrypt", doc, "--password-stdin"}, "old\n").exitCode, 3);

    // Refused, the file unchanged: a wrong old key; a change to .tvro not
    // asked for; characters .tvro cannot store.
    const std::string emoji = Encrypt("emoji.tvrs", "smile 😀", "pw");
    const std::string emojiBefore = ReadFile(emoji);
    struct Refusal {
        std::string file;
        std::vector<std::string> args;
        std::string input;
        int exitCode;
    };
    for (const Refusal& c : {Refusal{doc, {"--password-stdin", "--new-password-stdin"}, "wrong\nx\n", 3},
                             Refusal{doc, {"--password-stdin", "--new-no-password"}, "new\n", 1},
                             Refusal{emoji, {"--password-stdin", "--new-no-password", "--format", "tvro"}, "pw\n", 2}}) {
        SCOPED_TRACE(c.args[1]);
        const std::string unchanged = ReadFile(c.file);
        std::vector<std::string> args = {"rekey", c.file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = Cli(args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(OneLine(r.err));
        EXPECT_EQ(ReadFile(c.file), unchanged);
    }
    EXPECT_EQ(ReadFile(emoji), emojiBefore);

    // Across, asked for: strong to .tvro without password, and back to strong.
    r = Cli({"rekey", doc, "--password-stdin", "--new-no-password", "--format", "tvro"}, "new\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(ReadFile(doc).starts_with(kMagic));
    EXPECT_EQ(Cli({"verify", doc}).exitCode, 0);
    EXPECT_EQ(Cli({"decrypt", doc, "--no-password"}).out, text);
    r = Cli({"rekey", doc, "--no-password", "--new-password-stdin", "--format", "strong"}, "again\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadFile(doc).starts_with(kMagic));
    EXPECT_EQ(Cli({"decrypt", doc, "--password-stdin"}, "again\n").out, text);
    // .tvro to strong cannot be without password either.
    r = Cli({"rekey", doc, "--password-stdin", "--new-no-password"}, "again\n");
    EXPECT_EQ(r.exitCode, 1);
}

// Refused before anything is written: usage errors (exit 1), and a password
// that is not UTF-8 (exit 2), which the editor could never type to open it.
TEST_F(CliStrong, MisusesAreRefusedBeforeAnythingIsWritten)
{
    const std::string doc = Encrypt("doc.tvrs", "text", "pw");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int exitCode;
    };
    for (const Case& c : {Case{{"encrypt", "-o", Path("x.tvrs"), "--no-password"}, "", 1},
                          Case{{"encrypt", "-o", Path("x"), "--format", "aes", "--no-password"}, "", 1},
                          Case{{"decrypt", doc, "--format", "strong", "--password-stdin"}, "pw\n", 1},
                          Case{{"verify", doc, "--no-password"}, "", 1},
                          Case{{"encrypt", "-o", Path("x.tvrs"), "--password-stdin"}, "caf\xE9\ntext", 2}}) {
        SCOPED_TRACE(c.args[c.args.size() - 2]);
        const ProcessResult r = Cli(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(OneLine(r.err));
    }
    EXPECT_FALSE(fs::exists(Path("x.tvrs")));
    EXPECT_FALSE(fs::exists(Path("x")));
    const std::string help = Cli({"--help"}).out;
    for (const char* word : {"--format", ".tvrs", "strong", "Argon2id"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}
