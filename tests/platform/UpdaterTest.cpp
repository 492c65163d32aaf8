// The appcast updater: reading feeds, ordering versions, and checks against a feed served on 127.0.0.1, with
// the consent and schedule of background checks driven by the virtual loop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>

#include "platform/linux/AppcastUpdater.h"
#include "support/FakeDefaultsStore.h"
#include "support/SpinUntil.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

using test::spinUntil;

QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" "
           "xmlns:velaro=\"https://quornet.com/xml/appcast\"><channel><title>Velaro</title>" +
           items + "</channel></rss>";
}

QByteArray item(const QByteArray& version, const QByteArray& url = "https://quornet.com/velaro.tar.xz") {
    return "<item><title>Version " + version + "</title><enclosure url=\"" + url + "\" velaro:version=\"" +
           version + "\" length=\"1\" type=\"application/octet-stream\"/></item>";
}

TEST(AppcastFeed, ReadsEveryItemWithAVersionAndAWebEnclosure) {
    const auto result =
        parseAppcast(feed(item("1.2") +
                          "<item><title>Two</title><velaro:version>2.0</velaro:version>"
                          "<velaro:shortVersionString>2.0 beta</velaro:shortVersionString>"
                          "<velaro:releaseNotesLink>https://quornet.com/notes/2.0</velaro:releaseNotesLink>"
                          "<enclosure url=\"https://quornet.com/v2.tar.xz\"/></item>"
                          // Left out: no version; an enclosure that is not a web address.
                          "<item><enclosure url=\"https://quornet.com/x\"/></item>" +
                          item("9.0", "file:///etc/passwd") + item("9.1", "javascript:alert(1)")));
    ASSERT_TRUE(result.error.empty()) << result.error;
    ASSERT_EQ(result.items.size(), 2u);
    EXPECT_EQ(result.items[0].version, "1.2");
    EXPECT_EQ(result.items[0].displayVersion, "1.2");
    EXPECT_EQ(result.items[0].title, "Version 1.2");
    EXPECT_EQ(result.items[1].version, "2.0");
    EXPECT_EQ(result.items[1].displayVersion, "2.0 beta");
    EXPECT_EQ(result.items[1].downloadURL, "https://quornet.com/v2.tar.xz");
    EXPECT_EQ(result.items[1].releaseNotesURL, "https://quornet.com/notes/2.0");
}

// Plain http could have the feed or the download swapped on the way: only https is fetched or offered,
// with plain http to this machine alone in builds for testing.
TEST(AppcastFeed, OnlySecureAddressesAreAccepted) {
    struct Case {
        const char* url;
        bool accepted;          // in a normal build
        bool acceptedForTests;  // where a test server on this machine is allowed
    };
    for (const auto& c :
         {Case{"https://quornet.com/v.tar.xz", true, true}, Case{"http://quornet.com/v.tar.xz", false, false},
          Case{"http://127.0.0.1:8080/v.tar.xz", false, true}, Case{"http://localhost/v.tar.xz", false, true},
          Case{"http://127.0.0.1.example.com/v", false, false}, Case{"HTTPS://quornet.com/v", true, true},
          Case{"https:///no-host", false, false}, Case{"ftp://quornet.com/v", false, false}}) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(isAcceptedWebURL(QString::fromLatin1(c.url), PlainHttp::refused), c.accepted);
        EXPECT_EQ(isAcceptedWebURL(QString::fromLatin1(c.url), PlainHttp::loopbackOnly), c.acceptedForTests);
    }
    const auto result =
        parseAppcast(feed(item("2.0", "http://quornet.com/v2.tar.xz") +
                          "<item><velaro:version>1.5</velaro:version>"
                          "<velaro:releaseNotesLink>http://quornet.com/notes</velaro:releaseNotesLink>"
                          "<enclosure url=\"https://quornet.com/v15.tar.xz\"/></item>"));
    ASSERT_EQ(result.items.size(), 1u) << "the plain-http download is not offered";
    EXPECT_EQ(result.items[0].version, "1.5");
    EXPECT_EQ(result.items[0].releaseNotesURL, "") << "nor is a plain-http release-notes link";
}

