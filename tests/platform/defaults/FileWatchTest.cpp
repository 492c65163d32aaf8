// The watch on the settings file: edits in place and atomic saves are seen, and nothing is watched that the
// guarded path refused.
#include <gtest/gtest.h>

#include <QDir>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/helpers/DefaultsFileRig.h"
#include "support/SpinUntil.h"

namespace velaro::test {
namespace {

class FileWatchTest : public DefaultsFileRig {
protected:
    // The inodes this process watches with inotify, as the kernel lists them.
    static std::set<ino_t> watchedInodes() {
        std::set<ino_t> inodes;
        for (const QString& fd : QDir("/proc/self/fdinfo").entryList(QDir::Files)) {
            std::istringstream info(readText("/proc/self/fdinfo/" + fd.toStdString()));
            for (std::string line; std::getline(info, line);)
                if (const auto at = line.find(" ino:");
                    line.starts_with("inotify wd:") && at != std::string::npos)
                    inodes.insert(std::stoull(line.substr(at + 5), nullptr, 16));
        }
        return inodes;
    }
    static ino_t inodeOf(const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    }
    // Lets the watch's notices through until the store holds `value` at "a".
    bool takenIn(JsonDefaultsStore& store, int value) {
        return spinUntil([&] {
            loop_.runUntilIdle();
            return store.integerValue("a") == value;
        });
    }
};

// An edit in place shows only on the file, a save that renames a new file over it only on its folder: both
// are taken in, and the watch moves on to each new file.
TEST_F(FileWatchTest, EditsInPlaceAndAtomicSavesAreTakenIn) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    store.watchForOutsideEdits();
    const std::string saved = path_ + ".new";
    for (int a = 2; a <= 5; ++a) {
        const std::string text = R"({"a": )" + std::to_string(a) + "}";
        if (a % 2 == 0) {
            rewriteInPlace(path_, text);
        } else {
            writeText(saved, text);
            ASSERT_EQ(std::rename(saved.c_str(), path_.c_str()), 0);
        }
        EXPECT_TRUE(takenIn(store, a)) << (a % 2 == 0 ? "in place" : "renamed over it");
    }
    const auto watched = watchedInodes();
    EXPECT_TRUE(watched.contains(inodeOf(path_)) &&
                watched.contains(inodeOf(dir_.filePath("config/Velaro").toStdString())));
}

// Run as root with $XDG_CONFIG_HOME below another user's link to root's private folder, the store refuses the
// path, and its watch goes no further: nothing behind the link is looked at or watched.
TEST_F(FileWatchTest, NothingBehindARefusedLinkIsWatched) {
    if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
    constexpr uid_t kOther = 65534;  // nobody
    const QString theirs = dir_.filePath("u"), roots = dir_.filePath("root-only");
    ASSERT_TRUE(QDir().mkpath(theirs) && QDir().mkpath(roots + "/cfg/Velaro"));
    ASSERT_EQ(::chown(theirs.toLocal8Bit().constData(), kOther, kOther), 0);
    ASSERT_EQ(::chmod(roots.toLocal8Bit().constData(), 0700), 0);
    const std::string behind = (roots + "/cfg/Velaro").toStdString();
    writeText(behind + "/defaults.json", R"({"root": true})");
    const std::string link = (theirs + "/up").toStdString();
    ASSERT_EQ(::symlink(roots.toLocal8Bit().constData(), link.c_str()), 0);
    ASSERT_EQ(::lchown(link.c_str(), kOther, kOther), 0);
    const ScopedEnv xdg("XDG_CONFIG_HOME", theirs + "/up/cfg");
    JsonDefaultsStore store(loop_, JsonDefaultsStore::standardPath());
    store.watchForOutsideEdits();
    const auto watched = watchedInodes();
    for (const std::string& path : {behind, behind + "/defaults.json", (roots + "/cfg").toStdString()})
        EXPECT_FALSE(watched.contains(inodeOf(path))) << path;
}

}  // namespace
}  // namespace velaro::test
