// The user's defaults store kept as one JSON file, written atomically a loop turn after each change, under
// a lock shared with every other writer of the file, and followed for edits other programs make: none of
// those is lost to a write of ours, however it is saved and whenever it lands.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "platform/DefaultsStore.h"
#include "platform/linux/defaults/DefaultsFileFormat.h"
#include "platform/linux/defaults/FileIntake.h"
#include "platform/linux/defaults/FileSwap.h"
#include "platform/linux/defaults/FileWatch.h"
#include "platform/linux/defaults/GuardedPath.h"
#include "platform/linux/defaults/OutsideEdits.h"
#include "platform/linux/defaults/SetAsideCopies.h"
#include "platform/linux/defaults/WritersLock.h"

namespace velaro {

class JsonDefaultsStore final : public LayeredDefaultsStore {
public:
    // The time a write that must be done before its call returns (flush() and the store's end), and the load,
    // spend waiting for the writers' lock and for a file being saved: real time, the calling thread held up.
    // The store measures it on its loop's uptime, its one clock; tests that move their loop's time stand in
    // for it.
    class BlockingWaits {
    public:
        virtual ~BlockingWaits() = default;
        virtual void pause(double seconds) = 0;
        // Waits up to `seconds` for the lock on `lockFile`: a descriptor of its own opening of the file that
        // holds it (closing it releases it), or -1.
        virtual int lock(const std::string& lockFile, double seconds) = 0;
    };

    // Loads the file at `path`. A missing file is an empty store; one that is unreadable, not a regular
    // file, larger than a mebibyte or not a defaults file is moved aside to "<path>.corrupt-<UTC time>"
    // (the first of those and the newest four are kept) and the store starts empty. A file found cut short,
    // or changing while it is read (another program saving it in place), is read again until it reads whole
    // or stands still (unchanged for half a second), for half a second at most; only one that stands still
    // is set aside. One still changing then is left to its writer: the store starts from its defaults in
    // memory, writes nothing there, and takes the file in, as a load would, once it reads whole or stands
    // still. Every part of the
    // path below the folder the environment names, $HOME or what $XDG_CONFIG_HOME names above its last part
    // (the configuration folder, the settings folder and the file), is followed through a link only when the
    // link, and what it leads to, are the user's the app runs as, and every part above it, from / down, only
    // when the link is the user's or root's; with any other link the store keeps its settings in memory
    // without reading or writing there. Run as root with another user's folders, what the store makes there
    // is theirs; what cannot be given to them is not left there, and the store keeps its settings in memory,
    // as it does in a settings folder of root's among theirs (see defaults::findGuarded). A file that the
    // user may not read, or whose folder they may not open (left root's by a run as root), is left as it is:
    // the store says once whose it is and how to give it back, starts from its defaults in memory, and takes
    // the file in, as the load would have, once it can be read. `waits`: see setBlockingWaits(). Main thread
    // only.
    JsonDefaultsStore(MainLoop& loop, std::string path, BlockingWaits* waits = nullptr);
    // Writes what is still pending, within 0.1 s however the file and its lock are: a writer stuck with the
    // lock is written past. A file still being saved at that moment is left to its writer, and what is not
    // saved is said; an edit that came out of our last swap and is still being written goes back in place
    // for its writer, unless what stands there is no longer ours.
    ~JsonDefaultsStore() override;
    JsonDefaultsStore(const JsonDefaultsStore&) = delete;
    JsonDefaultsStore& operator=(const JsonDefaultsStore&) = delete;

    // $XDG_CONFIG_HOME/Velaro/defaults.json, with ~/.config when the variable is unset, empty or relative.
    static std::string standardPath();
    // The advisory lock file beside the settings file: every writer holds it from reading the file to
    // renaming the new one into place, but for the store's end, which writes without it once its 0.1 s are
    // over, and writes made where the lock file cannot be made (each said once).
    static std::string lockPath(const std::string& path) { return path + ".lock"; }

    // Non-finite doubles have no JSON form: such a value is refused (logged) and the key keeps its value.
    void set(const std::string& key, PlistValue value) override;
    void remove(const std::string& key) override;
    bool synchronize() override { return flush(); }