TEST(AppcastFeed, RefusesWhatIsNotWellFormedRss) {
    EXPECT_NE(parseAppcast("<html><body>Not found</body></html>").error, "");
    EXPECT_NE(parseAppcast("").error, "");
    const auto broken = parseAppcast(feed(item("1.2")).left(120));
    EXPECT_NE(broken.error, "");
    EXPECT_TRUE(broken.items.empty());
    // Entities that expand without bound are refused rather than followed.
    QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\">";
    for (int i = 1; i < 9; ++i) {
        const QByteArray prev = QByteArray(1, char('a' + i - 1)), name = QByteArray(1, char('a' + i));
        bomb += "<!ENTITY " + name + " \"" + ("&" + prev + ";").repeated(10) + "\">";
    }
    bomb += "]><rss><channel><item><title>&i;</title></item></channel></rss>";
    EXPECT_NE(parseAppcast(bomb).error, "");
}

TEST(AppcastVersions, CompareByTheirParts) {
    EXPECT_GT(compareVersions("1.10", "1.9"), 0);
    EXPECT_EQ(compareVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(compareVersions("1.02", "1.2"), 0);
    EXPECT_LT(compareVersions("1.0b2", "1.0"), 0);
    EXPECT_LT(compareVersions("1.0b2", "1.0b10"), 0);
    EXPECT_LT(compareVersions("1.0b2", "1.0.1"), 0);
    EXPECT_GT(compareVersions("1.0.1", "1.0"), 0);
    EXPECT_GT(compareVersions("2.0", "1.99.99"), 0);
    EXPECT_GT(compareVersions("10.0", "9.0"), 0);
    EXPECT_GT(compareVersions("123456789012345678901234567890", "123456789012345678901234567889"), 0);
}

TEST(AppcastVersions, TheNewestUpdateIsChosenWhateverTheOrderOfItems) {
    std::vector<AppcastItem> items;
    for (const char* v : {"0.9", "1.3", "1.10", "1.2"}) {
        items.emplace_back();
        items.back().version = v;
    }
    EXPECT_EQ(newestUpdate(items, "1.0")->version, "1.10");
    EXPECT_FALSE(newestUpdate(items, "1.10"));
    EXPECT_FALSE(newestUpdate(items, "2.0"));
}

// An HTTP server on 127.0.0.1 answering every request with the same reply.
class FeedServer {
public:
    FeedServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    request_ += socket->readAll();
                    if (!request_.contains("\r\n\r\n")) return;
                    ++requests;
                    lastRequest = request_;
                    request_.clear();
                    held_.push_back(socket);
                    if (answer) release();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    ++disconnects;
                    socket->deleteLater();
                });
            }
        });
    }
    // Answers every request held so far (all of them, while `answer` is set).
    void release() {
        for (const auto& socket : held_) {
            if (!socket) continue;
            socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                          QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
            socket->disconnectFromHost();
        }
        held_.clear();
    }
    std::string url() const {
        return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/appcast.xml";
    }

    QByteArray status = "200 OK";
    bool answer = true;
    QByteArray body;
    int requests = 0;
    // Connections the client side closed or the server ended.
    int disconnects = 0;
    QByteArray lastRequest;

private:
    QTcpServer server_;
    QByteArray request_;
    std::vector<QPointer<QTcpSocket>> held_;
};

class RecordingDriver final : public UpdaterUserDriver {
public:
    void askToCheckAutomatically(std::function<void(bool)> r) override {
        ++asked;
        reply = std::move(r);
    }
    void showUpdateFound(const AppcastItem& item, const std::string&) override { found.push_back(item); }
    void showUpToDate(const std::string&) override { ++upToDate; }
    void showCheckFailed(const std::string& error) override { failures.push_back(error); }
    int shown() const { return int(found.size()) + upToDate + int(failures.size()); }

