// The judgement of a doubtful read (crypto/read_judgement.h) on short notes
// opened with wrong passwords, beside the old guard (the text's round trip
// alone) measured on the same reads, and beside the floor no judgement can
// go below; then its false alarms on real text; then its cost beside the
// reader alone.
//
// The floor. A wrong key deciphers to random bytes. A note of n bytes made
// only of ordinary characters (printable ASCII, tab, line breaks, the euro
// sign, GB2312, the GBK symbols) must be accepted by any judgement that
// never doubts real notes ("k#T]9q" is a fine password, "中文" a fine note),
// so the chance that n random bytes decode to such characters alone is the
// least false acceptance possible. It is computed exactly from the code
// page: with s1 of the 256 bytes an ordinary character alone and s2 of the
// 65,536 byte pairs one ordinary double-byte character,
//   f(0) = 1, f(1) = s1/256, f(n) = s1/256 f(n-1) + s2/65536 f(n-2).
// Goals: at most 0.1% from 16 bytes up; no false alarm at all.
//
// Usage: read_judgement_bench [WRONG-PASSWORDS]   (default 20000 per length)
#include "code_page.h"
#include "document_file.h"
#include "document_stream.h"
#include "key_derivation.h"
#include "read_judgement.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace tavro;
namespace fs = std::filesystem;

// --- Realistic notes -----------------------------------------------------------

const std::vector<std::u16string> kChinese = {
    u"今天", u"明天上午", u"记得", u"买菜", u"开会", u"银行卡", u"密码", u"取钱", u"医院", u"预约", u"老师",
    u"孩子", u"家长会", u"周末", u"去公园", u"电话", u"号码", u"地址", u"北京市", u"朝阳区", u"上海", u"火车票",
    u"八点半", u"出发", u"注意", u"身体", u"生日快乐", u"妈妈", u"爸爸", u"工资", u"房租", u"水电费", u"快递",
    u"取件码", u"会议室", u"项目", u"进度", u"报告", u"周一", u"提交", u"钥匙", u"在抽屉里", u"备忘", u"账号",
    u"邮箱", u"登录", u"验证码", u"二〇二四年", u"三月", u"十五日", u"，", u"。", u"：", u"；", u"！", u"“", u"”",
    u"、", u"（", u"）", u"…", u"—", u"第一", u"第二", u"想法", u"读书笔记", u"天气很好", u"心情",
};
const std::vector<std::u16string> kEnglish = {
    u"meeting", u"tomorrow", u"buy", u"milk", u"bank", u"account", u"password", u"call", u"mom", u"dentist",
    u"at", u"the", u"office", u"remember", u"to", u"send", u"report", u"wifi", u"home", u"code", u"door",
    u"key", u"under", u"mat", u"pin", u"login", u"email", u"notes", u"todo", u"done", u"card", u"user",
};

std::u16string Digits(std::mt19937& rng, std::size_t n)
{
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char16_t>(u'0' + rng() % 10);
    return s;
}

// A note of kind 0 (digits: PINs and numbers), 1 (ASCII words and numbers,
// as password lists are kept) or 2 (Chinese with some digits), exactly
// bytes long in code page 936.
std::u16string MakeNote(std::mt19937& rng, int kind, std::size_t bytes)
{
    std::u16string note;
    auto size = [&note] { return EncodeCodePage(note).size(); };
    while (size() < bytes) {
        const std::size_t room = bytes - size();
        std::u16string piece;
        if (kind == 0) {
            piece = Digits(rng, std::min<std::size_t>(room, 4 + rng() % 3));
            if (room > piece.size() + 1 && rng() % 2)
                piece += rng() % 3 ? u' ' : u'\n';
        } else if (kind == 1) {
            static const std::u16string kSeparators[] = {u": ", u"\n", u" ", u" "};
            switch (rng() % 3) {
            case 0: piece = kEnglish[rng() % kEnglish.size()]; break;
            case 1: piece = Digits(rng, 4); break;
            default: piece = kSeparators[rng() % 4]; break;
            }
        } else {
            piece = rng() % 5 == 0 ? Digits(rng, 2) : kChinese[rng() % kChinese.size()];
        }
        if (EncodeCodePage(note + piece).size() > bytes)
            piece = Digits(rng, room); // fill the rest exactly
        note += piece;
    }
    return note;
}

