// Waiting for the password dialog's key, which it may make off the UI thread.
#pragma once

#include "password_dialog.h"

#include <gtest/gtest.h>

#include <QTest>

namespace tavro::test {

// Confirms the dialog ("确定") and runs the event loop until its key is made or refused.
inline void ConfirmAndWait(PasswordDialog& dialog)
{
    dialog.OnConfirmPassword();
    EXPECT_TRUE(QTest::qWaitFor([&dialog] { return !dialog.isMakingKey(); }, 60000));
}

} // namespace tavro::test
