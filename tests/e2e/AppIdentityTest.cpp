// One program, one app id in every service: what capture content names an app is what the workspace (and so
// the window-list scans, the excluded apps and the profiles) names it: the desktop-file id where the program
// has a desktop file, else the one fallback rule.
#include <gtest/gtest.h>

#include <QStringList>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/TestSession.h"
#include "platform/linux/X11CaptureService.h"
#include "platform/linux/X11Workspace.h"

namespace velaro::e2e {
namespace {

std::optional<std::string> capturedId(X11CaptureService& capture, std::int64_t pid) {
    std::optional<std::string> id;
    bool done = false;
    capture.getShareableContent(false, true, [&](auto content, auto) {
        for (const auto& app : content ? content->applications : std::vector<CaptureApplication>{})
            if (app.processID == pid) id = app.appId;
        done = true;
    });
    waitUntil([&] { return done; });
    return id;
}

TEST(AppIdentityDesktop, CaptureContentAndTheWorkspaceNameAProgramAlike) {
    VELARO_REQUIRE_DESKTOP();
    TestSession session;
    ASSERT_TRUE(session);
    QtMainLoop loop;
    X11Workspace workspace(*session);
    X11CaptureService capture(loop, *session);
    struct Case {
        const char* program;
        QStringList arguments;
        std::string id;
    };
    const Case cases[] = {
        // Its desktop file says StartupWMClass=XTerm.
        {"xterm", {"-geometry", "40x8+60+300"}, "debian-xterm"},
        // No desktop file: the window class, as it stands.
        {"xmessage", {"-geometry", "200x80+500+300", "no desktop file"}, "Xmessage"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        OtherProgram program(c.program, "velaro-identity", c.arguments);
        ASSERT_TRUE(program.started());
        ASSERT_TRUE(waitUntil([&] { return program.window() != 0; })) << "its window never showed";
        std::optional<std::string> fromWorkspace;
        EXPECT_TRUE(waitUntil([&] {
            const auto app = workspace.runningApplication(program.pid());
            fromWorkspace = app ? app->appId : std::nullopt;
            return fromWorkspace.has_value();
        }));
        EXPECT_EQ(fromWorkspace, c.id);
        EXPECT_EQ(capturedId(capture, program.pid()), c.id);
    }
}

}  // namespace
}  // namespace velaro::e2e
