// Runs the portable cipher on a key and data that valgrind's memcheck treats
// as undefined. Memcheck reports every conditional jump or move and every
// memory address computed from undefined bits, so a clean run under it shows
// that no branch and no address depends on the key or the data.
//
// With the argument "control" the probe also branches on one key bit, which
// memcheck must report: proof that the check is able to fail.
//
// Nothing derived from the secrets is printed or returned.
#include "aes256.h"

#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#else
// Without valgrind's header the probe still builds; the control run then
// goes unreported, which fails the test instead of passing it silently.
#define VALGRIND_MAKE_MEM_UNDEFINED(address, size) ((void)(address), (void)(size))
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

volatile int g_sink = 0;

} // namespace

int main(int argc, char** argv)
{
    using namespace tavro;
    const bool control = argc > 1 && std::strcmp(argv[1], "control") == 0;

    std::uint8_t key[32];
    std::uint8_t block[16];
    // Eleven blocks: one whole bitsliced group of eight and a partial one.
    std::uint8_t buffer[16 * 11];
    for (std::size_t i = 0; i < sizeof key; ++i)
        key[i] = static_cast<std::uint8_t>(i * 29 + 1);
    for (std::size_t i = 0; i < sizeof block; ++i)
        block[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < sizeof buffer; ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 13 + 5);
    VALGRIND_MAKE_MEM_UNDEFINED(key, sizeof key);
    VALGRIND_MAKE_MEM_UNDEFINED(block, sizeof block);
    VALGRIND_MAKE_MEM_UNDEFINED(buffer, sizeof buffer);

    Aes256Context context;
    Aes256Init(context, key);
    Aes256EncryptBlock(context, block);
    Aes256DecryptBlock(context, block);
    Aes256EncryptBlocksOn(Aes256Path::Portable, context, buffer, 11);
    Aes256DecryptBlocksOn(Aes256Path::Portable, context, buffer, 11);

    if (control && (key[0] & 1) != 0)
        g_sink = 1;

    Aes256Wipe(context);
    std::puts(control ? "probe ran (with a key-dependent branch)" : "probe ran");
    return 0;
}
