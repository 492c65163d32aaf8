// The user's defaults store kept as one JSON file, written atomically a loop turn after each change.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/MainLoop.h"
#include "platform/DefaultsStore.h"

namespace velaro {

// The file format, shared with anything else that reads or writes the file (scripts, end-to-end tests):
// one JSON object of key -> value; doubles always carry a fraction or exponent ("1.0"), so they read back
// as doubles; data is written as {"$data": "<base64>"}; arrays and dictionaries as JSON.
std::string encodeDefaultsFile(const PlistValue& stored);
// The stored values of a file's text, or nothing (with the reason in `error`) when the text is not a
// readable defaults file (a number beyond double range makes the text unreadable). Entries holding null
// are left out; their keys are added to `skippedKeys` when given.
std::optional<PlistValue> decodeDefaultsFile(std::string_view text, std::string* error = nullptr,
                                             std::vector<std::string>* skippedKeys = nullptr);

class JsonDefaultsStore final : public LayeredDefaultsStore {
public:
    // Loads the file at `path`. A missing file is an empty store; an unreadable or corrupt one is moved
    // aside to "<path>.corrupt-<UTC time>" and the store starts empty. Main thread only.
    JsonDefaultsStore(MainLoop& loop, std::string path);
    // Writes what is still pending.
    ~JsonDefaultsStore() override;
    JsonDefaultsStore(const JsonDefaultsStore&) = delete;
    JsonDefaultsStore& operator=(const JsonDefaultsStore&) = delete;

    // $XDG_CONFIG_HOME/Velaro/defaults.json, with ~/.config when the variable is unset, empty or relative.
    static std::string standardPath();

    // Non-finite doubles have no JSON form: such a value is refused (logged) and the key keeps its value.
    void set(const std::string& key, PlistValue value) override;
    void remove(const std::string& key) override;
    bool synchronize() override { return flush(); }

    // Writes pending changes now. Before writing, changes another process made to the file since we last
    // read or wrote it are taken in: keys changed here since then keep our values, all others take the
    // file's. Returns false when the file could not be written; the changes stay pending.
    bool flush();
    // True while changes wait to be written.
    bool hasPendingChanges() const { return !changedKeys_.empty(); }
    const std::string& path() const { return path_; }

private:
    enum class ReadResult { Missing, Read, Failed };
    ReadResult readFile(std::string& bytes, std::string& failure) const;
    void removeLeftoverTemporaries() const;
    void load();
    void markChanged(const std::string& key);
    void takeInOutsideChanges(const std::optional<std::string>& onDisk);
    void setAside(const std::string& reason, const std::string& consequence);
    bool writeFile(const std::string& text);

    MainLoop& loop_;
    std::string path_;
    std::set<std::string> changedKeys_;
    // The file's bytes as we last read or wrote them; nothing when there was no file.
    std::optional<std::string> lastDiskBytes_;
    bool flushPosted_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velaro
