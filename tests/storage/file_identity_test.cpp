#include "file_identity.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using tavro::CheckFileIdentity;
using tavro::FileChange;
using tavro::FileIdentity;
using tavro::kIdentityDigestLimit;

namespace {

class FileIdentityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        std::string folder = std::string(base && *base ? base : "/tmp") + "/tavro-identity-test-XXXXXX";
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        dir_ = folder;
    }
    void TearDown() override { fs::remove_all(dir_); }

    static void Write(const fs::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    // The identity of the file at path, as a reader that opened it takes it.
    static FileIdentity Record(const fs::path& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        const std::optional<FileIdentity> identity = tavro::ReadFileIdentity(fd);
        ::close(fd);
        EXPECT_TRUE(identity.has_value());
        return identity.value_or(FileIdentity{});
    }

    fs::path dir_;
};

// Writes other bytes of the same length in place and puts the modification
// time back, as cp -p or rsync -t over an existing file do.
void RewriteKeepingTheTime(const fs::path& path)
{
    struct stat before{};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(before.st_size / 2);
    file.put('#');
    file.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

// What another writer may do between a read and the replace, on a file
// compared by content and on one compared by metadata alone.
TEST_F(FileIdentityTest, EveryKindOfOtherWriterIsSeen)
{
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> act;
        FileChange expected;
    };
    const Case cases[] = {
        {"nothing", [](const fs::path&) {}, FileChange::Unchanged},
        {"same length in place, time put back", RewriteKeepingTheTime, FileChange::Changed},
        {"same bytes under a new inode (save by rename)",
         [](const fs::path& path) {
             fs::copy_file(path, path.string() + ".new");
             fs::rename(path.string() + ".new", path);
         },
         FileChange::Changed},
        {"one byte appended", [](const fs::path& path) { std::ofstream(path, std::ios::app) << 'x'; },
         FileChange::Changed},
        {"removed", [](const fs::path& path) { fs::remove(path); }, FileChange::Missing},
        {"moved away", [](const fs::path& path) { fs::rename(path, path.string() + ".moved"); },
         FileChange::Missing},
        {"a folder in its place",
         [](const fs::path& path) {
             fs::remove(path);
             fs::create_directory(path);
         },
         FileChange::Changed},
    };
    for (const std::size_t size : {std::size_t{100}, std::size_t{kIdentityDigestLimit + 1}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(size) + " bytes");
            fs::remove_all(dir_);
            fs::create_directories(dir_);
            const fs::path path = dir_ / "doc.tvro";
            Write(path, std::string(size, 'd'));
            const FileIdentity recorded = Record(path);
            c.act(path);
            EXPECT_EQ(CheckFileIdentity(path, recorded).change, c.expected);
        }
    }
}

// Each part of an identity counts: a record that differs from the file in
// any one of them is a change. The content is what catches a rewrite that
// no clock tick separates from the read.
TEST_F(FileIdentityTest, AnyDifferingPartIsAChange)
{
    const fs::path path = dir_ / "doc.tvro";
    Write(path, "small document");
    const FileIdentity recorded = Record(path);
    ASSERT_TRUE(recorded.digested);
    const std::pair<const char*, std::function<void(FileIdentity&)>> parts[] = {
        {"device", [](FileIdentity& id) { ++id.device; }},
        {"inode", [](FileIdentity& id) { ++id.inode; }},
        {"size", [](FileIdentity& id) { ++id.size; }},
        {"modified", [](FileIdentity& id) { id.modified.tv_nsec ^= 1; }},
        {"changed", [](FileIdentity& id) { id.changed.tv_nsec ^= 1; }},
        {"content", [](FileIdentity& id) { id.digest[15] ^= 1; }},
    };
    EXPECT_EQ(CheckFileIdentity(path, recorded).change, FileChange::Unchanged);
    for (const auto& [part, alter] : parts) {
        SCOPED_TRACE(part);
        FileIdentity other = recorded;
        alter(other);
        EXPECT_EQ(CheckFileIdentity(path, other).change, FileChange::Changed);
    }
}

TEST_F(FileIdentityTest, ContentCountsUpToTheLimit)
{
    Write(dir_ / "at", std::string(kIdentityDigestLimit, 'a'));
    Write(dir_ / "above", std::string(kIdentityDigestLimit + 1, 'a'));
    EXPECT_TRUE(Record(dir_ / "at").digested);
    EXPECT_FALSE(Record(dir_ / "above").digested);
}
