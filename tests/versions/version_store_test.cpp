// The version store on real folders: what it keeps, what its bounds drop at
// chosen times, that a broken store never stops a write, and that hostile
// contents are skipped rather than trusted.
#include "version_store.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace tavro;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;
// A time on a day boundary (UTC), so that hour and day slots are plain to see.
constexpr std::int64_t kMidnight = 19675 * kDay;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces path as our writers do: a complete file renamed over it.
void Replace(const fs::path& path, const std::string& bytes)
{
    const fs::path temporary = path.string() + ".new";
    std::ofstream(temporary, std::ios::binary) << bytes;
    fs::rename(temporary, path);
}

mode_t ModeOf(const fs::path& path)
{
    struct stat info{};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::string ReadVersion(const VersionStore& store, const fs::path& document, std::uint64_t number)
{
    std::string bytes;
    const StoreStatus status =
        store.Read(document, number, [&](std::span<const std::uint8_t> piece) { bytes.append(piece.begin(), piece.end()); });
    EXPECT_TRUE(status.ok) << status.message;
    return bytes;
}

std::vector<Version> ListOf(const VersionStore& store, const fs::path& document)
{
    std::vector<Version> versions;
    const StoreStatus status = store.List(document, versions);
    EXPECT_TRUE(status.ok) << status.message;
    return versions;
}

class VersionStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        std::string folder = std::string(base && *base ? base : "/tmp") + "/tavro-versions-test-XXXXXX";
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        dir_ = folder;
        fs::create_directory(dir_ / "docs");
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    VersionStore Store() { return VersionStore((dir_ / "store").string(), [this] { return now_; }); }
    fs::path Doc(const std::string& name, const std::string& bytes)
    {
        const fs::path path = dir_ / "docs" / name;
        Replace(path, bytes);
        return path;
    }
    // The one document folder of the store.
    fs::path OnlyFolder()
    {
        std::vector<fs::path> folders;
        for (const auto& entry : fs::directory_iterator(dir_ / "store"))
            folders.push_back(entry.path());
        EXPECT_EQ(folders.size(), 1u);
        return folders.empty() ? fs::path() : folders.front();
    }

    fs::path dir_;
    std::int64_t now_ = kMidnight;
};

// --- Keeping -----------------------------------------------------------------------

TEST_F(VersionStoreTest, KeepHoldsTheReplacedBytesOnceTheDocumentIsReplaced)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("secret-diary.tvro", "first bytes");
    ASSERT_EQ(::chmod(doc.c_str(), 0644), 0);
    now_ = kMidnight + 42;
    const KeepResult kept = store.Keep(doc, VersionOrigin::Lock);
    ASSERT_EQ(kept.outcome, KeepResult::Kept) << kept.message;
    Replace(doc, "second, longer bytes");

    const std::vector<Version> versions = ListOf(store, doc);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].number, kept.number);
    EXPECT_EQ(versions[0].keptAt, kMidnight + 42);
    EXPECT_EQ(versions[0].size, 11u);
    EXPECT_EQ(versions[0].origin, VersionOrigin::Lock);
    EXPECT_EQ(ReadVersion(store, doc, kept.number), "first bytes");

    // Folders for the user alone, and no trace of the path in any name.
    EXPECT_EQ(ModeOf(dir_ / "store"), 0700u);
    const fs::path folder = OnlyFolder();
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(folder / "document"), 0600u);
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "store"))
        EXPECT_EQ(entry.path().filename().string().find("diary"), std::string::npos) << entry.path();

    // The version that no longer is the document gets 0600 at the next keep.
    now_ += 60;
    ASSERT_EQ(store.Keep(doc, VersionOrigin::Save).outcome, KeepResult::Kept);
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(std::to_string(kept.number) + "-")) {
            EXPECT_EQ(ModeOf(entry.path()), 0600u);
        }
    }
}

TEST_F(VersionStoreTest, KeepFollowsALinkAndSkipsWhatIsNoFile)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("target.tvro", "linked");
    fs::create_symlink(doc, dir_ / "docs" / "alias.tvro");
    ASSERT_EQ(store.Keep((dir_ / "docs" / "alias.tvro").string(), VersionOrigin::Save).outcome, KeepResult::Kept);
    EXPECT_EQ(ListOf(store, doc).size(), 1u) << "kept under the file the link names";

    EXPECT_EQ(store.Keep((dir_ / "docs" / "new.tvro").string(), VersionOrigin::Save).outcome, KeepResult::NothingToKeep);
    EXPECT_EQ(store.Keep((dir_ / "docs").string(), VersionOrigin::Save).outcome, KeepResult::NothingToKeep);
    EXPECT_EQ(ListOf(store, dir_ / "docs" / "new.tvro").size(), 0u);
}

