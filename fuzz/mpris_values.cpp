// Arbitrary values where a player's properties go (any type, nested, with any text and numbers), through the
// adapter's payload and stream line and back through the engine's reading of that line. Never crashes; the
// line is one line the engine reads back to the same payload, with texts cut to size and numbers that mean
// something.
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>
#include <cmath>
#include <cstring>

#include "FuzzCheck.h"
#include "MprisPayload.h"
#include "music/AdapterProtocol.h"
#include "music/NowPlayingState.h"

namespace {

// Values of the kinds a bus delivers, read off the bytes.
class ValueReader {
public:
    ValueReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    template <class T>
    T raw() {
        T value{};
        unsigned char bytes[sizeof(T)] = {};
        for (auto& b : bytes) b = byte();
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    QString text() {
        const std::size_t high = byte(), low = byte();
        const std::size_t length = std::min(high * 16 + low % 16, size_ - std::min(pos_, size_));
        const QByteArray bytes(reinterpret_cast<const char*>(data_ + pos_), qsizetype(length));
        pos_ += length;
        return QString::fromUtf8(bytes);
    }
    QVariant value(int depth = 0) {
        switch (byte() % 13) {
            case 0:
                return text();
            case 1:
                return QVariant::fromValue(raw<qlonglong>());
            case 2:
                return QVariant::fromValue(raw<qulonglong>());
            case 3:
                return raw<double>();  // NaN and infinities included
            case 4:
                return raw<int>();
            case 5:
                return bool(byte() & 1);
            case 6: {
                QStringList list;
                for (int n = byte() % 8; n > 0; --n) list << text();
                return list;
            }
            case 7:
                return QVariant::fromValue(QDBusObjectPath(text()));
            case 8: {
                QVariantMap map;
                if (depth < 4)
                    for (int n = byte() % 6; n > 0; --n) map.insert(text(), value(depth + 1));
                return map;
            }
            case 9:
                return QVariant::fromValue(static_cast<uchar>(byte()));
            case 10:
                return raw<float>();
            case 11:
                return depth < 4 ? QVariant::fromValue(QDBusVariant(value(depth + 1))) : QVariant();
            default:
                return {};
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

bool finite(const nlohmann::json& payload, std::string_view key) {
    const auto it = payload.find(key);
    return it == payload.end() || (it->is_number() && std::isfinite(it->get<double>()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velaro;
    using namespace velaro::mpris;
    namespace keys = adapter::keys;
    ValueReader in(data, size);
    // The metadata is a dictionary of the keys players fill, each of any type; sometimes not a dictionary.
    QVariant metadata;
    if (in.byte() & 1) {
        QVariantMap map;
        for (const char* key :
             {"xesam:title", "xesam:artist", "mpris:length", "mpris:trackid", "mpris:artUrl"})
            if (in.byte() & 1) map.insert(QLatin1String(key), in.value());
        metadata = map;
    } else {
        metadata = in.value();
    }
    PlayerReading reading{busPrefix + in.text(),
                          in.value(),
                          metadata,
                          in.value(),
                          in.value(),
                          std::nullopt,
                          QDateTime::fromMSecsSinceEpoch(1714564800000, Qt::UTC)};
    if (in.byte() & 1) reading.position = in.value();

    const nlohmann::json payload = payloadOf(reading);
    for (const auto key : {keys::title, keys::artist, keys::bundleIdentifier}) {
        const auto it = payload.find(key);
        VELARO_FUZZ_REQUIRE(
            it == payload.end() ||
            (it->is_string() && it->get_ref<const std::string&>().size() <= std::size_t(maxTextBytes)));
    }
    for (const auto key : {keys::duration, keys::elapsedTime, keys::playbackRate})
        VELARO_FUZZ_REQUIRE(finite(payload, key));
    if (payload.contains(keys::duration)) VELARO_FUZZ_REQUIRE(payload[std::string(keys::duration)] > 0);
    if (payload.contains(keys::elapsedTime))
        VELARO_FUZZ_REQUIRE(payload[std::string(keys::elapsedTime)] >= 0);

    const auto line = streamLine(nlohmann::json::object(), payload, true);
    VELARO_FUZZ_REQUIRE(line && line->find('\n') == std::string::npos);
    auto read = adapter::parseDataLine(*line);
    VELARO_FUZZ_REQUIRE(read && !read->diff);
    // Invalid UTF-8 in a player's text has been replaced on the way; everything else arrives as it left.
    VELARO_FUZZ_REQUIRE(read->payload.size() == payload.size());
    NowPlayingState state;
    state.apply(std::move(*read), 1714564800.5);
    const auto snapshot = state.snapshot(1714564801.0);
    VELARO_FUZZ_REQUIRE(!snapshot.progress01 || (*snapshot.progress01 >= 0 && *snapshot.progress01 <= 1));
    return 0;
}