    // Writes pending changes now. Before writing, changes another process made to the file since we last
    // read or wrote it are taken in: keys changed here since then keep our values, all others take the
    // file's (the newest file another program wrote is the user's word). The new file is swapped with the
    // old one, keeping its owner and mode; an edit found in what came out (one that landed after the read)
    // is swapped back in place at once, taken in the same way and written again. Returns false when the
    // file could not be written; the changes stay pending and are tried again after 1 s, 2 s, ... 30 s at
    // most. The failure is said once until its reason changes, and the write that lands after it says that
    // saving resumed. While another writer holds the lock this waits for it, a second at most. A file (or an
    // edit that came out) that does not read as a defaults file is taken for one an editor is saving: it is
    // set aside once it stands still, and never written over while it changes; this waits for it half a
    // second at most, then says so once and returns false, and the changes go out on the loop once it reads
    // whole or stands still. A file that would be larger than a settings file may be (and is read) is not
    // written: that is said once, the file stays as it is and the changes stay pending until one makes it
    // fit. The settings folder and the file go through the checks of the load once for each write, and
    // everything the write does in the folder (the lock, temporary files, the swap, set-aside copies) it does
    // through the folder it opened then. A path refused there is not tried again until the next change, and a
    // write that goes out after a refusal says that saving resumed.
    bool flush();
    // While held, changes wait instead of going out on the next turn; on release they go out together on
    // the turn after. The launch holds them (a new or older file is migrated as the settings load) so that
    // waiting for the disk comes after its first band. flush() and the store's end still write at once.
    void holdWrites();
    void releaseWrites();
    const std::string& path() const { return path_; }
    // Runs before each swap of ours: after a new file is written and on disk, found the file in place
    // unchanged and before it is swapped in, the moment an edit other programs make goes unseen by the write;
    // and before an edit that came out of a swap is put back in place, while ours, which lacks it, stands.
    // Tests land (and read) their edits there.
    void setBeforeSwap(std::function<void()> hook) { beforeSwap_ = std::move(hook); }
    // Runs once a new file of ours is written and on disk, before the file in place is looked at once more
    // to tell whether an edit landed meanwhile. Tests land edits there.
    void setBeforeLastLook(std::function<void()> hook) { beforeLastLook_ = std::move(hook); }

    // Not owned; it outlives the store. Null puts real time back.
    void setBlockingWaits(BlockingWaits* waits);

    // Follows the file from now on: edits other programs make are taken in as they land. Only what the
    // guarded path finds is watched, through the folders it opened: never what a link it refuses leads to.
    void watchForOutsideEdits();
    // Reads the file and takes in what another program changed since we last read or wrote it (keys
    // changed here and not yet written keep our values); outsideChanges() tells of the keys that changed.
    // A file that is missing, unreadable or not a defaults file changes nothing here: an editor may be
    // half-way through saving it, and the next write deals with what is left. A file found cut short, or
    // changing while read, is looked at again on the loop until it reads whole or stands still, and reported
    // once: as not a defaults file once it stands still, or, still changing after half a second, as a file
    // being rewritten, with how many times it was found half written.
    void takeInOutsideEdits();

private:
    using FileLook = defaults::FileLook;
    using OutFile = defaults::OutFile;
    // FileSettling: the file at the path is found mid-save and does not stand still; nothing was written.
    // EditSettling: ours went out, and an edit that came out of a swap is mid-save; it is taken in once it
    // reads whole. Contended: the file changed under every swap of one try; what came out is held and goes
    // out on the next. Refused: the path is a link that is not followed; nothing is
    // written, and nothing is tried again until the next change. Reread: the file changed while ours was
    // written, and nothing was swapped; it is read again. TooLarge: ours would be larger than a file that
    // is read; nothing is written, nor tried again until the next change.
    enum class FlushResult {
        Written,
        Failed,
        LockBusy,
        FileSettling,
        EditSettling,
        Contended,
        Refused,
        Reread,
        TooLarge
    };
    // How one flush takes the writers' lock: waiting up to `wait` seconds for it (0: one try), then, with
    // `writeAnyway`, writing without it. Once it wrote without it (`passedOver`), its later tries wait no
    // more.
    struct Locking {
        double wait = 0;
        bool writeAnyway = false;
        bool passedOver = false;
    };
    // The new file was exchanged with the one in place, placed where there was none, or (on a file system
    // that cannot exchange) renamed over whatever was there; or not swapped, the file having changed since it
    // was read (Stale); or, run as root, not written, what it would leave could not be the user's (Refused).
    enum class SwapResult { Exchanged, Placed, Replaced, Stale, Failed, Refused };
    // The file as we last read or wrote it.
    struct DiskState {
        std::optional<std::string> bytes;  // nothing when there was no file
        PlistValue values = PlistValue::object();
    };
    // An edit that came out of a swap before it was whole (an editor writing the file in place when the swap
    // took it away): it is read again until it is, then laid over ours.
    struct SwappedOut {
        OutFile file;
        PlistValue base;             // the file the edit was made to, as far as we know
        std::set<std::string> ours;  // keys that the swap wrote for us: they keep our values
        defaults::Settling settling;
    };

