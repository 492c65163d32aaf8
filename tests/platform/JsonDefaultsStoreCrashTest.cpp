// A writer killed with SIGKILL in the middle of a burst of writes leaves a whole, readable defaults file.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/helpers/DefaultsBurst.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "support/VirtualLoop.h"

extern char** environ;

namespace velaro::test {
namespace {

// The writer child: started on a file, it reports each counter it has finished writing.
class BurstWriter {
public:
    explicit BurstWriter(const std::string& path) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::string program = VELARO_DEFAULTS_BURST_WRITER;
        std::string argument = path;
        char* argv[] = {program.data(), argument.data(), nullptr};
        const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            pid_ = 0;
            ::close(fds[0]);
            return;
        }
        out_ = ::fdopen(fds[0], "r");
    }
    ~BurstWriter() { killNow(); }

    // The next counter the writer reports as on disk; -1 when it stopped reporting.
    long long nextWritten() {
        long long counter = -1;
        if (!out_ || std::fscanf(out_, "%lld", &counter) != 1) return -1;
        return counter;
    }
    // SIGKILL, most likely in the middle of the write after the last one reported. True when it was
    // still running (it did not stop on its own).
    bool killNow() {
        if (pid_ <= 0) return false;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        if (out_) std::fclose(out_);
        out_ = nullptr;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

private:
    pid_t pid_ = 0;
    FILE* out_ = nullptr;
};

// Reads the file as another process would and checks it holds one whole state, not older than `atLeast`.
// Returns the state's counter.
long long expectOneWholeState(const std::string& path, long long atLeast) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    const auto stored = decodeDefaultsFile(text.str(), &error);
    EXPECT_TRUE(stored) << error;
    if (!stored || !(*stored)["counter"].is_number_integer()) return -1;
    const auto counter = (*stored)["counter"].get<long long>();
    EXPECT_GE(counter, atLeast);
    EXPECT_EQ((*stored)["check"], counter * 3);
    EXPECT_EQ((*stored)["payload"], burstPayload(counter));
    EXPECT_EQ((*stored)["blob"], burstBlob(counter));
    EXPECT_EQ((*stored)["ratio"], static_cast<double>(counter) + 0.5);
    return counter;
}

TEST(JsonDefaultsStoreCrash, AKilledWriterAlwaysLeavesOneWholeWrittenState) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("Velaro/defaults.json").toStdString();
    long long onDisk = 0;
    for (const int writes : {1, 2, 3, 5, 8, 13, 21}) {
        SCOPED_TRACE("killed after " + std::to_string(writes) + " writes");
        BurstWriter writer(path);
        // A new writer goes on from exactly the state the killed one left.
        long long expected = onDisk + 1;
        for (int i = 0; i < writes; ++i, ++expected) {
            const long long reported = writer.nextWritten();
            ASSERT_EQ(reported, expected) << "the writer stopped or did not start from the state on disk";
            // Read while the writer is busy with the next write: a reader never sees a torn file either.
            expectOneWholeState(path, reported);
            if (::testing::Test::HasFailure()) return;
        }
        ASSERT_TRUE(writer.killNow()) << "the writer ended on its own";
        onDisk = expectOneWholeState(path, expected - 1);
        if (::testing::Test::HasFailure()) return;
    }
    // Nothing was ever found corrupt, and the next start clears a torn copy a kill may leave; a copy that
    // holds a whole state (killed between writing and renaming) may stay, as a user's backup would.
    VirtualLoop loop;
    { JsonDefaultsStore next(loop, path); }
    const QDir folder(dir.filePath("Velaro"));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name == "defaults.json") continue;
        SCOPED_TRACE(name.toStdString());
        expectOneWholeState(folder.filePath(name).toStdString(), 0);
    }
}

TEST(JsonDefaultsStoreCrash, StartUpRemovesTornTemporariesButKeepsWholeCopies) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("Velaro");
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(folder + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    write("defaults.json", R"({"a":1})");
    write("defaults.json.Ab3xQ9", R"({"a":)");             // torn by a kill mid-write
    write("defaults.json.backup", R"({"a":0,"b":true})");  // the user's own copy
    VirtualLoop loop;
    { JsonDefaultsStore next(loop, (folder + "/defaults.json").toStdString()); }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
              (QStringList{"defaults.json", "defaults.json.backup"}));
}

}  // namespace
}  // namespace velaro::test
