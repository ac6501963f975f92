// AES-256 speed: every bulk path of the cipher on one 4 MB random buffer,
// encrypt and decrypt, beside OpenSSL's EVP aes-256-ecb and the earlier
// logarithm-search design, all measured in the same run. Each figure is the
// best of several runs. Every result is also checked against OpenSSL.
#include "aes256.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBufferSize = 4u << 20;
// The logarithm-search design runs at a fraction of 1 MB/s; it gets a prefix.
constexpr std::size_t kLogSearchSize = 128u << 10;
constexpr std::size_t kPerBlockSize = 256u << 10;

// ---------------------------------------------------------------------------
// The logarithm-search design, the baseline (kept here only): the same
// per-block structure (two 32-byte starting points of the schedule, stepped
// forwards or backwards per block), but every S-box value finds the discrete
// logarithm of its input to the base 0x03 by repeated multiplication, so its
// time depends on the byte and costs hundreds of steps.
// ---------------------------------------------------------------------------
namespace logsearch {

std::uint8_t XTime(std::uint8_t b)
{
    return static_cast<std::uint8_t>((b << 1) ^ ((b & 0x80) != 0 ? 0x1B : 0x00));
}

std::uint8_t TimesThree(std::uint8_t p)
{
    return static_cast<std::uint8_t>(p ^ XTime(p));
}

std::uint8_t Inverse(std::uint8_t x)
{
    if (x == 0)
        return 0;
    int log = 0;
    for (std::uint8_t p = 1; p != x; p = TimesThree(p))
        ++log;
    std::uint8_t b = 1;
    for (int i = 0; i < 255 - log; ++i)
        b = TimesThree(b);
    return b;
}

std::uint8_t Rotl(std::uint8_t b, int n)
{
    return static_cast<std::uint8_t>((b << n) | (b >> (8 - n)));
}

std::uint8_t SBox(std::uint8_t x)
{
    const std::uint8_t b = Inverse(x);
    return static_cast<std::uint8_t>(b ^ Rotl(b, 1) ^ Rotl(b, 2) ^ Rotl(b, 3) ^ Rotl(b, 4) ^ 0x63);
}

std::uint8_t SBoxInv(std::uint8_t y)
{
    const auto t = static_cast<std::uint8_t>(y ^ 0x63);
    return Inverse(static_cast<std::uint8_t>(Rotl(t, 1) ^ Rotl(t, 3) ^ Rotl(t, 6)));
}

struct Context {
    std::uint8_t workKey[32];
    std::uint8_t firstKeys[32];
    std::uint8_t lastKeys[32];
};

void StepForward(std::uint8_t k[32], std::uint8_t& rcon)
{
    k[0] = static_cast<std::uint8_t>(k[0] ^ SBox(k[29]) ^ rcon);
    k[1] ^= SBox(k[30]);
    k[2] ^= SBox(k[31]);
    k[3] ^= SBox(k[28]);
    rcon = XTime(rcon);
    for (int i = 4; i < 16; ++i)
        k[i] ^= k[i - 4];
    for (int i = 16; i < 20; ++i)
        k[i] ^= SBox(k[i - 4]);
    for (int i = 20; i < 32; ++i)
        k[i] ^= k[i - 4];
}

void StepBackward(std::uint8_t k[32], std::uint8_t& rcon)
{
    for (int i = 31; i >= 20; --i)
        k[i] ^= k[i - 4];
    for (int i = 16; i < 20; ++i)
        k[i] ^= SBox(k[i - 4]);
    for (int i = 15; i >= 4; --i)
        k[i] ^= k[i - 4];
    rcon = static_cast<std::uint8_t>((rcon >> 1) ^ ((rcon & 1) != 0 ? 0x8D : 0x00));
    k[0] = static_cast<std::uint8_t>(k[0] ^ SBox(k[29]) ^ rcon);
    k[1] ^= SBox(k[30]);
    k[2] ^= SBox(k[31]);
    k[3] ^= SBox(k[28]);
}

void Init(Context& c, const std::uint8_t key[32])
{
    std::memset(&c, 0, sizeof c);
    std::memcpy(c.firstKeys, key, 32);
    std::memcpy(c.lastKeys, key, 32);
    std::uint8_t rcon = 0x01;
    for (int i = 0; i < 7; ++i)
        StepForward(c.lastKeys, rcon);
}

void AddKey(std::uint8_t s[16], const std::uint8_t* k)
{
    for (int i = 0; i < 16; ++i)
        s[i] ^= k[i];
}

void SubShift(std::uint8_t s[16])
{
    std::uint8_t t[16];
    for (int i = 0; i < 16; ++i)
        t[i] = SBox(s[(i + 4 * (i % 4)) % 16]);
    std::memcpy(s, t, 16);
}

void InvShiftSub(std::uint8_t s[16])
{
    std::uint8_t t[16];
    for (int i = 0; i < 16; ++i)
        t[(i + 4 * (i % 4)) % 16] = SBoxInv(s[i]);
    std::memcpy(s, t, 16);
}

void Mix(std::uint8_t s[16])
{
    for (int c = 0; c < 16; c += 4) {
        const std::uint8_t a0 = s[c], a1 = s[c + 1], a2 = s[c + 2], a3 = s[c + 3];
        const auto all = static_cast<std::uint8_t>(a0 ^ a1 ^ a2 ^ a3);
        s[c] = static_cast<std::uint8_t>(a0 ^ all ^ XTime(static_cast<std::uint8_t>(a0 ^ a1)));
        s[c + 1] = static_cast<std::uint8_t>(a1 ^ all ^ XTime(static_cast<std::uint8_t>(a1 ^ a2)));
        s[c + 2] = static_cast<std::uint8_t>(a2 ^ all ^ XTime(static_cast<std::uint8_t>(a2 ^ a3)));
        s[c + 3] = static_cast<std::uint8_t>(a3 ^ all ^ XTime(static_cast<std::uint8_t>(a3 ^ a0)));
    }
}

void InvMix(std::uint8_t s[16])
{
    for (int c = 0; c < 16; c += 4) {
        const std::uint8_t u = XTime(XTime(static_cast<std::uint8_t>(s[c] ^ s[c + 2])));
        const std::uint8_t v = XTime(XTime(static_cast<std::uint8_t>(s[c + 1] ^ s[c + 3])));
        s[c] ^= u, s[c + 1] ^= v, s[c + 2] ^= u, s[c + 3] ^= v;
    }
    Mix(s);
}

void EncryptBlock(Context& c, std::uint8_t s[16])
{
    std::memcpy(c.workKey, c.firstKeys, 32);
    AddKey(s, c.workKey);
    std::uint8_t rcon = 0x01;
    for (int r = 1; r < 14; ++r) {
        SubShift(s);
        Mix(s);
        if (r % 2 == 1) {
            AddKey(s, c.workKey + 16);
        } else {
            StepForward(c.workKey, rcon);
            AddKey(s, c.workKey);
        }
    }
    SubShift(s);
    StepForward(c.workKey, rcon);
    AddKey(s, c.workKey);
}

void DecryptBlock(Context& c, std::uint8_t s[16])
{
    std::memcpy(c.workKey, c.lastKeys, 32);
    AddKey(s, c.workKey);
    InvShiftSub(s);
    std::uint8_t rcon = 0x80;
    for (int r = 13; r > 0; --r) {
        if (r % 2 == 1) {
            StepBackward(c.workKey, rcon);
            AddKey(s, c.workKey + 16);
        } else {
            AddKey(s, c.workKey);
        }
        InvMix(s);
        InvShiftSub(s);
    }
    AddKey(s, c.workKey);
}

} // namespace logsearch

