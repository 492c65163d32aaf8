// The X11 permission probes where they must say no, and the help pages that stand in for the privacy panes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <map>

#include "platform/linux/X11Permissions.h"

namespace velaro {
namespace {

X11Permissions::Environment environment(std::map<std::string, std::string> vars) {
    return [vars](const char* name) -> std::optional<std::string> {
        if (auto it = vars.find(name); it != vars.end()) return it->second;
        return std::nullopt;
    };
}

TEST(X11PermissionsTest, WithoutAnXServerNothingIsAllowed) {
    X11Permissions permissions(nullptr, environment({}));
    EXPECT_FALSE(permissions.screenCaptureAllowed());
    EXPECT_FALSE(permissions.accessibilityTrusted());
    EXPECT_FALSE(permissions.requestAccessibility());
}

TEST(X11PermissionsTest, AWaylandSessionCannotBeReadThroughItsXServer) {
    // The display is never asked: the answer comes from the session type alone.
    EXPECT_FALSE(
        X11Permissions(nullptr, environment({{"XDG_SESSION_TYPE", "wayland"}})).screenCaptureAllowed());
    EXPECT_FALSE(
        X11Permissions(nullptr, environment({{"WAYLAND_DISPLAY", "wayland-0"}})).screenCaptureAllowed());
}

class HelpPagesTest : public ::testing::Test {
protected:
    void SetUp() override { permissions.setDataDirectories({dir.path() + "/home", dir.path()}); }
    void install(const QString& name) {
        QDir().mkpath(dir.path() + "/velaro/help");
        QFile f(dir.path() + "/velaro/help/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html></html>");
    }

    QTemporaryDir dir;
    QList<QUrl> opened;
    X11Permissions permissions{nullptr, environment({}), [this](const QUrl& url) {
                                   opened.push_back(url);
                                   return true;
                               }};
};

TEST_F(HelpPagesTest, EachPaneOpensItsOwnInstalledPage) {
    install("screen-capture.html");
    install("accessibility.html");
    EXPECT_TRUE(permissions.openPrivacyPane(PrivacyPane::screenCapture));
    EXPECT_TRUE(permissions.openPrivacyPane(PrivacyPane::accessibility));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(dir.path() + "/velaro/help/screen-capture.html"));
    EXPECT_EQ(opened[1], QUrl::fromLocalFile(dir.path() + "/velaro/help/accessibility.html"));
}

TEST_F(HelpPagesTest, AMissingPageOpensNothingAndSaysSo) {
    install("screen-capture.html");
    EXPECT_FALSE(permissions.openPrivacyPane(PrivacyPane::accessibility));
    EXPECT_TRUE(opened.isEmpty());
}

}  // namespace
}  // namespace velaro
