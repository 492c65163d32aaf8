// The JSON defaults store: the guarded load, merging writes under the writers' lock that swap the new file
// with the old one and take in what came out, the retries, and the watch for other programs' edits. The
// file's format, its path, the lock, the swap, set-aside copies and the merge of outside edits are rooms of
// their own (defaults/); this file drives them.
#include "platform/linux/JsonDefaultsStore.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/FileRead.h"
#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro {

using namespace defaults;

namespace {

constexpr const char* kStartingFresh = "starting from defaults";
constexpr const char* kKeptForLater = "; changes kept for the next try";
// A write holds the lock for a millisecond or so; a writer that holds it longer is waited for this long
// when the caller needs the write done now, and otherwise retried on later turns of the loop.
constexpr double kLockWaitSeconds = 1.0;
constexpr double kLockRetrySeconds = 0.02;
// A write that failed (a full disk, a folder that cannot be written) is tried again this long after, the wait
// doubling up to the longest, so what is pending lands once the cause is gone, without a change of the
// user's to carry it.
constexpr double kFirstRetrySeconds = 1.0;
constexpr double kLongestRetrySeconds = 30.0;
// The store's end waits this long at most, for the lock and for a file being saved together (each takes
// milliseconds when all is well; past it the change is written anyway, and nothing is lost): the app is to
// end within half a second of being asked to, and the rest of its way out takes a quarter of a second, now
// and then more, in a checked build on a busy machine.
constexpr double kEndSeconds = 0.1;
// A write, or the load, waiting for a file being saved gives up after this long (and says so): the file
// is then followed on the loop (see defaults::Settling).
constexpr double kFileWaitSeconds = Settling::kQuietSeconds;
// Each write swaps the new file with the one in place; when what comes out holds an edit that landed since
// the read, the edit is taken in and the write is made again, this many times at most before the rest waits
// for a later try (only a program rewriting the file without pause keeps it changing that long).
constexpr int kMaxSwapRounds = 8;

class RealTimeWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    void pause(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    int lock(const std::string& lockFile, double seconds) override { return waitForLock(lockFile, seconds); }
};

RealTimeWaits realTime;

// A user's login name, if they have one.
std::optional<std::string> loginName(uid_t uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || !found || !*found->pw_name)
        return std::nullopt;
    return std::string(found->pw_name);
}

// `text` as one word of a shell command, for a command the user may copy.
std::string shellWord(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Whose the closed folder or file is, and the command that opens it to the user again: run as root once, an
// app leaves root's folders among the user's, which only root can give back. The settings folder is given
// back whole, with all the store keeps there (`settingsFolder`); a folder above it alone.
std::string whoseAndHowToOpen(const Closed& closed, const std::string& settingsFolder) {
    const uid_t me = ::geteuid();
    const std::string what = (closed.isFolder ? "the folder " : "the file ") + closed.path;
    const std::string denied = " (" + std::string(std::strerror(EACCES)) + ")";
    if (closed.owner == me)
        return what + " is closed to its owner" + denied + "; to open it again: chmod " +
               (closed.isFolder ? "u+rwx " : "u+rw ") + shellWord(closed.path);
    const bool whole = !closed.isFolder || closed.path == settingsFolder;
    const auto owner = loginName(closed.owner);
    return what + " belongs to " + (owner ? *owner : "user " + std::to_string(closed.owner)) + denied +
           "; to give it back: sudo chown " + (whole ? "-R " : "") +
           loginName(me).value_or(std::to_string(me)) + ": " +
           shellWord(whole ? settingsFolder : closed.path);
}

// How many looks a blocking wait of `seconds` makes at most: counted as well as timed, so that a wait ends
// also on a loop whose time does not move while it pauses (a test's).
int mostLooks(double seconds) {
    return static_cast<int>(std::ceil(seconds / Settling::kLookSeconds - 1e-9));
}

}  // namespace

JsonDefaultsStore::JsonDefaultsStore(MainLoop& loop, std::string path, BlockingWaits* waits)
    : loop_(loop),
      path_(std::move(path)),
      waits_(waits ? waits : &realTime),
      lock_(lockPath(path_)),
      setAsideCopies_(path_) {
    load();
}

void JsonDefaultsStore::setBlockingWaits(BlockingWaits* waits) {
    waits_ = waits ? waits : &realTime;
}

JsonDefaultsStore::~JsonDefaultsStore() {
    lifetime_.end();
    watcher_.reset();
    lockRetry_.cancel();
    failedRetry_.cancel();
    // The last chance to keep our changes: neither a writer stuck with the lock nor a file being saved costs
    // them, nor holds up the app's end.
    flushWaitingForTheFile(true);
    if (swappedOut_) leaveSwappedOut();
}

std::string JsonDefaultsStore::standardPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/Velaro/defaults.json")).toStdString();
}

