#include "unchanged_document.h"

#include "exit_codes.h"

#include <cerrno>
#include <cstring>

namespace tavro::cli {

UnchangedDocument::UnchangedDocument(const InputFile& document) : name_(document.name())
{
    const std::optional<FileIdentity> identity = ReadFileIdentity(document.fd());
    if (!identity)
        throw CliFailure(kExitIo, "cannot read " + name_ + ": " + std::strerror(errno));
    identity_ = *identity;
}

void UnchangedDocument::Check(const std::string& target) const
{
    const FileCheck check = CheckFileIdentity(target, identity_);
    switch (check.change) {
    case FileChange::Unchanged:
        return;
    case FileChange::Changed:
    case FileChange::Missing:
        throw CliFailure(kExitDamaged, name_ + " was changed, replaced or removed by another program while rekey "
                                               "ran; not replaced, so that program's version stays");
    case FileChange::Unreadable:
        break;
    }
    throw CliFailure(kExitIo, "cannot check " + name_ + " before replacing it: " + std::strerror(check.error) +
                                  "; not replaced");
}

} // namespace tavro::cli
