// Outside edits racing the store's writes, replayed through the moments around each swap: none is lost, none
// undoes another, and one left half written is kept aside.
#include <gtest/gtest.h>

#include <QDir>
#include <map>
#include <optional>
#include <random>

#include <fcntl.h>
#include <unistd.h>

#include "platform/helpers/DefaultsFileRig.h"

namespace velaro::test {
namespace {

class JsonDefaultsStoreRaceTest : public DefaultsFileRig {};

void saveByRename(const std::string& path, const PlistValue& values) {
    writeText(path + ".new", encodeDefaultsFile(values));
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
}

// Edits other programs make land at any moment, also between our read of the file and the swap that puts
// the new one in place; each of these is saved the way editors and tools save: a new file renamed over the
// old one, the file rewritten in place, and the file emptied (and partly written) in place with the rest
// following only after our swap. Whichever way, no edit is lost and none is taken for an emptied file.
TEST_F(JsonDefaultsStoreRaceTest, NoOutsideEditLandingDuringAWriteIsLost) {
    enum Save { renamed, inPlace, emptiedThenWritten, halfWritten, kinds };
    writeFile(R"({"theirs.last": -1})");
    JsonDefaultsStore store(loop_, path_);
    // Each save and each edit changes a key of a few, so the file stays the size of a settings file.
    const auto key = [](const char* side, int i) { return std::string(side) + std::to_string(i % 16); };
    int edit = -1;
    std::string rest;
    int editing = -1;  // the outside editor's descriptor while it has more to write
    store.setBeforeSwap([&] {
        if (edit < 0) return;
        PlistValue file = fileJson();
        file[key("theirs.", edit)] = edit;
        file["theirs.last"] = edit;
        // Both sides change this one: the change made here since the last write wins.
        file[key("ours.", edit)] = "theirs";
        const std::string text = encodeDefaultsFile(file);
        switch (edit % kinds) {
            case renamed:
                writeText(path_ + ".new", text);
                ASSERT_EQ(::rename((path_ + ".new").c_str(), path_.c_str()), 0);
                break;
            case inPlace:
                writeText(path_, text);
                break;
            case emptiedThenWritten:
            case halfWritten: {
                const std::size_t now = edit % kinds == halfWritten ? text.size() / 2 : 0;
                editing = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                ASSERT_GE(editing, 0);
                ASSERT_EQ(::write(editing, text.data(), now), static_cast<ssize_t>(now));
                rest = text.substr(now);
                break;
            }
        }
        edit = -1;
    });
    constexpr int kSaves = 1000;
    int lost = 0;
    for (int i = 0; i < kSaves; ++i) {
        edit = i;
        store.set(key("ours.", i), i);
        // A save the app waits for, and one on the next turn of the loop.
        if (i % 2 == 0 && i % kinds < emptiedThenWritten)
            ASSERT_TRUE(store.synchronize());
        else
            loop_.runUntilIdle();
        if (editing >= 0) {
            // Our file stands meanwhile; the editor finishes writing into the one the swap took away.
            EXPECT_EQ(fileJson()[key("ours.", i)], i);
            ASSERT_EQ(::write(editing, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
            ::close(editing);
            editing = -1;
            loop_.advance(0.02);
        }
        PlistValue file = fileJson();
        const std::string theirs = key("theirs.", i), ours = key("ours.", i);
        if (file[theirs] != i || file["theirs.last"] != i || store.integerValue(theirs) != i) ++lost;
        EXPECT_EQ(file[ours], i);
        EXPECT_EQ(store.integerValue(ours), i);
        if (HasFailure()) return;
    }
    EXPECT_EQ(lost, 0);
    EXPECT_FALSE(writesPending(store));
    EXPECT_EQ(fileJson().size(), 2u * 16 + 1);
    EXPECT_EQ(store.persistentDomain(), fileJson());
    EXPECT_FALSE(loggedWithTag());
    EXPECT_EQ(QDir(dir_.filePath("config/Velaro")).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{"defaults.json", "defaults.json.lock"}));
}

// A write looks at the file once more just before its swap: an edit that landed while ours was written and
// flushed is read and goes out with ours in one swap, and ours never stands without it.
TEST_F(JsonDefaultsStoreRaceTest, AnEditLandingWhileOursIsWrittenGoesOutWithOursInOneSwap) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    bool landed = false;
    int swaps = 0;
    store.setBeforeLastLook([&] {
        if (!std::exchange(landed, true)) saveByRename(path_, {{"a", 1}, {"theirs", 2}});
    });
    store.setBeforeSwap([&] { ++swaps; });
    store.set("ours", 1);
    ASSERT_TRUE(store.synchronize());
    EXPECT_TRUE(landed);
    EXPECT_EQ(swaps, 1);
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 1}, {"theirs", 2}, {"ours", 1}}));
}

