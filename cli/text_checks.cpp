#include "text_checks.h"

#include "exit_codes.h"

#include <cstdio>

namespace tavro::cli {
namespace {

constexpr std::size_t kNamedAtMost = 5;

// The character as UTF-8, or nothing for one that would not show (a control
// character or a lone surrogate).
std::string Shown(char32_t c)
{
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return {};
    std::string out;
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
    return " " + out;
}

} // namespace

std::string DoubtfulReadMessage(const ReadJudgement& judgement)
{
    const bool textOnly = (judgement.doubts & kFileDoubts) == 0;
    return "doubtful read: " + DescribeDoubts(judgement.doubts) +
           (textOnly ? " (most likely the wrong password or key file)" : " (the file is damaged or no document)");
}

void LossGuard::Check(const LossyCharacterSet& lossy) const
{
    if (!refuse_ || lossy.empty())
        return;
    const std::u32string lost = lossy.Characters();
    std::string named;
    for (std::size_t i = 0; i < lost.size() && i < kNamedAtMost; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(lost[i]));
        named += (i > 0 ? ", " : "") + std::string(code) + Shown(lost[i]);
    }
    if (lost.size() > kNamedAtMost)
        named += ", ...";
    throw CliFailure(kExitUsage, source_ + " holds characters code page 936 cannot store: " + named +
                                     "; nothing was written (--lossy writes each as \"?\")");
}

} // namespace tavro::cli
