// The session's capabilities probed: X server round trips, a bus call that is not waited for, a connection
// to the sound server made on a worker; and the help page that says how to get what is missing.
#include "platform/linux/X11Permissions.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/AppId.h"
#include "base/Log.h"
#include "base/MainLoop.h"
#include "platform/linux/PulseAudioCapture.h"
#include "platform/linux/X11Session.h"

namespace velaro {

namespace {

constexpr const char* kPermissionsTag = "PERMISSIONS";
constexpr const char* kDefaultPulsePort = "4713";

// A file descriptor closed when it goes.
struct ProbeSocket {
    int fd;
    explicit ProbeSocket(int f) : fd(f) {}
    ~ProbeSocket() {
        if (fd >= 0) ::close(fd);
    }
    ProbeSocket(const ProbeSocket&) = delete;
    ProbeSocket& operator=(const ProbeSocket&) = delete;
};

bool localSocketListens(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const ProbeSocket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (s.fd < 0) return false;
    // A listener takes a local connection at once; a full backlog still means someone listens. A socket
    // file left by a server that died refuses.
    return ::connect(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
           errno == EAGAIN || errno == EINPROGRESS;
}

// Host and port of a network address as libpulse writes it: "tcp:host", "tcp6:[::1]:4713", "host:port".
std::optional<std::pair<std::string, std::string>> networkEndpointOf(std::string_view address) {
    for (const std::string_view scheme : {"tcp:", "tcp4:", "tcp6:"})
        if (address.starts_with(scheme)) {
            address.remove_prefix(scheme.size());
            break;
        }
    if (address.empty() || address.find(':') == 0) return std::nullopt;
    std::string host, port = kDefaultPulsePort;
    if (address.starts_with('[')) {
        const std::size_t end = address.find(']');
        if (end == std::string_view::npos) return std::nullopt;
        host = std::string(address.substr(1, end - 1));
        if (address.size() > end + 2 && address[end + 1] == ':') port = std::string(address.substr(end + 2));
    } else if (const std::size_t colon = address.find(':'); colon != std::string_view::npos) {
        host = std::string(address.substr(0, colon));
        port = std::string(address.substr(colon + 1));
    } else {
        host = std::string(address);
    }
    if (host.empty() || port.empty()) return std::nullopt;
    return std::pair{host, port};
}

bool networkServerListens(const std::string& host, const std::string& port,
                          std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
    bool listens = false;
    for (const addrinfo* a = found; a && !listens; a = a->ai_next) {
        const ProbeSocket s(
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (s.fd < 0) continue;
        if (::connect(s.fd, a->ai_addr, a->ai_addrlen) == 0) {
            listens = true;
            break;
        }
        if (errno != EINPROGRESS) continue;
        pollfd wait{s.fd, POLLOUT, 0};
        if (::poll(&wait, 1, static_cast<int>(timeout.count())) != 1) continue;
        int error = 0;
        socklen_t size = sizeof error;
        listens = ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    ::freeaddrinfo(found);
    return listens;
}

}  // namespace

X11Permissions::X11Permissions(X11Session* session, MainLoop& loop, Environment environment, OpenUrl openUrl)
    : session_(session),
      loop_(loop),
      environment_(std::move(environment)),
      openUrl_(std::move(openUrl)),
      calls_(std::make_unique<QObject>()) {
    if (!openUrl_) openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!environment_) {
        environment_ = [](const char* name) -> std::optional<std::string> {
            if (const char* v = std::getenv(name)) return std::string(v);
            return std::nullopt;
        };
    }
    dataDirectories_ = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    dataDirectories_.append(QCoreApplication::applicationDirPath() + QStringLiteral("/../share"));
}

// The worker ends (and is waited for) before the loop it posts to could go.
X11Permissions::~X11Permissions() = default;

void X11Permissions::check(Capability capability, Answer answer) {
    switch (capability) {
        case Capability::x11Session:
            return answer(x11Session());
        case Capability::compositor:
            return answer(compositor());
        case Capability::windowManager:
            return answer(windowManager());
        case Capability::mediaPlayer:
            return checkMediaPlayer(std::move(answer));
        case Capability::soundServer:
            return checkSoundServer(std::move(answer));
    }
}

bool X11Permissions::waylandSession() const {
    const auto type = environment_("XDG_SESSION_TYPE").value_or("");
    if (!type.empty()) return type == "wayland";
    return !environment_("WAYLAND_DISPLAY").value_or("").empty();
}

bool X11Permissions::x11Session() const {
    // Under a Wayland compositor the X server sees only its own clients: reads succeed but show none of the
    // desktop, so the colours would be wrong without any error.
    if (waylandSession()) return false;
    if (!session_ || session_->desktop().broken()) return false;
    auto* conn = &session_->desktop();
    auto* c = conn->get();
    auto reply = x11::awaitReply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, conn->root(), 0, 0, 1, 1, ~0u), xcb_get_image_reply);
    return reply != nullptr;
}

bool X11Permissions::compositor() const {
    if (!session_ || session_->desktop().broken()) return false;
    return x11::compositorRunning(session_->desktop().get(), x11::compositorSelection(session_->desktop()));
}

bool X11Permissions::windowManager() const {
    if (!session_ || session_->desktop().broken()) return false;
    auto* conn = &session_->desktop();
    auto* c = conn->get();
    const xcb_atom_t check = conn->atom("_NET_SUPPORTING_WM_CHECK");
    auto onRoot =
        x11::awaitReply(c, x11::askProperty(c, conn->root(), check, XCB_ATOM_WINDOW), xcb_get_property_reply);
    const auto window = x11::values32(onRoot.get());
    if (window.empty() || window[0] == 0) return false;
    // A window manager that died leaves the root's property behind; a live one's check window names itself.
    auto onChild =
        x11::awaitReply(c, x11::askProperty(c, window[0], check, XCB_ATOM_WINDOW), xcb_get_property_reply);
    const auto self = x11::values32(onChild.get());
    return !self.empty() && self[0] == window[0];
}

bool X11Permissions::namesMediaPlayer(const QStringList& busNames) {
    for (const QString& name : busNames)
        if (name.startsWith(QLatin1String("org.mpris.MediaPlayer2."))) return true;
    return false;
}

void X11Permissions::checkMediaPlayer(Answer answer) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        answer(false);
        return;
    }
    const QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(ask, busTimeoutMs), calls_.get());
    QObject::connect(call, &QDBusPendingCallWatcher::finished, calls_.get(),
                     [answer = std::move(answer)](QDBusPendingCallWatcher* done) {
                         done->deleteLater();
                         const QDBusPendingReply<QStringList> reply = *done;
                         answer(!reply.isError() && namesMediaPlayer(reply.value()));
                     });
}