// An edit that lands during our write is put back in place at once: ours, which lacks it, stands only between
// two swaps. An editor that opened ours in that moment saves a file without the edit, which must not undo it;
// the file saved as it stood does (someone setting back what the edit changed), as does one that only looks
// made from a file nobody read.
TEST_F(JsonDefaultsStoreRaceTest, AnEditMadeFromTheFileThatStoodForAMomentDoesNotUndoTheEditBeforeIt) {
    writeFile(R"({"a": 1})");
    JsonDefaultsStore store(loop_, path_);
    // Without a race, a key set back to what it held a moment ago is an edit like any other.
    for (const int a : {2, 1, 2}) {
        saveByRename(path_, {{"a", a}});
        store.takeInOutsideEdits();
        EXPECT_EQ(store.integerValue("a"), a);
    }
    std::vector<PlistValue> inPlace;  // the file at each swap of ours
    store.setBeforeSwap([&] {
        inPlace.push_back(fileJson());
        if (inPlace.size() == 1) saveByRename(path_, {{"a", 2}, {"first", 1}});
    });
    store.set("ours", 1);
    loop_.runUntilIdle();
    // Our write, the edit put back (ours standing, read by an editor), and ours written again with the edit.
    ASSERT_EQ(inPlace.size(), 3u);
    const PlistValue readInTheMoment = inPlace[1];
    EXPECT_EQ(readInTheMoment, (PlistValue{{"a", 2}, {"ours", 1}}));
    EXPECT_EQ(inPlace[2], (PlistValue{{"a", 2}, {"first", 1}})) << "the edit stands again until we write";
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"first", 1}, {"ours", 1}}));
    store.setBeforeSwap(nullptr);

    // The editor saves what it read plus its own change. The file it left lacks what it undid by mistake:
    // that is written again.
    PlistValue second = readInTheMoment;
    second["second"] = 2;
    saveByRename(path_, second);
    store.takeInOutsideEdits();
    loop_.runUntilIdle();
    const PlistValue all{{"a", 2}, {"first", 1}, {"second", 2}, {"ours", 1}};
    EXPECT_EQ(store.persistentDomain(), all);
    EXPECT_EQ(fileJson(), all);

    // The file that stood, saved as it was, is not something made from it: it sets back what it holds.
    saveByRename(path_, readInTheMoment);
    store.takeInOutsideEdits();
    EXPECT_EQ(store.persistentDomain(), (PlistValue{{"a", 2}, {"ours", 1}}));
}

// What ours lacked while it stood for a moment is the edit that came out of its swap, and no more: an editor
// that read ours in that moment does not undo that edit, but its save is still the newest word on what other
// editors changed since (here another save made from ours, taken in while the edits kept coming out).
TEST_F(JsonDefaultsStoreRaceTest, AnEditDuringThePutBackIsMeasuredAgainstTheFileItWasMadeFrom) {
    writeFile(R"({"a": 1, "b": 1})");
    JsonDefaultsStore store(loop_, path_);
    int swaps = 0;
    PlistValue readInTheMoment;
    store.setBeforeSwap([&] {
        if (++swaps == 1) saveByRename(path_, {{"a", 2}, {"b", 1}});
        if (swaps != 2) return;
        readInTheMoment = fileJson();
        PlistValue other = readInTheMoment;
        other["b"] = 2;
        saveByRename(path_, other);
    });
    store.set("ours", 1);
    loop_.runUntilIdle();
    store.setBeforeSwap(nullptr);
    ASSERT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 2}, {"ours", 1}}));
    PlistValue later = readInTheMoment;
    later["c"] = 3;
    saveByRename(path_, later);
    store.takeInOutsideEdits();
    loop_.runUntilIdle();
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 1}, {"c", 3}, {"ours", 1}}));

    // An edit that took the place of ours while nobody opened ours was not made from it: it goes on from the
    // edit that came out of our swap, here setting back what that one changed.
    swaps = 0;
    store.setBeforeSwap([&] {
        if (++swaps == 1) saveByRename(path_, {{"a", 3}, {"b", 1}, {"c", 3}, {"ours", 1}});
        if (swaps == 2) saveByRename(path_, {{"a", 2}, {"b", 1}, {"c", 3}, {"ours", 1}});
    });
    store.set("ours", 2);
    loop_.runUntilIdle();
    EXPECT_EQ(fileJson(), (PlistValue{{"a", 2}, {"b", 1}, {"c", 3}, {"ours", 2}}));
}

