// The client list read off the main loop, against the real server: the facts of each window are read once
// and handed to the session's other readers until a notice says they changed, the apps of new programs are
// named with them, and the session ends while its readers wait on a server another client holds, or while
// they read a long list in parts. (Run under ThreadSanitizer, the last shows the readers end without a race.)
#include "platform/linux/X11ListedClients.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/X11Session.h"
#include "platform/linux/X11WindowList.h"
#include "platform/linux/XdgAppCatalog.h"

namespace velaro::x11 {
namespace {

using namespace std::chrono_literals;

// Windows of a client of the test's own, each of a program of its own (a process id no process has and a
// class named after it), which the test lists itself in the root's client list after what is listed there;
// they leave the list when they go. Each change of the list is made whole while the server answers nobody
// else, so that one the window manager makes meanwhile is kept.
class OwnClients {
public:
    explicit OwnClients(int count) : x_(Connection::open()) {
        if (!x_) return;
        auto* c = x_->get();
        for (int i = 0; i < count; ++i) {
            const xcb_window_t w = xcb_generate_id(c);
            xcb_create_window(c, XCB_COPY_FROM_PARENT, w, x_->root(), 0, 0, 10, 10, 0,
                              XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
            const std::uint32_t pid = 6000000 + static_cast<std::uint32_t>(i);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, x_->atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                                1, &pid);
            setClass(w, "Listed" + std::to_string(i));
            windows_.push_back(w);
        }
        sync();
    }
    ~OwnClients() {
        if (!x_) return;
        list({});
        for (auto w : windows_) xcb_destroy_window(x_->get(), w);
        sync();
    }
    explicit operator bool() const { return x_ && !x_->broken(); }
    const std::vector<xcb_window_t>& windows() const { return windows_; }
    Connection& connection() { return *x_; }

    // Lists `ours` after what others list, and none of this client's other windows.
    void list(std::vector<xcb_window_t> ours) {
        xcb_grab_server(x_->get());
        auto all = rootWindowList(*x_, "_NET_CLIENT_LIST");
        std::erase_if(all, [&](xcb_window_t w) {
            return std::find(windows_.begin(), windows_.end(), w) != windows_.end();
        });
        all.insert(all.end(), ours.begin(), ours.end());
        xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, x_->root(), x_->atom("_NET_CLIENT_LIST"),
                            XCB_ATOM_WINDOW, 32, std::uint32_t(all.size()), all.data());
        xcb_ungrab_server(x_->get());
        sync();
    }
    void listAll() { list(windows_); }
    void setClass(xcb_window_t w, const std::string& cls) {
        const std::string value = "listed" + std::string(1, '\0') + cls + std::string(1, '\0');
        xcb_change_property(x_->get(), XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            std::uint32_t(value.size()), value.data());
    }
    // A round trip: every request before it has been carried out.
    void sync() { std::free(xcb_get_input_focus_reply(x_->get(), xcb_get_input_focus(x_->get()), nullptr)); }

private:
    std::unique_ptr<Connection> x_;
    std::vector<xcb_window_t> windows_;
};

// Waits for `condition` while the main thread's deliveries go on; false when it did not come within `within`.
template <class Condition>
bool waitFor(Condition condition, std::chrono::milliseconds within = 10s) {
    const auto end = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class ListedClientsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
        holder = Connection::open();
        if (!holder) GTEST_SKIP() << "no X server to talk to";
        // One of these tests at a time on a desktop (the runner starts them side by side in processes of
        // their own): every session reads the whole list, and another test's thousand windows of made-up
        // processes would make this one's identity look for ended processes and forget the made-up ones too.
        std::string display = std::getenv("DISPLAY");
        std::replace(display.begin(), display.end(), '/', '_');
        const std::string name = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                                 "/velaro-tests-client-list-" + display;
        desktopTurn_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(desktopTurn_, 0) << name;
        ASSERT_EQ(::flock(desktopTurn_, LOCK_EX), 0);
    }
    void TearDown() override {
        if (desktopTurn_ >= 0) ::close(desktopTurn_);
    }
    std::unique_ptr<X11Session> openSession() {
        return X11Session::open(
            {}, [] { return 1.0; }, catalog);
    }
    // Another client holds the server: it answers nobody else meanwhile.
    void grab() {
        xcb_grab_server(holder->get());
        std::free(xcb_get_input_focus_reply(holder->get(), xcb_get_input_focus(holder->get()), nullptr));
    }
    void ungrab() {
        xcb_ungrab_server(holder->get());
        std::free(xcb_get_input_focus_reply(holder->get(), xcb_get_input_focus(holder->get()), nullptr));
    }