    int asked = 0;
    std::function<void(bool)> reply;
    std::vector<AppcastItem> found;
    int upToDate = 0;
    std::vector<std::string> failures;
};

// No check is under way: a check starts, and stops being idle, the moment it is decided on, so a check that
// should not have started shows here without waiting for the network.
bool checkIdle(AppcastUpdater& updater) {
    return updater.canCheckForUpdates().value();
}

class AppcastUpdaterTest : public ::testing::Test {
protected:
    std::unique_ptr<AppcastUpdater> makeUpdater(std::string url) {
        // The test server is plain http on this machine, as a build for testing allows.
        return std::make_unique<AppcastUpdater>(loop, defaults, driver, std::move(url), "1.0",
                                                PlainHttp::loopbackOnly);
    }
    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    RecordingDriver driver;
    FeedServer server;
};

TEST_F(AppcastUpdaterTest, AUserCheckAnnouncesTheNewestVersionAndCannotOverlapItself) {
    server.body = feed(item("1.1") + item("1.4") + item("1.2"));
    auto updater = makeUpdater(server.url());
    EXPECT_TRUE(updater->canCheckForUpdates().value());
    std::vector<bool> canCheck;
    auto sub = updater->canCheckForUpdates().changes().sink([&](bool v) { canCheck.push_back(v); });

    updater->checkForUpdates();
    updater->checkForUpdates();  // ignored while the first runs
    EXPECT_FALSE(updater->canCheckForUpdates().value());
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0; }));

    ASSERT_EQ(driver.found.size(), 1u);
    EXPECT_EQ(driver.found[0].version, "1.4");
    EXPECT_EQ(server.requests, 1);
    EXPECT_TRUE(server.lastRequest.startsWith("GET /appcast.xml "));
    EXPECT_TRUE(server.lastRequest.contains("Velaro/1.0")) << server.lastRequest.toStdString();
    EXPECT_EQ(canCheck, (std::vector<bool>{false, true}));
}

TEST_F(AppcastUpdaterTest, AUserCheckSaysWhenThereIsNothingNewer) {
    server.body = feed(item("1.0") + item("0.9"));
    auto updater = makeUpdater(server.url());
    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0; }));
    EXPECT_EQ(driver.upToDate, 1);
    EXPECT_TRUE(driver.found.empty());
}

TEST_F(AppcastUpdaterTest, ServerErrorsAndNonFeedsAreReportedAsFailuresNotAsUpToDate) {
    auto updater = makeUpdater(server.url());
    server.status = "404 Not Found";
    server.body = "<html>gone</html>";
    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() == 1; }));
    ASSERT_EQ(driver.failures.size(), 1u);
    EXPECT_NE(driver.failures[0].find("404"), std::string::npos) << driver.failures[0];

    server.status = "200 OK";
    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() == 2; }));
    EXPECT_EQ(driver.failures.size(), 2u);
    EXPECT_EQ(driver.upToDate, 0);
    EXPECT_TRUE(updater->canCheckForUpdates().value());
}

TEST_F(AppcastUpdaterTest, AnOversizedReplyIsCutOff) {
    server.body = feed(item("2.0")) + QByteArray(AppcastUpdater::kMaximumFeedBytes + 10, ' ');
    auto updater = makeUpdater(server.url());
    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0; }));
    ASSERT_EQ(driver.failures.size(), 1u);
    EXPECT_NE(driver.failures[0].find("larger"), std::string::npos) << driver.failures[0];
}

TEST_F(AppcastUpdaterTest, AnUnreachableServerIsAFailure) {
    auto updater = makeUpdater("http://127.0.0.1:1/appcast.xml");
    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0; }));
    EXPECT_EQ(driver.failures.size(), 1u);
}

