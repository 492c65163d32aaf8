// The user's defaults store: typed values under string keys, with registered fallbacks that are consulted
// but never written.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/ChangeNotice.h"
#include "base/Published.h"

namespace velaro {

// A stored value: boolean, integer, double, string, data (JSON binary), array or dictionary (JSON object).
// Integers and doubles are distinct kinds, as in a property list; null means "absent".
using PlistValue = nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

// Builds a data value.
inline PlistValue plistData(Bytes bytes) {
    return PlistValue::binary(std::move(bytes));
}

// Typed views of one value, for the store's reads and for values held outside a store (a profile's
// override set). Each gives nothing for a value of another kind: a Bool view of a number, or a Double
// view of a string, is "absent".
inline std::optional<bool> plistBool(const PlistValue& v) {
    if (v.is_boolean()) return v.get<bool>();
    return std::nullopt;
}
// Integers and doubles both read as numbers; a double is truncated toward zero. A number outside the
// 64-bit signed range is absent rather than wrapped.
inline std::optional<std::int64_t> plistInteger(const PlistValue& v) {
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v.is_number_integer()) return v.get<std::int64_t>();
    if (v.is_number_float()) {
        const double d = v.get<double>();
        if (d == d && d > -9.2e18 && d < 9.2e18) return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}
inline std::optional<double> plistDouble(const PlistValue& v) {
    if (v.is_number()) return v.get<double>();
    return std::nullopt;
}
inline std::optional<std::string> plistString(const PlistValue& v) {
    if (v.is_string()) return v.get<std::string>();
    return std::nullopt;
}
inline std::optional<Bytes> plistBytes(const PlistValue& v) {
    if (v.is_binary()) return Bytes(v.get_binary().begin(), v.get_binary().end());
    return std::nullopt;
}
// An array of which every element is a string; anything else is absent.
inline std::optional<std::vector<std::string>> plistStringArray(const PlistValue& v) {
    if (!v.is_array()) return std::nullopt;
    std::vector<std::string> out;
    out.reserve(v.size());
    for (const auto& e : v) {
        if (!e.is_string()) return std::nullopt;
        out.push_back(e.get<std::string>());
    }
    return out;
}

class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    // The stored value, else the registered fallback, else null.
    virtual PlistValue object(const std::string& key) const = 0;
    // Stores a value; a null value removes the key.
    virtual void set(const std::string& key, PlistValue value) = 0;
    virtual void remove(const std::string& key) = 0;
    // Adds fallbacks for keys; they are read when nothing is stored and are never written to the file.
    virtual void registerDefaults(const PlistValue& dictionary) = 0;
    // The stored (persistent) key/value pairs, without the fallbacks, as one dictionary.
    virtual PlistValue persistentDomain() const = 0;
    // True when the key holds a stored value (fallbacks do not count).
    virtual bool hasStoredValue(const std::string& key) const = 0;
    // Writes pending changes now (the real store also does this on its own soon after each change).
    // False when they could not be written (they stay pending and are tried again on the next change).
    virtual bool synchronize() { return true; }
    // The keys whose stored values another program changed, each time the store has taken such changes
    // in (the stored values are already the new ones when this is sent).
    virtual Stream<std::vector<std::string>> outsideChanges() const = 0;
    // A number that moves whenever a read may answer differently (a set, a removal, new fallbacks, values
    // taken in from outside). A reader that keeps what it read may reuse it while this stays the same.
    virtual std::uint64_t revision() const = 0;
    // Calls `wake` once, from any thread, after revision() next moves; a later call replaces a `wake` not
    // yet called, an empty one disarms. A move before the call is not told of: read revision() after it.
    virtual void callOnNextChange(std::function<void()> wake) const = 0;

    // Typed reads (see the plist* views above): nothing when the key is absent or holds another kind.
    std::optional<bool> boolValue(const std::string& key) const { return plistBool(object(key)); }
    std::optional<std::int64_t> integerValue(const std::string& key) const {
        return plistInteger(object(key));
    }
    std::optional<double> doubleValue(const std::string& key) const { return plistDouble(object(key)); }
    std::optional<std::string> stringValue(const std::string& key) const { return plistString(object(key)); }
    std::optional<Bytes> dataValue(const std::string& key) const { return plistBytes(object(key)); }
    std::optional<std::vector<std::string>> stringArrayValue(const std::string& key) const {
        return plistStringArray(object(key));
    }
    std::optional<PlistValue> arrayValue(const std::string& key) const {
        auto v = object(key);
        if (v.is_array()) return v;
        return std::nullopt;
    }
    std::optional<PlistValue> dictionaryValue(const std::string& key) const {
        auto v = object(key);
        if (v.is_object()) return v;
        return std::nullopt;
    }

