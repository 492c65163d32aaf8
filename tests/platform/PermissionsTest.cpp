// What the session has, as the X11 probes tell it where they must say no, the sound server's addresses and
// sockets, the help page's sections; and the watch that keeps the last answers without piling up checks.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <cstring>
#include <map>
#include <optional>

#include "platform/linux/X11Permissions.h"
#include "support/FakePermissions.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

X11Permissions::Environment environment(std::map<std::string, std::string> vars) {
    return [vars](const char* name) -> std::optional<std::string> {
        if (auto it = vars.find(name); it != vars.end()) return it->second;
        return std::nullopt;
    };
}

// What one check answers, run until the loop is idle.
std::optional<bool> answerOf(Permissions& permissions, test::VirtualLoop& loop, Capability capability) {
    std::optional<bool> answer;
    permissions.check(capability, [&](bool present) { answer = present; });
    loop.runUntilIdle();
    return answer;
}

// A listening socket of the test's own, closed with it.
class Listener {
public:
    // A local socket at `path`.
    explicit Listener(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ok_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(fd_, 4) == 0;
    }
    // A TCP socket on the loopback, on a port the system picks.
    Listener() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ok_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
              ::listen(fd_, 4) == 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0;
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool ok() const { return ok_; }
    int port() const { return port_; }

private:
    int fd_;
    bool ok_ = false;
    int port_ = 0;
};

TEST(X11PermissionsTest, WithoutAnXServerTheXServersAnswersAreNoAndComeAtOnce) {
    test::VirtualLoop loop;
    X11Permissions permissions(nullptr, loop, environment({}));
    for (const Capability c : {Capability::x11Session, Capability::compositor, Capability::windowManager}) {
        std::optional<bool> answer;
        permissions.check(c, [&](bool present) { answer = present; });
        EXPECT_EQ(answer, false) << "answered before check() returns: " << int(c);
    }
}

TEST(X11PermissionsTest, AWaylandSessionIsNoX11SessionWhateverItsXServerSays) {
    // The display is never asked: the answer comes from the session type alone.
    test::VirtualLoop loop;
    X11Permissions byType(nullptr, loop, environment({{"XDG_SESSION_TYPE", "wayland"}}));
    EXPECT_EQ(answerOf(byType, loop, Capability::x11Session), false);
    X11Permissions byDisplay(nullptr, loop, environment({{"WAYLAND_DISPLAY", "wayland-0"}}));
    EXPECT_EQ(answerOf(byDisplay, loop, Capability::x11Session), false);
}

TEST(X11PermissionsTest, MediaPlayersAreTheBusNamesOfMpris) {
    EXPECT_TRUE(X11Permissions::namesMediaPlayer(
        {QStringLiteral(":1.4"), QStringLiteral("org.mpris.MediaPlayer2.vlc.instance42")}));
    EXPECT_FALSE(X11Permissions::namesMediaPlayer({QStringLiteral("org.freedesktop.DBus"),
                                                   QStringLiteral("org.mpris.MediaPlayer2"),
                                                   QStringLiteral("org.mpris.Other.player")}));
    EXPECT_FALSE(X11Permissions::namesMediaPlayer({}));
}

TEST(X11PermissionsTest, TheSoundServerIsLookedForWhereClientsLookForIt) {
    test::VirtualLoop loop;
    // Named: every address of the list, in order, and nothing else.
    X11Permissions named(nullptr, loop,
                         environment({{"PULSE_SERVER", "unix:/tmp/a/native  tcp:media.lan:4713"},
                                      {"XDG_RUNTIME_DIR", "/run/user/1000"}}));
    EXPECT_EQ(named.soundServerAddresses(),
              (std::vector<std::string>{"unix:/tmp/a/native", "tcp:media.lan:4713"}));
    // Unnamed: the user's socket, then the system's.
    X11Permissions usual(
        nullptr, loop,
        environment({{"PULSE_RUNTIME_PATH", "/tmp/pulse-x"}, {"XDG_RUNTIME_DIR", "/run/user/7"}}));
    EXPECT_EQ(
        usual.soundServerAddresses(),
        (std::vector<std::string>{"/tmp/pulse-x/native", "/run/user/7/pulse/native", "/run/pulse/native"}));
}

TEST(X11PermissionsTest, ASoundServerIsThereOnlyWhileItsSocketTakesConnections) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/native";
    const auto listens = [](const std::string& address) {
        return X11Permissions::soundServerListens(address, std::chrono::milliseconds(200));
    };
    EXPECT_FALSE(listens(path)) << "no socket";
    Listener server(path);
    ASSERT_TRUE(server.ok());
    EXPECT_TRUE(listens(path));
    EXPECT_TRUE(listens("unix:" + path));
    EXPECT_TRUE(listens("{0123abcd}unix:" + path));
    server.close();
    EXPECT_FALSE(listens(path)) << "the socket file a server left behind when it died";

    Listener network;
    ASSERT_TRUE(network.ok());
    EXPECT_TRUE(listens("tcp:127.0.0.1:" + std::to_string(network.port())));
    EXPECT_TRUE(listens("127.0.0.1:" + std::to_string(network.port())));
    EXPECT_TRUE(listens("tcp4:[127.0.0.1]:" + std::to_string(network.port())));
    const int port = network.port();
    network.close();
    EXPECT_FALSE(listens("tcp:127.0.0.1:" + std::to_string(port))) << "refused";
    EXPECT_FALSE(listens("{unterminated"));
    EXPECT_FALSE(listens("tcp:"));
}

