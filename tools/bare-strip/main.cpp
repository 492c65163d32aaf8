// velaro-bare-strip STATE-FILE [KEY]: a bare Qt app that does what the storm's timings ask of the app, and
// nothing else: a strip window across the top of the primary screen, a passive grab of Ctrl+Alt+KEY (a letter,
// M unless given: another letter lets it run beside the app, which grabs Ctrl+Alt+M) on the root through
// Qt's own connection (each press flips "masterEnabled" in STATE-FILE, written whole with QSaveFile, as a
// settings file is), "reopen" served on the session bus as com.quornet.VelaroBareStrip, and SIGTERM taken
// through the event loop. It writes STATE-FILE once the strip is shown, so a caller knows it is up.
#include <QtGui/qguiapplication_platform.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QSaveFile>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr const char* kService = "com.quornet.VelaroBareStrip";
constexpr std::uint16_t kNumLock = XCB_MOD_MASK_2;

int signalPair[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPair[1], &byte, 1);
}

class Strip final : public QRasterWindow {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(0x28, 0x50, 0xc8));
    }
};

// "reopen" on the bus: answered at once, as the app answers it.
class Bus final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quornet.VelaroBareStrip")
public Q_SLOTS:
    Q_SCRIPTABLE QString reopen() { return QString::fromLatin1(kService); }
};

class Shortcut final : public QAbstractNativeEventFilter {
public:
    Shortcut(xcb_connection_t* c, xcb_window_t root, QString stateFile, xcb_keysym_t letter)
        : c_(c), stateFile_(std::move(stateFile)) {
        // The key codes that give the letter without a modifier.
        const auto* setup = xcb_get_setup(c);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* map = xcb_get_keyboard_mapping_reply(
            c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr);
        if (map) {
            const auto* syms = xcb_get_keyboard_mapping_keysyms(map);
            for (int k = 0; k < count; ++k)
                if (syms[k * map->keysyms_per_keycode] == letter)
                    codes_.push_back(static_cast<xcb_keycode_t>(setup->min_keycode + k));
            std::free(map);
        }
        const std::uint16_t mods = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
        for (auto code : codes_)
            for (const int locks : {0, int(XCB_MOD_MASK_LOCK), int(kNumLock), XCB_MOD_MASK_LOCK | kNumLock})
                xcb_grab_key(c, 1, root, static_cast<std::uint16_t>(mods | locks), code, XCB_GRAB_MODE_ASYNC,
                             XCB_GRAB_MODE_ASYNC);
        xcb_flush(c);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (std::find(codes_.begin(), codes_.end(), key->detail) == codes_.end()) return false;
        enabled_ = !enabled_;
        write();
        return true;
    }

    void write() const {
        QSaveFile file(stateFile_);
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write(enabled_ ? R"({"masterEnabled": true})" : R"({"masterEnabled": false})");
        file.commit();
    }

private:
    xcb_connection_t* c_;
    QString stateFile_;
    std::vector<xcb_keycode_t> codes_;
    bool enabled_ = true;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const bool letterGiven = argc == 3 && argv[2][0] >= 'a' && argv[2][0] <= 'z' && argv[2][1] == 0;
    if (argc != 2 && !letterGiven) {
        std::fprintf(stderr, "usage: velaro-bare-strip STATE-FILE [a-z]\n");
        return 2;
    }
    // Latin small letters' keysyms are their codes.
    const auto letter = static_cast<xcb_keysym_t>(letterGiven ? argv[2][0] : 'm');
    auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) {
        std::fprintf(stderr, "velaro-bare-strip: needs the xcb platform\n");
        return 1;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) return 1;
    QSocketNotifier notifier(signalPair[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPair[0], &byte, 1);
        QGuiApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigaction(SIGTERM, &action, nullptr);

    xcb_connection_t* c = x11->connection();
    Shortcut shortcut(c, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root,
                      QString::fromLocal8Bit(argv[1]), letter);
    app.installNativeEventFilter(&shortcut);

    Bus bus;
    auto session = QDBusConnection::sessionBus();
    session.registerObject(QStringLiteral("/com/quornet/VelaroBareStrip"), &bus,
                           QDBusConnection::ExportScriptableSlots);
    session.registerService(QString::fromLatin1(kService));

    Strip strip;
    strip.setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint |
                   Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    strip.setGeometry(screen.x(), screen.y(), screen.width(), 40);
    strip.show();
    QTimer::singleShot(0, &app, [&shortcut] { shortcut.write(); });
    return QGuiApplication::exec();
}

#include "main.moc"
