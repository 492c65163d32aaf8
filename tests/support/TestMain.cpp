// Entry point of every unit-test executable: a Qt application on the offscreen platform, then GoogleTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>
#include <cstdlib>

namespace {

// Tests show widgets without running the toolkit's loop, so the window system's reports of them (each shown
// window is activated) wait in its queue after the test has ended and its windows are gone. The next test
// that runs a loop of its own (a menu's, a dialog's) would receive them: an activation of a window that no
// longer exists leaves the application inactive, and Qt closes every open pop-up. Each test takes its own
// reports with it.
class DeliverPendingWindowEvents final : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override { QCoreApplication::processEvents(); }
};

}  // namespace

int main(int argc, char** argv) {
    // Views render offscreen; a test run never needs (or touches) a display.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // As in the app: a session's end cuts its connections' receiving side, the server then drops the client,
    // and a request still sent after that must fail with EPIPE rather than kill the process.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new DeliverPendingWindowEvents);
    return RUN_ALL_TESTS();
}
