#include "recovery_seal.h"

#include <gtest/gtest.h>

#include <functional>

namespace tavro {
namespace {

SessionKey TvroKey(char digit)
{
    KeyHolder key;
    key.bytes().fill(static_cast<std::uint8_t>(digit));
    return SessionKey(std::move(key));
}

// A copy opens with its document's key and path only, and not once any byte changed.
TEST(RecoverySeal, OpensForItsKeyAndDocumentOnly)
{
    const std::u16string text = u"恢复 a\U0001F600b\u0915 \r\n";
    const std::vector<std::uint8_t> sealed = SealRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", text);
    ASSERT_EQ(sealed.size(), kRecoveryOverhead + text.size() * 2);
    EXPECT_EQ(OpenRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", sealed), text);
    EXPECT_NE(SealRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", text), sealed); // a fresh nonce each time

    const struct {
        const char* what;
        std::function<bool(std::vector<std::uint8_t>&)> open;
    } refused[] = {
        {"another key", [](auto& b) { return OpenRecoveryCopy(TvroKey('2'), "/home/u/a.tvro", b).has_value(); }},
        {"another document", [](auto& b) { return OpenRecoveryCopy(TvroKey('1'), "/home/u/b.tvro", b).has_value(); }},
        {"a strong key", [](auto& b) { return OpenRecoveryCopy(SessionKey(StrongKeyHolder()), "/home/u/a.tvro", b).has_value(); }},
        {"magic", [](auto& b) { b[0] ^= 1; return OpenRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", b).has_value(); }},
        {"nonce", [](auto& b) { b[8] ^= 1; return OpenRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", b).has_value(); }},
        {"tag", [](auto& b) { b.back() ^= 1; return OpenRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", b).has_value(); }},
        {"truncated", [](auto& b) { b.pop_back(); return OpenRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", b).has_value(); }},
        {"too short", [](auto& b) { b.resize(kRecoveryOverhead - 1); return OpenRecoveryCopy(TvroKey('1'), "/home/u/a.tvro", b).has_value(); }},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        std::vector<std::uint8_t> bytes = sealed;
        EXPECT_FALSE(r.open(bytes));
    }
}

} // namespace
} // namespace tavro
