// Checking the appcast feed for a newer version, on the user's request or, with their consent, once a day.
#include "platform/linux/AppcastUpdater.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QUrl>
#include <QXmlStreamReader>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <utility>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "platform/DefaultsStore.h"

namespace velaro {
namespace {

constexpr const char* kLaunchedBeforeKey = "updaterLaunchedBefore";
constexpr const char* kAutomaticKey = "automaticallyChecksForUpdates";
constexpr const char* kLastCheckKey = "lastUpdateCheckTime";
constexpr const char* kTooLargeProperty = "velaroFeedTooLarge";

// One run of a version string: a number, or text.
struct VersionPart {
    bool number = false;
    std::string_view text;
};

std::vector<VersionPart> versionParts(std::string_view v) {
    std::vector<VersionPart> parts;
    std::size_t i = 0;
    while (i < v.size()) {
        const auto c = static_cast<unsigned char>(v[i]);
        if (std::isdigit(c) || std::isalpha(c)) {
            const bool digits = std::isdigit(c);
            std::size_t j = i;
            while (j < v.size() && (digits ? std::isdigit(static_cast<unsigned char>(v[j]))
                                           : std::isalpha(static_cast<unsigned char>(v[j]))))
                ++j;
            std::string_view run = v.substr(i, j - i);
            if (digits) {
                // Leading zeros do not change a number's value.
                while (run.size() > 1 && run.front() == '0') run.remove_prefix(1);
            }
            parts.push_back({digits, run});
            i = j;
        } else {
            ++i;  // separators only divide runs
        }
    }
    return parts;
}

int compareNumbers(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

// What the longer version's remaining parts make it: zeros do not count, then a number makes it newer and
// text (a pre-release) older.
int compareTail(const std::vector<VersionPart>& parts, std::size_t from) {
    for (std::size_t i = from; i < parts.size(); ++i) {
        if (parts[i].number && parts[i].text == "0") continue;
        return parts[i].number ? 1 : -1;
    }
    return 0;
}

}  // namespace

bool isAcceptedWebURL(const QString& text, PlainHttp plainHttp) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    if (url.scheme() == QLatin1String("https")) return true;
    if (url.scheme() != QLatin1String("http") || plainHttp != PlainHttp::loopbackOnly) return false;
    const QString host = url.host();
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("::1") ||
           host == QLatin1String("localhost");
}

PlainHttp configuredPlainHttp() {
#ifdef VELARO_APPCAST_ALLOW_LOCAL_HTTP
    return PlainHttp::loopbackOnly;
#else
    return PlainHttp::refused;
#endif
}

int compareVersions(std::string_view a, std::string_view b) {
    const auto pa = versionParts(a), pb = versionParts(b);
    const std::size_t n = std::min(pa.size(), pb.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (pa[i].number != pb[i].number) return pa[i].number ? 1 : -1;
        const int c = pa[i].number ? compareNumbers(pa[i].text, pb[i].text)
                                   : (pa[i].text < pb[i].text   ? -1
                                      : pa[i].text > pb[i].text ? 1
                                                                : 0);
        if (c != 0) return c;
    }
    if (pa.size() > n) return compareTail(pa, n);
    if (pb.size() > n) return -compareTail(pb, n);
    return 0;
}

std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items,
                                        std::string_view currentVersion) {
    std::optional<AppcastItem> best;
    for (const auto& item : items) {
        if (compareVersions(item.version, currentVersion) <= 0) continue;
        if (!best || compareVersions(item.version, best->version) > 0) best = item;
    }
    return best;
}

