#include "key_derivation.h"
#include "key_holder.h"

#include "support/password_key.h"
#include "support/random_seed.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using tavro::DeriveKeyFromFile;
using tavro::KeyFileReading;
using tavro::KeyFileResult;
using tavro::KeyFileStatus;
using tavro::ReadKeyFile;
using tavro::test::PasswordKey;
using tavro::DocumentKey;

namespace {

std::string Text(const DocumentKey& key) { return std::string(key.begin(), key.end()); }

bool IsLowerHex(const DocumentKey& key)
{
    return std::all_of(key.begin(), key.end(),
                       [](std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Expected keys below are MD5 digests of the given bytes, computed
// independently (openssl md5).
constexpr const char* kEmpty = "d41d8cd98f00b204e9800998ecf8427e";
constexpr const char* kMiMaCp936 = "d2293e30f0c964c5f6242486aa8a483c"; // C3 DC C2 EB, "密码"

class KeyFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("tavro_key_test_" + std::to_string(std::random_device{}()) + "_" +
                std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Write(const fs::path& name, const std::vector<std::uint8_t>& bytes)
    {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // The key read from a file, or "(failed)".
    static std::string KeyOf(const fs::path& path)
    {
        DocumentKey key{};
        return DeriveKeyFromFile(path, key) ? Text(key) : "(failed)";
    }

    fs::path dir_;
};

} // namespace

// ---- Typed passwords ----------------------------------------------------------

TEST(PasswordKey, EmptyPasswordIsTheDigestOfNothingNotTheZeroKey)
{
    const DocumentKey key = PasswordKey(u"");
    EXPECT_EQ(Text(key), kEmpty);
    EXPECT_NE(key, tavro::kZeroKey);
}

TEST(PasswordKey, HashesTheCodePage936BytesWithoutTerminator)
{
    EXPECT_EQ(Text(PasswordKey(u"abc")), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Text(PasswordKey(u"correct horse")), "3cb4e732631f47e6eb961f34554b7cde");
    EXPECT_EQ(Text(PasswordKey(u"密码")), kMiMaCp936);
    EXPECT_EQ(Text(PasswordKey(u"€")), "8d39dd7eef115ea6975446ef4082951f"); // 0x80
}

TEST(PasswordKey, UnrepresentableCharactersHashAsQuestionMarks)
{
    // Thai is not in code page 936: "aกb" hashes as "a?b", so both give one key.
    EXPECT_EQ(Text(PasswordKey(u"a\u0E01b")), "0166d849f21a9d699d896ea2a79a375f");
    EXPECT_EQ(PasswordKey(u"a\u0E01b"), PasswordKey(u"a?b"));
    // Outside the BMP: one '?' per UTF-16 unit.
    EXPECT_EQ(Text(PasswordKey(u"\U0001F600")), "ea03fcb8c47822bce772cf6c07d0ebbb");
}

TEST(PasswordKey, EveryKeyByteIsALowerCaseHexDigit)
{
    std::mt19937_64 rng(tavro::test::TestSeed());
    for (int round = 0; round < 300; ++round) {
        std::u16string password(rng() % 40, u'\0');
        for (auto& unit : password)
            unit = static_cast<char16_t>(1 + rng() % 0xFFFF); // any unit, lone surrogates included
        const DocumentKey key = PasswordKey(password);
        ASSERT_TRUE(IsLowerHex(key)) << Text(key);
        ASSERT_NE(key, tavro::kZeroKey);
    }
}

// ---- Key files ----------------------------------------------------------------

TEST_F(KeyFile, EmptyFileGivesTheKeyOfTheEmptyPassword)
{
    EXPECT_EQ(KeyOf(Write("empty.key", {})), kEmpty);
    EXPECT_EQ(KeyOf(dir_ / "empty.key"), Text(PasswordKey(u"")));
}

TEST_F(KeyFile, FileHoldingTheCodePageBytesOfAPasswordGivesThatPasswordsKey)
{
    const fs::path path = Write("mima.key", {0xC3, 0xDC, 0xC2, 0xEB});
    EXPECT_EQ(KeyOf(path), kMiMaCp936);
    EXPECT_EQ(KeyOf(path), Text(PasswordKey(u"密码")));
}

TEST_F(KeyFile, CarriageReturnsAndControlZAreHashedByteForByte)
{
    // No newline translation and no end of file at 0x1A.
    const fs::path path = Write("crlf.key", {'a', '\r', '\n', 'b', 0x1A, '\r', '\n', 'c'});
    EXPECT_EQ(KeyOf(path), "9983ac7abfc16319e0ff1f4bc3185699");
    EXPECT_NE(KeyOf(path), Text(PasswordKey(u"a\nb\nc")));
}

TEST_F(KeyFile, SeveralMegabyteFileIsHashedWhole)
{
    std::vector<std::uint8_t> bytes(3 * 1024 * 1024 + 5);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 256);
    EXPECT_EQ(KeyOf(Write("big.key", bytes)), "d0a42ca46e28ad59a3353467181efc41");
}

TEST_F(KeyFile, NamesOutsideTheAsciiRangeOpenAsTheFileSystemNamesThem)
{
    // Chinese, and Thai (which code page 936 could not even express).
    EXPECT_EQ(KeyOf(Write(fs::path(u8"密钥文件.key"), {0xC3, 0xDC, 0xC2, 0xEB})), kMiMaCp936);
    EXPECT_EQ(KeyOf(Write(fs::path(u8"กุญแจ.key"), {})), kEmpty);
}

// Every way a key file fails says which, and leaves the key untouched: a
// document must never end up under the key of what happened to be read.
TEST_F(KeyFile, FailuresSayWhyAndLeaveTheKeyUntouched)
{
    struct Case {
        fs::path path;
        KeyFileStatus status;
        int error;
    };
    std::vector<Case> cases = {
        {dir_ / "missing.key", KeyFileStatus::CannotOpen, ENOENT},
        {dir_ / "no-such-dir" / "k.key", KeyFileStatus::CannotOpen, ENOENT},
        {fs::path(), KeyFileStatus::CannotOpen, ENOENT},
        // A folder is no key file, although Linux lets it be opened.
        {dir_, KeyFileStatus::CannotOpen, EISDIR},
        // A regular file whose first read fails (address 0 is never mapped).
        {"/proc/self/mem", KeyFileStatus::ReadError, EIO},
        // Devices are refused unopened: /dev/zero would never end.
        {"/dev/zero", KeyFileStatus::Device, 0},
        {"/dev/null", KeyFileStatus::Device, 0},
    };
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/dev", ignored)) {
        if (entry.is_block_file(ignored)) {
            cases.push_back({entry.path(), KeyFileStatus::Device, 0});
            break;
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        DocumentKey key;
        key.fill(0x5A);
        const DocumentKey before = key;
        const KeyFileResult result = ReadKeyFile(c.path, key);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.error, c.error) << std::strerror(result.error);
        EXPECT_FALSE(DeriveKeyFromFile(c.path, key));
        EXPECT_EQ(key, before);
    }

    // Success then overwrites all 32 bytes.
    DocumentKey key;
    key.fill(0x5A);
    ASSERT_TRUE(DeriveKeyFromFile(Write("abc.key", {'a', 'b', 'c'}), key));
    EXPECT_EQ(Text(key), "900150983cd24fb0d6963f7d28e17f72");
}

// Progress counts the bytes hashed up to the file's size; a cancel raised
// between pieces stops the read, and no key comes of the part read.
TEST_F(KeyFile, ProgressReachesTheSizeAndCancelStopsBetweenPieces)
{
    const std::vector<std::uint8_t> bytes(5 * 512 * 1024, 0x61);
    const fs::path path = Write("long.key", bytes);
    const std::uint64_t size = bytes.size();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
    KeyFileReading reading;
    reading.progress = [&seen](std::uint64_t done, std::uint64_t total) { seen.emplace_back(done, total); };
    DocumentKey key{};
    ASSERT_EQ(ReadKeyFile(path, key, reading).status, KeyFileStatus::Derived);
    ASSERT_GE(seen.size(), 2u) << "a file of several pieces reports each";
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].second, size);
        EXPECT_TRUE(i == 0 ? seen[i].first > 0 : seen[i].first > seen[i - 1].first);
    }
    EXPECT_EQ(seen.back().first, size);

    std::atomic<bool> cancel{false};
    reading.cancel = &cancel;
    reading.progress = [&](std::uint64_t done, std::uint64_t total) {
        seen.emplace_back(done, total);
        cancel = true;
    };
    seen.clear();
    key.fill(0x5A);
    const DocumentKey before = key;
    EXPECT_EQ(ReadKeyFile(path, key, reading).status, KeyFileStatus::Cancelled);
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(key, before);
}

