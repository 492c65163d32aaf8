// The wait helper the desktop start-up relies on: it returns at once when the desktop is ready, wakes on the
// X event that makes a condition true, and gives up at its timeout with a message that says what is missing.
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QProcess>

#include <cstring>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {
namespace {

class DesktopWaitTest : public ::testing::Test {
protected:
    void SetUp() override { VELARO_REQUIRE_DESKTOP(); }
    static QString helper() { return binDir() + QStringLiteral("/velaro-desktop-wait"); }
};

TEST_F(DesktopWaitTest, ReturnsAtOnceWhenTheDesktopIsReady) {
    const auto result = run(
        helper(), {QStringLiteral("--timeout"), QStringLiteral("5"), QStringLiteral("selection"),
                   QStringLiteral("WM_S0"), QStringLiteral("selection"),
                   QStringLiteral("_NET_SYSTEM_TRAY_S0"), QStringLiteral("selection"),
                   QStringLiteral("_NET_WM_CM_S0"), QStringLiteral("workarea-top"), QStringLiteral("28")});
    EXPECT_EQ(result.exitCode, 0) << result.describe().toStdString();
}

TEST_F(DesktopWaitTest, GivesUpAtTheTimeoutNamingWhatIsMissing) {
    const auto unowned =
        run(helper(), {QStringLiteral("--timeout"), QStringLiteral("0.3"), QStringLiteral("selection"),
                       QStringLiteral("VELARO_NOBODY_OWNS_THIS")});
    EXPECT_EQ(unowned.exitCode, 1) << unowned.describe().toStdString();
    EXPECT_TRUE(unowned.err.contains("the selection VELARO_NOBODY_OWNS_THIS has no owner"))
        << unowned.err.toStdString();

    // One unmet condition among met ones is enough to wait, and it is the one reported.
    const auto wrongTop =
        run(helper(), {QStringLiteral("--timeout"), QStringLiteral("0.3"), QStringLiteral("selection"),
                       QStringLiteral("WM_S0"), QStringLiteral("workarea-top"), QStringLiteral("27")});
    EXPECT_EQ(wrongTop.exitCode, 1) << wrongTop.describe().toStdString();
    EXPECT_TRUE(wrongTop.err.contains("starts at y=28, not 27")) << wrongTop.err.toStdString();
}

TEST_F(DesktopWaitTest, WakesWhenTheSelectionIsClaimed) {
    const QByteArray name = "VELARO_E2E_CLAIM_" + QByteArray::number(QCoreApplication::applicationPid());
    QProcess waiter;
    waiter.start(helper(), {QStringLiteral("--timeout"), QStringLiteral("30"), QStringLiteral("selection"),
                            QString::fromLatin1(name)});
    ASSERT_TRUE(waiter.waitForStarted(5000));
    // Still waiting a moment later: nobody owns the selection yet.
    EXPECT_FALSE(
        waitUntil([&] { return waiter.state() == QProcess::NotRunning; }, std::chrono::milliseconds(300)));

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(connection));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t owner = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, owner, screen->root, -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, name.size(), name.constData()), nullptr);
    ASSERT_NE(atom, nullptr);
    xcb_set_selection_owner(connection, owner, atom->atom, XCB_CURRENT_TIME);
    std::free(atom);
    xcb_flush(connection);

    // Well inside its 30 s timeout: the claim itself woke it.
    const bool finished =
        waitUntil([&] { return waiter.state() == QProcess::NotRunning; }, std::chrono::seconds(5));
    xcb_disconnect(connection);
    if (!finished) waiter.kill();
    waiter.waitForFinished(5000);
    EXPECT_TRUE(finished) << "the helper did not notice the new selection owner";
    EXPECT_EQ(waiter.exitCode(), 0) << waiter.readAllStandardError().toStdString();
}

TEST_F(DesktopWaitTest, RejectsBadArgumentsWithUsage) {
    for (const QStringList& arguments : {QStringList{}, QStringList{QStringLiteral("selection")},
                                         QStringList{QStringLiteral("workarea-top"), QStringLiteral("28px")},
                                         QStringList{QStringLiteral("--timeout"), QStringLiteral("-1"),
                                                     QStringLiteral("selection"), QStringLiteral("WM_S0")},
                                         QStringList{QStringLiteral("root-colour"), QStringLiteral("3a6ea5")},
                                         QStringList{QStringLiteral("sleep")}}) {
        const auto result = run(helper(), arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains("usage:")) << arguments.join(' ').toStdString();
    }
}

TEST_F(DesktopWaitTest, ReportsADisplayItCannotOpen) {
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":9999"));
    const auto result = run(helper(), {QStringLiteral("selection"), QStringLiteral("WM_S0")},
                            std::chrono::seconds(10), environment);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains("cannot open the display ':9999'")) << result.err.toStdString();
}

}  // namespace
}  // namespace velaro::e2e