AppcastParseResult parseAppcast(const QByteArray& document, PlainHttp plainHttp) {
    AppcastParseResult result;
    QXmlStreamReader xml(document);
    bool sawRss = false;
    std::optional<AppcastItem> item;
    QString itemVersion, itemDisplayVersion;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (!sawRss) {
                if (name != QLatin1String("rss")) {
                    result.error = "the feed is not an RSS document";
                    return result;
                }
                sawRss = true;
            } else if (name == QLatin1String("item")) {
                item = AppcastItem{};
                itemVersion.clear();
                itemDisplayVersion.clear();
            } else if (item && name == QLatin1String("enclosure")) {
                for (const auto& attribute : xml.attributes()) {
                    const auto attributeName = attribute.name();
                    if (attributeName == QLatin1String("url")) {
                        item->downloadURL = attribute.value().toString().trimmed().toStdString();
                    } else if (attributeName == QLatin1String("version")) {
                        item->version = attribute.value().toString().trimmed().toStdString();
                    } else if (attributeName == QLatin1String("shortVersionString")) {
                        item->displayVersion = attribute.value().toString().trimmed().toStdString();
                    }
                }
            } else if (item && name == QLatin1String("title")) {
                item->title =
                    xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toStdString();
            } else if (item && name == QLatin1String("version")) {
                itemVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (item && name == QLatin1String("shortVersionString")) {
                itemDisplayVersion = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
            } else if (item && name == QLatin1String("releaseNotesLink")) {
                const QString link = xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                if (isAcceptedWebURL(link, plainHttp)) item->releaseNotesURL = link.toStdString();
            }
        } else if (xml.isEndElement() && item && xml.name() == QLatin1String("item")) {
            // The enclosure's own attributes win over the item's elements.
            if (item->version.empty()) item->version = itemVersion.toStdString();
            if (item->displayVersion.empty()) item->displayVersion = itemDisplayVersion.toStdString();
            if (item->displayVersion.empty()) item->displayVersion = item->version;
            if (!item->version.empty() &&
                isAcceptedWebURL(QString::fromStdString(item->downloadURL), plainHttp))
                result.items.push_back(*item);
            item.reset();
        }
    }
    if (xml.hasError()) {
        result.items.clear();
        result.error = "the feed is not well-formed XML: " + xml.errorString().toStdString() + " (line " +
                       std::to_string(xml.lineNumber()) + ")";
    } else if (!sawRss) {
        result.error = "the feed is empty";
    }
    return result;
}

std::string configuredAppcastURL() {
#ifdef VELARO_APPCAST_URL
    return VELARO_APPCAST_URL;
#else
    return {};
#endif
}

AppcastUpdater::AppcastUpdater(MainLoop& loop, DefaultsStore& defaults, UpdaterUserDriver& driver,
                               std::string feedURL, std::string currentVersion, PlainHttp plainHttp)
    : loop_(loop),
      defaults_(defaults),
      driver_(driver),
      feedURL_(std::move(feedURL)),
      currentVersion_(std::move(currentVersion)),
      plainHttp_(plainHttp),
      network_(std::make_unique<QNetworkAccessManager>()) {
    canCheck_ = !feedURL_.empty();
}

AppcastUpdater::~AppcastUpdater() {
    lifetime_.end();
    // Replies still running belong to the manager and go with it, without reporting.
    network_.reset();
}

double AppcastUpdater::now() const {
    return std::chrono::duration<double>(loop_.wallTime().time_since_epoch()).count();
}

void AppcastUpdater::start() {
    if (started_) return;
    started_ = true;
    if (feedURL_.empty()) {
        qCInfo(lcApp) << tagged("UPDATE", "no update feed configured; update checks are off");
        return;
    }
    if (!defaults_.boolValue(kLaunchedBeforeKey).value_or(false)) {
        // The first launch is for the app itself: no question, no network.
        defaults_.set(kLaunchedBeforeKey, true);
        return;
    }
    const auto automatic = automaticallyChecksForUpdates();
    if (!automatic) {
        driver_.askToCheckAutomatically(
            lifetime_.guard([this](bool yes) { setAutomaticallyChecksForUpdates(yes); }));
        return;
    }
    if (*automatic) scheduleBackgroundCheck();
}

std::optional<bool> AppcastUpdater::automaticallyChecksForUpdates() const {
    return defaults_.boolValue(kAutomaticKey);
}

void AppcastUpdater::setAutomaticallyChecksForUpdates(bool enabled) {
    defaults_.set(kAutomaticKey, enabled);
    pending_.cancel();
    if (enabled && started_ && !feedURL_.empty()) scheduleBackgroundCheck();
}

void AppcastUpdater::scheduleBackgroundCheck() {
    pending_.cancel();
    const double last = defaults_.doubleValue(kLastCheckKey).value_or(0);
    // A last check "in the future" means the clock was set back: wait one interval, not until that date.
    const double delay = std::clamp(last + kCheckInterval - now(), 0.0, kCheckInterval);
    pending_ = loop_.postAfter(delay, lifetime_.guard([this] {
        // A check the user started is under way: its end counts as this check and schedules the next.
        if (!checking_) check(false);
    }));
}

void AppcastUpdater::checkForUpdates() {
    if (feedURL_.empty()) {
        // The menu item and the About button are disabled without a feed; a call that comes anyway is said.
        qCInfo(lcApp) << tagged("UPDATE", "no update feed configured; there is nothing to check");
        return;
    }
    if (checking_) {
        userWaiting_ = true;
        return;
    }
    check(true);
}

