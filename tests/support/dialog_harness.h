// A dialog on screen with scripted prompts, as a caller runs it, and a way
// to tell how it was closed.
#pragma once

#include <QDialog>

#include <utility>

namespace tavro::test {

inline constexpr int kNoResult = 42; // a result code no closing path sets

template <class Dialog, class PromptsType>
struct DialogHarness {
    // args: what the dialog takes before its prompts.
    template <class... Args>
    explicit DialogHarness(Args&&... args) : dialog(std::forward<Args>(args)..., prompts)
    {
        dialog.show();
        dialog.setResult(kNoResult);
    }
    // Closed with the given result code.
    bool ClosedWith(int result) const { return !dialog.isVisible() && dialog.result() == result; }
    bool ClosedWithCancelCode() const { return ClosedWith(QDialog::Rejected); }

    PromptsType prompts;
    Dialog dialog;
};

} // namespace tavro::test
