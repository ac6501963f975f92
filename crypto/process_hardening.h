// Keeps secrets of a running process out of files the system writes about
// it: no core dump (which would hold keys and plaintext), and no attaching
// or reading of its memory by other processes of the same user.
#pragma once

namespace tavro {

// Sets the core size limit to 0 and marks the process not dumpable. True
// when both took effect. Call first thing in main(), before any secret
// exists.
bool DisableCoreDumps() noexcept;

} // namespace tavro
