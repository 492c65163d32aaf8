// velaro-media-adapter: what plays now on this desktop, for the app. It follows the MPRIS players on the
// session bus and speaks the app's adapter protocol: "stream" writes JSON lines as the playing track
// changes; "seek <µs>", "send <2|4|5>" and "get" act once and exit.
// Exit status: 0 success, 1 no player or a failed call, 2 no session bus, 64 a usage error.
#include <QCoreApplication>
#include <QDBusConnection>
#include <cstdio>

#include "MprisCommands.h"
#include "MprisPayload.h"
#include "MprisStream.h"
#include "RememberedPlayer.h"

namespace {

// Standard output carries only the protocol's lines, each flushed as it is written; a reader that went
// away ends the adapter.
void writeLine(const std::string& line) {
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fputc('\n', stdout) == EOF ||
        std::fflush(stdout) != 0)
        std::exit(velaro::mpris::exitFailed);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velaro::mpris;
    QCoreApplication app(argc, argv);
    const auto command = parseCommand(QCoreApplication::arguments().mid(1));
    if (!command) {
        std::fputs(
            "usage: velaro-media-adapter stream [--no-artwork] | seek <microseconds> | send <2|4|5> | get\n",
            stderr);
        return exitUsage;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fputs("velaro-media-adapter: no session bus\n", stderr);
        return exitNoBus;
    }
    switch (command->kind) {
        case Command::Kind::seek:
            return runSeek(bus, command->micros);
        case Command::Kind::send:
            return runSend(bus, command->number);
        case Command::Kind::get:
            return runGet(bus, writeLine);
        case Command::Kind::stream:
            break;
    }
    MprisStream stream(bus, rememberedPlayerPath(bus, 1000), writeLine);
    // The bus going away ends the stream; the app starts it again.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                SLOT(quit()));
    stream.start();
    QCoreApplication::exec();
    return exitNoBus;
}