// Only regular files are opened, and without blocking: a FIFO or a device at the path would otherwise hang
// the main thread in open() or read().
FileLook JsonDefaultsStore::lookAtFile(const std::optional<std::string>& known) {
    FileRead read;
    // The file itself is no link: one put there since it was looked at is looked at again, and never read
    // through unless followed.
    for (int tries = 0; tries < 2; ++tries) {
        if (!place_.refusal.empty()) return refusedLook(place_.refusal);
        if (place_.closed) return closedLook();
        if (!place_.fileFolder) return {};
        // A read of ours of a file we placed and watch is not another program's.
        read = swaps_.readUnseen([&] {
            return readBoundedFileAt(place_.fileFolder->fd, place_.name,
                                     {.maxBytes = kMaxDefaultsFileBytes, .noFollow = true});
        });
        struct stat st {};
        if (read.outcome != FileRead::Outcome::refused ||
            ::fstatat(place_.fileFolder->fd, place_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISLNK(st.st_mode))
            break;
        place_ = findGuarded(path_, false);
    }
    if (read.outcome == FileRead::Outcome::refused && place_.refusal.empty() && place_.fileFolder) {
        place_.closed = closedAt(*place_.fileFolder, place_.name, path_);
        if (place_.closed) return closedLook();
    }
    const bool changing = read.changedWhileRead;
    FileLook look = lookAt(std::move(read), known, path_);
    if (look.found != FileLook::Found::missing && !changing && place_.fileFolder)
        look.stamp = stampAt(place_.fileFolder->fd, place_.name);
    return look;
}

// Read through the descriptor, also while an editor still writes to it.
FileLook JsonDefaultsStore::lookAtOut(const OutFile& out, const std::optional<std::string>& known) {
    FileRead read = readBoundedDescriptor(out.fd, kMaxDefaultsFileBytes);
    // What came out of a swap is told half written by its text alone; a change under the read only tells
    // that it does not stand still.
    const bool changing = std::exchange(read.changedWhileRead, false);
    FileLook look = lookAt(std::move(read), known, path_);
    if (!changing) look.stamp = stampOf(out.fd);
    return look;
}

// An editor that saves in place empties the file and writes it anew; a start in the middle of that finds it
// empty, cut short, or changing under the read, and on a busy machine finds it so for a while; a slow writer
// takes seconds. It is read again until it reads whole, and set aside only once it stands still not reading
// whole: the user's settings must not go for someone else's save. One still changing after half a second is
// left to its writer: the store starts from its defaults and takes it in on the loop once it settles.
void JsonDefaultsStore::load() {
    place_ = findGuarded(path_, false);
    if (!place_.refusal.empty()) {
        refuseTarget(place_.refusal, !place_.notGiven);
        return;
    }
    // Without the lock another writer may be between creating its temporary and renaming it: the clean-up
    // then waits for our first write.
    if (const auto taken = place_.folder ? lock(0) : WritersLock::Taken::busy;
        taken == WritersLock::Taken::held || taken == WritersLock::Taken::unavailable) {
        leftoversRemoved_ = true;
        if (place_.fileFolder) removeOwnLeftovers(*place_.fileFolder, place_.name);
        unlock();
    }
    const double deadline = loop_.uptime() + kFileWaitSeconds;
    for (int looks = 1;; ++looks) {
        FileLook look = lookAtFile(std::nullopt);
        switch (look.found) {
            case FileLook::Found::missing:
            case FileLook::Found::known:
                return;
            case FileLook::Found::refused:
                refuseTarget(look.why);
                return;
            case FileLook::Found::closed:
                // The user's settings, which only the folder's or file's owner can open to them again: never
                // set aside nor written over, and taken in as the load would have once they can be read.
                fileUnread_ = true;
                closedAtLoad_ = true;
                failureSaid_ = place_.closed->path;
                warn(path_ + " cannot be read; " + kStartingFresh +
                     " and keeping the settings in memory, the file left as it is: " +
                     whoseAndHowToOpen(*place_.closed, splitPath(path_).first));
                return;
            case FileLook::Found::unreadable:
                setAside("cannot be read (" + look.why + ")", kStartingFresh);
                return;
            case FileLook::Found::whole:
                fileSettling_.reset();
                lastDisk_ = {std::move(look.bytes), look.values};
                domain_.replaceStored(std::move(look.values));
                return;
            case FileLook::Found::halfWritten:
                break;
        }
        const double now = loop_.uptime();
        fileSettling_.seen(look.stamp, now);
        if (fileSettling_.standsStill(now)) {
            fileSettling_.reset();
            setAside("is not a defaults file (" + look.why + ")", kStartingFresh);
            return;
        }
        if (now >= deadline - 1e-9 || looks > mostLooks(kFileWaitSeconds)) {
            fileUnread_ = true;
            stillBeingWritten(FlushResult::FileSettling, true);
            lookAgain_ = loop_.postAfter(fileSettling_.nextLookIn(now),
                                         lifetime_.guard([this] { takeInOutsideEdits(); }));
            return;
        }
        waits_->pause(Settling::kLookSeconds);
    }
}

std::set<std::string> JsonDefaultsStore::takeInEdit(const PlistValue& base, const PlistValue& edited,
                                                    const std::set<std::string>& keep) {
    OutsideEdits::Merged merged = outsideEdits_.takeIn(held(), base, edited, keep, loop_.uptime());
    if (merged.fileLacksWhatWasKept) {
        outsideEditsUnwritten_ = true;
        if (!flushPosted_ && !writesHeld_ && !lifetime_.ended()) postFlush(0);
    }
    if (!merged.storedChanged) return merged.changed;
    // Subscribers hear of it, but not once the store is going away.
    if (!lifetime_.ended())
        takeInStored(std::move(merged.stored));
    else
        domain_.replaceStored(std::move(merged.stored));
    return merged.changed;
}

void JsonDefaultsStore::rememberOpenedGone(std::optional<PlistValue> values) {
    if (values) outsideEdits_.rememberOpened(std::move(*values), loop_.uptime());
}

// The file at the path is moved aside, or a link there: the name the user's environment gives it.
bool JsonDefaultsStore::setAside(const std::string& reason, const std::string& consequence) {
    SetAsideCopies::Kept kept;
    if (place_.folder) {
        kept =
            setAsideCopies_.keep(*place_.folder, *place_.folder, splitPath(path_).second, loop_.wallTime());
    } else {
        kept.error = std::strerror(ENOENT);
    }
    if (!kept.kept) {
        warn(path_ + " " + reason + "; could not move it aside (" + kept.error + "); " + consequence);
        return false;
    }
    warn(path_ + " " + reason + "; moved it to " + kept.path + "; " + consequence);
    lastDisk_ = {};
    return true;
}

// An edit that came out of a swap and never became a defaults file is kept for the user as a corrupt file
// would be. Its temporary name looks like one of ours to any writer clearing leftovers; when one took it,
// what the file holds is copied, up to the size of a settings file that can be read at all.
void JsonDefaultsStore::setAsideSwappedOut(const std::string& reason) {
    OutFile& file = swappedOut_->file;
    // Beside the file, where set-aside copies are kept; with no folder found since, beside the edit.
    const OpenFolder& folder = place_.folder ? *place_.folder : *file.folder;
    const SetAsideCopies::Kept kept = setAsideCopies_.keep(
        folder, *file.folder, namesOutFile(file) ? file.name : std::string(), loop_.wallTime(), file.fd);
    const std::string edit = "an edit of " + path_ + " that landed during a write " + reason;
    if (!kept.kept)
        warn(edit + "; could not keep a copy (" + kept.error + ")");
    else
        warn(edit + "; kept it as " + kept.path);
}

// Something that is not a file was put in place since the read and came out of a swap under the name of
// `file`: kept for the user as an unreadable file is.
void JsonDefaultsStore::keepAsideNonFile(const OutFile& file) {
    const SetAsideCopies::Kept kept =
        setAsideCopies_.keep(*place_.folder, *file.folder, file.name, loop_.wallTime());
    warn(path_ + " was replaced by something that is not a file while we wrote; " +
         (kept.kept ? "moved it to " + kept.path : "left it at " + joinPath(file.folder->path, file.name)));
}

// The settings path is a link we do not follow, or, run as root, a place where what we leave could not be the
// user's: nothing is read or written there, said once.
void JsonDefaultsStore::refuseTarget(const std::string& refusal, bool throughLink) {
    if (std::exchange(targetRefused_, true)) return;
    warn(path_ + " " + refusal + (throughLink ? "; leaving it and what it points to alone" : "") +
         ": the settings are kept in memory and not saved");
}

// Whether the file in place is still the one we last read or wrote (none, when there was none).
bool JsonDefaultsStore::standsAsRead() {
    const FileLook look = lookAtFile(lastDisk_.bytes);
    return look.found == FileLook::Found::known ||
           (look.found == FileLook::Found::missing && !lastDisk_.bytes);
}

void JsonDefaultsStore::set(const std::string& key, PlistValue value) {
    if (!hasFileForm(value)) {
        warn("refusing to store \"" + key + "\": a number that is not finite has no stored form");
        return;
    }
    if (domain_.set(key, std::move(value))) markChanged(key);
}

void JsonDefaultsStore::remove(const std::string& key) {
    if (domain_.remove(key)) markChanged(key);
}

void JsonDefaultsStore::markChanged(const std::string& key) {
    changedKeys_.insert(key);
    // Every change of this turn of the loop goes out in one write.
    if (!flushPosted_ && !writesHeld_) postFlush(0);
}

void JsonDefaultsStore::holdWrites() {
    writesHeld_ = true;
}

void JsonDefaultsStore::releaseWrites() {
    writesHeld_ = false;
    if (!changedKeys_.empty() && !flushPosted_) postFlush(0);
}

void JsonDefaultsStore::postFlush(double delay) {
    flushPosted_ = true;
    std::function<void()> write = lifetime_.guard([this] {
        flushPosted_ = false;
        // The main thread never waits, neither for another writer nor for a file being saved: it tries
        // again a little later.
        Locking locking;
        const FlushResult result = flushLocked(locking);
        switch (result) {
            case FlushResult::Contended:
            case FlushResult::Reread:  // (never comes out of a flush)
            case FlushResult::LockBusy:
                // The write went out; only what came out of it waits. Or another writer holds the lock.
                postFlush(kLockRetrySeconds);
                break;
            case FlushResult::FileSettling:
            case FlushResult::EditSettling:
                postFlush(stillBeingWritten(result));
                break;
            case FlushResult::Written:
            case FlushResult::Failed:
            case FlushResult::Refused:
            case FlushResult::TooLarge:
                afterWrite(result);
                break;
        }
    });
    if (delay <= 0)
        loop_.post(std::move(write));
    else
        lockRetry_ = loop_.postAfter(delay, std::move(write));
}

// After a write that failed, one more try is made later, each later than the last; a write that goes out ends
// them, and the spell of a file being written that was said.
void JsonDefaultsStore::afterWrite(FlushResult result) {
    if (result == FlushResult::Written) {
        retryDelay_ = 0;
        failedRetry_.cancel();
        tooLargeLogged_ = false;
        if (std::exchange(beingWrittenSaid_, false))
            warn(path_ + " is written again: the changes kept while it was being written went out");
    }
    if (result != FlushResult::Failed || lifetime_.ended()) return;
    retryDelay_ = retryDelay_ == 0 ? kFirstRetrySeconds : std::min(2 * retryDelay_, kLongestRetrySeconds);
    failedRetry_ = loop_.postAfter(retryDelay_, lifetime_.guard([this] {
        if (!flushPosted_ && !writesHeld_) postFlush(0);
    }));
}

double JsonDefaultsStore::stillBeingWritten(FlushResult settling, bool sayNow) {
    const double now = loop_.uptime();
    const bool edit = settling == FlushResult::EditSettling && swappedOut_;
    Settling& spell = edit ? swappedOut_->settling : fileSettling_;
    // Once until the changes go out, however many spells a program rewriting the file without pause makes
    // between the moments it reads whole.
    if (spell.sayOnce(now, sayNow) && !std::exchange(beingWrittenSaid_, true)) {
        const std::string found = "found half written " + std::to_string(spell.changes()) + " times in " +
                                  std::to_string(static_cast<int>(std::lround(spell.lasted(now) * 1000))) +
                                  " ms";
        if (edit)
            warn("an edit of " + path_ + " that landed during a write keeps being written: " + found +
                 "; it is taken in once it reads whole or stands still");
        else if (fileUnread_)
            warn(path_ + " is being written by another program: " + found +
                 "; starting from defaults, and taking it in once it reads whole or stands still");
        else
            warn(path_ + " keeps being rewritten: " + found +
                 "; keeping the settings in use, and the changes made here, until it reads whole or stands "
                 "still");
    }
    return spell.nextLookIn(now);
}

bool JsonDefaultsStore::flush() {
    return flushWaitingForTheFile(false);
}

// Waits for a file caught mid-save, or changing under every swap, holding up the calling thread: the caller
// needs the write done before it returns. A file still being saved is waited for half a second at most
// (0.1 s at the end), and never written over: its writer's save is no less the user's than ours.
bool JsonDefaultsStore::flushWaitingForTheFile(bool ending) {
    const double start = loop_.uptime();
    const double wait = ending ? kEndSeconds : kFileWaitSeconds;
    const double deadline = start + wait;
    Locking locking{.wait = kLockWaitSeconds, .writeAnyway = ending};
    for (int looks = 1;; ++looks) {
        const double now = loop_.uptime();
        const bool last = now >= deadline - 1e-9 || looks > mostLooks(wait);
        if (ending) locking.wait = std::max(0.0, deadline - now);
        const FlushResult result = flushLocked(locking);
        if (result == FlushResult::Contended) {
            if (last || loop_.uptime() - start >= kFileWaitSeconds) {
                note(path_ + " kept changing while we wrote; what it changed last is kept for the next try");
                return false;
            }
        } else if (result == FlushResult::FileSettling || result == FlushResult::EditSettling) {
            if (last) {
                if (ending) {
                    // An edit that came out is the destructor's; the file in place is its writer's.
                    if (result == FlushResult::FileSettling && !changedKeys_.empty())
                        warn(path_ + " was still being written when the app ended; left it to its writer: " +
                             unsavedKeys(changedKeys_));
                    return false;
                }
                // The loop goes on following the file; the changes go out once it settles.
                const double next = stillBeingWritten(result, true);
                if (!flushPosted_) postFlush(next);
                return false;
            }
        } else {
            if (!ending) afterWrite(result);
            return result == FlushResult::Written;
        }
        waits_->pause(std::clamp(deadline - loop_.uptime(), 0.0, Settling::kLookSeconds));
    }
}

std::string JsonDefaultsStore::unsavedKeys(const std::set<std::string>& keys) const {
    std::string said = "not saved: ";
    for (const auto& key : keys) said += (said.ends_with(": ") ? "\"" : ", \"") + key + "\"";
    return said;
}

JsonDefaultsStore::FlushResult JsonDefaultsStore::flushLocked(Locking& locking) {
    if (changedKeys_.empty() && !swappedOut_ && !outsideEditsUnwritten_) return FlushResult::Written;
    place_ = findGuarded(path_, true);
    if (!place_.refusal.empty()) {
        refuseTarget(place_.refusal, !place_.notGiven);
        return FlushResult::Refused;
    }
    if (!place_.fileFolder) {
        if (place_.closed)
            cannotWriteClosed(*place_.closed);
        else
            cannotWrite(place_.failure,
                        "cannot write " + path_ + " (" + place_.failure + ")" + kKeptForLater);
        return FlushResult::Failed;
    }
    const WritersLock::Taken taken = lock(locking.passedOver ? 0 : locking.wait);
    if (taken == WritersLock::Taken::notGiven) {
        refuseTarget("cannot be written: " + lock_.notGiven(), false);
        return FlushResult::Refused;
    }
    const bool locked = taken != WritersLock::Taken::busy;
    if (!locked && !locking.writeAnyway) {
        if (locking.wait > 0)
            cannotWrite("busy", lockPath(path_) + " stays held by another writer" + kKeptForLater);
        return FlushResult::LockBusy;
    }
    if (!locked && !std::exchange(locking.passedOver, true))
        warn(lockPath(path_) + " stays held by another writer; writing without it");
    if (locked && !leftoversRemoved_) {
        leftoversRemoved_ = true;
        removeOwnLeftovers(*place_.fileFolder, place_.name);
    }
    FlushResult result = FlushResult::Reread;
    // A file that changed while ours was being written is read again before anything is swapped.
    for (int reads = 0; result == FlushResult::Reread; ++reads) {
        if (reads == kMaxSwapRounds) {
            outsideEditsUnwritten_ = true;
            result = FlushResult::Contended;
            break;
        }
        std::set<std::string> editedOnDisk;
        bool ready = true;
        FileLook look = lookAtFile(lastDisk_.bytes);
        switch (look.found) {
            case FileLook::Found::refused:
                if (locked) unlock();
                refuseTarget(look.why);
                return FlushResult::Refused;
            case FileLook::Found::closed:
                // Left as it is: what it holds is the user's, and is taken in once it can be read.
                if (locked) unlock();
                cannotWriteClosed(*place_.closed);
                return FlushResult::Failed;
            case FileLook::Found::missing:
                fileSettling_.reset();
                fileUnread_ = false;
                // A file removed from outside counts as one emptied: keys we did not change go with it.
                if (lastDisk_.bytes) {
                    const DiskState before = std::exchange(lastDisk_, {});
                    editedOnDisk = takeInEdit(before.values, lastDisk_.values, changedKeys_);
                }
                break;
            case FileLook::Found::whole:
                // What another program changed since we last read or wrote the file is taken in.
                fileSettling_.reset();
                editedOnDisk = takeInWhole(look);
                break;
            case FileLook::Found::known:
                fileSettling_.reset();
                break;
            case FileLook::Found::halfWritten: {
                // An editor that saves in place empties the file and then writes it anew: between the two,
                // and while it writes, the file is empty or cut short, for as long as its writer takes. That
                // is waited for, and never written over; only what stands still unreadable is corrupt.
                const double now = loop_.uptime();
                fileSettling_.seen(look.stamp, now);
                if (!fileSettling_.standsStill(now)) {
                    if (locked) unlock();
                    return FlushResult::FileSettling;
                }
                fileSettling_.reset();
                // What was written there is unusable; keep it for the user and write ours in its place.
                ready =
                    setAside((std::exchange(fileUnread_, false) ? "is not a defaults file ("
                                                                : "was replaced by something that is not a "
                                                                  "defaults file (") +
                                 look.why + ")",
                             "writing the settings in use");
                break;
            }
            case FileLook::Found::unreadable:
                // Whatever is there now (too large, unreadable, not a file) is kept for the user, never
                // overwritten: when it cannot be moved aside, nothing is written.
                fileSettling_.reset();
                fileUnread_ = false;
                ready = setAside("cannot be read (" + look.why + ")", "writing the settings in use");
                break;
        }
        result = FlushResult::Failed;
        if (!ready) {
            cannotWrite("set aside",
                        "cannot write " + path_ + " in place of what cannot be moved aside" + kKeptForLater);
        } else {
            // An edit that came out of an earlier write half done, and is older than what the file now holds.
            if (swappedOut_) result = takeInSwappedOut(editedOnDisk);
            if (!swappedOut_) result = writeMerged();
        }
    }
    if (locked) unlock();
    return result;
}

// Until the edit reads whole the write waits, and the keys our earlier write put out and those edited in the
// file since then keep what they hold: both are newer than the edit or win over it. One that stands still not
// reading whole is a broken file.
JsonDefaultsStore::FlushResult JsonDefaultsStore::takeInSwappedOut(const std::set<std::string>& newerEdits) {
    SwappedOut& out = *swappedOut_;
    const FileLook look = lookAtOut(out.file, std::nullopt);
    if (look.found != FileLook::Found::whole) {
        const double now = loop_.uptime();
        out.settling.seen(look.stamp, now);
        if (!out.settling.standsStill(now)) return FlushResult::EditSettling;
        setAsideSwappedOut("is not a defaults file (" + look.why + ")");
    } else {
        std::set<std::string> keep = out.ours;
        keep.insert(changedKeys_.begin(), changedKeys_.end());
        keep.insert(newerEdits.begin(), newerEdits.end());
        if (!takeInEdit(out.base, look.values, keep).empty()) outsideEditsUnwritten_ = true;
        outsideEdits_.rememberCameOut(look.values, held(), loop_.uptime());
    }
    dropOutFile(out.file);
    swappedOut_.reset();
    return FlushResult::Written;
}

JsonDefaultsStore::FlushResult JsonDefaultsStore::holdSwappedOut(OutFile file, PlistValue base,
                                                                 std::set<std::string> ours,
                                                                 const FileLook& look) {
    swappedOut_ = SwappedOut{std::move(file), std::move(base), std::move(ours)};
    swappedOut_->settling.seen(look.stamp, loop_.uptime());
    return FlushResult::EditSettling;
}

std::set<std::string> JsonDefaultsStore::takeInWhole(FileLook& look) {
    // The first file read since the load left it to its writer is the user's settings as the load would
    // have read them: every key it holds takes its value, over changes made here meanwhile from defaults.
    const bool first = std::exchange(fileUnread_, false);
    if (first)
        warn(path_ + (std::exchange(closedAtLoad_, false) ? " can be read now" : " reads whole now") +
             "; its settings are taken in");
    const DiskState before = std::exchange(lastDisk_, {std::move(look.bytes), std::move(look.values)});
    return takeInEdit(first ? PlistValue::object() : before.values, lastDisk_.values,
                      first ? std::set<std::string>() : changedKeys_);
}

// Our own file is never one we would refuse to read: the settings are written laid out, or, when that would
// be larger than a settings file may be, on one line (a file the user saved just under the limit takes more
// room laid out our way); larger still, not at all, which is said once until a write goes out again. The file
// then stays as it is, and what is pending stays in memory until a change makes it fit.
std::optional<std::string> JsonDefaultsStore::fileText(const PlistValue& stored) {
    std::string text = encodeDefaultsFile(stored);
    if (text.size() <= kMaxDefaultsFileBytes) return text;
    text = encodeDefaultsFileOnOneLine(stored);
    if (text.size() <= kMaxDefaultsFileBytes) return text;
    if (!std::exchange(tooLargeLogged_, true))
        warn("not writing " + path_ + ": the settings would take " + std::to_string(text.size()) +
             " bytes, more than the " + std::to_string(kMaxDefaultsFileBytes) +
             " a settings file may hold; the file stays as it is, and the changes are kept in memory until "
             "one "
             "makes them fit");
    return std::nullopt;
}

// Writes the stored values unless the file holds them already. A plain rename would replace whatever is in
// place at that moment unseen, an edit that landed after our read included; the swap hands it back instead,
// and what it changed is taken in and written again.
JsonDefaultsStore::FlushResult JsonDefaultsStore::writeMerged() {
    for (int round = 0;; ++round) {
        const std::optional<std::string> fitting = fileText(domain_.stored());
        if (!fitting) return FlushResult::TooLarge;
        const std::string& text = *fitting;
        if (text == lastDisk_.bytes) break;
        if (round == kMaxSwapRounds) {
            outsideEditsUnwritten_ = true;
            return FlushResult::Contended;
        }
        OutFile out;
        const SwapResult swap = writeAndSwap(text, domain_.stored(), out);
        if (swap == SwapResult::Failed) return FlushResult::Failed;
        if (swap == SwapResult::Refused) return FlushResult::Refused;
        if (swap == SwapResult::Stale) return FlushResult::Reread;
        outsideEdits_.settle(held());
        // What the file now holds, as stored values (keys and text that are not UTF-8 it spells with U+FFFD;
        // measuring edits against the stored spelling takes that in, no more).
        const DiskState before = std::exchange(lastDisk_, {text, domain_.stored()});
        // What was in place when the swap was made ("came out"): the file as we knew it, or an edit made to
        // it since; nothing when there was no file. A rename without exchange leaves nothing to look at, and
        // something that is not a file has been set aside.
        FileLook cameOut;
        if (out.fd >= 0) {
            cameOut = lookAtOut(out, before.bytes);
        } else if (swap != SwapResult::Placed || !before.bytes) {
            cameOut.found = FileLook::Found::known;
        }
        if (cameOut.found == FileLook::Found::known) {
            dropOutFile(out);
            break;
        }
        // A whole edit goes back in place at once, before anything else is done with it: ours, which lacks
        // it, stands only between the two swaps, so an editor that reads the file then reads the edit, as it
        // would have without us, and never builds on a file that lacks it. The next round writes it with our
        // changes.
        if (out.fd >= 0 && cameOut.looksWhole) {
            const DiskState ours = lastDisk_;
            const FlushResult back = putBack(out, std::move(cameOut), before, ours);
            outsideEdits_.settle(held());
            if (back != FlushResult::Written) return back;
            continue;
        }
        if (cameOut.found != FileLook::Found::whole && cameOut.found != FileLook::Found::missing) {
            // Empty or cut short: an editor writing in place when its file was taken away. It goes on
            // writing there; what we wrote stays in place meanwhile, and the edit is taken in once whole.
            std::set<std::string> ours = std::move(changedKeys_);
            changedKeys_.clear();
            outsideEditsUnwritten_ = false;
            return holdSwappedOut(std::move(out), before.values, std::move(ours), cameOut);
        }
        // Nothing came out where a file was read: removed from outside, an edit emptying it.
        const PlistValue edited =
            cameOut.found == FileLook::Found::whole ? std::move(cameOut.values) : PlistValue::object();
        dropOutFile(out);
        takeInEdit(before.values, edited, changedKeys_);
        if (cameOut.found == FileLook::Found::whole)
            outsideEdits_.rememberCameOut(edited, held(), loop_.uptime());
    }
    // What stands now holds it all: a file like any other.
    placedGone(true);
    changedKeys_.clear();
    outsideEditsUnwritten_ = false;
    const bool refused = std::exchange(targetRefused_, false);
    if (refused || !failureSaid_.empty())
        warn(path_ + (refused ? " is no longer refused" : " is written again") + "; saving resumed");
    failureSaid_.clear();
    followPlace();
    return FlushResult::Written;
}

// The new content goes to a temporary file beside the real one (beside the link's target for a linked
// file), is flushed to disk and then exchanged with the old one in one step.
JsonDefaultsStore::SwapResult JsonDefaultsStore::writeAndSwap(const std::string& text,
                                                              const PlistValue& values, OutFile& cameOut) {
    cameOut = {};
    const FolderRef folder = place_.fileFolder;
    const std::string& target = place_.name;
    const auto fail = [&](const std::string& why) {
        cannotWrite(why, "cannot write " + path_ + " (" + why + ")" + kKeptForLater);
        return SwapResult::Failed;
    };
    const NewFile made = writeNewFile(*folder, target, text, path_);
    if (made.notGiven) {
        refuseTarget("cannot be written: its new content " + made.failure, false);
        return SwapResult::Refused;
    }
    if (const auto closed = closedFolder(*folder, made.error); made.name.empty() && closed) {
        cannotWriteClosed(*closed);
        return SwapResult::Failed;
    }
    if (made.name.empty()) return fail(made.failure);
    const std::string& temporary = made.name;
    const auto failAfter = [&](const std::string& what) {
        const std::string why = what + ": " + std::strerror(errno);
        ::unlinkat(folder->fd, temporary.c_str(), 0);
        return fail(why);
    };
    if (beforeLastLook_) beforeLastLook_();
    // Writing and flushing took a while: an edit that landed meanwhile is read and written with ours instead
    // of coming out of the swap. Only one landing between this look and the swap does, and ours, lacking
    // it, stands for a moment then.
    if (!standsAsRead()) {
        ::unlinkat(folder->fd, temporary.c_str(), 0);
        return SwapResult::Stale;
    }
    if (beforeSwap_) beforeSwap_();
    std::optional<PlistValue> openedGone;
    const Swaps::PutInPlace put = swaps_.putInPlace(*folder, temporary, target, values, &openedGone);
    rememberOpenedGone(std::move(openedGone));
    if (!put.cannotExchange.empty() && !std::exchange(exchangeUnavailableLogged_, true))
        warn("cannot exchange files in " + folder->path + " (" + put.cannotExchange +
             "); replacing the file, "
             "which loses an edit made while we write");
    switch (put.how) {
        case Swaps::Put::exchanged:
            cameOut = openOutFile(folder, temporary, target);
            if (cameOut.fd < 0) keepAsideNonFile(cameOut);
            return SwapResult::Exchanged;
        case Swaps::Put::placed:
            return SwapResult::Placed;
        case Swaps::Put::replaced:
            return SwapResult::Replaced;
        case Swaps::Put::failed:
            break;
    }
    errno = put.error;
    return failAfter(put.failure);
}

// Puts an edit that came out of our swap back in place, and with it the newest of any edits that land
// meanwhile. `held` (what it holds `heldLook`, made to the file `heldBase`) is swapped with `standing`, which
// comes out again, unless an edit took its place in the moment between: that one is newer still, and goes in
// place the same way once it is taken in. Every file that comes out is read and taken in, none is dropped
// unread. Written once the newest edit stands; a settling result when one turns out to be mid-save after all
// (an editor writing in place, as when it stands there without us) or comes out so, to be waited for.
// An edit that took the place of a file standing for a moment was made from it when another program opened it
// meanwhile; when none did, it goes on from the file that stood before, which came out as that one went in.
JsonDefaultsStore::FlushResult JsonDefaultsStore::putBack(OutFile& held, FileLook heldLook,
                                                          DiskState heldBase, DiskState standing) {
    // The file put back that stands, and the one going in, watched for an opening while they stand.
    struct Watches {
        OpenWatch& openWatch;
        int standing = -1, goingIn = -1;
        ~Watches() {
            openWatch.end(standing);
            openWatch.end(goingIn);
        }
    } watches{swaps_.watch()};
    for (int swaps = 0;; ++swaps) {
        if (beforeSwap_ && swaps < kMaxSwapRounds) beforeSwap_();
        bool standingOpened = true;
        if (swaps < kMaxSwapRounds)
            watches.goingIn = swaps_.watch().watch(openedPath(held.folder->fd, held.name));
        if (swaps == kMaxSwapRounds ||
            !swapIn(*held.folder, held.name, held.target, nullptr, &standingOpened)) {
            // It stays out of place: taken in from where it is, and written with ours on the next round.
            takeInCameOut(held, heldBase.values);
            lastDisk_ = std::move(standing);
            return swappedOut_ ? FlushResult::EditSettling : FlushResult::Written;
        }
        if (watches.standing >= 0) standingOpened = swaps_.watch().end(std::exchange(watches.standing, -1));
        watches.standing = std::exchange(watches.goingIn, -1);
        // `held` stands; what it was swapped with is under its name now, and is read before anything else.
        ::close(std::exchange(held.fd, -1));
        OutFile cameOut = openOutFile(held.folder, held.name, held.target);
        FileLook cameOutLook;
        if (cameOut.fd >= 0)
            cameOutLook = lookAtOut(cameOut, standing.bytes);
        else
            keepAsideNonFile(cameOut);
        if (heldLook.found != FileLook::Found::whole) {
            // Whole-looking, yet mid-save: the file stands as its editor left it, and is waited for as any
            // file found mid-save is, measured against the file it was made to once it reads.
            lastDisk_ = std::move(heldBase);
            outsideEditsUnwritten_ = true;
            if (cameOutLook.found == FileLook::Found::known)
                dropOutFile(cameOut);
            else if (cameOut.fd >= 0)
                holdSwappedOut(std::move(cameOut), standing.values, changedKeys_, cameOutLook);
            placedGone(true);
            fileSettling_.seen(heldLook.stamp, loop_.uptime());
            return FlushResult::FileSettling;
        }
        takeInEdit(heldBase.values, heldLook.values, changedKeys_);
        // What ours lacked while it stood is known now: the edit that came out of its swap, taken in. Edits
        // taken in later are no part of it, however long the files keep coming out.
        outsideEdits_.settle(this->held());
        outsideEdits_.rememberCameOut(heldLook.values, this->held(), loop_.uptime());
        DiskState heldState{std::move(heldLook.bytes), std::move(heldLook.values)};
        if (cameOut.fd < 0 || cameOutLook.found == FileLook::Found::known) {
            dropOutFile(cameOut);
            lastDisk_ = std::move(heldState);
            return FlushResult::Written;
        }
        if (!cameOutLook.looksWhole) {
            // An editor writing in place into what stood: waited for as one that came out of a swap, with
            // our changes not on disk yet.
            outsideEditsUnwritten_ = true;
            lastDisk_ = std::move(heldState);
            return holdSwappedOut(std::move(cameOut), standing.values, changedKeys_, cameOutLook);
        }
        held = std::move(cameOut);
        heldLook = std::move(cameOutLook);
        if (standingOpened) {
            heldBase = std::exchange(standing, std::move(heldState));
        } else {
            standing = std::move(heldState);
            heldBase = standing;
        }
    }
}

// An edit that came out of a swap and stays out of place: a whole one is taken in (measured against the file
// it was made to), one mid-save is waited for; our changes keep their values against it and are still to be
// written.
void JsonDefaultsStore::takeInCameOut(OutFile& file, const PlistValue& base) {
    const FileLook look = lookAtOut(file, std::nullopt);
    outsideEditsUnwritten_ = true;
    if (look.found != FileLook::Found::whole) {
        holdSwappedOut(std::exchange(file, {}), base, changedKeys_, look);
        return;
    }
    takeInEdit(base, look.values, changedKeys_);
    outsideEdits_.rememberCameOut(look.values, held(), loop_.uptime());
    dropOutFile(file);
}

// An edit that came out of our last swap and is not whole at the end: only its editor can finish it. One
// that stands still is a broken file, kept aside as one. One still being written goes back in place, where
// its editor expects it, as long as what stands there is still ours: what our swap wrote (and anything taken
// in since) is then not saved, which is said. Otherwise it is kept aside, where its editor goes on writing it
// whole, under a name that no clean-up takes for a leftover.
void JsonDefaultsStore::leaveSwappedOut() {
    SwappedOut& out = *swappedOut_;
    const FileLook look = lookAtOut(out.file, std::nullopt);
    const double now = loop_.uptime();
    out.settling.seen(look.stamp, now);
    if (out.settling.standsStill(now)) {
        setAsideSwappedOut("is not a defaults file (" + look.why + ")");
    } else if (namesOutFile(out.file) && standsAsRead() &&
               swaps_.exchange(*out.file.folder, out.file.name, out.file.target, nullptr, nullptr, nullptr)) {
        // Ours came out under the edit's temporary name.
        ::unlinkat(out.file.folder->fd, out.file.name.c_str(), 0);
        ::close(std::exchange(out.file.fd, -1));
        std::set<std::string> unsaved = out.ours;
        unsaved.insert(changedKeys_.begin(), changedKeys_.end());
        warn("an edit of " + path_ +
             " that landed during a write was still being written when the app ended; put it back in place "
             "for its writer to finish" +
             (unsaved.empty() ? std::string() : "; " + unsavedKeys(unsaved)));
    } else {
        setAsideSwappedOut("was still being written when the app ended");
    }
    dropOutFile(out.file);
    swappedOut_.reset();
}

// Swaps the file under `name` with the one at `target` in `folder`; when it is ours (`ours`: its values), it
// is placed. `placedOpened`: whether the placed file that stood was opened meanwhile (true when none stood).
bool JsonDefaultsStore::swapIn(const OpenFolder& folder, const std::string& name, const std::string& target,
                               const PlistValue* ours, bool* placedOpened) {
    std::optional<PlistValue> openedGone;
    const bool swapped = swaps_.exchange(folder, name, target, ours, placedOpened, &openedGone);
    rememberOpenedGone(std::move(openedGone));
    return swapped;
}

// Ours, placed, no longer stands, or (`stays`) stands for good as a file like any other; when another program
// opened it while it stood for a moment, it is remembered. Whether it was (true when none stood).
bool JsonDefaultsStore::placedGone(bool stays) {
    std::optional<PlistValue> openedGone;
    const bool opened = swaps_.placedGone(stays, &openedGone);
    rememberOpenedGone(std::move(openedGone));
    return opened;
}

// The lock file lies in the path's folder, opened through it. A lock file that cannot be made or locked
// guards nothing, and the write goes on without it.
WritersLock::Taken JsonDefaultsStore::lock(double waitSeconds) {
    const auto wait = [this](const std::string& lockFile, double seconds) {
        return waits_->lock(lockFile, seconds);
    };
    return lock_.take(*place_.folder, lockPath(splitPath(path_).second), waitSeconds, wait);
}

void JsonDefaultsStore::unlock() {
    lock_.release();
}

void JsonDefaultsStore::takeInOutsideEdits() {
    place_ = findGuarded(path_, false);
    FileLook look = lookAtFile(lastDisk_.bytes);
    followPlace();
    switch (look.found) {
        case FileLook::Found::whole:
            fileSettling_.reset();
            lookAgain_.cancel();
            lastRefusedBytes_.reset();
            takeInWhole(look);
            // With nothing of ours waiting, the spell that was said ends here.
            if (changedKeys_.empty() && !swappedOut_ && !outsideEditsUnwritten_) beingWrittenSaid_ = false;
            // A file that can be read again (given back to the user) may be written again: what waits for a
            // later try goes out now.
            if (!failureSaid_.empty() && !changedKeys_.empty() && !flushPosted_ && !writesHeld_) postFlush(0);
            return;
        case FileLook::Found::halfWritten:
            break;
        case FileLook::Found::missing:
        case FileLook::Found::unreadable:
            // Nothing to take in: the next write deals with what is there.
            fileUnread_ = false;
            [[fallthrough]];
        case FileLook::Found::known:
        case FileLook::Found::refused:
        case FileLook::Found::closed:
            fileSettling_.reset();
            return;
    }
    // An editor saving in place leaves the file empty or cut short for a moment, one saving in a loop does so
    // again and again, and a slow one for seconds. A file that does not read whole is looked at again until
    // it does or stands still, and reported once: as not a defaults file once it stands still (the next write
    // sets it aside), or past the first half second as one being rewritten, with how often it was found so.
    if (!look.changing && look.bytes == lastRefusedBytes_) return;
    const double now = loop_.uptime();
    fileSettling_.seen(look.stamp, now);
    if (fileSettling_.standsStill(now)) {
        if (fileUnread_) {
            // What the load left to its writer ended as it is: broken, as the load would have found it.
            fileUnread_ = false;
            fileSettling_.reset();
            setAside("is not a defaults file (" + look.why + ")", kStartingFresh);
            if (!flushPosted_ && !writesHeld_) postFlush(0);
            return;
        }
        // Said once; the next write sets it aside at once.
        warn(path_ + " was edited into something that is not a defaults file (" + look.why +
             "); keeping the settings in use");
        lastRefusedBytes_ = look.bytes;
        return;
    }
    const double next = stillBeingWritten(FlushResult::FileSettling);
    // Past the bound, it is looked at on changes the watch sees, unless nothing of it was read yet.
    if (!fileSettling_.pastBound(now) || fileUnread_)
        lookAgain_ = loop_.postAfter(next, lifetime_.guard([this] { takeInOutsideEdits(); }));
}

void JsonDefaultsStore::watchForOutsideEdits() {
    if (watcher_) return;
    // The folder is watched from the start, so it is made now if it is missing.
    place_ = findGuarded(path_, true);
    watcher_ = std::make_unique<FileWatch>(loop_, [this] { takeInOutsideEdits(); });
    followPlace();
}

// Only what the guarded path found is watched, as it was found for the last look or write.
void JsonDefaultsStore::followPlace() {
    if (watcher_) watcher_->follow(place_);
}

// One spell of writes that fail said once: a reason that was said is a debug line on each later try, until a
// write lands (which says that saving resumed) or the reason changes.
void JsonDefaultsStore::cannotWrite(const std::string& reason, const std::string& line) {
    if (std::exchange(failureSaid_, reason) == reason)
        trace("still " + line);
    else
        warn(line);
}

// A folder or file closed to the user stays closed until its owner gives it back: what to do is said with it.
void JsonDefaultsStore::cannotWriteClosed(const Closed& closed) {
    cannotWrite(closed.path, "cannot write " + path_ +
                                 "; the changes are kept in memory and tried again later: " +
                                 whoseAndHowToOpen(closed, splitPath(path_).first));
}

}  // namespace velaro