    XdgAppCatalog catalog{std::vector<std::string>{"/nonexistent"}};
    std::unique_ptr<Connection> holder;

private:
    int desktopTurn_ = -1;
};

// A window's process, types and class are read once by the client list, with its app named there, and the
// other readers take that reading; a window whose facts changed is left out until the list has read it
// again, however long the server then keeps the list from reading.
TEST_F(ListedClientsTest, OtherReadersTakeTheLastReadingUntilAWindowsFactsChange) {
    OwnClients own(3);
    ASSERT_TRUE(own);
    own.listAll();
    auto session = openSession();
    ASSERT_TRUE(session);
    const xcb_window_t changed = own.windows()[0], kept = own.windows()[1];
    const auto* facts = session->clients().current().find(changed);
    ASSERT_NE(facts, nullptr) << "the first reading is made as the session opens";
    EXPECT_EQ(facts->pid, 6000000);
    EXPECT_EQ(facts->windowClass, "Listed0");
    EXPECT_EQ(facts->appId, "Listed0") << "no entry names it: its class";
    EXPECT_EQ(facts->appName, "Listed0");
    EXPECT_EQ(session->clients().reading()->find(changed)->appId, "Listed0");

    // Followed for changes, as a service that watches a window has it.
    auto followed = session->selectEvents(changed, XCB_EVENT_MASK_PROPERTY_CHANGE);
    auto* desktop = session->desktop().get();
    std::free(xcb_get_input_focus_reply(desktop, xcb_get_input_focus(desktop), nullptr));
    own.setClass(changed, "Renamed");
    own.sync();
    grab();
    const bool leftOut = waitFor([&] { return session->clients().current().find(changed) == nullptr; });
    // The reading the notice asked for cannot go on while the server is held.
    std::this_thread::sleep_for(100ms);
    const bool stillLeftOut = session->clients().current().find(changed) == nullptr;
    const bool othersKept = session->clients().current().find(kept) != nullptr;
    ungrab();
    EXPECT_TRUE(leftOut) << "the changed window's old facts were still handed out";
    EXPECT_TRUE(stillLeftOut);
    EXPECT_TRUE(othersKept) << "an unchanged window's facts are still current";
    EXPECT_TRUE(waitFor([&] {
        const auto* now = session->clients().current().find(changed);
        return now && now->windowClass == "Renamed";
    })) << "the changed window was not read again";
    EXPECT_EQ(session->clients().current().find(changed)->appId, "Listed0")
        << "a process keeps the app its first window named";
}

// The app's end while its readers wait on a server another client holds: the session stops reading first,
// and neither the window list nor the client list waits for the server to answer.
TEST_F(ListedClientsTest, TheSessionsEndDoesNotWaitForAHeldServer) {
    OwnClients own(2);
    ASSERT_TRUE(own);
    auto session = openSession();
    ASSERT_TRUE(session);
    auto list = std::make_unique<X11WindowList>(*session);
    ASSERT_TRUE(waitFor([&] { return !list->snapshot().empty(); }));
    // Changes both readers hear of (a new window, the client list rewritten), then the server held before
    // they can read them.
    OwnClients more(1);
    own.listAll();
    grab();
    std::thread snapshot([&] { list->snapshot(); });  // asks the list's thread to read, and waits a moment
    snapshot.join();
    std::atomic<bool> ended{false}, released{false};
    std::thread release([&] {
        // An end that waits on the server would wait as long as the grab: end it rather than hang the test.
        for (int i = 0; i < 10000 && !ended; ++i) std::this_thread::sleep_for(1ms);
        ungrab();
        released = !ended;
    });
    session->stopReading();
    list.reset();
    session.reset();
    ended = true;
    release.join();
    EXPECT_FALSE(released) << "the end waited until the server answered again";
}

// Sessions that end while their client list is read in parts, right after a rewrite of a long list: each
// ends promptly and cleanly (the end once raced with the reading over how the reading hands its lists on).
TEST_F(ListedClientsTest, ASessionEndsWhileItsListIsReadInParts) {
    OwnClients own(static_cast<int>(ListedClients::kLookUpsPerReading) * 2 + 100);
    ASSERT_TRUE(own);
    for (int round = 0; round < 6; ++round) {
        own.list({});
        auto session = openSession();
        ASSERT_TRUE(session);
        own.listAll();
        // The reading is under way (or about to be) as the session goes: ends at once, mid-part or between.
        std::this_thread::sleep_for(std::chrono::milliseconds(50 + 20 * round));
        const auto began = std::chrono::steady_clock::now();
        session.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - began, 2s);
    }
}

}  // namespace
}  // namespace velaro::x11