TEST(X11PermissionsTest, TheSoundServerIsAskedOffTheCallerAndAnswersOnTheLoop) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/native";
    test::VirtualLoop loop;
    X11Permissions permissions(nullptr, loop, environment({{"PULSE_SERVER", "/nowhere/native " + path}}));
    std::optional<bool> answer;
    permissions.check(Capability::soundServer, [&](bool present) { answer = present; });
    EXPECT_FALSE(answer.has_value()) << "the caller does not wait for the server";
    loop.runUntilIdle();
    EXPECT_EQ(answer, false);

    Listener server(path);
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(answerOf(permissions, loop, Capability::soundServer), true) << "the second address listens";
}

class HelpPageTest : public ::testing::Test {
protected:
    void SetUp() override { permissions.setDataDirectories({dir.path() + "/home", dir.path()}); }
    void install() {
        QDir().mkpath(dir.path() + "/velaro/help");
        QFile f(dir.path() + "/velaro/help/" + X11Permissions::helpPageName);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html></html>");
    }

    QTemporaryDir dir;
    test::VirtualLoop loop;
    QList<QUrl> opened;
    X11Permissions permissions{nullptr, loop, environment({}), [this](const QUrl& url) {
                                   opened.push_back(url);
                                   return true;
                               }};
};

TEST_F(HelpPageTest, EachCapabilityOpensItsSectionOfTheInstalledPage) {
    install();
    EXPECT_TRUE(permissions.openHelp(Capability::compositor));
    EXPECT_TRUE(permissions.openHelp(Capability::soundServer));
    ASSERT_EQ(opened.size(), 2);
    QUrl page = QUrl::fromLocalFile(dir.path() + "/velaro/help/what-it-needs.html");
    page.setFragment(QStringLiteral("compositor"));
    EXPECT_EQ(opened[0], page);
    EXPECT_EQ(opened[1].fragment(), QStringLiteral("sound-server"));
}

TEST_F(HelpPageTest, AMissingPageOpensNothingAndSaysSo) {
    EXPECT_FALSE(permissions.openHelp(Capability::x11Session));
    EXPECT_TRUE(opened.isEmpty());
}

TEST(HelpPage, TheShippedPageIsFoundAndHasASectionForEveryCapability) {
    // Found as the app finds it: the build mirrors it into the share/ folder beside bin/.
    test::VirtualLoop loop;
    const X11Permissions permissions(nullptr, loop, environment({}));
    QFile page(permissions.helpPage(Capability::x11Session).toLocalFile());
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    for (const Capability c : allCapabilities)
        EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(X11Permissions::helpSection(c))))
            << X11Permissions::helpSection(c).toStdString();
}

// ---- the watch ----

struct WatchRig {
    test::FakePermissions permissions;
    std::optional<CapabilityWatch> watch;
    std::vector<CapabilityStatuses> published;
    Subscription subscription;

    CapabilityWatch& make() {
        watch.emplace(permissions);
        subscription =
            watch->statuses().changes().sink([this](const CapabilityStatuses& s) { published.push_back(s); });
        return *watch;
    }
};

TEST(CapabilityWatch, WhatAnswersAtOnceIsKnownAtOnceTheRestWhenItAnswers) {
    WatchRig rig;
    rig.permissions.heldBack = {Capability::mediaPlayer, Capability::soundServer};
    rig.permissions[Capability::compositor] = false;
    rig.permissions[Capability::soundServer] = false;
    auto& watch = rig.make();
    EXPECT_TRUE(watch.present(Capability::x11Session));
    EXPECT_EQ(watch.statuses()()[Capability::compositor], CapabilityStatus::missing);
    EXPECT_EQ(watch.statuses()()[Capability::mediaPlayer], CapabilityStatus::unknown);
    EXPECT_EQ(watch.statuses()()[Capability::soundServer], CapabilityStatus::unknown);

    rig.permissions.answerPending();
    EXPECT_EQ(watch.statuses()()[Capability::mediaPlayer], CapabilityStatus::present);
    EXPECT_EQ(watch.statuses()()[Capability::soundServer], CapabilityStatus::missing);
    EXPECT_EQ(rig.published.size(), 2u) << "one change for each answer that changed something";

    watch.refresh();
    rig.permissions.answerPending();
    EXPECT_EQ(rig.published.size(), 2u) << "the same answers again publish nothing";
}

TEST(CapabilityWatch, ACheckStillOutIsNotMadeAgainAndALateAnswerAfterTheWatchIsDropped) {
    WatchRig rig;
    rig.permissions.heldBack = {Capability::mediaPlayer};
    auto& watch = rig.make();
    watch.refresh();
    watch.refresh();
    EXPECT_EQ(rig.permissions.checks(Capability::mediaPlayer), 1) << "a bus that hangs gets one call";
    EXPECT_EQ(rig.permissions.checks(Capability::x11Session), 3);
    rig.permissions.answerPending();
    watch.refresh();
    EXPECT_EQ(rig.permissions.checks(Capability::mediaPlayer), 2);

    rig.subscription.cancel();
    rig.watch.reset();
    rig.permissions.answerPending();  // nothing left to tell
    EXPECT_EQ(rig.permissions.pending(), 0u);
}

TEST(CapabilityWatch, AHelpButtonOpensTheCapabilitysPage) {
    WatchRig rig;
    rig.permissions.helpOpens = false;
    EXPECT_FALSE(rig.make().openHelp(Capability::soundServer));
    EXPECT_EQ(rig.permissions.openedHelp, std::vector<Capability>{Capability::soundServer});
}

}  // namespace
}  // namespace velaro