void AppcastUpdater::check(bool userInitiated) {
    if (feedURL_.empty() || checking_) return;
    const QUrl url(QString::fromStdString(feedURL_));
    if (!isAcceptedWebURL(QString::fromStdString(feedURL_), plainHttp_)) {
        qCWarning(lcApp) << tagged("UPDATE", "the update feed address is not an https URL: " + feedURL_);
        if (userInitiated)
            driver_.showCheckFailed("the update feed address is not a secure (https) web address");
        return;
    }
    checking_ = true;
    canCheck_ = false;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromStdString("Velaro/" + currentVersion_));
    request.setTransferTimeout(timeoutMs_);
    // A redirect never leads from https to plain http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received <= kMaximumFeedBytes && total <= kMaximumFeedBytes) return;
        reply->setProperty(kTooLargeProperty, true);
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated, token = lifetime_.token()] {
        // Replies cut off while the updater is being destroyed report nothing.
        if (token.alive()) finished(reply, userInitiated);
    });
}

void AppcastUpdater::finished(QNetworkReply* reply, bool userInitiated) {
    reply->deleteLater();
    userInitiated = userInitiated || std::exchange(userWaiting_, false);
    checking_ = false;
    canCheck_ = true;
    defaults_.set(kLastCheckKey, now());
    // Any check, the user's too, starts the day until the next background one.
    if (started_ && automaticallyChecksForUpdates().value_or(false)) scheduleBackgroundCheck();

    std::string error;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->property(kTooLargeProperty).toBool()) {
        error = "the update feed is larger than " + std::to_string(kMaximumFeedBytes) + " bytes";
    } else if (reply->error() != QNetworkReply::NoError && status == 0) {
        error = reply->errorString().toStdString();
    } else if (status != 200) {
        error = "the update server answered " + std::to_string(status);
    }
    std::optional<AppcastItem> update;
    if (error.empty()) {
        const auto parsed = parseAppcast(reply->readAll(), plainHttp_);
        error = parsed.error;
        if (error.empty()) update = newestUpdate(parsed.items, currentVersion_);
    }
    if (!error.empty()) {
        qCWarning(lcApp) << tagged("UPDATE", "check failed: " + error);
        if (userInitiated) driver_.showCheckFailed(error);
        return;
    }
    if (update) {
        driver_.showUpdateFound(*update, currentVersion_);
    } else if (userInitiated) {
        driver_.showUpToDate(currentVersion_);
    }
}

namespace {

// Texts from the feed (versions, error messages quoting it) are never markup: a box would otherwise render
// whatever a feed put there, links and images included.
QMessageBox* makeBox(const QString& title, const QString& text) {
    auto* box = new QMessageBox(QMessageBox::Information, title, QString());
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

}  // namespace

QtUpdaterUserDriver::QtUpdaterUserDriver(std::function<void(const std::string& url)> openUrl)
    : openUrl_(std::move(openUrl)) {
    if (!openUrl_) {
        openUrl_ = [](const std::string& url) {
            QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
        };
    }
}

void QtUpdaterUserDriver::askToCheckAutomatically(std::function<void(bool)> reply) {
    auto* box =
        makeBox(QStringLiteral("Check for updates automatically?"),
                QStringLiteral("Should Velaro check for updates once a day? You can always check from "
                               "the menu with \u201cCheck for Updates\u2026\u201d."));
    auto* yes = box->addButton(QStringLiteral("Check Automatically"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Don\u2019t Check"), QMessageBox::RejectRole);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, yes, reply = std::move(reply)] { reply(box->clickedButton() == yes); });
    box->show();
}

void QtUpdaterUserDriver::showUpdateFound(const AppcastItem& item, const std::string& currentVersion) {
    auto* box = makeBox(
        QStringLiteral("A new version of Velaro is available"),
        QStringLiteral("Velaro %1 is available; you have %2.")
            .arg(QString::fromStdString(item.displayVersion), QString::fromStdString(currentVersion)));
    auto* download = box->addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
    QPushButton* notes = nullptr;
    if (!item.releaseNotesURL.empty())
        notes = box->addButton(QStringLiteral("Release Notes"), QMessageBox::HelpRole);
    box->addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
    QObject::connect(box, &QMessageBox::finished, box, [box, download, notes, item, open = openUrl_] {
        if (box->clickedButton() == download) open(item.downloadURL);
        if (notes && box->clickedButton() == notes) open(item.releaseNotesURL);
    });
    box->show();
}

void QtUpdaterUserDriver::showUpToDate(const std::string& currentVersion) {
    makeBox(QStringLiteral("You\u2019re up to date!"),
            QStringLiteral("Velaro %1 is the newest version available.")
                .arg(QString::fromStdString(currentVersion)))
        ->show();
}

void QtUpdaterUserDriver::showCheckFailed(const std::string& error) {
    auto* box =
        makeBox(QStringLiteral("Update check failed"),
                QStringLiteral("Velaro could not check for updates: %1").arg(QString::fromStdString(error)));
    box->setIcon(QMessageBox::Warning);
    box->show();
}

}  // namespace velaro