// Where a hard link is impossible (another file system) the bytes are copied.
TEST_F(VersionStoreTest, KeepCopiesAcrossFileSystems)
{
    struct stat shm{}, here{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir_.c_str(), &here) != 0 || shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    std::string name = "/dev/shm/tavro-versions-doc-XXXXXX";
    const int fd = ::mkstemp(name.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    const fs::path doc = name;
    Replace(doc, "bytes on another file system");
    const timespec times[2] = {{1000000, 0}, {1500000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, doc.c_str(), times, 0), 0);

    const VersionStore store = Store();
    const KeepResult kept = store.Keep(doc, VersionOrigin::AutoSave);
    Replace(doc, "replaced");
    ASSERT_EQ(kept.outcome, KeepResult::Kept) << kept.message;
    EXPECT_EQ(ReadVersion(store, doc, kept.number), "bytes on another file system");
    const std::vector<Version> versions = ListOf(store, doc);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].modifiedAt, 1500000000);
    for (const auto& entry : fs::directory_iterator(OnlyFolder()))
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();
    EXPECT_EQ(Store().Purge(doc).ok, true);
    fs::remove(doc);
}

// A store that cannot be written never stops the write: Keep says why and
// touches nothing.
TEST_F(VersionStoreTest, BrokenStoreIsReported)
{
    const fs::path doc = Doc("doc.tvro", "precious");
    std::ofstream(dir_ / "a-file") << "not a folder";
    fs::create_directory(dir_ / "foreign");
    std::vector<std::pair<std::string, std::string>> roots = {
        {(dir_ / "a-file" / "versions").string(), "Not a directory"},
        {"", "no version store"},
    };
    if (::geteuid() == 0 && ::chown((dir_ / "foreign").c_str(), 65534, 65534) == 0)
        roots.emplace_back((dir_ / "foreign").string(), "does not belong to this user");
    for (const auto& [root, why] : roots) {
        SCOPED_TRACE(root);
        const KeepResult kept = VersionStore(root).Keep(doc, VersionOrigin::Save);
        EXPECT_EQ(kept.outcome, KeepResult::Failed);
        EXPECT_NE(kept.message.find(why), std::string::npos) << kept.message;
        EXPECT_NE(kept.message.find(doc.string()), std::string::npos) << kept.message;
        EXPECT_EQ(kept.message.find('\n'), std::string::npos);
    }
    EXPECT_EQ(ReadFile(doc), "precious");
    EXPECT_TRUE(fs::is_empty(dir_ / "foreign"));
}

// --- Bounds ----------------------------------------------------------------------

struct KeepAt {
    std::int64_t at;
    std::size_t size;
};

struct BoundsCase {
    const char* name;
    std::vector<KeepAt> keeps; // in order; the last one's time is now
    std::vector<std::int64_t> expected; // the times of the versions left, newest first
    friend void PrintTo(const BoundsCase& c, std::ostream* out) { *out << c.name; }
};

class VersionBounds : public VersionStoreTest, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(VersionBounds, LeaveTheVersionsOfTheirRules)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("doc.tvro", "");
    for (const KeepAt& keep : GetParam().keeps) {
        Replace(doc, std::string(keep.size, 'v'));
        now_ = keep.at;
        ASSERT_EQ(store.Keep(doc, VersionOrigin::AutoSave).outcome, KeepResult::Kept);
    }
    std::vector<std::int64_t> left;
    for (const Version& version : ListOf(store, doc))
        left.push_back(version.keptAt);
    EXPECT_EQ(left, GetParam().expected);
}

std::vector<KeepAt> Every(std::int64_t from, std::int64_t step, int count, std::size_t size)
{
    std::vector<KeepAt> keeps;
    for (int i = 0; i < count; ++i)
        keeps.push_back({from + i * step, size});
    return keeps;
}

std::vector<std::int64_t> Times(std::int64_t newest, std::int64_t step, int count)
{
    std::vector<std::int64_t> times;
    for (int i = 0; i < count; ++i)
        times.push_back(newest - i * step);
    return times;
}

const std::int64_t kNow = kMidnight + 40 * kDay;

