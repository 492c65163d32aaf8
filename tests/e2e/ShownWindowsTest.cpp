// Learning when shown windows have their first picture, against the test desktop: the block runs after the
// window shown before it was exposed and painted, blocks asked for together run once each in order, and a
// block runs even when nothing was shown.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "platform/linux/X11ShownWindows.h"

namespace velaro::e2e {
namespace {

class CountingWindow final : public QRasterWindow {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(0x20, 0x80, 0x40));
    }
};

xcb_connection_t* toolkitConnection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

TEST(ShownWindowsTest, BlocksRunInOrderAfterTheWindowShownBeforeThemWasExposedAndPainted) {
    VELARO_REQUIRE_DESKTOP();
    QtMainLoop loop;
    X11ShownWindows shown(toolkitConnection(), loop);
    CountingWindow window;
    window.setFlags(Qt::FramelessWindowHint | Qt::BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
    window.setGeometry(200, 300, 160, 90);
    window.show();
    std::vector<std::pair<int, bool>> seen;  // the paints and the exposure each block found
    for (int i = 0; i < 2; ++i)
        shown.afterShown([&] { seen.emplace_back(window.paints, window.isExposed()); });
    EXPECT_TRUE(seen.empty()) << "nothing runs before the server has answered";
    ASSERT_TRUE(waitUntil([&] { return seen.size() >= 2; })) << "the blocks never ran";
    for (const auto& [paints, exposed] : seen) {
        EXPECT_TRUE(exposed);
        EXPECT_GE(paints, 1) << "a block ran before the window's first picture";
    }
    // Once each: later turns bring no second run.
    waitUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(seen.size(), 2u);
}

TEST(ShownWindowsTest, ABlockRunsWhenNothingWasShownAndAgainForALaterAsk) {
    VELARO_REQUIRE_DESKTOP();
    QtMainLoop loop;
    X11ShownWindows shown(toolkitConnection(), loop);
    int runs = 0;
    shown.afterShown([&] { ++runs; });
    ASSERT_TRUE(waitUntil([&] { return runs == 1; }));
    shown.afterShown([&] { ++runs; });
    ASSERT_TRUE(waitUntil([&] { return runs == 2; })) << "a second marker never came back";
}

TEST(ShownWindowsTest, AMarkerThatNeverComesBackStillLetsTheBlocksRunWithinASecondOrSo) {
    VELARO_REQUIRE_DESKTOP();
    QtMainLoop loop;
    // A connection nobody reads: the marker's event stays there, as a lost one would.
    xcb_connection_t* unread = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(unread), 0);
    {
        X11ShownWindows shown(unread, loop);
        bool ran = false;
        shown.afterShown([&] { ran = true; });
        EXPECT_TRUE(waitUntil([&] { return ran; }, std::chrono::seconds(5))) << "the blocks waited for good";
    }
    xcb_disconnect(unread);
}

TEST(ShownWindowsTest, WithoutAConnectionTheBlockRunsOnTheNextTurn) {
    VELARO_REQUIRE_DESKTOP();
    QtMainLoop loop;
    X11ShownWindows shown(nullptr, loop);
    bool ran = false;
    shown.afterShown([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(waitUntil([&] { return ran; }));
}

}  // namespace
}  // namespace velaro::e2e
