// Reading covers: files are checked through the descriptor that is read (no race with a swapped path), and
// downloads stop at the size cap or the deadline, whichever comes first.
#include "ArtworkFetch.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

namespace velaro::mpris {

std::optional<QByteArray> readArtworkFile(const QString& path) {
    // Non-blocking, so opening a FIFO cannot wait for a writer before it is refused.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    struct statfs fs {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxArtworkBytes &&
        ::fstatfs(fd, &fs) == 0 && fs.f_type != PROC_SUPER_MAGIC && fs.f_type != SYSFS_MAGIC) {
        QByteArray data;
        data.resize(info.st_size);
        qsizetype got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        data.resize(got);  // a file that shrank meanwhile gives what it still had
        bytes = std::move(data);
    }
    ::close(fd);
    return bytes;
}

std::optional<QByteArray> fetchArtwork(const QString& url, std::chrono::milliseconds limit) {
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid()) return std::nullopt;
    const QString scheme = parsed.scheme().toLower();
    if (scheme == QLatin1String("file")) {
        if (!parsed.host().isEmpty() && parsed.host() != QLatin1String("localhost")) return std::nullopt;
        const QString path = parsed.toLocalFile();
        return path.isEmpty() ? std::nullopt : readArtworkFile(path);
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return std::nullopt;

    QNetworkAccessManager network;
    QNetworkRequest request(parsed);
    request.setTransferTimeout(int(limit.count()));
    QNetworkReply* reply = network.get(request);
    QByteArray body;
    bool tooLarge = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
        body += reply->readAll();
        if (body.size() > maxArtworkBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(limit);
    loop.exec();
    body += reply->readAll();
    const bool ok = reply->error() == QNetworkReply::NoError && !tooLarge && body.size() <= maxArtworkBytes;
    reply->deleteLater();
    return ok ? std::optional<QByteArray>(std::move(body)) : std::nullopt;
}

}  // namespace velaro::mpris
