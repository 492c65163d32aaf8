// The recording in-memory defaults store.
#include "support/FakeDefaultsStore.h"

namespace velaro::test {

void FakeDefaultsStore::set(const std::string& key, PlistValue value) {
    writes_.push_back({key, value});
    domain_.set(key, std::move(value));
}

void FakeDefaultsStore::remove(const std::string& key) {
    writes_.push_back({key, nullptr});
    domain_.remove(key);
}

bool FakeDefaultsStore::synchronize() {
    ++synchronizeCount_;
    return synchronizeSucceeds_;
}

std::set<std::string> FakeDefaultsStore::writtenKeys() const {
    std::set<std::string> keys;
    for (const auto& write : writes_) keys.insert(write.key);
    return keys;
}

bool FakeDefaultsStore::wasWritten(const std::string& key) const {
    for (const auto& write : writes_)
        if (write.key == key) return true;
    return false;
}

}  // namespace velaro::test
