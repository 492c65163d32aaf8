// The client list and its windows' facts, read off the main loop.
#include "platform/linux/X11ListedClients.h"

#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"

#include <algorithm>
#include <unordered_map>

namespace velaro::x11 {

bool ClientReading::lists(xcb_window_t window) const {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

void ListedClients::Notes::ask(std::optional<xcb_window_t> staleWindow, bool everyWindow) {
    std::lock_guard lock(mutex);
    if (staleWindow) stale.push_back(*staleWindow);
    allStale = allStale || everyWindow;
    if (thread) thread->ask();
}

CurrentFacts::CurrentFacts(std::shared_ptr<const ClientReading> reading, std::vector<xcb_window_t> changed,
                           bool strutsChanged)
    : reading_(std::move(reading)), changed_(std::move(changed)), strutsChanged_(strutsChanged) {
    std::sort(changed_.begin(), changed_.end());
}

const ClientFacts* CurrentFacts::find(xcb_window_t window) const {
    if (!reading_ || std::binary_search(changed_.begin(), changed_.end(), window)) return nullptr;
    return reading_->find(window);
}

const std::vector<std::uint32_t>* CurrentFacts::strutOf(xcb_window_t window) const {
    const auto* facts = strutsChanged_ ? nullptr : find(window);
    return facts ? &facts->strut : nullptr;
}

ListedClients::ListedClients(X11Session& session) : session_(session), connection_(session.desktop()) {
    connection_.intern({"_NET_CLIENT_LIST", "_NET_WM_PID", "_NET_WM_WINDOW_TYPE", "_NET_WM_STRUT_PARTIAL",
                        "_NET_WM_STRUT", "_NET_WORKAREA"});
    clientList_ = connection_.atom("_NET_CLIENT_LIST");
    pid_ = connection_.atom("_NET_WM_PID");
    type_ = connection_.atom("_NET_WM_WINDOW_TYPE");
    strutPartial_ = connection_.atom("_NET_WM_STRUT_PARTIAL");
    strut_ = connection_.atom("_NET_WM_STRUT");
    workArea_ = connection_.atom("_NET_WORKAREA");
    // Heard on the event thread: the list's changes on the root (which the services select), and a
    // listed window's facts changing (on windows a service follows, such as the panels for their struts).
    // Added as the session is made, before any service's filter: a reader that hears of a change in the
    // same batch finds the window's facts out of date here already.
    filter_ = session.addEventFilter(
        [notes = notes_, root = connection_.root(), clientList = clientList_, workArea = workArea_,
         facts = std::vector<xcb_atom_t>{pid_, type_, strutPartial_, strut_, XCB_ATOM_WM_CLASS}](
            EventPump::Batch& batch) {
            for (const auto& event : batch) {
                if (!event || (event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) continue;
                const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(*event);
                if (p.window == root) {
                    // The manager follows every client's struts: one changed, perhaps of a window not
                    // followed.
                    if (p.atom == clientList || p.atom == workArea)
                        notes->ask(std::nullopt, p.atom == workArea);
                } else if (std::find(facts.begin(), facts.end(), p.atom) != facts.end()) {
                    notes->ask(p.window, false);
                }
            }
        });
    rootSelection_ = session.selectEvents(connection_.root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
    // New entries may name running programs otherwise: the apps are named again on the reading thread.
    catalogChanges_ =
        session.catalog().changed().sink([notes = notes_](int) { notes->ask(std::nullopt, false); });
    for (;;) {
        auto reading = read(neverStop);
        if (!reading) break;
        reading_ = std::move(reading);
        if (reading_->complete) break;
    }
    if (!reading_) reading_ = std::make_shared<const ClientReading>();
    thread_ = std::make_unique<ReadThread>(
        [this](const std::atomic<bool>& stop) {
            auto reading = read(stop);
            if (!reading) return true;
            const bool complete = reading->complete;
            toMain_.post([this, reading = std::move(reading)]() mutable {
                reading_ = std::move(reading);
                changed_.send(++generation_);
            });
            return complete;
        },
        std::chrono::milliseconds(50), std::chrono::milliseconds(250));
    std::lock_guard lock(notes_->mutex);
    notes_->thread = thread_.get();
}

ListedClients::~ListedClients() {
    filter_.cancel();
    rootSelection_.cancel();
    catalogChanges_.cancel();
    {
        std::lock_guard lock(notes_->mutex);
        notes_->thread = nullptr;
    }
    // Before the hand-over goes, which drops a reading still on its way.
    thread_.reset();
}

CurrentFacts ListedClients::current() const {
    std::lock_guard lock(notes_->mutex);
    auto changed = notes_->stale;
    changed.insert(changed.end(), notes_->reading.begin(), notes_->reading.end());
    return CurrentFacts(notes_->last, std::move(changed), notes_->allStale || notes_->strutsReading);
}

std::shared_ptr<const ClientReading> ListedClients::read(const std::atomic<bool>& stop) {
    bool everyWindow = false;
    std::vector<xcb_window_t> stale;
    {
        std::lock_guard lock(notes_->mutex);
        stale.swap(notes_->stale);
        // Out of date for the other readers until read again.
        notes_->reading.insert(notes_->reading.end(), stale.begin(), stale.end());
        everyWindow = std::exchange(notes_->allStale, false);
        notes_->strutsReading = notes_->strutsReading || everyWindow;
    }
    if (everyWindow) known_.refreshAll();
    for (auto w : stale) known_.refresh(w);
    // The catalog changed since the apps were named: every app is named anew (new windows as they are read).
    const std::uint64_t naming = session_.catalog().generation();
    if (naming != naming_) {
        std::vector<ClientFacts*> all;
        known_.changeEach([&](ClientFacts& facts) { all.push_back(&facts); });
        name(all);
        naming_ = naming;
    }
    auto* c = connection_.get();
    auto list = awaitReply<xcb_get_property_reply_t>(
        c, askProperty(c, connection_.root(), clientList_, XCB_ATOM_WINDOW, 8192).sequence, stop);
    // Without an answer (the list is ending, the server went) nothing changes.
    if (!list) return nullptr;
    auto reading = std::make_shared<ClientReading>();
    reading->windows = values32(list.get());
    reading->complete = known_.follow(
        reading->windows, [&](const std::vector<xcb_window_t>& fresh) { return lookUp(fresh, stop); },
        kLookUpsPerReading);
    if (stop) return nullptr;
    reading->facts = known_;
    reading->naming = naming_;
    std::shared_ptr<const ClientReading> made = std::move(reading);
    std::lock_guard lock(notes_->mutex);
    notes_->last = made;
    // Windows read again are current again; those a reading in parts has not come to yet stay out of date.
    std::erase_if(notes_->reading, [this](xcb_window_t w) { return !known_.stale(w); });
    if (made->complete) notes_->strutsReading = false;
    return made;
}

std::vector<ClientFacts> ListedClients::lookUp(const std::vector<xcb_window_t>& windows,
                                               const std::atomic<bool>& stop) {
    auto* c = connection_.get();
    struct Asks {
        xcb_get_property_cookie_t pid, type, strutPartial, strut, wmClass;
    };
    std::vector<Asks> asks;
    asks.reserve(windows.size());
    for (auto w : windows)
        asks.push_back({askProperty(c, w, pid_, XCB_ATOM_CARDINAL, 1),
                        askProperty(c, w, type_, XCB_ATOM_ATOM, 32),
                        askProperty(c, w, strutPartial_, XCB_ATOM_CARDINAL, 12),
                        askProperty(c, w, strut_, XCB_ATOM_CARDINAL, 4),
                        askProperty(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256)});
    // Every answer is waited for while the list lives; once it ends, what is still to come is dropped.
    const auto answer = [&](xcb_get_property_cookie_t ask) {
        return awaitReply<xcb_get_property_reply_t>(c, ask.sequence, stop);
    };
    std::vector<ClientFacts> facts;
    facts.reserve(windows.size());
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        ClientFacts f;
        auto pid = answer(asks[i].pid);
        auto type = answer(asks[i].type);
        auto partial = answer(asks[i].strutPartial);
        auto plain = answer(asks[i].strut);
        auto wmClass = answer(asks[i].wmClass);
        if (stop) continue;
        if (auto v = values32(pid.get()); !v.empty() && v[0] != 0)
            f.pid = static_cast<std::int32_t>(v[0]);
        else
            missing.push_back(i);
        f.types = values32(type.get());
        f.strut = strutValues(partial.get(), plain.get());
        std::tie(f.instanceName, f.windowClass) = splitWindowClass(bytes8(wmClass.get()));
        facts.push_back(std::move(f));
    }
    if (stop) return {};
    if (!missing.empty()) {
        // A window's id lies in its client's range of ids: one answer naming every client's process serves
        // every window without _NET_WM_PID.
        auto clients = awaitReply<xcb_res_query_client_ids_reply_t>(c, askClientProcesses(c).sequence, stop);
        if (stop) return {};
        const auto processes = clientProcesses(clients.get());
        const std::uint32_t idMask = xcb_get_setup(c)->resource_id_mask;
        for (auto i : missing)
            if (auto it = processes.find(windows[i] & ~idMask); it != processes.end())
                facts[i].pid = it->second;
    }
    std::vector<ClientFacts*> named;
    named.reserve(facts.size());
    for (auto& f : facts) named.push_back(&f);
    name(named);
    return facts;
}

void ListedClients::name(const std::vector<ClientFacts*>& facts) {
    // Each process once: its first window names it, as the identity keeps it.
    std::unordered_map<std::int32_t, x11::AppIdentity::AppName> byPid;
    for (auto* f : facts) {
        if (f->pid <= 0) {
            f->appId.clear();
            f->appName.clear();
            continue;
        }
        auto [known, fresh] = byPid.try_emplace(f->pid);
        if (fresh) known->second = session_.identity().nameOf({f->pid, f->instanceName, f->windowClass});
        f->appId = known->second.id;
        f->appName = known->second.name;
    }
}

}  // namespace velaro::x11
