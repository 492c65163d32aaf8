// Outside edits laid over the stored values, measured against the file each was made from.
#include "platform/linux/defaults/OutsideEdits.h"

#include <algorithm>
#include <utility>

namespace velaro::defaults {

namespace {

// The value a set of stored values holds at `key`, if any.
std::optional<PlistValue> valueAt(const PlistValue& values, const std::string& key) {
    const auto it = values.find(key);
    return it == values.end() ? std::nullopt : std::optional<PlistValue>(*it);
}

bool sameValue(const std::optional<PlistValue>& a, const std::optional<PlistValue>& b) {
    return a && b ? DefaultsDomain::identical(*a, *b) : a.has_value() == b.has_value();
}

}  // namespace

std::set<std::string> differingKeys(const PlistValue& a, const PlistValue& b) {
    std::set<std::string> keys;
    for (const auto& [key, value] : b.items())
        if (!a.contains(key) || !DefaultsDomain::identical(a.at(key), value)) keys.insert(key);
    for (const auto& [key, value] : a.items())
        if (!b.contains(key)) keys.insert(key);
    return keys;
}

// Only what the edit changed is taken: the stored values may hold more than the file the edit was made to
// (edits that came out of a swap and wait to be written), and those stay.
OutsideEdits::Merged OutsideEdits::takeIn(const Held& held, const PlistValue& base, const PlistValue& edited,
                                          const std::set<std::string>& keep, double now) const {
    Merged merged;
    merged.changed = differingKeys(base, edited);
    // What a file we placed for a moment lacked, and an edit made from it leaves as it was there, the edit
    // did not change: its editor never saw it (nor did the editors that went on from its file). Unless it
    // changed since: the edit is the newer word. The file it left lacks it, and is to be written again.
    if (const auto from = editedFrom(held, base, edited, now); from != recent_.end()) {
        for (const auto& [key, was] : lackedBy(*from, held))
            if (sameValue(valueAt(from->values, key), valueAt(edited, key)) &&
                sameValue(was, valueAt(held.stored, key)))
                merged.fileLacksWhatWasKept = merged.changed.erase(key) > 0 || merged.fileLacksWhatWasKept;
    }
    merged.stored = held.stored;
    for (const auto& key : merged.changed) {
        if (keep.contains(key)) continue;
        merged.storedChanged = true;
        if (edited.contains(key))
            merged.stored[key] = edited.at(key);
        else
            merged.stored.erase(key);
    }
    return merged;
}

// The recent file an edit was made to (none: `base`, the file that stood when the edit landed). It is one
// when the edit is nearer to it than to `base` and changes something in it: an editor that read it and saves
// what it made of it would otherwise undo, measured against `base`, what the race brought in. An edit that is
// one of those files as it was is the newest word of whoever wrote it (keys set back to what they held a
// moment ago); and ours, which only stood between two swaps, is remembered only when another program opened
// it meanwhile.
std::vector<OutsideEdits::RecentFile>::const_iterator OutsideEdits::editedFrom(const Held& held,
                                                                               const PlistValue& base,
                                                                               const PlistValue& edited,
                                                                               double now) const {
    auto nearest = recent_.end();
    std::size_t fewest = differingKeys(base, edited).size();
    for (auto recent = recent_.begin(); recent != recent_.end() && fewest > 1; ++recent) {
        if (now > recent->until || lackedBy(*recent, held).empty()) continue;
        const std::size_t n = differingKeys(recent->values, edited).size();
        // The newest of equally near ones.
        if (n > 0 && (n < fewest || (n == fewest && nearest != recent_.end()))) {
            fewest = n;
            nearest = recent;
        }
    }
    return nearest;
}

void OutsideEdits::settle(const Held& held) {
    std::erase_if(recent_, [&](RecentFile& recent) {
        if (!recent.settled) {
            recent.lacked = lackedBy(recent, held);
            recent.settled = true;
        }
        return recent.lacked.empty();
    });
}

// What a recent file lacks of what we hold, with what we hold there (nothing when we hold no value): as it
// was once settled; until then (an edit that landed on it may still be taken in), as it is now.
std::map<std::string, std::optional<PlistValue>> OutsideEdits::lackedBy(const RecentFile& recent,
                                                                        const Held& held) {
    if (recent.settled) return recent.lacked;
    std::map<std::string, std::optional<PlistValue>> lacked;
    for (const auto& key : differingKeys(recent.values, held.stored))
        if (!held.ours.contains(key)) lacked.emplace(key, valueAt(held.stored, key));
    return lacked;
}

void OutsideEdits::rememberOpened(PlistValue values, double now) {
    remember({std::move(values)}, now);
}

void OutsideEdits::rememberCameOut(PlistValue values, const Held& held, double now) {
    RecentFile recent{std::move(values)};
    recent.lacked = lackedBy(recent, held);
    recent.settled = true;
    if (!recent.lacked.empty()) remember(std::move(recent), now);
}

void OutsideEdits::remember(RecentFile recent, double now) {
    std::erase_if(recent_, [&](const RecentFile& r) { return r.until < now; });
    if (recent_.size() >= kRecentFiles) recent_.erase(recent_.begin());
    recent.until = now + kRecentFileSeconds;
    recent_.push_back(std::move(recent));
}

}  // namespace velaro::defaults