// What only resembles a file that stood for a moment, which no other program opened, was not made from it:
// the newest file another program wrote is the user's word.
TEST_F(JsonDefaultsStoreRaceTest, AFileNobodyReadIsNotTakenForWhatAnEditWasMadeFrom) {
    writeFile(R"({"a": 2})");
    JsonDefaultsStore store(loop_, path_);
    bool raced = false;
    store.setBeforeSwap([&] {
        if (!std::exchange(raced, true)) saveByRename(path_, {{"a", 2}, {"first", 1}});
    });
    store.set("ours", 1);
    loop_.runUntilIdle();
    ASSERT_EQ(fileJson(), (PlistValue{{"a", 2}, {"first", 1}, {"ours", 1}}));
    saveByRename(path_, {{"a", 2}, {"ours", 1}, {"second", 2}});
    store.takeInOutsideEdits();
    loop_.runUntilIdle();
    EXPECT_EQ(store.persistentDomain(), (PlistValue{{"a", 2}, {"ours", 1}, {"second", 2}}));
    EXPECT_EQ(fileJson(), store.persistentDomain());
}

// The user's last edit wins: a key of the user's set back 0.3 s after an edit of it raced a save of ours (a
// toggled switch) keeps the value set back, also when another program read the file during the race.
TEST_F(JsonDefaultsStoreRaceTest, ARevertMadeJustAfterARacedSaveIsKept) {
    for (const bool readDuringTheRace : {false, true}) {
        SCOPED_TRACE(readDuringTheRace ? "the file read during the race" : "nobody read it");
        writeFile(R"({"ext": 1})");
        JsonDefaultsStore store(loop_, path_);
        int swaps = 0;
        store.setBeforeSwap([&] {
            ++swaps;
            // While our temporary exists, an editor renames in a copy of the file with "ext" 2.
            if (swaps == 1) saveByRename(path_, {{"ext", 2}});
            if (swaps == 2 && readDuringTheRace) fileJson();
        });
        store.set("toggle", !store.boolValue("toggle").value_or(false));
        loop_.runUntilIdle();
        // Settled: the toggle and "ext" 2 together.
        ASSERT_EQ(fileJson(), (PlistValue{{"ext", 2}, {"toggle", true}}));
        loop_.advance(0.3);
        PlistValue revert = fileJson();
        revert["ext"] = 1;
        saveByRename(path_, revert);
        store.takeInOutsideEdits();
        loop_.runUntilIdle();
        loop_.advance(3);
        EXPECT_EQ(store.integerValue("ext"), 1);
        EXPECT_EQ(fileJson(), (PlistValue{{"ext", 1}, {"toggle", true}}));
        QFile::remove(QString::fromStdString(path_));
    }
}

