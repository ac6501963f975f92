// Freed memory is overwritten before the allocator takes it back: the text
// of a closed document does not stay readable in the heap. Qt keeps a
// document's text, its layout and its undo history in buffers of its own,
// which it frees without wiping; so does every library. Linked into the
// editor executable (and the test that scans its memory), this file's free()
// and realloc() stand in for glibc's for every caller that goes through the
// dynamic linker (Qt, the C++ library, our code), and hand the block on to
// glibc's own once it is wiped.
//
// Not wiped: blocks of 32 MiB and more, which glibc always maps apart and
// gives back to the system on free (the system clears them before anyone
// else gets them; realloc moves them by remapping, leaving no copy); and
// blocks glibc frees from within itself.
//
// The cost is one memset per free of what is freed; realloc of a block that
// must move copies it here instead of in glibc. Compiled to nothing under
// AddressSanitizer, whose allocator takes these names itself (and keeps
// freed blocks unusable anyway). Under valgrind, which replaces glibc's
// allocator, run the editor with --soname-synonyms=somalloc=NONE.
#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

// The sanitizers bring allocators of their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TAVRO_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer) || __has_feature(thread_sanitizer)
#define TAVRO_SANITIZER_ALLOCATOR 1
#endif
#endif

#if !defined(TAVRO_SANITIZER_ALLOCATOR)

extern "C" {

// glibc's own allocator, under the names it exports for wrappers like this.
void* __libc_malloc(std::size_t size) noexcept;
void* __libc_realloc(void* block, std::size_t size) noexcept;
void __libc_free(void* block) noexcept;

namespace {

// glibc serves requests this large (the most its mmap threshold can reach
// on 64-bit systems) from a mapping of their own.
constexpr std::size_t kAlwaysMapped = std::size_t{32} << 20;

} // namespace

void free(void* block) noexcept
{
    if (block != nullptr) {
        const std::size_t size = malloc_usable_size(block);
        if (size < kAlwaysMapped)
            explicit_bzero(block, size);
    }
    __libc_free(block);
}

void* realloc(void* block, std::size_t size) noexcept
{
    if (block == nullptr)
        return __libc_malloc(size);
    const std::size_t old = malloc_usable_size(block);
    if (old >= kAlwaysMapped)
        return __libc_realloc(block, size); // remapped, or moved and unmapped
    if (size == 0) {
        free(block);
        return nullptr;
    }
    // Kept where it is when it fits and gives little back; otherwise moved
    // here, so the old place is wiped like any other freed block.
    if (size <= old && size >= old / 2)
        return block;
    void* moved = __libc_malloc(size);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, block, std::min(old, size));
    free(block);
    return moved;
}

} // extern "C"

#endif
