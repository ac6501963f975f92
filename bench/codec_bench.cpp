// The whole document codec on an 8 MB Chinese text, both directions, beside
// its stages measured alone: code page conversion, AES bulk path, CRC-32.
#include "aes256.h"
#include "code_page.h"
#include "crc32.h"
#include "document_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace {

template <class F>
double BestMs(F&& f, int runs = 5)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

} // namespace

int main()
{
    using namespace tavro;
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> hanzi(0x4E00, 0x9FA5);
    std::u16string text;
    text.reserve(4u << 20);
    while (text.size() < (4u << 20)) // 4 Mi characters = 8 MB in code page 936
        text += (text.size() % 61 == 60) ? u'\n' : static_cast<char16_t>(hanzi(rng));

    DocumentKey key{};
    std::fill(key.begin(), key.end(), std::uint8_t{'a'});

    std::vector<std::uint8_t> file;
    DecryptedDocument read;
    const double encodeMs = BestMs([&] { (void)EncodeCodePage(text); });
    const double writeMs = BestMs([&] { file = EncryptDocument(text, key); });
    const double readMs = BestMs([&] { read = DecryptDocument(file, key); });
    const SecureBytes plain = EncodeCodePage(text);
    const double decodeMs = BestMs([&] { (void)DecodeCodePage(plain); });
    std::vector<std::uint8_t> body(file.begin() + kDocumentHeaderSize, file.end());
    const double crcMs = BestMs([&] { (void)Crc32(body.data(), body.size()); });
    Aes256Context context;
    Aes256Init(context, key.data());
    const double aesMs = BestMs([&] { Aes256EncryptBlocks(context, body.data(), body.size() / 16); });

    std::printf("document codec, %zu characters, %.1f MB file (AES path: %s)\n", text.size(),
                static_cast<double>(file.size()) / 1e6, Aes256PathName(Aes256SelectedPath()));
    std::printf("  %-34s %9.1f ms\n", "encrypt (text -> file bytes)", writeMs);
    std::printf("  %-34s %9.1f ms\n", "decrypt (file bytes -> text)", readMs);
    std::printf("  stages alone, for reference:\n");
    std::printf("  %-34s %9.1f ms\n", "UTF-16 -> code page 936", encodeMs);
    std::printf("  %-34s %9.1f ms\n", "code page 936 -> UTF-16", decodeMs);
    std::printf("  %-34s %9.1f ms\n", "AES-256 bulk encrypt", aesMs);
    std::printf("  %-34s %9.1f ms\n", "CRC-32", crcMs);
    std::printf("  round trip intact: %s\n", read.crcMatches && read.text == text ? "yes" : "NO");
    return read.text == text ? 0 : 1;
}