// Outside read-change-rename edits of one key at a time while the app toggles its switches, replayed through
// the moment before each swap: an edit landing during a write; one made from ours while it stood for a moment
// and saved after the write; one made before our write and saved after it (its copy of the switch is stale:
// the newest file wins); a plain one; and one setting a key back right after a raced edit of it. Every
// outside key ends with the value written last, and every switch with the app's, but where an edit wrote back
// its stale copy.
TEST_F(JsonDefaultsStoreRaceTest, OutsideEditsOfOneKeyAtATimeWhileTheAppTogglesEndWithTheLastValueWritten) {
    enum Kind { racing, madeFromOurs, madeBeforeOurWrite, plain, setBackAfterARace, kinds };
    writeFile(
        R"({"ext.0": 0, "ext.1": 0, "ext.2": 0, "app.0": false, "app.1": false, "app.2": false, "app.3": false})");
    JsonDefaultsStore store(loop_, path_);
    std::mt19937 random(66);
    // The value each outside key was last given, and each switch's.
    std::map<std::string, int> outside{{"ext.0", 0}, {"ext.1", 0}, {"ext.2", 0}};
    std::map<std::string, bool> app{{"app.0", false}, {"app.1", false}, {"app.2", false}, {"app.3", false}};
    // An outside edit: the file as it stands, one key given another value, renamed into place.
    const auto edit = [&](PlistValue values) {
        const std::string key = "ext." + std::to_string(random() % 3);
        int value = static_cast<int>(random() % 3);
        if (values.contains(key) && values[key] == value) value = (value + 1) % 3;
        values[key] = value;
        outside[key] = value;
        return values;
    };
    for (int step = 0; step < 300; ++step) {
        const Kind kind = static_cast<Kind>(random() % kinds);
        SCOPED_TRACE("step " + std::to_string(step) + ", kind " + std::to_string(kind));
        std::optional<PlistValue> read;
        int swaps = 0;
        store.setBeforeSwap([&] {
            ++swaps;
            if (swaps == 1 && (kind == racing || kind == madeFromOurs || kind == setBackAfterARace))
                saveByRename(path_, edit(fileJson()));
            if (swaps == 1 && kind == madeBeforeOurWrite) read = fileJson();
            if (swaps == 2 && kind == madeFromOurs) read = fileJson();
        });
        const std::string key = "app." + std::to_string(step % 4);
        const PlistValue before = fileJson();
        app[key] = !app[key];
        store.set(key, app[key]);
        loop_.runUntilIdle();
        store.setBeforeSwap(nullptr);
        if (read) {
            saveByRename(path_, edit(*read));
            if (kind == madeBeforeOurWrite) app[key] = before[key].get<bool>();
        }
        if (kind == plain) saveByRename(path_, edit(fileJson()));
        store.takeInOutsideEdits();
        loop_.runUntilIdle();
        if (kind == setBackAfterARace) {
            loop_.advance(0.3);
            PlistValue now = fileJson();
            for (const auto& [name, value] : before.items())
                if (name.starts_with("ext.") && now[name] != value) {
                    now[name] = value;
                    outside[name] = value.get<int>();
                }
            saveByRename(path_, now);
            store.takeInOutsideEdits();
            loop_.runUntilIdle();
        }
        // Ours, read while it stood for a moment, is what an edit near it may have been made from for a
        // second after: the step after such a read begins past that.
        loop_.advance(kind == madeFromOurs ? 1.1 : 0.05);
        const PlistValue file = fileJson();
        for (const auto& [name, value] : outside) {
            EXPECT_EQ(file[name], value) << name;
            EXPECT_EQ(store.object(name), value) << name;
        }
        for (const auto& [name, value] : app) EXPECT_EQ(file[name], value) << name;
        if (HasFailure()) return;
    }
    EXPECT_EQ(store.persistentDomain(), fileJson());
    EXPECT_FALSE(loggedWithTag());
}

// An edit the swap took away half written that never becomes whole is a corrupt file, not an emptied one:
// the settings stay, and what the editor left is kept beside them.
TEST_F(JsonDefaultsStoreRaceTest, AnEditLeftHalfWrittenIsSetAsideNotTakenForAnEmptiedFile) {
    writeFile(R"({"a": 1, "b": 2})");
    JsonDefaultsStore store(loop_, path_);
    std::vector<std::vector<std::string>> announced;
    auto subscription = store.outsideChanges().sink([&](const auto& keys) { announced.push_back(keys); });
    bool edited = false;
    store.setBeforeSwap([&] {
        if (std::exchange(edited, true)) return;
        writeText(path_, R"({"a": 1, "b)");
    });
    store.set("c", 3);
    loop_.runUntilIdle();
    loop_.advance(0.45);
    EXPECT_FALSE(exists(asidePath()));
    loop_.advance(0.1);
    EXPECT_EQ(readText(asidePath()), R"({"a": 1, "b)");
    const PlistValue expected{{"a", 1}, {"b", 2}, {"c", 3}};
    EXPECT_EQ(fileJson(), expected);
    EXPECT_EQ(store.persistentDomain(), expected);
    EXPECT_TRUE(announced.empty());
}

}  // namespace
}  // namespace velaro::test
