// What tavro-cli says about a document's text: a read that is doubtful
// (read_judgement.h), and characters a document cannot hold.
#pragma once

#include "code_page_units.h"
#include "read_judgement.h"

#include <string>
#include <string_view>

namespace tavro::cli {

// "doubtful read: REASONS", with a hint at the likely cause: a wrong key when
// only the text's tests failed, damage otherwise.
std::string DoubtfulReadMessage(const ReadJudgement& judgement);

// Refuses text that a document would not keep as written: Check throws
// CliFailure(kExitUsage) naming up to five of the characters a piece of it
// lost ("U+1F600 😀"), unless the refusal is off (--lossy).
class LossGuard {
public:
    LossGuard(bool refuse, std::string source) : refuse_(refuse), source_(std::move(source)) {}
    void Check(const LossyCharacterSet& lost) const;

private:
    bool refuse_;
    std::string source_;
};

} // namespace tavro::cli