std::vector<std::string> X11Permissions::soundServerAddresses() const {
    std::string named = environment_("PULSE_SERVER").value_or("");
    if (named.empty() && session_ && !session_->desktop().broken()) {
        // A server that publishes itself on the display (as a desktop session's sound server may) names
        // itself on the root window.
        auto* conn = &session_->desktop();
        auto* c = conn->get();
        auto reply =
            x11::awaitReply(c, x11::askProperty(c, conn->root(), conn->atom("PULSE_SERVER"), XCB_ATOM_STRING),
                            xcb_get_property_reply);
        if (reply) named = x11::bytes8(reply.get());
    }
    std::vector<std::string> addresses;
    if (!named.empty()) {
        // Several addresses, tried in order, separated by spaces.
        for (std::size_t at = 0; at < named.size();) {
            const std::size_t end = std::min(named.find(' ', at), named.size());
            if (end > at) addresses.push_back(named.substr(at, end - at));
            at = end + 1;
        }
        return addresses;
    }
    if (const auto runtime = environment_("PULSE_RUNTIME_PATH"); runtime && !runtime->empty())
        addresses.push_back(*runtime + "/native");
    if (const auto runtime = environment_("XDG_RUNTIME_DIR"); runtime && !runtime->empty())
        addresses.push_back(*runtime + "/pulse/native");
    addresses.push_back("/run/pulse/native");
    return addresses;
}

bool X11Permissions::soundServerListens(std::string_view address, std::chrono::milliseconds timeout) {
    if (const std::string local = PulseAudioCapture::localSocketOf(address); !local.empty())
        return localSocketListens(local);
    // A local address that did not parse (a "{machine}" prefix without its end) is no network one either.
    if (address.starts_with('{') || address.starts_with("unix:")) return false;
    const auto endpoint = networkEndpointOf(address);
    return endpoint && networkServerListens(endpoint->first, endpoint->second, timeout);
}

void X11Permissions::checkSoundServer(Answer answer) {
    if (!soundProbe_) soundProbe_ = loop_.makeSerialQueue(std::string(velaroAppId) + ".permissions.sound");
    soundProbe_->async(
        [addresses = soundServerAddresses(), &loop = loop_, answer = std::move(answer)]() mutable {
            bool listens = false;
            for (const std::string& address : addresses)
                if ((listens = soundServerListens(address, soundServerTimeout))) break;
            loop.post([answer = std::move(answer), listens] { answer(listens); });
        });
}

QString X11Permissions::helpSection(Capability capability) {
    switch (capability) {
        case Capability::x11Session:
            return QStringLiteral("x11-session");
        case Capability::compositor:
            return QStringLiteral("compositor");
        case Capability::mediaPlayer:
            return QStringLiteral("media-player");
        case Capability::soundServer:
            return QStringLiteral("sound-server");
        case Capability::windowManager:
            return QStringLiteral("window-manager");
    }
    return {};
}

QUrl X11Permissions::helpPage(Capability capability) const {
    for (const QString& dir : dataDirectories_) {
        const QFileInfo page(dir + QStringLiteral("/velaro/help/") + QLatin1String(helpPageName));
        if (!page.isFile()) continue;
        QUrl url = QUrl::fromLocalFile(page.canonicalFilePath());
        url.setFragment(helpSection(capability));
        return url;
    }
    return {};
}

bool X11Permissions::openHelp(Capability capability) {
    const QUrl page = helpPage(capability);
    if (page.isEmpty()) {
        qCWarning(lcDesktop) << tagged(kPermissionsTag, "no help page installed");
        return false;
    }
    if (!openUrl_(page)) {
        qCWarning(lcDesktop) << tagged(kPermissionsTag, "could not open " + page.toString().toStdString());
        return false;
    }
    return true;
}

}  // namespace velaro
