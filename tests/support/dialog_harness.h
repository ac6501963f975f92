// A dialog on screen with scripted prompts, as a caller runs it, and a way
// to tell how it was closed.
#pragma once

#include <QDialog>

namespace tavro::test {

inline constexpr int kNoResult = 42; // a result code no closing path sets

template <class Dialog, class PromptsType>
struct DialogHarness {
    DialogHarness()
    {
        dialog.show();
        dialog.setResult(kNoResult);
    }
    // Closed, with the cancel code every closing path of these dialogs uses.
    bool ClosedWithCancelCode() const
    {
        return !dialog.isVisible() && dialog.result() == QDialog::Rejected;
    }

    PromptsType prompts;
    Dialog dialog{prompts};
};

} // namespace tavro::test
