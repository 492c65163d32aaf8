// What the app relies on, as an X11 session has it: the session itself (not Wayland's), a compositing
// manager, a media player on the session bus, a sound server and a window manager. The X server answers for
// the session, the compositor and the window manager at once; the bus and the sound server are asked without
// waiting for them.
// The help page is ours, installed with the app: one page, a section for each.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Permissions.h"

class QObject;

namespace velaro {

class MainLoop;
class SerialQueue;
class X11Session;

class X11Permissions final : public Permissions {
public:
    // Reads a variable of the session's environment; absent when unset.
    using Environment = std::function<std::optional<std::string>(const char* name)>;
    // Hands a page to the desktop to show; false when it could not.
    using OpenUrl = std::function<bool(const QUrl&)>;

    // A sound server that does not take a connection this long is taken for missing.
    static constexpr std::chrono::milliseconds soundServerTimeout{500};
    // A session bus that does not list its names this long is taken for having no player.
    static constexpr int busTimeoutMs = 2000;

    // Probes through the session's desktop connection (null: there is no X server, and none of what the X
    // server tells is there). Answers that wait on another process reach the main thread through `loop`.
    // `environment` defaults to the process's own, `openUrl` to the desktop's default handler.
    X11Permissions(X11Session* session, MainLoop& loop, Environment environment = {}, OpenUrl openUrl = {});
    ~X11Permissions() override;

    void check(Capability capability, Answer answer) override;
    bool openHelp(Capability capability) override;

    // The help page at the capability's section: velaro/help/<helpPageName> in the first data directory that
    // has it; empty when none does. The directories are the installed data directories, then the prefix
    // beside the executable.
    QUrl helpPage(Capability capability) const;
    void setDataDirectories(QStringList directories) { dataDirectories_ = std::move(directories); }
    static constexpr const char* helpPageName = "what-it-needs.html";
    // The id of the page's section on `capability`.
    static QString helpSection(Capability capability);

    // The sound server addresses a client tries, in order: PULSE_SERVER of the environment, else of the root
    // window, else the local sockets where servers of the user and of the system put them.
    std::vector<std::string> soundServerAddresses() const;
    // Whether a server takes connections at one address as libpulse writes it ("/path", "unix:/path",
    // "tcp:host:port", "host", …): a local socket is connected to without waiting, a network one for at most
    // `timeout`. Blocks while it waits: for a worker.
    static bool soundServerListens(std::string_view address, std::chrono::milliseconds timeout);
    // Whether one of a bus's names is a media player's (MPRIS: org.mpris.MediaPlayer2.*).
    static bool namesMediaPlayer(const QStringList& busNames);

private:
    bool waylandSession() const;
    bool x11Session() const;
    bool compositor() const;
    bool windowManager() const;
    void checkMediaPlayer(Answer answer);
    void checkSoundServer(Answer answer);

    X11Session* session_;
    MainLoop& loop_;
    Environment environment_;
    OpenUrl openUrl_;
    QStringList dataDirectories_;
    // Owns the bus calls still out: their answers go with it.
    std::unique_ptr<QObject> calls_;
    // Tries the sound server's addresses; made when first needed.
    std::unique_ptr<SerialQueue> soundProbe_;
};

}  // namespace velaro