TEST_F(AppcastUpdaterTest, APlainHttpFeedIsNeverFetched) {
    server.body = feed(item("2.0"));
    auto updater = std::make_unique<AppcastUpdater>(loop, defaults, driver, server.url(), "1.0");
    updater->checkForUpdates();
    // Refused before any request: the failure is told at once and no check is left under way.
    EXPECT_TRUE(updater->canCheckForUpdates().value());
    EXPECT_EQ(server.requests, 0);
    ASSERT_EQ(driver.failures.size(), 1u);
    EXPECT_NE(driver.failures[0].find("https"), std::string::npos) << driver.failures[0];
    EXPECT_TRUE(driver.found.empty());
}

TEST_F(AppcastUpdaterTest, WithoutAFeedUpdatesAreOffAndNothingIsFetched) {
    auto updater = makeUpdater("");
    EXPECT_FALSE(updater->canCheckForUpdates().value());
    EXPECT_FALSE(updater->hasUpdateFeed());
    EXPECT_TRUE(makeUpdater(server.url())->hasUpdateFeed());
    updater->start();
    updater->checkForUpdates();
    loop.advance(3 * AppcastUpdater::kCheckInterval);
    EXPECT_EQ(driver.asked, 0);
    EXPECT_EQ(driver.shown(), 0);
    EXPECT_TRUE(defaults.writes().empty());
}

TEST_F(AppcastUpdaterTest, TheFirstLaunchNeitherAsksNorChecksAndTheNextOneAsks) {
    server.body = feed(item("1.5"));
    {
        auto first = makeUpdater(server.url());
        first->start();
        loop.advance(3 * AppcastUpdater::kCheckInterval);
        EXPECT_TRUE(checkIdle(*first)) << "no check was started";
        EXPECT_EQ(driver.asked, 0);
        EXPECT_EQ(server.requests, 0);
    }
    auto second = makeUpdater(server.url());
    second->start();
    ASSERT_EQ(driver.asked, 1);
    EXPECT_EQ(server.requests, 0) << "nothing is fetched before the user answers";

    driver.reply(true);
    EXPECT_EQ(second->automaticallyChecksForUpdates(), std::optional<bool>(true));
    loop.runUntilIdle();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0; }));
    EXPECT_EQ(driver.found.size(), 1u) << "a background check announces what it finds";
}

TEST_F(AppcastUpdaterTest, DecliningBackgroundChecksKeepsTheNetworkQuietButManualChecksWork) {
    defaults.seed("updaterLaunchedBefore", true);
    server.body = feed(item("1.0"));
    auto updater = makeUpdater(server.url());
    updater->start();
    driver.reply(false);
    loop.advance(3 * AppcastUpdater::kCheckInterval);
    EXPECT_TRUE(checkIdle(*updater)) << "no check was started";
    EXPECT_EQ(server.requests, 0);

    // A later launch does not ask again.
    auto later = makeUpdater(server.url());
    later->start();
    EXPECT_EQ(driver.asked, 1);

    later->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0; }));
    EXPECT_EQ(driver.upToDate, 1);
}

TEST_F(AppcastUpdaterTest, BackgroundChecksRunADayAfterTheLastAndStaySilentWhenNothingIsNew) {
    const double now = std::chrono::duration<double>(loop.wallTime().time_since_epoch()).count();
    defaults.seed("updaterLaunchedBefore", true);
    defaults.seed("automaticallyChecksForUpdates", true);
    defaults.seed("lastUpdateCheckTime", now - 2 * 60 * 60);
    server.body = feed(item("1.0"));
    auto updater = makeUpdater(server.url());
    updater->start();

    loop.advance(22 * 60 * 60 - 1);
    EXPECT_TRUE(checkIdle(*updater)) << "not due yet";
    EXPECT_EQ(server.requests, 0);
    loop.advance(1);
    ASSERT_TRUE(spinUntil([&] { return server.requests == 1 && updater->canCheckForUpdates().value(); }));
    EXPECT_EQ(driver.shown(), 0);

    // The next one follows a full day later.
    loop.advance(AppcastUpdater::kCheckInterval - 1);
    EXPECT_TRUE(checkIdle(*updater)) << "not due yet";
    EXPECT_EQ(server.requests, 1);
    loop.advance(1);
    ASSERT_TRUE(spinUntil([&] { return server.requests == 2; }));

    // Switching background checks off stops them.
    ASSERT_TRUE(spinUntil([&] { return updater->canCheckForUpdates().value(); }));
    updater->setAutomaticallyChecksForUpdates(false);
    loop.advance(3 * AppcastUpdater::kCheckInterval);
    EXPECT_TRUE(checkIdle(*updater)) << "no check was started";
    EXPECT_EQ(server.requests, 2);
}

