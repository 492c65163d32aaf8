// The defaults file under several processes: a writer killed with SIGKILL in the middle of a burst of
// writes leaves a whole, readable file and nothing else, and two writers at once never lose each other's
// keys.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    // Nothing was ever found corrupt, and the next start clears every copy a kill left, torn or whole.
    VirtualLoop loop;
    { JsonDefaultsStore next(loop, path); }
    EXPECT_EQ(QDir(dir.filePath("Velaro")).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
              (QStringList{"defaults.json", "defaults.json.lock"}));
}

// Only files under the name the store gives its temporaries are removed, torn or whole, and only while no
// other writer holds the lock; the user's look-alike copies stay whatever they hold.
TEST(JsonDefaultsStoreCrash, StartUpRemovesOnlyItsOwnLeftoversAndNeverAUsersCopy) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath("Velaro");
    ASSERT_TRUE(QDir().mkpath(folder));
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(folder + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QStringList usersOwn{"defaults.json.backup", "defaults.json.before", "defaults.json.Ab3xQ9",
                               ".defaults.json.velaro-write-short", "defaults.json.velaro-write-Ab3xQ9"};
    const QStringList leftovers{".defaults.json.velaro-write-Ab3xQ9", ".defaults.json.velaro-write-Zz0000"};
    write("defaults.json", R"({"a":1})");
    for (const auto& name : usersOwn) write(name, R"({"a":)");
    write(leftovers[0], R"({"a":)");             // torn by a kill mid-write
    write(leftovers[1], R"({"a":0,"b":true})");  // whole, killed before its rename
    // Never ours under that name either: something that is not a regular file.
    ASSERT_EQ(::mkfifo((folder + "/.defaults.json.velaro-write-fifo00").toLocal8Bit().constData(), 0600), 0);
    const QStringList kept = [&] {
        QStringList all = usersOwn;
        all << "defaults.json"
            << "defaults.json.lock"
            << ".defaults.json.velaro-write-fifo00";
        all.sort();
        return all;
    }();
    const auto present = [&] {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    };
    const std::string path = (folder + "/defaults.json").toStdString();
    VirtualLoop loop;

    // Another writer holds the lock: one of the leftovers may be its write in progress.
    const int other = ::open(JsonDefaultsStore::lockPath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    {
        JsonDefaultsStore store(loop, path);
        EXPECT_EQ(present(), [&] {
            QStringList all = kept;
            all << leftovers;
            all.sort();
            return all;
        }());
        ::flock(other, LOCK_UN);
        ::close(other);
        // Our first write holds the lock, so it clears them then.
        store.set("b", 2);
        ASSERT_TRUE(store.synchronize());
        EXPECT_EQ(present(), kept);
    }
    for (const auto& name : leftovers) write(name, R"({"a":)");
    { JsonDefaultsStore next(loop, path); }
    EXPECT_EQ(present(), kept);
}

TEST(JsonDefaultsStoreCrash, TwoWriterProcessesNeverLoseEachOthersKeys) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("Velaro/defaults.json").toStdString();
    constexpr int kWrites = 300;
    std::vector<pid_t> writers;
    for (const char* prefix : {"first.", "second."}) {
        std::string program = VELARO_DEFAULTS_BURST_WRITER, file = path, keys = prefix,
                    count = std::to_string(kWrites);
        char* argv[] = {program.data(), file.data(), keys.data(), count.data(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed: " << status;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const auto stored = decodeDefaultsFile(text.str());
    ASSERT_TRUE(stored);
    for (const std::string prefix : {"first.", "second."}) {
        int missing = 0;
        for (int i = 0; i < kWrites; ++i)
            if (!stored->contains(prefix + std::to_string(i))) ++missing;
        EXPECT_EQ(missing, 0) << prefix;
        EXPECT_EQ((*stored)[prefix + "last"], kWrites - 1) << prefix;
    }
    EXPECT_EQ(stored->size(), 2u * (kWrites + 1));
}

}  // namespace
}  // namespace velaro::test