    // The one place the file is read in: at the path, through the folders found last, or (`out`) one that
    // came out of a swap, through its descriptor. `known`: see defaults::lookAt().
    FileLook lookAtFile(const std::optional<std::string>& known);
    FileLook lookAtOut(const OutFile& out, const std::optional<std::string>& known);
    void load();
    void markChanged(const std::string& key);
    void postFlush(double delay);
    void afterWrite(FlushResult result);
    // A file that is not a defaults file is taken for one being saved (FileSettling) until it stands still:
    // then it is set aside.
    FlushResult flushLocked(Locking& locking);
    // `ending`: the store's last write, which waits for everything together until one deadline and then
    // writes without the lock, never over a file being saved.
    bool flushWaitingForTheFile(bool ending);
    FlushResult takeInSwappedOut(const std::set<std::string>& newerEdits);
    FlushResult writeMerged();
    // Keeps `file`, an edit that came out of a swap mid-save (`look`), to be taken in once it reads whole.
    FlushResult holdSwappedOut(OutFile file, PlistValue base, std::set<std::string> ours,
                               const FileLook& look);
    // A file (FileSettling) or an edit (EditSettling) still being written: said once a spell past the bound
    // (`now`: at once); the time to the next look.
    double stillBeingWritten(FlushResult settling, bool sayNow = false);
    // A whole file at the path, taken in: measured against the file as we last read or wrote it, or, the
    // first since a start that found it being written, taken as the load would have.
    std::set<std::string> takeInWhole(FileLook& look);
    // At the end: an edit that came out of our last swap and is still not whole (see the destructor).
    void leaveSwappedOut();
    std::string unsavedKeys(const std::set<std::string>& keys) const;
    // Lays what an outside edit changed (from `base` to `edited`) over the stored values, but for the keys in
    // `keep`. Returns the keys the edit changed.
    std::set<std::string> takeInEdit(const PlistValue& base, const PlistValue& edited,
                                     const std::set<std::string>& keep);
    defaults::OutsideEdits::Held held() const { return {domain_.stored(), changedKeys_}; }
    void rememberOpenedGone(std::optional<PlistValue> values);
    // Keeps what is at the path, or what came out of a swap, aside for the user (see SetAsideCopies).
    bool setAside(const std::string& reason, const std::string& consequence);
    void setAsideSwappedOut(const std::string& reason);
    void keepAsideNonFile(const OutFile& file);
    // The text of our file holding `stored`, or nothing when it would be too large to be read.
    std::optional<std::string> fileText(const PlistValue& stored);
    // Writes `text` to a temporary beside the file and swaps it in; `cameOut` then holds the file that came
    // out (a descriptor of -1 when none did).
    SwapResult writeAndSwap(const std::string& text, const PlistValue& values, OutFile& cameOut);
    FlushResult putBack(OutFile& held, FileLook heldLook, DiskState heldBase, DiskState standing);
    void takeInCameOut(OutFile& file, const PlistValue& base);
    bool swapIn(const defaults::OpenFolder& folder, const std::string& name, const std::string& target,
                const PlistValue* ours, bool* placedOpened = nullptr);
    bool placedGone(bool stays);
    // `throughLink`: the refusal is of a link, left alone with what it points to.
    void refuseTarget(const std::string& refusal, bool throughLink = true);
    bool standsAsRead();
    // Watches what the guarded path found last (see watchForOutsideEdits()).
    void followPlace();
    // A write that did not land, said once a spell: `reason` tells one spell from the next.
    void cannotWrite(const std::string& reason, const std::string& line);
    void cannotWriteClosed(const defaults::Closed& closed);
    defaults::WritersLock::Taken lock(double waitSeconds);
    void unlock();

    MainLoop& loop_;
    std::string path_;
    std::set<std::string> changedKeys_;
    DiskState lastDisk_;
    std::optional<SwappedOut> swappedOut_;
    // Edits taken in that the file does not hold yet: what came out of our swaps while the file kept
    // changing, and what an edit made from a file we placed for a moment left out.
    bool outsideEditsUnwritten_ = false;
    bool exchangeUnavailableLogged_ = false;
    bool targetRefused_ = false;
    // The reason of the writes that fail, said (see cannotWrite()); empty while they land.
    std::string failureSaid_;
    defaults::Swaps swaps_;
    defaults::OutsideEdits outsideEdits_;
    std::function<void()> beforeSwap_;
    std::function<void()> beforeLastLook_;
    // Found by the last read or write.
    defaults::GuardedPlace place_;
    BlockingWaits* waits_;
    defaults::WritersLock lock_;
    defaults::SetAsideCopies setAsideCopies_;
    // Content an outside edit left that is not a defaults file, reported once.
    std::optional<std::string> lastRefusedBytes_;
    // The file at the path found half written, by a write or a look of takeInOutsideEdits(), and the look
    // again that is posted.
    defaults::Settling fileSettling_;
    Cancellable lookAgain_;
    // A spell of the file being written was said: no other is until the changes go out, which is said too.
    bool beingWrittenSaid_ = false;
    // The load found the file being written and left it to its writer, or (`closedAtLoad_`) closed to the
    // user: nothing of it was read yet.
    bool fileUnread_ = false;
    bool closedAtLoad_ = false;
    bool tooLargeLogged_ = false;
    bool flushPosted_ = false;
    bool writesHeld_ = false;
    bool leftoversRemoved_ = false;
    Cancellable lockRetry_;
    // The next try after a failed write, and how long after the last one it comes (0: none failed).
    Cancellable failedRetry_;
    double retryDelay_ = 0;
    std::unique_ptr<defaults::FileWatch> watcher_;
    Lifetime lifetime_;
};

}  // namespace velaro
