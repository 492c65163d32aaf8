// Desktop entries: parsing, identifying running programs, names and icons of installed apps, and following
// the folders that hold them.
#include "platform/linux/XdgAppCatalog.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgLoginItem.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/SpinUntil.h"
#include "support/VirtualLoop.h"

namespace velaro {
namespace {

TEST(DesktopEntryParsing, ReadsTheEntryGroupOnlyWithTheBestLocalisedName) {
    const std::string text =
        "# comment\n[Desktop Entry]\nType=Application\nName=Editor\nName[de]=Bearbeiter\nName[de_AT]=Editor "
        "AT\n"
        "Exec=env LANG=C \"/opt/editor/bin/editor\" %F\nIcon=org.example.Editor\nStartupWMClass=EditorMain\n"
        "[Desktop Action new]\nName=New Window\nExec=other\n";
    auto e = parseDesktopEntry(text, "de_AT");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->isApplication);
    EXPECT_EQ(e->name, "Editor");
    EXPECT_EQ(e->localizedName, "Editor AT");
    EXPECT_EQ(e->exec, "/opt/editor/bin/editor");
    EXPECT_EQ(e->startupWMClass, "EditorMain");
    EXPECT_EQ(parseDesktopEntry(text, "de_DE")->localizedName, "Bearbeiter");
    EXPECT_FALSE(parseDesktopEntry(text, "fr_FR")->localizedName);
    EXPECT_FALSE(parseDesktopEntry("Name=x\n", "")) << "no entry group, no entry";
    EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nType=Link\n", "")->isApplication);
    EXPECT_TRUE(parseDesktopEntry(std::string("[Desktop Entry]\n\0\xff=\n", 20), ""));
}

// The program of an Exec line is read with the quoting and escapes desktop entries use, so a path with
// spaces or quotes (as our own login item writes one) is found whole.
TEST(DesktopEntryParsing, TheProgramOfExecIsReadWithItsQuotingAndEscapes) {
    const auto program = [](const std::string& exec) {
        return parseDesktopEntry("[Desktop Entry]\nExec=" + exec + "\n", "")->exec;
    };
    const std::vector<std::pair<std::string, std::string>> cases{
        {"editor %F", "editor"},
        {"\"/opt/My Apps/velaro\" --x", "/opt/My Apps/velaro"},
        {"env LANG=C A_1=x \"/opt/a b/c\"", "/opt/a b/c"},
        {"/opt/a=b/prog", "/opt/a=b/prog"},
        {"\"env\" x", "env"},
        {R"("/opt/q\\"uote/\\$HOME/back\\\\slash")", R"(/opt/q"uote/$HOME/back\slash)"},
        {R"(/opt/with\sspace)", "/opt/with"},
        {"/opt/100%%/prog", "/opt/100%/prog"},
        {"", ""},
        {"env", ""},
    };
    for (const auto& [exec, expected] : cases) EXPECT_EQ(program(exec), expected) << exec;
    // What the login item writes reads back as the same program.
    for (const std::string path : {"/opt/My Apps/velaro", "/opt/\"q\"/$v/`x`/b\\s/50%", "/opt/line\nbreak\r",
                                   "/home/u/bin/velaro", " /lead"})
        EXPECT_EQ(program(desktopEntryExec(path)), path) << path;
}

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string write(const std::string& relative, const std::string& text, const std::string& base = "a") {
        const auto path = std::filesystem::path(dir.path().toStdString()) / base / "applications" / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << text;
        return path.string();
    }
    std::string root(const std::string& base = "a") { return dir.path().toStdString() + "/" + base; }
    QTemporaryDir dir;
};

TEST_F(CatalogTest, IdentifiesProgramsByWindowClassIdOrExecutable) {
    write("org.example.Editor.desktop", "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor-bin\n");
    write("vendor/tool.desktop",
          "[Desktop Entry]\nType=Application\nName=Tool\nStartupWMClass=ToolWin\nExec=t\n");
    write("viewer.desktop", "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/usr/bin/view-it --new\n");
    XdgAppCatalog catalog({root()}, 77, "com.quornet.Velaro");

    EXPECT_EQ(catalog.appIdFor({1, "x", "toolwin", ""}), "vendor-tool") << "StartupWMClass, any case";
    EXPECT_EQ(catalog.appIdFor({1, "editor", "Editor", ""}), "org.example.Editor")
        << "the last part of a reverse-domain id";
    EXPECT_EQ(catalog.appIdFor({1, "v", "V", "/usr/bin/view-it"}), "viewer");
    EXPECT_EQ(catalog.appIdFor({1, "xterm", "XTerm", "/usr/bin/xterm"}), "XTerm")
        << "no entry: the window class";
    EXPECT_EQ(catalog.appIdFor({1, "xclock", "", "/usr/bin/xclock", "xclock"}), "xclock")
        << "no class: the instance";
    EXPECT_EQ(catalog.appIdFor({1, "", "", "/opt/x/bin/runner", "runner"}), "runner")
        << "no WM_CLASS at all: the process's short name";
    EXPECT_EQ(catalog.appIdFor({77, "velaro", "velaro", ""}), "com.quornet.Velaro");
    EXPECT_EQ(catalog.appIdFor({}), "");
}

