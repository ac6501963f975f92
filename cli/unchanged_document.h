// rekey's guard against other writers: what the document was when rekey
// opened it, compared again right before the rekeyed file replaces it, so
// that a text another program saved meanwhile is never overwritten.
#pragma once

#include "file_identity.h"
#include "input_file.h"

#include <string>

namespace tavro::cli {

class UnchangedDocument {
public:
    // Records the identity of the open document (a regular file) before it
    // is read. Throws CliFailure(kExitIo) naming it when that fails.
    explicit UnchangedDocument(const InputFile& document);

    // Throws CliFailure(kExitDamaged) when target is no longer the file
    // recorded (written, replaced, moved or removed since), or
    // CliFailure(kExitIo) when it cannot be examined. Meant for
    // AtomicOutput::CheckBeforeReplace.
    void Check(const std::string& target) const;

private:
    std::string name_;
    FileIdentity identity_;
};

} // namespace tavro::cli
