// The report's lines, its value texts and its file.
#include "ui/settings/pages/DiagnosticsReport.h"

#include <QDateTime>
#include <QSaveFile>
#include <QStringConverter>
#include <QSysInfo>
#include <QTimeZone>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/AppId.h"
#include "sampling/ScreenTopology.h"

namespace velaro {
namespace {

std::optional<std::string> buildValue(const char* value) {
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

// A coordinate as a whole number, the fraction cut off toward zero.
std::string wholeText(double value) {
    if (!std::isfinite(value)) return "0";
    const double cut = std::trunc(value);
    if (cut >= 9.2e18 || cut <= -9.2e18) return "0";
    return std::to_string(static_cast<long long>(cut));
}

bool isValidUtf8(const Bytes& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text =
        decoder(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    return !decoder.hasError();
}

std::string screenLine(std::size_t index, const ScreenInfo& screen) {
    const Rect& f = screen.frame;
    return std::to_string(index) + ": \"" + screen.name + "\"  frame=(" + wholeText(f.origin.x) + "," +
           wholeText(f.origin.y) + "," + wholeText(f.size.width) + "," + wholeText(f.size.height) +
           ")  scale=" + decimalText(screen.backingScale) + "  notchInset=" + decimalText(0.0) +
           "  menuBarSurface=" + (showsMenuBar(screen) ? "yes" : "no");
}

// Keys compare as their canonically composed UTF-8 bytes, the order of Unicode scalar values.
QByteArray sortKey(const std::string& key) {
    return QString::fromUtf8(key.data(), qsizetype(key.size()))
        .normalized(QString::NormalizationForm_C)
        .toUtf8();
}

}  // namespace

AppIdentity AppIdentity::current() {
    return {std::string("Velaro"), buildValue(VELARO_VERSION), buildValue(VELARO_BUILD_NUMBER),
            std::string(velaroAppId)};
}

std::string appName(const AppIdentity& app) {
    return app.name.value_or("Velaro");
}

std::string versionString(const AppIdentity& app) {
    if (app.shortVersion && app.build) return *app.shortVersion + " (" + *app.build + ")";
    if (app.shortVersion) return *app.shortVersion;
    if (app.build) return "Build " + *app.build;
    return "Version —";
}

std::string systemVersionText() {
    return (QSysInfo::prettyProductName() + QStringLiteral(", kernel ") + QSysInfo::kernelVersion())
        .toStdString();
}

std::string decimalText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".ein") == std::string::npos) text += ".0";
    return text;
}

bool listsSettingKey(std::string_view key) {
    if (key.empty()) return false;
    const QString text = QString::fromUtf8(key.data(), qsizetype(key.size()));
    // The first character decides; combining marks after it do not change its case.
    const char32_t first = text.size() > 1 && text[0].isHighSurrogate() && text[1].isLowSurrogate()
                               ? QChar::surrogateToUcs4(text[0], text[1])
                               : text[0].unicode();
    return QChar::isLower(first);
}

std::string settingValueText(const PlistValue& value) {
    if (value.is_binary()) {
        const Bytes& bytes = value.get_binary();
        if (isValidUtf8(bytes)) return std::string(bytes.begin(), bytes.end());
        return "<Data, " + std::to_string(bytes.size()) + " bytes>";
    }
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
    return value.dump(-1, ' ', false, PlistValue::error_handler_t::replace);
}

std::string diagnosticsReport(const DiagnosticsInputs& in) {
    std::vector<std::string> lines;
    const auto seconds =
        std::chrono::time_point_cast<std::chrono::seconds>(in.now).time_since_epoch().count();
    const QDateTime generated =
        QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);  // a UTC time spec writes "Z"
    lines.push_back("Velaro — Diagnostics Report");
    lines.push_back("Generated: " + generated.toString(Qt::ISODate).toStdString());
    lines.push_back("");
    lines.push_back("[App]");
    lines.push_back("Version: " + versionString(in.app));
    lines.push_back("App ID: " + in.app.appId.value_or("—"));
    lines.push_back("");
    lines.push_back("[System]");
    lines.push_back("Linux: " + in.systemVersion);
    lines.push_back("");
    lines.push_back("[Screens]");
    for (std::size_t i = 0; i < in.screens.size(); ++i) lines.push_back(screenLine(i, in.screens[i]));
    lines.push_back("");
    lines.push_back("[Settings]");
    // The settings file belongs to the app's identifier: without one there is nothing to read.
    if (in.app.appId && in.storedSettings.is_object()) {
        std::vector<std::pair<QByteArray, const std::string*>> keys;
        for (const auto& [key, value] : in.storedSettings.items())
            if (listsSettingKey(key)) keys.emplace_back(sortKey(key), &key);
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [order, key] : keys)
            lines.push_back(*key + " = " + settingValueText(in.storedSettings.at(*key)));
    }
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

QString reportDateStamp(std::chrono::system_clock::time_point now) {
    const auto ms = std::chrono::time_point_cast<std::chrono::milliseconds>(now).time_since_epoch().count();
    const QDate day = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::systemTimeZone()).date();
    // Digits and separators written out by hand: no locale, calendar or numbering system can change them.
    return QString::asprintf("%04d-%02d-%02d", day.year(), day.month(), day.day());
}

QString reportFileName(std::chrono::system_clock::time_point now) {
    return QStringLiteral("Velaro Diagnostics ") + reportDateStamp(now) + QStringLiteral(".txt");
}

bool writeReport(const QString& path, const std::string& report, QString* error) {
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(report.data(), qint64(report.size())) == qint64(report.size()) &&
                         file.commit();
    if (!written && error) *error = file.errorString();
    return written;
}

}  // namespace velaro