std::u16string RandomPassword(std::mt19937& rng)
{
    std::u16string password;
    for (std::size_t n = 4 + rng() % 9; n > 0; --n)
        password += static_cast<char16_t>(0x21 + rng() % 94);
    return password;
}

// --- The floor ---------------------------------------------------------------------

bool OrdinaryAlone(const std::vector<std::uint8_t>& bytes)
{
    const std::u16string text = DecodeCodePage(bytes);
    ReadJudge judge;
    judge.AddText(text);
    judge.AddPlaintext(bytes);
    const ReadJudgement j = judge.Finish(0, 0, true);
    return j.clean() && j.characters == 1 && j.rare == 0;
}

std::vector<double> Floors(std::size_t longest)
{
    double s1 = 0, s2 = 0;
    for (unsigned b = 0; b < 256; ++b)
        s1 += OrdinaryAlone({static_cast<std::uint8_t>(b)});
    for (unsigned lead = 0x81; lead < 0xFF; ++lead)
        for (unsigned trail = 0; trail < 256; ++trail)
            s2 += OrdinaryAlone({static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)});
    std::vector<double> f(longest + 1);
    f[0] = 1;
    f[1] = s1 / 256;
    for (std::size_t n = 2; n <= longest; ++n)
        f[n] = s1 / 256 * f[n - 1] + s2 / 65536 * f[n - 2];
    std::printf("ordinary: %.0f of 256 single bytes, %.0f of 65536 byte pairs\n", s1, s2);
    return f;
}

// --- Real text -----------------------------------------------------------------------