TEST_F(CatalogTest, LocationsNamesAndEarlierDirectoriesWinning) {
    const auto user = write("app.desktop", "[Desktop Entry]\nType=Application\nName=Mine\n", "user");
    write("app.desktop", "[Desktop Entry]\nType=Application\nName=System\n", "system");
    write("gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n", "user");
    XdgAppCatalog catalog({root("user"), root("system")});
    EXPECT_EQ(catalog.urlForApplication("app"), user);
    EXPECT_FALSE(catalog.urlForApplication("gone")) << "a hidden entry is deleted for the user";
    EXPECT_FALSE(catalog.urlForApplication("nothing"));

    const auto bundle = catalog.openApp(user);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->appId, "app");
    EXPECT_EQ(bundle->name, "Mine");
    EXPECT_FALSE(catalog.openApp(root("user") + "/missing.desktop"));
    const auto text = write("notes.txt", "just text");
    EXPECT_FALSE(catalog.openApp(text));
    EXPECT_EQ(catalog.fileDisplayName(user), "app.desktop");
    EXPECT_TRUE(catalog.iconForFile(user).isNull()) << "no Icon key, no icon";
}

// The entries are read beside the launch: every question asked straight after construction already sees
// them.
// What a chooser of apps offers: what the desktop's menus list, by the name they show.
TEST_F(CatalogTest, InstalledApplicationsAreTheEntriesMenusShow) {
    const auto mine =
        write("app.desktop", "[Desktop Entry]\nType=Application\nName=Mine\nName[de]=Meins\n", "user");
    write("app.desktop", "[Desktop Entry]\nType=Application\nName=System\n", "system");
    write("gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\n", "system");
    write("gone.desktop", "[Desktop Entry]\nType=Application\nName=Gone\nHidden=true\n", "user");
    const auto helper =
        write("helper.desktop", "[Desktop Entry]\nType=Application\nName=Helper\nNoDisplay=true\n", "system");
    write("site.desktop", "[Desktop Entry]\nType=Link\nName=Site\nURL=http://example.org\n", "system");
    write("dir.directory", "[Desktop Entry]\nType=Directory\nName=Games\n", "system");
    const auto nameless = write("vendor/nameless.desktop", "[Desktop Entry]\nType=Application\n", "system");
    XdgAppCatalog catalog({root("user"), root("system")});
    auto apps = catalog.installedApplications();
    std::sort(apps.begin(), apps.end(), [](const auto& a, const auto& b) { return a.appId < b.appId; });
    EXPECT_EQ(apps, (std::vector<InstalledApp>{{"app", "Mine", mine},
                                               {"vendor-nameless", "vendor-nameless", nameless}}))
        << "the user's entry wins, hidden, menu-less and other types stay out, the id names a nameless app";
    EXPECT_EQ(catalog.urlForApplication("helper"), helper) << "a menu-less app still names its programs";
}

TEST_F(CatalogTest, QuestionsRightAfterConstructionSeeTheFilesOfTheirTime) {
    for (int i = 0; i < 300; ++i)
        write("filler" + std::to_string(i) + ".desktop", "[Desktop Entry]\nType=Application\nName=F\n");
    const auto first = write("first.desktop", "[Desktop Entry]\nType=Application\nName=First\nExec=first-bin\n");
    XdgAppCatalog catalog({root()});
    EXPECT_EQ(catalog.urlForApplication("first"), first);
    write("added.desktop", "[Desktop Entry]\nType=Application\nName=Added\n");

    XdgAppCatalog fresh({root()});
    EXPECT_EQ(fresh.appIdFor({1, "", "", "/usr/bin/first-bin"}), "first");
    EXPECT_EQ(fresh.openApp(first)->appId, "first");
    EXPECT_EQ(fresh.entry("added")->name, "Added");
}

