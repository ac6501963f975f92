// The version store: the bytes of every document as they were before a
// write replaced them, so that no single write loses what a user stored (a
// wrong password, a regretted save). A version is the document file itself,
// byte for byte, still encrypted under the key it had: nothing new is
// exposed. No Qt; every call is safe from any thread.
//
// Layout under the store's root (DefaultVersionRoot), every folder 0700:
//
//   ROOT/D/        one folder per document. D is the 32 lower-case hex
//                  characters of the MD5 of the document's canonical path, or
//                  that with "-2" .. "-8" when the name is held by another
//                  path (or by something that is not ours to trust).
//   ROOT/D/document   the record, 0600: the line "tavro version history 1",
//                  then the canonical path (absolute, no NUL) to the end of
//                  the file. Written once, complete, before the folder gets
//                  its name.
//   ROOT/D/N-T-O   a version: N its number (1, 2, ...; a newer version has a
//                  larger one, and numbers are not reused while the folder
//                  lives), T the time it was kept (seconds since the epoch),
//                  O its VersionOrigin. Made by a hard link to the document
//                  right before it is replaced (so a save costs no copy), or
//                  by a reflink or copy, complete and synced, under a
//                  ".tmp-" name first. A linked version keeps the document's
//                  permission bits while it still is the document; the next
//                  keep sets 0600 on every version that no longer is.
//
// Contents that do not parse (names, records, links, folders where files
// belong) are skipped and never trusted: versions are written back only to
// the path the caller names, never to a path read from the store.
//
// Bounds, applied after each keep, per document: every version of the last
// hour; of those between an hour and a day old, the newest of each clock
// hour; between a day and 30 days old, the newest of each day (UTC); none
// older. Then at most kMaxVersions, and at most the smaller of
// kSizeFactor x the largest version kept and kMaxBytes in all; oldest first
// out. The newest version is always kept, whatever its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// What replaced a document's bytes. The values are stored in version names:
// never renumber them.
enum class VersionOrigin : std::uint8_t {
    Save = 1,           // 保存
    Lock = 2,           // 锁定
    AutoSave = 3,       // 自动保存
    PasswordChange = 4, // 修改密码
    CommandLine = 5,    // 命令行
};

inline constexpr std::size_t kMaxVersions = 100;
inline constexpr std::uint64_t kSizeFactor = 10;
inline constexpr std::uint64_t kMaxBytes = std::uint64_t{256} << 20;

struct Version {
    std::uint64_t number = 0;
    std::int64_t keptAt = 0;     // when these bytes were replaced, seconds since the epoch
    std::int64_t modifiedAt = 0; // when they had been written (the file's modification time)
    std::uint64_t size = 0;
    VersionOrigin origin = VersionOrigin::Save; // may hold a value only a newer program names
};

// The name of a version, as stored: "N-T-O" in decimal digits without signs
// or leading zeros, N >= 1, O 1..255. Nothing else parses.
std::string VersionName(const Version& version);
std::optional<Version> ParseVersionName(std::string_view name); // number, keptAt, origin

// The record's bytes for a canonical path, and the path back from them:
// nothing when they are not a record of an absolute path.
std::string HistoryRecord(std::string_view canonicalPath);
std::optional<std::string> ParseHistoryRecord(std::string_view bytes);

// Seconds since the epoch; the store asks it for the time of each keep.
using VersionClock = std::function<std::int64_t()>;
std::int64_t SystemSeconds();

// Whether the regular file at path looks like a document (a strong one's
// magic, or a .tvro one's header and whole blocks): what a write that
// replaces an arbitrary target (a file chosen to save over) keeps, so that a
// plain text file is never copied into the store.
bool LooksLikeDocument(const std::string& path);

// $XDG_DATA_HOME/tavro/versions when XDG_DATA_HOME is an absolute path, else
// $HOME/.local/share/tavro/versions (the home from the password database
// when HOME is unset); empty when there is no home at all.
std::string DefaultVersionRoot();

struct KeepResult {
    enum Outcome {
        Kept,          // number is the new version
        NothingToKeep, // no regular file at the path: nothing is replaced
        Failed,        // message says why; the caller's write goes on
    };
    Outcome outcome = NothingToKeep;
    std::uint64_t number = 0;
    std::string message; // one English line when Failed
};

// The outcome of the other operations: ok, or one English line saying why not.
struct StoreStatus {
    bool ok = true;
    std::string message;
};

class VersionStore {
public:
    // The store under root (folders are made on the first keep).
    explicit VersionStore(std::string root, VersionClock clock = SystemSeconds);

    const std::string& root() const { return root_; }

    // Keeps the bytes of the document at path as a version, right before a
    // write replaces them; a symbolic link is followed to the file it names.
    // Never throws; a failure is reported and must not stop the write.
    KeepResult Keep(const std::string& path, VersionOrigin origin) const;

    // The document's versions, newest first; none for a document without history.
    StoreStatus List(const std::string& path, std::vector<Version>& versions) const;

    // Hands the bytes of version number to sink in pieces, in order.
    StoreStatus Read(const std::string& path, std::uint64_t number,
                     const std::function<void(std::span<const std::uint8_t>)>& sink) const;

    // Puts the bytes of version number in place of the document, atomically
    // and synced, keeping its permission bits (a new file gets 0666 less the
    // umask). The current bytes are kept first, as origin; when they cannot
    // be, nothing is replaced. kept, when given, receives that keep's result.
    StoreStatus Restore(const std::string& path, std::uint64_t number, VersionOrigin origin,
                        KeepResult* kept = nullptr) const;

    // Removes the document's history; removed counts the versions that went.
    StoreStatus Purge(const std::string& path, std::size_t* removed = nullptr) const;

private:
    std::string root_;
    VersionClock clock_;
};

} // namespace tavro
