// The client list and its windows' facts, read off the main loop.
#include "platform/linux/X11ListedClients.h"

#include "platform/linux/X11Session.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>

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

ListedClients::ListedClients(X11Session& session)
    : connection_(session.desktop()), context_(std::make_unique<QObject>()) {
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
    const std::atomic<bool> never{false};
    while (!read(never)) {
    }
    if (!reading_) reading_ = std::make_shared<const ClientReading>();
    thread_ = std::make_unique<ReadThread>([this](const std::atomic<bool>& stop) { return read(stop); },
                                           std::chrono::milliseconds(50), std::chrono::milliseconds(250));
    std::lock_guard lock(notes_->mutex);
    notes_->thread = thread_.get();
}

ListedClients::~ListedClients() {
    filter_.cancel();
    rootSelection_.cancel();
    {
        std::lock_guard lock(notes_->mutex);
        notes_->thread = nullptr;
    }
    thread_.reset();
    context_.reset();  // drops a reading still on its way
}

bool ListedClients::read(const std::atomic<bool>& stop) {
    bool everyWindow = false;
    std::vector<xcb_window_t> stale;
    {
        std::lock_guard lock(notes_->mutex);
        stale.swap(notes_->stale);
        everyWindow = std::exchange(notes_->allStale, false);
    }
    if (everyWindow) known_.refreshAll();
    for (auto w : stale) known_.refresh(w);
    auto* c = connection_.get();
    auto list = awaitReply<xcb_get_property_reply_t>(
        c, askProperty(c, connection_.root(), clientList_, XCB_ATOM_WINDOW, 8192).sequence, stop);
    // Without an answer (the list is ending, the server went) nothing changes.
    if (!list) return true;
    auto reading = std::make_shared<ClientReading>();
    reading->windows = values32(list.get());
    reading->complete = known_.follow(
        reading->windows, [&](const std::vector<xcb_window_t>& fresh) { return lookUp(fresh, stop); },
        kLookUpsPerReading);
    if (stop) return true;
    const bool complete = reading->complete;
    reading->facts = known_;
    publish(std::move(reading));
    return complete;
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
        if (stop) {
            xcb_discard_reply(c, ask.sequence);
            return Owned<xcb_get_property_reply_t>(nullptr, &std::free);
        }
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
    if (missing.empty()) return facts;
    // A window's id lies in its client's range of ids: one answer naming every client's process serves every
    // window without _NET_WM_PID.
    xcb_res_client_id_spec_t all{0, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    auto clients =
        awaitReply<xcb_res_query_client_ids_reply_t>(c, xcb_res_query_client_ids(c, 1, &all).sequence, stop);
    if (stop) return {};
    if (!clients) return facts;
    const std::uint32_t idMask = xcb_get_setup(c)->resource_id_mask;
    for (auto it = xcb_res_query_client_ids_ids_iterator(clients.get()); it.rem;
         xcb_res_client_id_value_next(&it)) {
        if (!(it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) ||
            xcb_res_client_id_value_value_length(it.data) < 1)
            continue;
        const auto pid = static_cast<std::int32_t>(*xcb_res_client_id_value_value(it.data));
        for (auto i : missing)
            if ((windows[i] & ~idMask) == it.data->spec.client) facts[i].pid = pid;
    }
    return facts;
}

void ListedClients::publish(std::shared_ptr<const ClientReading> reading) {
    // The first reading is made on the main thread, before the loop runs.
    if (!thread_) {
        reading_ = std::move(reading);
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [this, reading = std::move(reading)]() mutable {
            reading_ = std::move(reading);
            changed_.send(++generation_);
        },
        Qt::QueuedConnection);
}

}  // namespace velaro::x11