INSTANTIATE_TEST_SUITE_P(
    Rules, VersionBounds,
    ::testing::Values(
        BoundsCase{"EveryVersionOfTheLastHour",
                   {{kNow - 3599, 1}, {kNow - 1800, 1}, {kNow - 60, 1}, {kNow, 1}},
                   {kNow, kNow - 60, kNow - 1800, kNow - 3599}},
        // Two in the same clock hour, ten hours ago: the newer stays.
        BoundsCase{"NewestOfEachHourForADay",
                   {{kNow - 23 * kHour - 3599, 1}, {kNow - 10 * kHour + 60, 1}, {kNow - 10 * kHour + 1800, 1},
                    {kNow - 9 * kHour + 5, 1}, {kNow - 2 * kHour, 1}, {kNow, 1}},
                   {kNow, kNow - 2 * kHour, kNow - 9 * kHour + 5, kNow - 10 * kHour + 1800, kNow - 23 * kHour - 3599}},
        BoundsCase{"NewestOfEachDayForThirtyDays",
                   {{kNow - 31 * kDay, 1}, {kNow - 29 * kDay - 3 * kHour, 1}, {kNow - 29 * kDay - 2 * kHour, 1},
                    {kNow - 2 * kDay, 1}, {kNow, 1}},
                   {kNow, kNow - 2 * kDay, kNow - 29 * kDay - 2 * kHour}},
        // 150 empty ones within the hour (no size to count): the newest 100.
        BoundsCase{"AtMostAHundred", Every(kNow - 149, 1, 150, 0), Times(kNow, 1, 100)},
        // Ten times the largest version: 12 of 100 bytes leave 10.
        BoundsCase{"TenTimesTheLargest", Every(kNow - 11, 1, 12, 100), Times(kNow, 1, 10)}),
    [](const auto& info) { return std::string(info.param.name); });

// The cap of 256 MB, on sparse files that cost no disk; the newest stays
// even when it alone is larger.
TEST_F(VersionStoreTest, AtMost256MegabytesInAllButTheNewest)
{
    const VersionStore store = Store();
    const fs::path doc = dir_ / "docs" / "big.tvro";
    auto keep = [&](std::uintmax_t mebibytes) {
        Replace(doc, "");
        fs::resize_file(doc, mebibytes << 20);
        ++now_;
        ASSERT_EQ(store.Keep(doc, VersionOrigin::Save).outcome, KeepResult::Kept);
    };
    for (int i = 0; i < 3; ++i)
        keep(100);
    std::vector<Version> versions = ListOf(store, doc);
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].keptAt, now_);
    EXPECT_EQ(versions[1].keptAt, now_ - 1);

    keep(300);
    versions = ListOf(store, doc);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].size, 300u << 20);
}

// --- Restore and purge ------------------------------------------------------------

TEST_F(VersionStoreTest, RestoreKeepsTheCurrentBytesFirst)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("doc.tvro", "the good text");
    const KeepResult first = store.Keep(doc, VersionOrigin::Save);
    Replace(doc, "a regretted save");
    ASSERT_EQ(::chmod(doc.c_str(), 0640), 0);

    KeepResult kept;
    StoreStatus status = store.Restore(doc, first.number, VersionOrigin::CommandLine, &kept);
    ASSERT_TRUE(status.ok) << status.message;
    EXPECT_EQ(ReadFile(doc), "the good text");
    EXPECT_EQ(ModeOf(doc), 0640u);
    ASSERT_EQ(kept.outcome, KeepResult::Kept);
    EXPECT_EQ(ReadVersion(store, doc, kept.number), "a regretted save");
    EXPECT_EQ(ListOf(store, doc).size(), 2u);

    status = store.Restore(doc, 99, VersionOrigin::CommandLine);
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.message.find("no version 99"), std::string::npos) << status.message;
    EXPECT_EQ(ReadFile(doc), "the good text");

    // A deleted document comes back.
    fs::remove(doc);
    ASSERT_TRUE(store.Restore(doc, kept.number, VersionOrigin::CommandLine).ok);
    EXPECT_EQ(ReadFile(doc), "a regretted save");
    EXPECT_EQ(ListOf(store, doc).size(), 2u) << "nothing was there to keep";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "docs"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"doc.tvro"}) << "no temporary file is left";
}

TEST_F(VersionStoreTest, PurgeRemovesTheHistoryAndNumbersStartAgain)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("doc.tvro", "text");
    const fs::path other = Doc("other.tvro", "other text");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(store.Keep(doc, VersionOrigin::Save).outcome, KeepResult::Kept);
    ASSERT_EQ(store.Keep(other, VersionOrigin::Save).outcome, KeepResult::Kept);

    std::size_t removed = 0;
    ASSERT_TRUE(store.Purge(doc, &removed).ok);
    EXPECT_EQ(removed, 3u);
    EXPECT_TRUE(ListOf(store, doc).empty());
    EXPECT_EQ(ListOf(store, other).size(), 1u) << "another document's history stays";
    EXPECT_EQ(ReadFile(doc), "text");
    EXPECT_EQ(store.Keep(doc, VersionOrigin::Save).number, 1u);
}

// --- Hostile contents ------------------------------------------------------------