TEST_F(AppcastUpdaterTest, ABackgroundCheckDueDuringTheUsersCheckIsMetByIt) {
    const double now = std::chrono::duration<double>(loop.wallTime().time_since_epoch()).count();
    defaults.seed("updaterLaunchedBefore", true);
    defaults.seed("automaticallyChecksForUpdates", true);
    defaults.seed("lastUpdateCheckTime", now - AppcastUpdater::kCheckInterval + 10);
    server.body = feed(item("1.0"));
    server.answer = false;
    auto updater = makeUpdater(server.url());
    updater->start();

    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return server.requests == 1; }));
    loop.advance(20);  // the background check falls due while the user's is still waiting
    EXPECT_FALSE(checkIdle(*updater)) << "the user's check is still the one under way";
    EXPECT_EQ(server.requests, 1);
    EXPECT_EQ(loop.pendingTimers(), 0u) << "nothing may be re-armed while the check waits";

    server.answer = true;
    server.release();
    ASSERT_TRUE(spinUntil([&] { return driver.upToDate == 1; }));
    // The next background check comes a day after the user's.
    ASSERT_TRUE(spinUntil([&] { return checkIdle(*updater); }));
    EXPECT_EQ(server.requests, 1) << "the background check that fell due added no request";
    loop.advance(AppcastUpdater::kCheckInterval - 30);
    EXPECT_TRUE(checkIdle(*updater)) << "not due yet";
    loop.advance(30);
    ASSERT_TRUE(spinUntil([&] { return server.requests == 2 && checkIdle(*updater); }));
    EXPECT_EQ(server.requests, 2);
}

TEST_F(AppcastUpdaterTest, AUserCheckAskedDuringABackgroundCheckGetsThatChecksAnswerOnce) {
    const double now = std::chrono::duration<double>(loop.wallTime().time_since_epoch()).count();
    defaults.seed("updaterLaunchedBefore", true);
    defaults.seed("automaticallyChecksForUpdates", true);
    defaults.seed("lastUpdateCheckTime", now - 2 * AppcastUpdater::kCheckInterval);
    server.body = feed(item("1.0"));
    server.answer = false;
    auto updater = makeUpdater(server.url());
    updater->start();
    loop.advance(0);
    ASSERT_TRUE(spinUntil([&] { return server.requests == 1; }));
    ASSERT_FALSE(updater->canCheckForUpdates().value()) << "the background check runs";

    updater->checkForUpdates();
    updater->checkForUpdates();
    server.answer = true;
    server.release();
    // Once no check is under way, no further answer can come: one runs at a time.
    ASSERT_TRUE(spinUntil([&] { return driver.shown() > 0 && checkIdle(*updater); }));
    EXPECT_EQ(driver.upToDate, 1) << "the user asked, so the quiet background answer is shown, once";
    EXPECT_EQ(driver.shown(), 1);
    EXPECT_EQ(server.requests, 1);
}

TEST_F(AppcastUpdaterTest, ALastCheckDatedInTheFutureWaitsOneDayNotUntilThatDate) {
    const double now = std::chrono::duration<double>(loop.wallTime().time_since_epoch()).count();
    defaults.seed("updaterLaunchedBefore", true);
    defaults.seed("automaticallyChecksForUpdates", true);
    defaults.seed("lastUpdateCheckTime", now + 365.0 * 24 * 60 * 60);
    server.body = feed(item("1.0"));
    auto updater = makeUpdater(server.url());
    updater->start();
    loop.advance(AppcastUpdater::kCheckInterval);
    ASSERT_TRUE(spinUntil([&] { return server.requests == 1; }));
}

