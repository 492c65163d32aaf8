// An in-memory defaults store for tests: it records every write, so a test can tell exactly which keys a
// model wrote (or that it wrote nothing), and supports registered fallbacks like the real store.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/DefaultsStore.h"

namespace velaro::test {

class FakeDefaultsStore final : public LayeredDefaultsStore {
public:
    // One recorded call of set or remove; a removal has a null value.
    struct Write {
        std::string key;
        PlistValue value;
    };

    FakeDefaultsStore() = default;
    // Starts with these stored values (a dictionary); they do not count as writes.
    explicit FakeDefaultsStore(const PlistValue& stored) { domain_.replaceStored(stored); }

    // Every call is recorded, even one that stores the value already there.
    void set(const std::string& key, PlistValue value) override;
    void remove(const std::string& key) override;
    bool synchronize() override;

    // Stores a value without recording a write: the state "left by an earlier run".
    void seed(const std::string& key, PlistValue value) { domain_.set(key, std::move(value)); }
    // Another program changes one stored value (null removes it): no write is recorded, and subscribers of
    // outsideChanges() hear of it as the real store tells of an edit of its file.
    void changeOutside(const std::string& key, PlistValue value) {
        PlistValue stored = domain_.stored();
        if (value.is_null())
            stored.erase(key);
        else
            stored[key] = std::move(value);
        takeInStored(std::move(stored));
    }

    const std::vector<Write>& writes() const { return writes_; }
    // The distinct keys written (set or removed) since the start or the last clearWrites().
    std::set<std::string> writtenKeys() const;
    bool wasWritten(const std::string& key) const;
    void clearWrites() { writes_.clear(); }

    int synchronizeCount() const { return synchronizeCount_; }
    // What synchronize() reports, to drive a caller's handling of a store that cannot be written.
    void setSynchronizeSucceeds(bool succeeds) { synchronizeSucceeds_ = succeeds; }

private:
    std::vector<Write> writes_;
    int synchronizeCount_ = 0;
    bool synchronizeSucceeds_ = true;
};

}  // namespace velaro::test
