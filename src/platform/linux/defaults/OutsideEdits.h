// Edits other programs make to the settings file, laid over the values the store holds: plain data, no disk.
//
// An edit is measured against the file it was made to (its base): only the keys it changed are taken, and
// keys changed here and not yet written keep our values. A write of ours swaps its file with the one in
// place; an edit that lands during the write comes out of that swap and is put back at once, so ours stands
// only between two swaps ("placed" for a moment). An editor that opened ours in that moment saves a file
// lacking the edit that came out: measured against the file it stands on, it would undo that edit. So the
// files that stood for a moment lacking something we took in are remembered for a second ("recent files"),
// and an edit nearer to one of them than to its base is measured against it, for what that file lacked.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/DefaultsStore.h"

namespace velaro::defaults {

// The keys whose values differ between two sets of stored values, a key held by one only included.
std::set<std::string> differingKeys(const PlistValue& a, const PlistValue& b);

class OutsideEdits {
public:
    // An editor that read a file standing for a moment saves what it made of it within this time.
    static constexpr double kRecentFileSeconds = 1.0;
    static constexpr std::size_t kRecentFiles = 16;

    // What the store holds: its stored values, and the keys changed here and not yet written ("ours").
    struct Held {
        const PlistValue& stored;
        const std::set<std::string>& ours;
    };
    struct Merged {
        PlistValue stored;  // the values held once the edit is laid over them
        bool storedChanged = false;
        std::set<std::string> changed;  // the keys the edit changed, those in `keep` included
        // The edit left out something a recent file lacked, which the file it left lacks too: the file is to
        // be written again.
        bool fileLacksWhatWasKept = false;
    };
    // Lays what an edit changed (from `base` to `edited`) over `held`, but for the keys in `keep`, at `now`
    // (loop uptime).
    Merged takeIn(const Held& held, const PlistValue& base, const PlistValue& edited,
                  const std::set<std::string>& keep, double now) const;

    // Ours, opened by another program while it stood for a moment: edits may be made from it until a second
    // from `now`.
    void rememberOpened(PlistValue values, double now);
    // An edit that came out of a swap of ours stood until then, and editors may have read it (or go on from
    // it, as it may have been made from a file we placed). Once it is taken in, it is remembered when it
    // lacks some of what we hold but for our own changes: an edit made from it never saw that.
    void rememberCameOut(PlistValue values, const Held& held, double now);
    // Settles the recent files not settled yet: once what took their place is taken in, what each lacks of
    // what we hold, but for our own changes (which we write anyway), is fixed ("settled") as what an edit
    // made from it never saw. One that lacks nothing else is forgotten.
    void settle(const Held& held);

private:
    struct RecentFile {
        PlistValue values;
        double until = 0;  // loop uptime
        // Once settled (see settle()): the keys it lacks of what we took in (what its readers never saw),
        // each with what we held then (nothing when we held no value).
        bool settled = false;
        std::map<std::string, std::optional<PlistValue>> lacked;
    };
    void remember(RecentFile recent, double now);
    std::vector<RecentFile>::const_iterator editedFrom(const Held& held, const PlistValue& base,
                                                       const PlistValue& edited, double now) const;
    static std::map<std::string, std::optional<PlistValue>> lackedBy(const RecentFile& recent,
                                                                     const Held& held);

    std::vector<RecentFile> recent_;  // oldest first
};

}  // namespace velaro::defaults
