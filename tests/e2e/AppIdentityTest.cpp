// One program, one app id in every service: what capture content names an app is what the workspace (and so
// the window-list scans, the excluded apps and the profiles) names it: the desktop-file id where the program
// has a desktop file, else the one fallback rule.
#include <gtest/gtest.h>

#include <QStringList>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

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
    X11Workspace workspace(loop, *session);
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

// An app installed while its program runs: from then on every service names the program by its desktop
// file, the workspace says so (the old name ends, the new one starts), and removing the file undoes it.
TEST(AppIdentityDesktop, AnAppInstalledWhileItsProgramRunsIsNamedByItsEntryFromThen) {
    VELARO_REQUIRE_DESKTOP();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string data = dir.path().toStdString();
    XdgAppCatalog catalog({data, "/usr/share"});
    QtMainLoop loop;
    catalog.followChanges(loop, 0.2);
    auto session = X11Session::open({}, X11Session::qtPixelRatio(), catalog);
    ASSERT_TRUE(session);
    X11Workspace workspace(loop, *session);
    X11CaptureService capture(loop, *session);
    std::vector<WorkspaceEvent> events;
    auto seen = workspace.events().sink([&](const WorkspaceEvent& e) { events.push_back(e); });

    OtherProgram program("xmessage", "velaro-identity", {"-geometry", "200x80+500+300", "installed later"});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(waitUntil([&] { return program.window() != 0; })) << "its window never showed";
    const auto idOf = [&] {
        const auto app = workspace.runningApplication(program.pid());
        return app ? app->appId : std::nullopt;
    };
    ASSERT_TRUE(waitUntil([&] { return idOf() == "Xmessage"; })) << idOf().value_or("(none)");

    std::filesystem::create_directories(data + "/applications");
    std::ofstream(data + "/applications/org.example.Note.desktop")
        << "[Desktop Entry]\nType=Application\nName=Note\nStartupWMClass=Xmessage\n";
    EXPECT_TRUE(waitUntil([&] { return idOf() == "org.example.Note"; })) << idOf().value_or("(none)");
    EXPECT_EQ(workspace.runningApplication(program.pid())->name, "Note");
    EXPECT_EQ(capturedId(capture, program.pid()), "org.example.Note");
    const auto told = [&](WorkspaceEvent::Kind kind, const std::string& id) {
        return std::any_of(events.begin(), events.end(), [&](const WorkspaceEvent& e) {
            return e.kind == kind && e.app && e.app->pid == program.pid() && e.app->appId == id;
        });
    };
    EXPECT_TRUE(told(WorkspaceEvent::Kind::didTerminateApplication, "Xmessage"));
    EXPECT_TRUE(told(WorkspaceEvent::Kind::didLaunchApplication, "org.example.Note"));

    std::filesystem::remove(data + "/applications/org.example.Note.desktop");
    EXPECT_TRUE(waitUntil([&] { return idOf() == "Xmessage"; })) << idOf().value_or("(none)");
    EXPECT_EQ(capturedId(capture, program.pid()), "Xmessage");
}

}  // namespace
}  // namespace velaro::e2e