// Apps installed, changed and removed while the app runs, in folders that exist and in the user's folder
// that is made only then, replaced or written in place: each change is read once the folders have been
// quiet for a moment, and the catalog's users are told; a program running all along is named by its new
// entry from then on.
TEST_F(CatalogTest, FollowsTheApplicationsFoldersWhileItRuns) {
    const std::string app = "[Desktop Entry]\nType=Application\nName=";
    const auto probe = write("probe.desktop", app + "Probe\n", "system");
    XdgAppCatalog catalog({root("home/.local/share"), root("system")}, 77);
    x11::AppIdentity identity(catalog, 1);
    const x11::WindowOwner running{static_cast<std::int32_t>(::getpid()), "velaro-probe", "VelaroProbeWin"};
    EXPECT_EQ(identity.appIdOf(running), "VelaroProbeWin") << "no entry names it yet";
    test::VirtualLoop loop;
    int changes = 0;
    auto told = catalog.changed().sink([&](int) { ++changes; });
    catalog.followChanges(loop, 1.0);
    loop.advance(1);
    EXPECT_EQ(changes, 0) << "a look at start-up that finds nothing new tells nothing";
    const auto generation = catalog.generation();
    // Waits for the folders' notice, then for the quiet moment.
    const auto settle = [&] {
        EXPECT_TRUE(test::spinUntil([&] { return loop.pendingTimers() > 0; })) << "no change was seen";
        loop.advance(0.999);
        const bool early = changes > 0;
        loop.advance(0.001);
        return !early;
    };

    // An app installed in an existing folder, and one in a subfolder made with it.
    write("vendor/tool.desktop", app + "Tool\nStartupWMClass=VelaroProbeWin\n", "system");
    EXPECT_TRUE(settle()) << "nothing is read before the folders are quiet";
    EXPECT_EQ(changes, 1);
    EXPECT_GT(catalog.generation(), generation);
    EXPECT_EQ(catalog.entry("vendor-tool")->name, "Tool");
    EXPECT_EQ(identity.appIdOf(running), "vendor-tool") << "the running program is named anew";

    // The user's folder, made after the start with an app that overrides the system's.
    const auto mine = write("probe.desktop", app + "My Probe\n", "home/.local/share");
    settle();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(catalog.urlForApplication("probe"), mine);
    EXPECT_EQ(catalog.openApp(mine)->name, "My Probe");

    // The user's own entry written in place, as a text editor may.
    std::ofstream(mine, std::ios::app) << "Icon=probe-edited\n";
    settle();
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(catalog.entry("probe")->icon, "probe-edited");

    // Replaced as package managers and editors do: a new file renamed over the old one.
    write("new.desktop", app + "Newer Probe\n", "home/.local/share");
    std::filesystem::rename(root("home/.local/share") + "/applications/new.desktop", mine);
    settle();
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(catalog.entry("probe")->name, "Newer Probe");
    EXPECT_FALSE(catalog.entry("new"));

    // Removed: the system's entry shows again, and a removed app is gone.
    std::filesystem::remove(mine);
    std::filesystem::remove_all(root("system") + "/applications/vendor");
    settle();
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(catalog.urlForApplication("probe"), probe);
    EXPECT_FALSE(catalog.urlForApplication("vendor-tool"));
    EXPECT_EQ(identity.appIdOf(running), "VelaroProbeWin");

    // A change that leaves every entry as it was tells nothing.
    write("notes.txt", "not an entry", "system");
    settle();
    EXPECT_EQ(changes, 5);
}

// A desktop of thousands of programs (a storm of windows, each of a process of its own): the identity's table
// of processes forgets ended ones now and then, but does not look at every process it holds again for each
// new one (it once did, past 512 of them: millions of looks at /proc for a few thousand windows). The names
// it gives: an entry's name, else the window's class.
TEST_F(CatalogTest, TheIdentityOfThousandsOfProgramsLooksAtEachProcessAFewTimesAndNamesThem) {
    write("tool.desktop",
          "[Desktop Entry]\nType=Application\nName=Tool\nName[de]=Werkzeug\n"
          "StartupWMClass=ToolWin\n");
    // Our own process is named Velaro: it is put outside the made-up ones (on a fresh machine the test's own
    // process id lies among them).
    XdgAppCatalog catalog({root()}, 1);
    std::int64_t looks = 0;
    // Every third process has ended by the time it is looked at again.
    x11::AppIdentity identity(catalog, 1, [&](std::int32_t pid) {
        ++looks;
        return pid % 3 == 0 ? std::string() : "/usr/bin/program-" + std::to_string(pid);
    });
    constexpr int kPrograms = 4000;
    for (int pid = 100; pid < 100 + kPrograms; ++pid)
        ASSERT_EQ(identity.appIdOf({pid, "", "Win" + std::to_string(pid)}), "Win" + std::to_string(pid));
    EXPECT_LT(looks, 4 * kPrograms) << "the table was looked through again for each new process";
    // What was kept answers without the catalog: the id its first window got.
    EXPECT_EQ(identity.appIdOf({4001, "", "Other"}), "Win4001");

    const auto tool = identity.nameOf({50, "tool", "ToolWin"});
    EXPECT_EQ(tool.id, "tool");
    EXPECT_TRUE(tool.name == "Tool" || tool.name == "Werkzeug") << tool.name;
    EXPECT_EQ(identity.nameOf({51, "", "Plain"}).name, "Plain");
}