namespace {

// True when this process holds path open (as the reader thread does).
bool HeldOpen(const fs::path& path)
{
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ignored)) {
        if (fs::read_symlink(entry.path(), ignored) == path)
            return true;
    }
    return false;
}

} // namespace

// A named pipe opens at once, before any writer comes, and the wait for its
// data can be cancelled; a writer's bytes, whenever they come, are the key.
TEST_F(KeyFile, NamedPipeOpensWithoutAWriterAndItsWaitCanBeCancelled)
{
    const fs::path fifo = dir_ / "key.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> cancel{false};
    KeyFileReading reading;
    reading.cancel = &cancel;
    DocumentKey key{};
    auto reader = std::async(std::launch::async, [&] { return ReadKeyFile(fifo, key, reading); });
    bool opened = false;
    for (int wait = 0; wait < 5000 && !(opened = HeldOpen(fifo)); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(opened) << "the open waits for a writer";
    cancel = true;
    if (reader.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the cancel flag does not end the wait";
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); // releases an open that waits
    }
    EXPECT_EQ(reader.get().status, KeyFileStatus::Cancelled);

    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << "abc"; });
    std::vector<std::uint64_t> totals;
    reading = {};
    reading.progress = [&totals](std::uint64_t, std::uint64_t total) { totals.push_back(total); };
    EXPECT_EQ(ReadKeyFile(fifo, key, reading).status, KeyFileStatus::Derived);
    writer.join();
    EXPECT_EQ(Text(key), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(totals, std::vector<std::uint64_t>{0}) << "a pipe's size is unknown";
}

// The held key has one owner: moving it on leaves the zero key behind, and
// keys compare by every byte.
TEST(KeyHolder, MovingLeavesTheZeroKeyAndKeysCompareWhole)
{
    tavro::KeyHolder held(PasswordKey(u"secret"));
    tavro::KeyHolder copy = held.Copy();
    EXPECT_TRUE(copy.SameKey(held));
    tavro::KeyHolder moved = std::move(held);
    EXPECT_EQ(held.bytes(), tavro::kZeroKey); // NOLINT(bugprone-use-after-move): the point of the test
    EXPECT_TRUE(moved.SameKey(copy));
    copy.bytes()[31] ^= 1;
    EXPECT_FALSE(moved.SameKey(copy));
    moved.Wipe();
    EXPECT_EQ(moved.bytes(), tavro::kZeroKey);
}
