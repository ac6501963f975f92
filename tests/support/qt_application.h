// A QApplication for GUI tests: include this header in one source file of a
// test executable and the application exists while the tests run (set up
// before the first test, destroyed after the last, in a GoogleTest global
// environment, so GTest::gtest_main stays the entry point).
//
// Without QT_QPA_PLATFORM the offscreen platform is chosen, so the tests run
// the same from CTest, a shell or CI. Qt's standard paths are put in test
// mode: nothing a test does reaches the user's own Qt settings.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStandardPaths>

#include <memory>

namespace tavro::test {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QStandardPaths::setTestModeEnabled(true);
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    // QApplication keeps references to both for its whole life.
    char m_name[16] = "tavro-gui-test";
    char* m_argv[2] = {m_name, nullptr};
    int m_argc = 1;
    std::unique_ptr<QApplication> m_app;
};

// Registered once per executable, however many files include the header.
inline ::testing::Environment* const kQtApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace tavro::test
