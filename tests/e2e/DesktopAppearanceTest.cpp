// The desktop appearance service on the test desktop's session bus, against a settings portal of the test's
// own: read when the portal comes, followed through SettingChanged, values it cannot read ignored with a
// line each, no preference once the portal leaves. Without a portal, GNOME's color-scheme in GSettings,
// read and followed.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QProcess>
#include <algorithm>
#include <string>
#include <vector>

#include "base/Log.h"
#include "e2e/E2eSupport.h"
#include "platform/linux/XdgDesktopAppearance.h"

namespace velaro::e2e {
namespace {

using A = XdgDesktopAppearance;

QVariant inVariant(const QVariant& value) {
    return QVariant::fromValue(QDBusVariant(value));
}

// The portal on a connection of its own. Read answers as version 1 portals do: inside one more variant.
class StandInPortal final : public QDBusVirtualObject {
public:
    ~StandInPortal() override {
        leave();
        QDBusConnection::disconnectFromBus(QStringLiteral("portal"));
    }
    bool come() {
        return bus_.registerVirtualObject(QString::fromLatin1(A::portalPath), this) &&
               bus_.registerService(QString::fromLatin1(A::portalService));
    }
    void leave() {
        bus_.unregisterService(QString::fromLatin1(A::portalService));
        bus_.unregisterObject(QString::fromLatin1(A::portalPath));
    }
    void change(const char* nameSpace, const QVariant& value) {
        if (nameSpace == std::string_view(A::appearanceNamespace)) colorScheme = value;
        auto signal = QDBusMessage::createSignal(QString::fromLatin1(A::portalPath),
                                                 QString::fromLatin1(A::settingsInterface),
                                                 QStringLiteral("SettingChanged"));
        signal.setArguments(
            {QString::fromLatin1(nameSpace), QString::fromLatin1(A::colorSchemeKey), inVariant(value)});
        bus_.send(signal);
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& call, const QDBusConnection& connection) override {
        return connection.send(call.createReply(inVariant(inVariant(colorScheme))));
    }

    QVariant colorScheme = 1u;

private:
    QDBusConnection bus_ =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal"));
};

TEST(DesktopAppearanceTest, FollowsThePortalIgnoresWhatItCannotReadAndFallsBackWhenThePortalLeaves) {
    VELARO_REQUIRE_DESKTOP();
    using P = ColorSchemePreference;
    std::vector<std::string> lines;
    struct Restore {
        LogSink previous;
        ~Restore() { setLogSink(previous); }
    } restore{setLogSink([&](std::string_view tag, std::string_view line) {
        if (tag == "APPEARANCE") lines.emplace_back(line);
    })};
    StandInPortal portal;
    // A configuration folder without a settings database: no GNOME settings to fall back on.
    XdgDesktopAppearance appearance(QDBusConnection::sessionBus(),
                                    QStringLiteral(VELARO_BUILD_DIR "/no-config"));
    const auto is = [&](P scheme) { return waitUntil([&] { return appearance.colorScheme()() == scheme; }); };
    EXPECT_EQ(appearance.colorScheme()(), P::none);

    ASSERT_TRUE(portal.come());
    EXPECT_TRUE(is(P::dark)) << "read when the portal comes";
    portal.change("org.gnome.desktop.interface", 2u);
    portal.change(A::appearanceNamespace, 2u);
    EXPECT_TRUE(is(P::light)) << "SettingChanged is followed";
    const std::size_t before = lines.size();
    portal.change(A::appearanceNamespace, QStringLiteral("dark"));
    EXPECT_TRUE(is(P::none)) << "a value of another type counts as none";
    portal.change(A::appearanceNamespace, 7u);
    portal.change(A::appearanceNamespace, 1u);
    EXPECT_TRUE(is(P::dark));
    EXPECT_EQ(std::count_if(lines.begin() + before, lines.end(),
                            [](const std::string& l) { return l.find("ignored") != std::string::npos; }),
              2)
        << "one line for each value it could not read";

    portal.leave();
    EXPECT_TRUE(is(P::none)) << "the portal left";
    EXPECT_NE(lines.back().find("left"), std::string::npos) << lines.back();
    portal.colorScheme = 2u;
    ASSERT_TRUE(portal.come());
    EXPECT_TRUE(is(P::light)) << "read again when it comes back";
}

// The test desktop's bus activates no dconf: the test runs the service itself, and takes the database it
// wrote away again so that the desktop publishes no preference to the tests after it. It touches only a
// configuration folder of the test desktop's that holds no database yet.
class DconfService {
public:
    DconfService() {
        const QString home = configHome();
        const QString desktop = qEnvironmentVariable("VELARO_DESKTOP_DIR");
        if (home.isEmpty() || desktop.isEmpty() || !home.startsWith(desktop) ||
            QDir(home + QStringLiteral("/dconf")).exists())
            return;
        service_.start(QStringLiteral("/usr/libexec/dconf-service"), {});
        // The service answers once it owns its name: a write before that fails (gsettings only warns), and
        // on a busy machine the first one came before it.
        const auto named = [] {
            return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("ca.desrt.dconf"));
        };
        started_ = service_.waitForStarted(5000) && waitUntil(named);
    }
    ~DconfService() {
        if (!started_) return;
        service_.terminate();
        service_.waitForFinished(3000);
        QDir(configHome() + QStringLiteral("/dconf")).removeRecursively();
    }
    bool started() const { return started_; }
    static QString configHome() { return qEnvironmentVariable("XDG_CONFIG_HOME"); }
    static bool set(const char* name) {
        return run(QStringLiteral("gsettings"),
                   {QStringLiteral("set"), QStringLiteral("org.gnome.desktop.interface"),
                    QStringLiteral("color-scheme"), QString::fromLatin1(name)})
                   .exitCode == 0;
    }

private:
    QProcess service_;
    bool started_ = false;
};

TEST(DesktopAppearanceTest, WithoutAPortalGnomesColorSchemeIsReadAndFollowed) {
    VELARO_REQUIRE_DESKTOP();
    using P = ColorSchemePreference;
    DconfService dconf;
    if (!dconf.started())
        GTEST_SKIP() << "no dconf service of the test desktop's own to hold GNOME's settings";
    ASSERT_TRUE(DconfService::set("prefer-dark"));
    XdgDesktopAppearance appearance(QDBusConnection::sessionBus(), DconfService::configHome());
    const auto is = [&](P scheme) { return waitUntil([&] { return appearance.colorScheme()() == scheme; }); };
    EXPECT_TRUE(is(P::dark)) << "read once no portal answers";
    ASSERT_TRUE(DconfService::set("prefer-light"));
    EXPECT_TRUE(is(P::light)) << "its change is followed";
    ASSERT_TRUE(DconfService::set("default"));
    EXPECT_TRUE(is(P::none));
}

}  // namespace
}  // namespace velaro::e2e