// Files taken for apps that are none: each is refused without blocking and without reading more than a
// desktop file's worth.
TEST_F(CatalogTest, ChosenFilesThatAreNoApplicationGiveNothing) {
    const std::string app = "[Desktop Entry]\nType=Application\nName=Fine\n";
    XdgAppCatalog catalog({root()});
    const auto fifo = root() + "/applications/pipe.desktop";
    std::filesystem::create_directories(root() + "/applications");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto folder = root() + "/applications/folder.desktop";
    std::filesystem::create_directories(folder);
    std::string padded = app + "Comment=" + std::string(256 * 1024, 'x') + "\n";

    const std::vector<std::pair<std::string, std::string>> refused{
        {"a FIFO, which would block a read", fifo},
        {"a folder", folder},
        {"a device", "/dev/zero"},
        {"larger than a desktop file can be", write("big.desktop", padded)},
        {"a link", write("link.desktop", "[Desktop Entry]\nType=Link\nName=L\nURL=https://x\n")},
        {"no id in its name", write(".desktop", app)},
        {"no entry group", write("plain.desktop", "Type=Application\nName=P\n")},
    };
    for (const auto& [why, path] : refused) {
        EXPECT_FALSE(catalog.openApp(path)) << why;
        EXPECT_TRUE(catalog.iconForFile(path).isNull()) << why;
    }
    // Right at the cap it is still read.
    padded.resize(256 * 1024);
    const auto atCap = write("cap.desktop", padded);
    ASSERT_TRUE(catalog.openApp(atCap));
    EXPECT_EQ(catalog.openApp(atCap)->name, "Fine");
}

TEST_F(CatalogTest, IconsFromAbsolutePaths) {
    QImage red(4, 4, QImage::Format_ARGB32);
    red.fill(Qt::red);
    const std::string png = dir.path().toStdString() + "/icon.png";
    ASSERT_TRUE(red.save(QString::fromStdString(png)));
    const auto url = write("p.desktop", "[Desktop Entry]\nType=Application\nName=P\nIcon=" + png + "\n");
    XdgAppCatalog catalog({root()});
    const QImage icon = catalog.iconForFile(url);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixelColor(0, 0), QColor(Qt::red));
}

// An entry anyone may drop into the user's folders names its icon: nothing it names may stall the app
// (a FIFO), read the kernel's files, climb out of the icon folders, or draw other files in through an SVG.
TEST_F(CatalogTest, IconsAreReadOnlyWhereAnEntryMayPointAndOnlyAsPictures) {
    const std::string base = dir.path().toStdString();
    ASSERT_EQ(::mkfifo((base + "/fifo.png").c_str(), 0600), 0);
    const auto svg = [&](const std::string& name, const std::string& inside) {
        std::ofstream(base + "/" + name)
            << R"(<svg xmlns="http://www.w3.org/2000/svg" )"
               R"(xmlns:xlink="http://www.w3.org/1999/xlink" width="8" height="8">)"
            << inside << "</svg>";
        return base + "/" + name;
    };
    QImage wide(5000, 1, QImage::Format_RGB32);
    ASSERT_TRUE(wide.save(QString::fromStdString(base + "/wide.png")));
    XdgAppCatalog catalog({root()});
    const auto iconOf = [&](const std::string& icon) {
        return catalog.iconForFile(
            write("p.desktop", "[Desktop Entry]\nType=Application\nIcon=" + icon + "\n"));
    };
    EXPECT_FALSE(iconOf(svg("plain.svg", R"(<rect width="8" height="8" fill="red"/>)")).isNull());
    for (const std::string& refused :
         {base + "/fifo.png", svg("draws.svg", R"(<image xlink:href=")" + base + R"(/fifo.png" width="8"/>)"),
          base + "/wide.png", std::string("/proc/self/environ"), "../../../.." + base + "/wide",
          std::string("a/b"), std::string(".hidden")})
        EXPECT_TRUE(iconOf(refused).isNull()) << refused;
    EXPECT_EQ(iconReference("org.example.Player+1_x-y").kind, IconReference::Kind::themed);
}

}  // namespace
}  // namespace velaro