// A store made by someone else: a folder under the document's name whose
// record names another file, a link where the document's folder would be,
// and entries that are no versions. None of it is listed, read or written
// through; the document gets a folder of its own.
TEST_F(VersionStoreTest, HostileContentsAreSkippedNeverTrusted)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("doc.tvro", "mine");
    const fs::path victim = Doc("victim", "must never be written");
    ASSERT_EQ(store.Keep(doc, VersionOrigin::Save).outcome, KeepResult::Kept);
    const fs::path real = OnlyFolder();
    const std::string hash = real.filename().string();

    // The document's own folder moves to a link's target; in its place, a
    // folder whose record names the victim, holding a version to restore.
    fs::rename(real, dir_ / "elsewhere");
    fs::create_directory(dir_ / "store" / hash);
    std::ofstream(dir_ / "store" / hash / "document", std::ios::binary) << HistoryRecord(victim.string());
    std::ofstream(dir_ / "store" / hash / "7-100-1", std::ios::binary) << "hostile bytes";
    fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "store" / (hash + "-2"));
    // Records that do not parse.
    int candidate = 3;
    for (const char* record : {"", "tavro version history 1\nrelative/path", "garbage\n/abs"}) {
        const fs::path folder = dir_ / "store" / (hash + "-" + std::to_string(candidate++));
        fs::create_directories(folder);
        std::ofstream(folder / "document", std::ios::binary) << record;
        std::ofstream(folder / "8-100-1", std::ios::binary) << "unparsed record";
    }
    EXPECT_TRUE(ListOf(store, doc).empty());
    EXPECT_FALSE(store.Restore(doc, 7, VersionOrigin::Save).ok);
    EXPECT_FALSE(store.Restore(doc, 8, VersionOrigin::Save).ok);
    EXPECT_EQ(ReadFile(victim), "must never be written");
    EXPECT_EQ(ReadFile(doc), "mine");

    // A fresh folder of its own, under a free name.
    const KeepResult kept = store.Keep(doc, VersionOrigin::Save);
    ASSERT_EQ(kept.outcome, KeepResult::Kept) << kept.message;
    EXPECT_EQ(ListOf(store, doc).size(), 1u);
    EXPECT_EQ(ReadFile(dir_ / "store" / hash / "7-100-1"), "hostile bytes");
}

TEST_F(VersionStoreTest, EntriesThatAreNoVersionsAreSkipped)
{
    const VersionStore store = Store();
    const fs::path doc = Doc("doc.tvro", "mine");
    const fs::path secret = Doc("secret", "not to be read through a link");
    now_ = kMidnight + 5;
    ASSERT_EQ(store.Keep(doc, VersionOrigin::Save).number, 1u);
    const fs::path folder = OnlyFolder();
    fs::create_symlink(secret, folder / "2-100-1");
    fs::create_directory(folder / "3-100-1");
    ::mkfifo((folder / "4-100-1").c_str(), 0600);
    for (const char* name : {"05-100-1", "6-100-0", "6-100-256", "6--100-1", "6-100-1-", "+6-100-1", "6-1e3-1",
                             "9999999999999999999-100-1", "document.bak", ".tmp-6-100-1"})
        std::ofstream(folder / name) << "not a version";

    const std::vector<Version> versions = ListOf(store, doc);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].number, 1u);
    for (std::uint64_t number : {2, 3, 4, 5, 6}) {
        SCOPED_TRACE(number);
        EXPECT_FALSE(store.Read(doc, number, [](std::span<const std::uint8_t>) { FAIL(); }).ok);
    }
    // Numbers go on after the largest real one.
    ASSERT_EQ(store.Keep(doc, VersionOrigin::Save).number, 2u);
}

// The two parsers of what the store holds, at their edges.
TEST(VersionNames, ParseOnlyWhatTheStoreWrites)
{
    Version version;
    version.number = 12;
    version.keptAt = 1700000000;
    version.origin = VersionOrigin::CommandLine;
    const std::optional<Version> back = ParseVersionName(VersionName(version));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->number, 12u);
    EXPECT_EQ(back->keptAt, 1700000000);
    EXPECT_EQ(back->origin, VersionOrigin::CommandLine);
    EXPECT_TRUE(ParseVersionName("1-0-255"));
    EXPECT_TRUE(ParseVersionName("999999999999999999-0-1"));

    EXPECT_EQ(ParseHistoryRecord(HistoryRecord("/home/u/a\nb.tvro")), "/home/u/a\nb.tvro");
    for (std::string_view bad : {std::string_view("tavro version history 1\n"),
                                 std::string_view("tavro version history 1\n/a\0b", 28),
                                 std::string_view("tavro version history 2\n/a")}) {
        EXPECT_FALSE(ParseHistoryRecord(bad)) << bad;
    }
}

} // namespace