// ---------------------------------------------------------------------------

// One way of running the cipher over data in place, in either direction.
using Runner = std::function<void(bool encrypt, std::uint8_t* data, std::size_t size)>;

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Speed {
    double encryptMBps = 0;
    double decryptMBps = 0;
    bool correct = true;
};

// Best of `runs` timings per direction on the first `size` bytes; checks the
// cipher text against the reference and the round trip against the input.
Speed Measure(const Runner& run, const Bytes& plain, const Bytes& reference, std::size_t size, int runs)
{
    Speed speed;
    Bytes work(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size));
    double bestEncrypt = 1e30, bestDecrypt = 1e30;
    for (int i = 0; i < runs; ++i) {
        bestEncrypt = std::min(bestEncrypt, Seconds([&] { run(true, work.data(), size); }));
        speed.correct = speed.correct && std::equal(work.begin(), work.end(), reference.begin());
        bestDecrypt = std::min(bestDecrypt, Seconds([&] { run(false, work.data(), size); }));
        speed.correct = speed.correct && std::equal(work.begin(), work.end(), plain.begin());
    }
    speed.encryptMBps = static_cast<double>(size) / bestEncrypt / 1e6;
    speed.decryptMBps = static_cast<double>(size) / bestDecrypt / 1e6;
    return speed;
}

bool g_allCorrect = true;

