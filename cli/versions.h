// tavro-cli's side of the version store (versions/version_store.h): a
// version of every document a command replaces, and the commands that
// list, restore and purge them.
#pragma once

#include "commands.h"
#include "version_store.h"

#include <string>

namespace tavro::cli {

// Keeps a version of the file a write is about to replace, as AtomicOutput's
// hook. A failure is told on stderr as a warning and the write goes on.
class VersionKeeper {
public:
    // documentsOnly: keep only a file that looks like a document (a strong
    // one's magic, or a .tvro one's header and whole blocks), so that
    // encrypt over a plain text file never copies that text into the store.
    // Disabled (--no-versions) it keeps nothing.
    VersionKeeper(bool enabled, bool documentsOnly);

    void operator()(const std::string& target);
    const KeepResult& result() const { return result_; }

private:
    bool enabled_;
    bool documentsOnly_;
    KeepResult result_;
};

int RunVersions(const Options& options);
int RunRestore(const Options& options);

} // namespace tavro::cli
