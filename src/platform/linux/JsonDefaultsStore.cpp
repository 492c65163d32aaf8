// The JSON defaults store: the guarded load, merging writes under the writers' lock that swap the new file
// with the old one and take in what came out, the retries, and the watch for other programs' edits. The
// file's format, its path, the lock, the swap, set-aside copies and the merge of outside edits are rooms of
// their own (defaults/); this file drives them.
#include "platform/linux/JsonDefaultsStore.h"

#include <QDir>
#include <QFileSystemWatcher>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/FileRead.h"
#include "platform/linux/defaults/DefaultsLog.h"

namespace velaro {

using namespace defaults;

namespace {

constexpr const char* kStartingFresh = "starting from defaults";
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
// An editor saving in place leaves the file empty or cut short for a moment (milliseconds on a local disk):
// a write finding it so looks again this often, for this long ("the settle time"), before it takes the file
// for corrupt.
constexpr double kSettleSeconds = 0.5;
constexpr double kSettlePollSeconds = 0.02;
// Each write swaps the new file with the one in place; when what comes out holds an edit that landed since
// the read, the edit is taken in and the write is made again, this many times at most before the rest waits
// for a later try (only a program rewriting the file without pause keeps it changing that long).
constexpr int kMaxSwapRounds = 8;

class RealTimeWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    double now() override {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    void pause(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    int lock(const std::string& lockFile, double seconds) override { return waitForLock(lockFile, seconds); }
};

RealTimeWaits realTime;

// What a look found mid-save is, for telling whether the next look finds it the same: its text, or why it
// could not be read.
const std::string& settleState(const FileLook& look) {
    return look.found == FileLook::Found::unreadable ? look.why : look.bytes;
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
    // An edit that came out of the last swap half written: only its editor can finish it, so it is kept
    // whole where the editor goes on writing, under a name that no clean-up takes for a leftover.
    if (swappedOut_) setAsideSwappedOut("was still being written when the app ended");
    if (swappedOut_) dropOutFile(swappedOut_->file);
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
    return lookAt(std::move(read), known, path_);
}

// Read through the descriptor, also while an editor still writes to it.
FileLook JsonDefaultsStore::lookAtOut(const OutFile& out, const std::optional<std::string>& known) {
    FileRead read = readBoundedDescriptor(out.fd, kMaxDefaultsFileBytes);
    // What came out of a swap is told half written by its text alone.
    read.changedWhileRead = false;
    return lookAt(std::move(read), known, path_);
}

// An editor that saves in place empties the file and writes it anew; a start in the middle of that finds it
// empty, cut short, or changing under the read, and on a busy machine finds it so for a while. It is read
// again until it reads whole, and only a file that does not within the settle time is set aside: the user's
// settings must not go for a moment of someone else's save.
void JsonDefaultsStore::load() {
    place_ = findGuarded(path_, false);
    if (!place_.refusal.empty()) {
        refuseTarget(place_.refusal);
        return;
    }
    // Without the lock another writer may be between creating its temporary and renaming it: the clean-up
    // then waits for our first write.
    if (place_.folder && lock(0)) {
        leftoversRemoved_ = true;
        if (place_.fileFolder) removeOwnLeftovers(*place_.fileFolder, place_.name);
        unlock();
    }
    BlockingWaits& waits = *waits_;
    const double start = waits.now();
    for (;;) {
        FileLook look = lookAtFile(std::nullopt);
        switch (look.found) {
            case FileLook::Found::missing:
            case FileLook::Found::known:
                return;
            case FileLook::Found::refused:
                refuseTarget(look.why);
                return;
            case FileLook::Found::unreadable:
                setAside("cannot be read (" + look.why + ")", kStartingFresh);
                return;
            case FileLook::Found::whole:
                lastDisk_ = {std::move(look.bytes), look.values};
                domain_.replaceStored(std::move(look.values));
                return;
            case FileLook::Found::halfWritten:
                break;
        }
        if (waits.now() - start >= kSettleSeconds) {
            setAside("is not a defaults file (" + look.why + ")", kStartingFresh);
            return;
        }
        waits.pause(kSettlePollSeconds);
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

// The settings path is a link we do not follow: nothing is read or written there, said once.
void JsonDefaultsStore::refuseTarget(const std::string& refusal) {
    if (std::exchange(targetRefused_, true)) return;
    warn(path_ + " " + refusal +
         "; leaving it and what it points to alone: the settings are kept in memory and not saved");
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
        // again a little later, and gives up on the file once it stayed unreadable for the settle time.
        const bool stopWaiting = settlingSince_ && loop_.uptime() - *settlingSince_ >= kSettleSeconds;
        Locking locking;
        const FlushResult result =
            flushLocked(locking, stopWaiting ? FileGiveUp::ifUnchanged : FileGiveUp::no);
        switch (result) {
            case FlushResult::Contended:
            case FlushResult::Reread:  // (never comes out of a flush)
                // The write went out; only what came out of it waits. A file found mid-save later is given
                // its whole settle time.
                settlingSince_.reset();
                postFlush(kLockRetrySeconds);
                break;
            case FlushResult::LockBusy:
                postFlush(kLockRetrySeconds);
                break;
            case FlushResult::FileSettling:
                settlingSince_ = loop_.uptime();
                postFlush(kSettlePollSeconds);
                break;
            case FlushResult::FileStillSettling:
                if (!settlingSince_) settlingSince_ = loop_.uptime();
                postFlush(kSettlePollSeconds);
                break;
            case FlushResult::Written:
            case FlushResult::Failed:
            case FlushResult::Refused:
            case FlushResult::TooLarge:
                settlingSince_.reset();
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
// them.
void JsonDefaultsStore::afterWrite(FlushResult result) {
    if (result == FlushResult::Written) {
        retryDelay_ = 0;
        failedRetry_.cancel();
        tooLargeLogged_ = false;
    }
    if (result != FlushResult::Failed || lifetime_.ended()) return;
    retryDelay_ = retryDelay_ == 0 ? kFirstRetrySeconds : std::min(2 * retryDelay_, kLongestRetrySeconds);
    failedRetry_ = loop_.postAfter(retryDelay_, lifetime_.guard([this] {
        if (!flushPosted_ && !writesHeld_) postFlush(0);
    }));
}

bool JsonDefaultsStore::flush() {
    return flushWaitingForTheFile(false);
}

// Waits for a file caught mid-save, or changing under every swap, holding up the calling thread: the caller
// needs the write done before it returns.
bool JsonDefaultsStore::flushWaitingForTheFile(bool ending) {
    BlockingWaits& waits = *waits_;
    const double start = waits.now();
    const double deadline = ending ? start + kEndSeconds : std::numeric_limits<double>::infinity();
    Locking locking{.wait = kLockWaitSeconds, .writeAnyway = ending};
    // A file is given the whole settle time from when it was found mid-save as it is, however long the write
    // waited before; at the end, until the deadline only.
    std::optional<double> settlingSince;
    for (;;) {
        const double now = waits.now();
        const bool last = now >= deadline;
        if (ending) locking.wait = std::max(0.0, deadline - now);
        const FileGiveUp giveUp = last ? FileGiveUp::now
                                  : settlingSince && now - *settlingSince >= kSettleSeconds
                                      ? FileGiveUp::ifUnchanged
                                      : FileGiveUp::no;
        const FlushResult result = flushLocked(locking, giveUp);
        if (result == FlushResult::FileSettling) {
            settlingSince = waits.now();
        } else if (result == FlushResult::FileStillSettling) {
            if (!settlingSince) settlingSince = waits.now();
        } else if (result == FlushResult::Contended) {
            settlingSince.reset();
            if (last || waits.now() - start >= kSettleSeconds) {
                note(path_ + " kept changing while we wrote; what it changed last is kept for the next try");
                return false;
            }
        } else {
            if (!ending) afterWrite(result);
            return result == FlushResult::Written;
        }
        // The try made at the deadline gave up on the file, and ours is in place; only an edit that came out
        // of its own swap half written is left, for the caller.
        if (last) return false;
        waits.pause(std::clamp(deadline - waits.now(), 0.0, kSettlePollSeconds));
    }
}

JsonDefaultsStore::FlushResult JsonDefaultsStore::flushLocked(Locking& locking, FileGiveUp giveUp) {
    if (changedKeys_.empty() && !swappedOut_ && !outsideEditsUnwritten_) return FlushResult::Written;
    place_ = findGuarded(path_, true);
    if (!place_.refusal.empty()) {
        refuseTarget(place_.refusal);
        return FlushResult::Refused;
    }
    if (!place_.fileFolder) {
        warn("cannot write " + path_ + " (" + place_.failure + "); changes kept for the next try");
        return FlushResult::Failed;
    }
    const bool locked = lock(locking.passedOver ? 0 : locking.wait);
    if (!locked && !locking.writeAnyway) {
        if (locking.wait > 0)
            warn(lockPath(path_) + " stays held by another writer; changes kept for the next try");
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
            case FileLook::Found::missing:
            case FileLook::Found::whole: {
                if (look.found == FileLook::Found::missing && !lastDisk_.bytes) break;
                // What another program changed since we last read or wrote the file is taken in; a file
                // removed from outside counts as one emptied: keys we did not change go with it.
                DiskState onDisk;
                if (look.found == FileLook::Found::whole)
                    onDisk = {std::move(look.bytes), std::move(look.values)};
                const DiskState before = std::exchange(lastDisk_, std::move(onDisk));
                editedOnDisk = takeInEdit(before.values, lastDisk_.values, changedKeys_);
                break;
            }
            case FileLook::Found::known:
                break;
            case FileLook::Found::halfWritten:
                settlingError_ = look.why;
                if (look.changing) settlingBytes_.reset();
                // An editor that saves in place empties the file and then writes it anew: between the two,
                // and while it writes, the file is empty or cut short. That is waited for, as the watcher
                // waits for the next change, and only what stays unreadable is a corrupt file.
                if (const FlushResult settling = settlingOn(look.bytes); !givesUp(giveUp, settling)) {
                    if (locked) unlock();
                    return settling;
                }
                // What was written there is unusable; keep it for the user and write ours in its place.
                ready =
                    setAside("was replaced by something that is not a defaults file (" + settlingError_ + ")",
                             "writing the settings in use");
                break;
            case FileLook::Found::unreadable:
                // Whatever is there now (too large, unreadable, not a file) is kept for the user, never
                // overwritten: when it cannot be moved aside, nothing is written.
                ready = setAside("cannot be read (" + look.why + ")", "writing the settings in use");
                break;
        }
        result = FlushResult::Failed;
        if (!ready) {
            warn("changes kept for the next try");
        } else {
            // An edit that came out of an earlier write half done, and is older than what the file now holds.
            if (swappedOut_) result = takeInSwappedOut(giveUp, editedOnDisk);
            if (!swappedOut_) {
                settlingBytes_.reset();
                result = writeMerged();
            }
        }
    }
    if (locked) unlock();
    return result;
}

// Whether `bytes`, found mid-save, are what the last try found (FileStillSettling) or anything else, an
// editor still writing (FileSettling): the settle time only runs out on a file that stays as it is.
JsonDefaultsStore::FlushResult JsonDefaultsStore::settlingOn(const std::string& bytes) {
    if (bytes == settlingBytes_) return FlushResult::FileStillSettling;
    settlingBytes_ = bytes;
    return FlushResult::FileSettling;
}

// A file still changing is waited for even once the settle time is over; only a deadline stops that.
bool JsonDefaultsStore::givesUp(FileGiveUp giveUp, FlushResult settling) {
    return giveUp == FileGiveUp::now ||
           (giveUp == FileGiveUp::ifUnchanged && settling == FlushResult::FileStillSettling);
}

// Until the edit reads whole the write waits, and the keys our earlier write put out and those edited in the
// file since then keep what they hold: both are newer than the edit or win over it.
JsonDefaultsStore::FlushResult JsonDefaultsStore::takeInSwappedOut(FileGiveUp giveUp,
                                                                   const std::set<std::string>& newerEdits) {
    const FileLook look = lookAtOut(swappedOut_->file, std::nullopt);
    if (look.found != FileLook::Found::whole) {
        // One too large to read is told by why.
        const FlushResult settling = settlingOn(settleState(look));
        if (!givesUp(giveUp, settling)) {
            settlingError_ = look.why;
            return settling;
        }
        setAsideSwappedOut("is not a defaults file (" + look.why + ")");
    } else {
        std::set<std::string> keep = swappedOut_->ours;
        keep.insert(changedKeys_.begin(), changedKeys_.end());
        keep.insert(newerEdits.begin(), newerEdits.end());
        if (!takeInEdit(swappedOut_->base, look.values, keep).empty()) outsideEditsUnwritten_ = true;
        outsideEdits_.rememberCameOut(look.values, held(), loop_.uptime());
    }
    dropOutFile(swappedOut_->file);
    swappedOut_.reset();
    return FlushResult::Written;
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
            swappedOut_ = SwappedOut{std::move(out), before.values, std::move(changedKeys_)};
            changedKeys_.clear();
            outsideEditsUnwritten_ = false;
            settlingError_ = cameOut.why;
            return settlingOn(settleState(cameOut));
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
        warn("cannot write " + path_ + " (" + why + "); changes kept for the next try");
        return SwapResult::Failed;
    };
    const NewFile made = writeNewFile(*folder, target, text, path_);
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
    // A file that appears or goes between two tries is tried again; three tries cover any such turn.
    for (int tries = 0; tries < 3; ++tries) {
        if (swapIn(*folder, temporary, target, &values)) {
            cameOut = openOutFile(folder, temporary, target);
            if (cameOut.fd < 0) keepAsideNonFile(cameOut);
            return SwapResult::Exchanged;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system that cannot exchange files: the plain rename, which an edit landing right now
            // loses.
            if (!exchangeUnavailableLogged_) {
                exchangeUnavailableLogged_ = true;
                warn("cannot exchange files in " + folder->path + " (" + std::strerror(errno) +
                     "); replacing the file, which loses an edit made while we write");
            }
            if (::renameat(folder->fd, temporary.c_str(), folder->fd, target.c_str()) != 0)
                return failAfter("renaming into place");
            placedGone(false);
            return SwapResult::Replaced;
        }
        if (errno != ENOENT) return failAfter("swapping into place");
        // No file in place (or our temporary is gone, which the next call tells).
        if (::renameat2(folder->fd, temporary.c_str(), folder->fd, target.c_str(), RENAME_NOREPLACE) == 0 ||
            (errno == EINVAL && ::renameat(folder->fd, temporary.c_str(), folder->fd, target.c_str()) == 0)) {
            placedGone(false);
            return SwapResult::Placed;
        }
        if (errno != EEXIST) return failAfter("renaming into place");
    }
    return failAfter("swapping into place");
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
            return swappedOut_ ? settlingOn(heldLook.bytes) : FlushResult::Written;
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
            settlingError_ = heldLook.why;
            if (cameOutLook.found == FileLook::Found::known)
                dropOutFile(cameOut);
            else if (cameOut.fd >= 0)
                swappedOut_ = SwappedOut{std::move(cameOut), standing.values, changedKeys_};
            placedGone(true);
            return settlingOn(heldLook.bytes);
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
            swappedOut_ = SwappedOut{std::move(cameOut), standing.values, changedKeys_};
            outsideEditsUnwritten_ = true;
            lastDisk_ = std::move(heldState);
            return settlingOn(settleState(cameOutLook));
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
        settlingError_ = look.why;
        swappedOut_ = SwappedOut{std::exchange(file, {}), base, changedKeys_};
        return;
    }
    takeInEdit(base, look.values, changedKeys_);
    outsideEdits_.rememberCameOut(look.values, held(), loop_.uptime());
    dropOutFile(file);
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
bool JsonDefaultsStore::lock(double waitSeconds) {
    const auto wait = [this](const std::string& lockFile, double seconds) {
        return waits_->lock(lockFile, seconds);
    };
    return lock_.take(*place_.folder, lockPath(splitPath(path_).second), waitSeconds, wait) !=
           WritersLock::Taken::busy;
}

void JsonDefaultsStore::unlock() {
    lock_.release();
}

void JsonDefaultsStore::takeInOutsideEdits() {
    place_ = findGuarded(path_, false);
    FileLook look = lookAtFile(lastDisk_.bytes);
    if (look.found != FileLook::Found::whole && look.found != FileLook::Found::halfWritten) {
        halfWritten_.reset();
        return;
    }
    if (!look.changing && look.bytes == lastRefusedBytes_) return;
    if (look.found == FileLook::Found::halfWritten) {
        halfWrittenSeen(look.bytes, look.why, !look.changing);
        return;
    }
    halfWritten_.reset();
    lookAgain_.cancel();
    lastRefusedBytes_.reset();
    const DiskState before = std::exchange(lastDisk_, {std::move(look.bytes), std::move(look.values)});
    takeInEdit(before.values, lastDisk_.values, changedKeys_);
}

// An editor saving in place leaves the file empty or cut short for a moment, and one saving in a loop does so
// again and again; on a busy machine the moment can last a while. A file that does not read whole is looked
// at again until it does, for the settle time, and only then reported, once for the whole spell: as a file
// that is not a defaults file, or, when it kept changing, as one being rewritten, with how often it was found
// so.
void JsonDefaultsStore::halfWrittenSeen(const std::string& bytes, const std::string& error, bool steady) {
    const double now = loop_.uptime();
    if (!halfWritten_) halfWritten_ = HalfWrittenSpell{.since = now};
    HalfWrittenSpell& spell = *halfWritten_;
    if (!steady || spell.seen == 0 || bytes != spell.bytes) ++spell.seen;
    spell.bytes = steady ? bytes : std::string();
    if (spell.reported) return;
    if (now - spell.since < kSettleSeconds) {
        lookAgain_ = loop_.postAfter(kSettlePollSeconds, lifetime_.guard([this] { takeInOutsideEdits(); }));
        return;
    }
    spell.reported = true;
    if (spell.seen > 1)
        warn(path_ + " keeps being rewritten: found half written " + std::to_string(spell.seen) +
             " times in " + std::to_string(static_cast<int>(std::lround((now - spell.since) * 1000))) +
             " ms; keeping the settings in use until it reads whole");
    else
        warn(path_ + " was edited into something that is not a defaults file (" + error +
             "); keeping the settings in use");
    if (steady) lastRefusedBytes_ = bytes;
}

void JsonDefaultsStore::watchForOutsideEdits() {
    if (watcher_) return;
    // The folder is watched from the start, so it is made now if it is missing.
    static_cast<void>(findGuarded(path_, true));
    watcher_ = std::make_unique<QFileSystemWatcher>();
    // A replaced file (every atomic save, ours too) shows only on its folder; an edit in place only on
    // the file. Both lead to one read on the next turn of the loop.
    const auto seen = [this] {
        if (checkPosted_) return;
        checkPosted_ = true;
        loop_.post(lifetime_.guard([this] {
            checkPosted_ = false;
            followFile();
            takeInOutsideEdits();
        }));
    };
    QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), seen);
    QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(), seen);
    followFile();
}

// Watches the folder, and the file while it exists (a watch ends when its file is replaced).
void JsonDefaultsStore::followFile() {
    if (!watcher_) return;
    const QString file = QString::fromStdString(path_);
    const auto slash = path_.find_last_of('/');
    const QString folder =
        QString::fromStdString(slash == std::string::npos ? std::string() : path_.substr(0, slash));
    if (!folder.isEmpty() && !watcher_->directories().contains(folder)) watcher_->addPath(folder);
    struct stat st {};
    if (!watcher_->files().contains(file) && ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        watcher_->addPath(file);
}

}  // namespace velaro