void Report(const char* name, const char* note, const Speed& speed)
{
    g_allCorrect = g_allCorrect && speed.correct;
    std::printf("%-26s %11.2f %11.2f   %s%s\n", name, speed.encryptMBps, speed.decryptMBps,
                speed.correct ? "matches OpenSSL" : "WRONG RESULT", note);
}

} // namespace

int main()
{
    using namespace tavro;

    std::mt19937_64 rng(20260101);
    Bytes plain(kBufferSize);
    for (auto& b : plain)
        b = static_cast<std::uint8_t>(rng());
    std::uint8_t key[32];
    for (auto& b : key)
        b = static_cast<std::uint8_t>(rng());

    // OpenSSL, with contexts set up before timing; its output is the reference.
    EVP_CIPHER_CTX* encryptCtx = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX* decryptCtx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(encryptCtx, EVP_aes_256_ecb(), nullptr, key, nullptr);
    EVP_DecryptInit_ex(decryptCtx, EVP_aes_256_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(encryptCtx, 0);
    EVP_CIPHER_CTX_set_padding(decryptCtx, 0);
    const Runner openssl = [&](bool encrypt, std::uint8_t* data, std::size_t size) {
        int length = 0;
        if (encrypt)
            EVP_EncryptUpdate(encryptCtx, data, &length, data, static_cast<int>(size));
        else
            EVP_DecryptUpdate(decryptCtx, data, &length, data, static_cast<int>(size));
    };
    Bytes reference = plain;
    openssl(true, reference.data(), reference.size());

    Aes256Context context;
    Aes256Init(context, key);

    std::printf("AES-256-ECB, %zu MB random buffer, best of several runs, MB/s\n", kBufferSize >> 20);
    std::printf("%-26s %11s %11s\n", "", "encrypt", "decrypt");

    const Speed ossl = Measure(openssl, plain, reference, kBufferSize, 20);
    Report("openssl evp aes-256-ecb", "", ossl);

    Speed portable;
    struct Hardware {
        const char* name;
        Speed speed;
    };
    std::vector<Hardware> hardware;
    for (Aes256Path path : {Aes256Path::Portable, Aes256Path::AesNi, Aes256Path::Vaes}) {
        if (!Aes256PathAvailable(path)) {
            std::printf("%-26s   (not available on this CPU)\n", Aes256PathName(path));
            continue;
        }
        const Runner runner = [&, path](bool encrypt, std::uint8_t* data, std::size_t size) {
            if (encrypt)
                Aes256EncryptBlocksOn(path, context, data, size / 16);
            else
                Aes256DecryptBlocksOn(path, context, data, size / 16);
        };
        const bool isPortable = path == Aes256Path::Portable;
        const Speed speed = Measure(runner, plain, reference, kBufferSize, isPortable ? 5 : 20);
        Report(Aes256PathName(path), isPortable ? "  (bitsliced, constant time)" : "", speed);
        if (isPortable)
            portable = speed;
        else
            hardware.push_back({Aes256PathName(path), speed});
    }

    const Runner perBlock = [&](bool encrypt, std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; i += 16)
            encrypt ? Aes256EncryptBlock(context, data + i) : Aes256DecryptBlock(context, data + i);
    };
    Report("per-block calls", "  (first 256 KB of the buffer)", Measure(perBlock, plain, reference, kPerBlockSize, 3));

    logsearch::Context baseline;
    logsearch::Init(baseline, key);
    const Runner logSearch = [&](bool encrypt, std::uint8_t* data, std::size_t size) {
        for (std::size_t i = 0; i < size; i += 16)
            encrypt ? logsearch::EncryptBlock(baseline, data + i) : logsearch::DecryptBlock(baseline, data + i);
    };
    const Speed log = Measure(logSearch, plain, reference, kLogSearchSize, 2);
    Report("logarithm-search design", "  (first 128 KB of the buffer: too slow for 4 MB)", log);

    std::printf("\nselected path: %s\n", Aes256PathName(Aes256SelectedPath()));
    for (const Hardware& h : hardware)
        std::printf("%-6s / openssl:               encrypt %6.2fx  decrypt %6.2fx\n", h.name,
                    h.speed.encryptMBps / ossl.encryptMBps, h.speed.decryptMBps / ossl.decryptMBps);
    std::printf("portable / logarithm-search:   encrypt %6.0fx  decrypt %6.0fx\n",
                portable.encryptMBps / log.encryptMBps, portable.decryptMBps / log.decryptMBps);

    Aes256Wipe(context);
    EVP_CIPHER_CTX_free(encryptCtx);
    EVP_CIPHER_CTX_free(decryptCtx);
    return g_allCorrect ? EXIT_SUCCESS : EXIT_FAILURE;
}