std::u16string Utf8ToUtf16(const std::string& in)
{
    std::u16string out;
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? b : b & (0x3F >> (length - 1));
        for (int k = 1; k < length && i + static_cast<std::size_t>(k) < in.size(); ++k)
            c = c << 6 | (static_cast<unsigned char>(in[i + static_cast<std::size_t>(k)]) & 0x3F);
        i += static_cast<std::size_t>(length);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

struct RealTexts {
    const char* kind;
    std::vector<std::u16string> texts;
};

std::vector<RealTexts> CollectRealTexts(std::mt19937& rng)
{
    std::vector<RealTexts> all = {{"notes: PINs and numbers", {}},
                                  {"notes: passwords, ASCII words", {}},
                                  {"notes: Chinese", {}},
                                  {"source code of this project", {}},
                                  {"English prose (README)", {}}};
    for (int kind = 0; kind < 3; ++kind)
        for (std::size_t bytes = 1; bytes <= 400; ++bytes)
            for (int i = 0; i < 10; ++i)
                all[static_cast<std::size_t>(kind)].texts.push_back(MakeNote(rng, kind, bytes));
    for (const char* folder : {"crypto", "cli", "editor", "platform", "dialogs", "bench", "tests/crypto", "tests/cli"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(fs::path(TAVRO_SOURCE_DIR) / folder, error)) {
            std::ifstream in(entry.path(), std::ios::binary);
            all[3].texts.push_back(Utf8ToUtf16({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}));
        }
    }
    std::ifstream readme(fs::path(TAVRO_SOURCE_DIR) / "README.md", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(readme), std::istreambuf_iterator<char>()};
    for (std::size_t at = 0; at < text.size(); at = text.find("\n\n", at + 1)) { // paragraph by paragraph
        const std::size_t end = text.find("\n\n", at + 1);
        all[4].texts.push_back(Utf8ToUtf16(text.substr(at, end == std::string::npos ? end : end - at)));
        if (end == std::string::npos)
            break;
    }
    return all;
}

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

int main(int argc, char** argv)
{
    const long trials = argc > 1 ? std::max(1L, std::atol(argv[1])) : 20000;
    std::mt19937 rng(20240915);
    const std::vector<double> floor = Floors(48);

    std::printf("\nwrong passwords on short notes, %ld per length (digits, ASCII words, Chinese by turns)\n", trials);
    std::printf("%6s | %16s | %16s | %10s | %s\n", "bytes", "old guard", "judgement", "floor", "goal <= 0.1% from 16 bytes");
    bool goalsMet = true;
    for (std::size_t bytes : {1, 6, 16, 32, 48}) {
        long oldAccepted = 0, accepted = 0;
        for (long i = 0; i < trials; ++i) {
            const std::u16string note = MakeNote(rng, static_cast<int>(i % 3), bytes);
            DocumentKey right{}, wrong{};
            DeriveKeyFromPassword(RandomPassword(rng), right);
            DeriveKeyFromPassword(RandomPassword(rng), wrong);
            const std::vector<std::uint8_t> file = EncryptDocument(note, right);
            const DecryptedDocument read = DecryptDocument(file, wrong);
            oldAccepted += read.crcMatches && read.textRoundTrips;
            accepted += read.judgement.clean();
        }
        const double rate = 100.0 * static_cast<double>(accepted) / static_cast<double>(trials);
        const bool met = bytes < 16 || rate <= 0.1;
        goalsMet &= met;
        std::printf("%6zu | %6ld %8.3f%% | %6ld %8.3f%% | %9.2e%% | %s\n", bytes, oldAccepted,
                    100.0 * static_cast<double>(oldAccepted) / static_cast<double>(trials), accepted, rate,
                    100.0 * floor[bytes], bytes < 16 ? "(at the floor is all one can do)" : met ? "met" : "MISSED");
    }

    std::printf("\nfalse alarms on real text, each saved and read back with its own key\n");
    DocumentKey key{};
    DeriveKeyFromPassword(u"right", key);
    for (const RealTexts& real : CollectRealTexts(rng)) {
        long alarms = 0;
        std::uint64_t characters = 0, rare = 0;
        for (const std::u16string& text : real.texts) {
            const DecryptedDocument read = DecryptDocument(EncryptDocument(text, key), key);
            alarms += !read.judgement.clean();
            characters += read.judgement.characters;
            rare += read.judgement.rare;
            if (!read.judgement.clean() && alarms <= 3)
                std::printf("  alarm (%s): %s\n", real.kind, DescribeDoubts(read.judgement.doubts).c_str());
        }
        goalsMet &= alarms == 0;
        std::printf("  %-32s %6zu texts, %9llu characters (%llu rare): %ld false alarms\n", real.kind,
                    real.texts.size(), static_cast<unsigned long long>(characters),
                    static_cast<unsigned long long>(rare), alarms);
    }

    // Cost: an 8 MB Chinese document read with the judgement, beside the
    // reader alone and the reader with the old round-trip guard.
    std::u16string text;
    while (text.size() < (4u << 20))
        text += text.size() % 61 == 60 ? u'\n' : kChinese[rng() % kChinese.size()][0];
    const std::vector<std::uint8_t> file = EncryptDocument(text, key);
    const double judged = BestMs([&] {
        JudgedReader reader(key, [](std::u16string_view) {});
        reader.Read(file);
        (void)reader.Finish();
    });
    const double alone = BestMs([&] {
        DocumentReader reader(key, [](std::u16string_view) {});
        reader.Read(file);
        (void)reader.Finish();
    });
    const double oldGuard = BestMs([&] {
        CodePageMatch match;
        DocumentReader reader(key, [&match](std::u16string_view piece) { match.AddText(piece); });
        reader.SetPlaintextSink([&match](std::span<const std::uint8_t> bytes) { match.AddBytes(bytes); });
        reader.Read(file);
        (void)reader.Finish();
        (void)match.Finish();
    });
    std::printf("\nreading an %.1f MB document: reader alone %.1f ms, with the round trip %.1f ms, "
                "with the judgement %.1f ms\n",
                static_cast<double>(file.size()) / 1e6, alone, oldGuard, judged);
    std::printf("\ngoals %s\n", goalsMet ? "met" : "MISSED");
    return goalsMet ? 0 : 1;
}
