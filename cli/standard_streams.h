// Standard input, output and error that the caller closed.
#pragma once

namespace tavro::cli {

// Puts /dev/null in place of each standard stream that is closed, so that
// no file the tool opens takes its number (a document opened as descriptor
// 2 would receive the error messages, a key file as 0 would be read as the
// password). The stand-ins are open the other way round (input write-only,
// output and error read-only): using one fails with EBADF, as the closed
// stream would, never silently. Call first in main.
void ReserveStandardStreams();

} // namespace tavro::cli
