// The updater over an appcast: an RSS feed whose items carry the versions on offer in their enclosures. A
// newer version is announced to the user with a link to its download; nothing is installed behind their back.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "platform/Updater.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace velaro {

class DefaultsStore;
class MainLoop;

// One version on offer.
struct AppcastItem {
    std::string version;         // the machine-comparable version
    std::string displayVersion;  // what the user is shown; the version when the feed gives no other
    std::string title;
    std::string downloadURL;      // the enclosure's address, an accepted web address (see PlainHttp)
    std::string releaseNotesURL;  // empty when the feed gives none

    friend bool operator==(const AppcastItem&, const AppcastItem&) = default;
};

struct AppcastParseResult {
    std::vector<AppcastItem> items;
    std::string error;  // empty on success
};

// Which web addresses the updater fetches and offers. https always: a feed or a download fetched over plain
// http could be swapped on the way. Plain http only for a server on this machine, and only in builds made
// for testing against one (VELARO_APPCAST_ALLOW_LOCAL_HTTP).
enum class PlainHttp { refused, loopbackOnly };
bool isAcceptedWebURL(const QString& text, PlainHttp plainHttp);
// What this build accepts.
PlainHttp configuredPlainHttp();

// Reads the items of an appcast. Items without a version or without an accepted enclosure address are left
// out, as is a release-notes link that is not accepted; a document that is not well-formed RSS is an error.
AppcastParseResult parseAppcast(const QByteArray& document, PlainHttp plainHttp = PlainHttp::refused);

// Orders two versions: negative, zero or positive as `a` is older than, the same as or newer than `b`.
// Numbers compare by value ("1.10" > "1.9"), trailing zeros do not count ("1.0" == "1.0.0"), and text after a
// number marks a pre-release ("1.0b2" < "1.0").
int compareVersions(std::string_view a, std::string_view b);

// The newest item newer than `currentVersion`, if any.
std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items,
                                        std::string_view currentVersion);

// How the updater talks to the user. Every call comes on the main loop.
class UpdaterUserDriver {
public:
    virtual ~UpdaterUserDriver() = default;
    // Asks once whether to check in the background; `reply` may come later (or never, if the user walks
    // away).
    virtual void askToCheckAutomatically(std::function<void(bool)> reply) = 0;
    virtual void showUpdateFound(const AppcastItem& item, const std::string& currentVersion) = 0;
    // Shown only for checks the user asked for.
    virtual void showUpToDate(const std::string& currentVersion) = 0;
    virtual void showCheckFailed(const std::string& error) = 0;
};

// Message boxes that do not block the main loop, showing every text from the feed as plain text; the
// download opens in the user's browser.
class QtUpdaterUserDriver final : public UpdaterUserDriver {
public:
    // Hands an address to the desktop (the browser); the desktop's default handler when not given.
    explicit QtUpdaterUserDriver(std::function<void(const std::string& url)> openUrl = {});

    void askToCheckAutomatically(std::function<void(bool)> reply) override;
    void showUpdateFound(const AppcastItem& item, const std::string& currentVersion) override;
    void showUpToDate(const std::string& currentVersion) override;
    void showCheckFailed(const std::string& error) override;

private:
    std::function<void(const std::string&)> openUrl_;
};

// The feed address this build was configured with; empty when updates are left to the distribution.
std::string configuredAppcastURL();

class AppcastUpdater final : public QObject, public Updater {
    Q_OBJECT
public:
    static constexpr double kCheckInterval = 24 * 60 * 60;
    // A feed is a few kilobytes; a reply larger than this is not a feed and is cut off.
    static constexpr qint64 kMaximumFeedBytes = 1024 * 1024;

    // `feedURL` empty: updates are disabled and nothing is ever fetched. The store keeps the consent and the
    // time of the last check; `loop` times the background checks. All must outlive the updater.
    AppcastUpdater(MainLoop& loop, DefaultsStore& defaults, UpdaterUserDriver& driver, std::string feedURL,
                   std::string currentVersion, PlainHttp plainHttp = PlainHttp::refused);
    ~AppcastUpdater() override;

    void start() override;
    const Published<bool>& canCheckForUpdates() const override { return canCheck_; }
    bool hasUpdateFeed() const override { return !feedURL_.empty(); }
    void checkForUpdates() override;
    std::optional<bool> automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;

    // Seconds allowed for one fetch.
    void setTimeout(int milliseconds) { timeoutMs_ = milliseconds; }

private:
    void check(bool userInitiated);
    void finished(QNetworkReply* reply, bool userInitiated);
    void scheduleBackgroundCheck();
    double now() const;

    MainLoop& loop_;
    DefaultsStore& defaults_;
    UpdaterUserDriver& driver_;
    std::string feedURL_;
    std::string currentVersion_;
    PlainHttp plainHttp_;
    std::unique_ptr<QNetworkAccessManager> network_;
    Published<bool> canCheck_{false};
    bool checking_ = false;
    // The user asked while a background check ran: that check's outcome is theirs to see.
    bool userWaiting_ = false;
    bool started_ = false;
    int timeoutMs_ = 30000;
    Cancellable pending_;
    Lifetime lifetime_;
};

}  // namespace velaro
