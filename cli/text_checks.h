// What tavro-cli says about a document's text: a read that is doubtful
// (read_judgement.h), and characters a document cannot hold.
#pragma once

#include "read_judgement.h"

#include <string>
#include <string_view>

namespace tavro::cli {

// "doubtful read: REASONS", with a hint at the likely cause: a wrong key when
// only the text's tests failed, damage otherwise.
std::string DoubtfulReadMessage(const ReadJudgement& judgement);

// Refuses text that a document would not keep as written: Check throws
// CliFailure(kExitUsage) naming up to five such characters of the piece
// ("U+1F600 😀"), unless the refusal is off (--lossy).
class LossGuard {
public:
    LossGuard(bool refuse, std::string source) : refuse_(refuse), source_(std::move(source)) {}
    void Check(std::u16string_view piece) const;

private:
    bool refuse_;
    std::string source_;
};

} // namespace tavro::cli
