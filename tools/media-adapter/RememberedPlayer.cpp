// The remembered-player file: a name in, a name out, and nothing at its place that can stall or fool a
// reader.
#include "RememberedPlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <cerrno>

#include "base/FileRead.h"

namespace velaro::mpris {

namespace {

// A D-Bus well-known name has at most 255 characters; the file holds nothing else.
constexpr std::size_t kMaxFileBytes = 256;

}  // namespace

QString rememberedPlayerPath(const QDBusConnection& bus, int timeoutMs) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) return {};
    const auto id =
        bus.call(QDBusMessage::createMethodCall(
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
                 QDBus::Block, timeoutMs);
    if (id.type() != QDBusMessage::ReplyMessage || id.arguments().size() != 1) return {};
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{1,64}$"));
    const QString busId = id.arguments().front().toString();
    if (!hex.match(busId).hasMatch()) return {};
    return folder + QStringLiteral("/velaro-media-adapter-") + busId + QStringLiteral(".player");
}

std::optional<QString> parseRememberedPlayer(const QByteArray& bytes) {
    // Elements of letters, digits, '_' and '-', none starting with a digit, after the MPRIS prefix.
    static const QRegularExpression name(
        QStringLiteral("^org\\.mpris\\.MediaPlayer2(\\.[A-Za-z_-][A-Za-z0-9_-]*)+\\n?\\z"));
    if (bytes.size() > qsizetype(kMaxFileBytes) || !name.match(QString::fromLatin1(bytes)).hasMatch())
        return std::nullopt;
    const QString text = QString::fromLatin1(bytes).trimmed();
    if (text.size() > 255) return std::nullopt;
    return text;
}

std::optional<QString> readRememberedPlayer(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    // The folder must be one no one else can put a file into, or the file's own checks would prove nothing.
    struct stat folder {};
    const QByteArray folderPath = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::lstat(folderPath.constData(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        folder.st_uid != ::geteuid() || (folder.st_mode & 022) != 0)
        return std::nullopt;
    const FileRead read =
        readBoundedFile(QFile::encodeName(path).toStdString(),
                        {.maxBytes = kMaxFileBytes, .noFollow = true, .privateToUser = true});
    if (!read.ok()) return std::nullopt;
    return parseRememberedPlayer(QByteArray::fromStdString(read.bytes));
}

bool writeRememberedPlayer(const QString& path, const QString& busName) {
    if (path.isEmpty() || !parseRememberedPlayer(busName.toLatin1())) return false;
    // mkstemp makes the file 0600 whatever the umask; the rename replaces whatever was at the path (a FIFO
    // or a link left there included) without opening it.
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    const QByteArray bytes = busName.toLatin1();
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        done += n > 0 ? n : 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) ::unlink(temporary.constData());
    return ok;
}

}  // namespace velaro::mpris