    // Reads in the manner of the platform's convenience getters: a missing value gives false / 0 / 0.0.
    bool boolForKey(const std::string& key) const { return boolValue(key).value_or(false); }
    std::int64_t integerForKey(const std::string& key) const { return integerValue(key).value_or(0); }
    double doubleForKey(const std::string& key) const { return doubleValue(key).value_or(0.0); }
};

// The two layers every store reads through: the stored (persistent) values over the registered fallbacks.
// Stores keep one of these and add their own persistence around it.
class DefaultsDomain {
public:
    PlistValue object(const std::string& key) const {
        if (auto it = stored_.find(key); it != stored_.end()) return *it;
        if (auto it = fallbacks_.find(key); it != fallbacks_.end()) return *it;
        return nullptr;
    }
    // Returns false when the key already held exactly this value (same kinds all the way down), so callers
    // can skip writing a file that would not change. A null value removes the key.
    bool set(const std::string& key, PlistValue value) {
        if (value.is_null()) return remove(key);
        if (auto it = stored_.find(key); it != stored_.end() && identical(*it, value)) return false;
        stored_[key] = std::move(value);
        moved();
        return true;
    }
    bool remove(const std::string& key) {
        if (stored_.erase(key) == 0) return false;
        moved();
        return true;
    }
    void registerDefaults(const PlistValue& dictionary) {
        if (!dictionary.is_object()) return;
        for (const auto& [key, value] : dictionary.items()) fallbacks_[key] = value;
        moved();
    }
    bool hasStoredValue(const std::string& key) const { return stored_.contains(key); }
    const PlistValue& stored() const { return stored_; }
    void replaceStored(PlistValue dictionary) {
        stored_ = dictionary.is_object() ? std::move(dictionary) : PlistValue::object();
        moved();
    }
    std::uint64_t revision() const { return revision_; }
    // Told once after the revision next moves (see DefaultsStore::callOnNextChange).
    void callOnNextChange(std::function<void()> wake) const { changeNotice_.arm(std::move(wake)); }

    // Equality that also tells kinds apart: 1 and 1.0 compare equal as JSON but are different stored values.
    static bool identical(const PlistValue& a, const PlistValue& b) {
        if (a.type() != b.type()) return false;
        if (a.is_array()) {
            if (a.size() != b.size()) return false;
            for (std::size_t i = 0; i < a.size(); ++i)
                if (!identical(a[i], b[i])) return false;
            return true;
        }
        if (a.is_object()) {
            if (a.size() != b.size()) return false;
            for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib)
                if (ia.key() != ib.key() || !identical(ia.value(), ib.value())) return false;
            return true;
        }
        return a == b;
    }

private:
    void moved() {
        ++revision_;
        changeNotice_.ring();
    }

    PlistValue stored_ = PlistValue::object();
    PlistValue fallbacks_ = PlistValue::object();
    std::uint64_t revision_ = 0;
    mutable ChangeNotice changeNotice_;
};

// A store that keeps its values in a DefaultsDomain; subclasses add how writes are kept (or recorded).
class LayeredDefaultsStore : public DefaultsStore {
public:
    PlistValue object(const std::string& key) const override { return domain_.object(key); }
    void registerDefaults(const PlistValue& dictionary) override { domain_.registerDefaults(dictionary); }
    PlistValue persistentDomain() const override { return domain_.stored(); }
    bool hasStoredValue(const std::string& key) const override { return domain_.hasStoredValue(key); }
    Stream<std::vector<std::string>> outsideChanges() const override { return outsideChanges_.stream(); }
    std::uint64_t revision() const override { return domain_.revision(); }
    void callOnNextChange(std::function<void()> wake) const override {
        domain_.callOnNextChange(std::move(wake));
    }

protected:
    // Replaces the stored values with `stored` and tells subscribers of outsideChanges() which keys now
    // hold another value (nothing is sent when none does).
    void takeInStored(PlistValue stored) {
        const PlistValue before = domain_.stored();
        domain_.replaceStored(std::move(stored));
        std::vector<std::string> changed;
        for (const auto& [key, value] : before.items())
            if (!domain_.hasStoredValue(key) || !DefaultsDomain::identical(value, domain_.stored()[key]))
                changed.push_back(key);
        for (const auto& [key, value] : domain_.stored().items())
            if (!before.contains(key)) changed.push_back(key);
        if (!changed.empty()) outsideChanges_.send(changed);
    }

    DefaultsDomain domain_;

private:
    PassthroughSubject<std::vector<std::string>> outsideChanges_;
};

}  // namespace velaro