TEST_F(AppcastUpdaterTest, AnUpdaterDestroyedMidCheckReportsNothing) {
    server.body = feed(item("2.0"));
    server.answer = false;
    auto updater = makeUpdater(server.url());
    updater->checkForUpdates();
    ASSERT_TRUE(spinUntil([&] { return server.requests == 1; }));
    updater.reset();
    // The server sees the abandoned request's connection close: whatever the reply had to say is said.
    ASSERT_TRUE(spinUntil([&] { return server.disconnects == 1; }));
    EXPECT_EQ(driver.shown(), 0);
}

QMessageBox* visibleBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

void press(QMessageBox* box, const QString& text) {
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
}

TEST(QtUpdaterUserDriverTest, TheConsentQuestionRepliesWithTheUsersChoice) {
    QtUpdaterUserDriver driver;
    std::vector<bool> replies;
    driver.askToCheckAutomatically([&](bool yes) { replies.push_back(yes); });
    QMessageBox* box = visibleBox();
    ASSERT_NE(box, nullptr);
    press(box, "Check Automatically");
    driver.askToCheckAutomatically([&](bool yes) { replies.push_back(yes); });
    ASSERT_TRUE(spinUntil([&] { return visibleBox() != nullptr; }));
    press(visibleBox(), QString::fromUtf8("Don’t Check"));
    EXPECT_EQ(replies, (std::vector<bool>{true, false}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(QtUpdaterUserDriverTest, DownloadAndReleaseNotesOpenInTheBrowser) {
    std::vector<std::string> opened;
    QtUpdaterUserDriver driver([&](const std::string& url) { opened.push_back(url); });
    AppcastItem update;
    update.version = "2.0";
    update.displayVersion = "2.0";
    update.downloadURL = "https://quornet.com/velaro-2.0.tar.xz";
    update.releaseNotesURL = "https://quornet.com/notes/2.0";

    driver.showUpdateFound(update, "1.0");
    ASSERT_NE(visibleBox(), nullptr);
    EXPECT_TRUE(visibleBox()->text().contains("2.0"));
    press(visibleBox(), "Download");
    driver.showUpdateFound(update, "1.0");
    press(visibleBox(), "Release Notes");
    driver.showUpdateFound(update, "1.0");
    press(visibleBox(), "Later");

    EXPECT_EQ(opened, (std::vector<std::string>{"https://quornet.com/velaro-2.0.tar.xz",
                                                "https://quornet.com/notes/2.0"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A feed's texts are shown as they are, never as markup: a version such as "<a href=…>" or "<img …>" shows
// its characters instead of a link or a picture.
TEST(QtUpdaterUserDriverTest, TextsFromTheFeedAreShownAsPlainText) {
    QtUpdaterUserDriver driver([](const std::string&) {});
    AppcastItem update;
    update.version = "2.0";
    update.displayVersion = "<b>2.0</b><img src=\"https://quornet.com/x.png\">";
    update.downloadURL = "https://quornet.com/velaro-2.0.tar.xz";
    driver.showUpdateFound(update, "1.0");
    ASSERT_NE(visibleBox(), nullptr);
    EXPECT_EQ(visibleBox()->textFormat(), Qt::PlainText);
    EXPECT_TRUE(visibleBox()->text().contains(QString::fromStdString(update.displayVersion)));
    press(visibleBox(), "Later");

    driver.showCheckFailed("the update server answered <a href='https://x'>404</a>");
    ASSERT_NE(visibleBox(), nullptr);
    EXPECT_EQ(visibleBox()->textFormat(), Qt::PlainText);
    visibleBox()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace
}  // namespace velaro
