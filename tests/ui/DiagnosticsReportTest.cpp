// The diagnostics report's exact text for fixed inputs, its version and value texts, and its file: the
// name under any locale, the atomic write and a failed one.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "ui/settings/pages/DiagnosticsReport.h"

namespace velaro {
namespace {

std::chrono::system_clock::time_point at(const char* isoUtc) {
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(isoUtc), Qt::ISODate);
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(t.toMSecsSinceEpoch()));
}

ScreenInfo screen(const char* name, Rect frame, Rect visible, double scale) {
    ScreenInfo s;
    s.name = name;
    s.frame = frame;
    s.visibleFrame = visible;
    s.backingScale = scale;
    return s;
}

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(std::uint8_t(v));
    return out;
}

TEST(DiagnosticsReport, ExactTextForFixedInputs) {
    DiagnosticsInputs in;
    in.app = {"Velaro", "1.4", "212", "com.quornet.Velaro"};
    in.systemVersion = "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64";
    in.screens = {
        screen("DP-1", Rect(0, 0, 1920, 1080), Rect(0, 0, 1920, 1052), 1),
        // Left of the primary, with fractions: x is cut toward zero (up, for a negative value).
        screen("HDMI-1", Rect(-1920.7, 100.9, 1280.5, 720.2), Rect(-1920.7, 100.9, 1280.5, 720.2), 1.5),
    };
    in.storedSettings = {
        {"opacity", 0.25},
        {"masterEnabled", true},
        {"cornerRadiusB", 12},
        {"cornerRadiusA", 10.0},
        {"Apple", 1},
        {"2fa", 1},
        {"_private", 1},
        {"-dash", 1},
        {"zoneNote", "first line\nsecond line"},
        {"blobText", plistData(bytes({'a', 'b', 'c'}))},
        {"blobRaw", plistData(bytes({0xff, 0xfe, 0xc3}))},
        {"palette", {"#FF0000", 2, false}},
        {"zones", {{"a", 1}}},
    };
    in.now = at("2026-12-06T11:19:33.870Z");

    EXPECT_EQ(diagnosticsReport(in),
              "Velaro — Diagnostics Report\n"
              "Generated: 2026-12-06T11:19:33Z\n"
              "\n"
              "[App]\n"
              "Version: 1.4 (212)\n"
              "App ID: com.quornet.Velaro\n"
              "\n"
              "[System]\n"
              "Linux: Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64\n"
              "\n"
              "[Screens]\n"
              "0: \"DP-1\"  frame=(0,0,1920,1080)  scale=1.0  notchInset=0.0  menuBarSurface=yes\n"
              "1: \"HDMI-1\"  frame=(-1920,100,1280,720)  scale=1.5  notchInset=0.0  menuBarSurface=no\n"
              "\n"
              "[Settings]\n"
              "blobRaw = <Data, 3 bytes>\n"
              "blobText = abc\n"
              "cornerRadiusA = 10.0\n"
              "cornerRadiusB = 12\n"
              "masterEnabled = true\n"
              "opacity = 0.25\n"
              "palette = [\"#FF0000\",2,false]\n"
              "zoneNote = first line\nsecond line\n"
              "zones = {\"a\":1}\n");
}

TEST(DiagnosticsReport, EmptySectionsAndMissingIdentity) {
    DiagnosticsInputs in;
    in.systemVersion = "Linux";
    in.storedSettings = {{"opacity", 0.5}};
    in.now = at("2026-01-02T03:04:05Z");
    // Without an identifier there is no settings file to read; without screens their section is empty.
    const std::string report = diagnosticsReport(in);
    EXPECT_NE(report.find("Version: Version —\nApp ID: —\n"), std::string::npos) << report;
    EXPECT_NE(report.find("[Screens]\n\n[Settings]\n"), std::string::npos) << report;
    EXPECT_TRUE(report.ends_with("[Settings]\n")) << report;
    EXPECT_FALSE(report.ends_with("\n\n"));
}

TEST(DiagnosticsReport, KeysSortByCodePointsAfterComposition) {
    DiagnosticsInputs in;
    in.app.appId = "com.quornet.Velaro";
    // "é" written decomposed sorts as the composed letter; U+FFFD comes before U+1F600 (unlike UTF-16 order).
    in.storedSettings = {{"e\xcc\x81t\xc3\xa9", 1}, {"\xc3\xa9z", 2}, {"x\xf0\x9f\x98\x80", 3},
                         {"x\xef\xbf\xbd", 4},      {"keyb", 5},      {"keya", 6},
                         {"\xc3\x89t\xc3\xa9", 7}};
    const std::string report = diagnosticsReport(in);
    const std::string settings = report.substr(report.find("[Settings]\n") + 11);
    EXPECT_EQ(settings,
              "keya = 6\n"
              "keyb = 5\n"
              "x\xef\xbf\xbd = 4\n"
              "x\xf0\x9f\x98\x80 = 3\n"
              "e\xcc\x81t\xc3\xa9 = 1\n"
              "\xc3\xa9z = 2\n");
}

TEST(DiagnosticsReport, VersionTexts) {
    const struct {
        std::optional<std::string> shortVersion, build;
        const char* expected;
    } cases[] = {
        {"1.4", "212", "1.4 (212)"},
        {"1.4", std::nullopt, "1.4"},
        {std::nullopt, "212", "Build 212"},
        {std::nullopt, std::nullopt, "Version —"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(versionString({std::nullopt, c.shortVersion, c.build, std::nullopt}), c.expected);
    EXPECT_EQ(appName({}), "Velaro");
    EXPECT_EQ(appName(AppIdentity::current()), "Velaro");
    EXPECT_EQ(versionString(AppIdentity::current()).substr(0, 2), "0.");
}

TEST(DiagnosticsReport, NumbersAlwaysShowAFraction) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{2, "2.0"},   {1, "1.0"},     {32, "32.0"},   {37.5, "37.5"},
                 {0.1, "0.1"}, {-0.0, "-0.0"}, {1e21, "1e+21"}};
    for (const auto& c : cases) EXPECT_EQ(decimalText(c.value), c.text);
}

TEST(DiagnosticsReport, FileNameIsTheLocalDateWhateverTheLocale) {
    const QLocale before;
    for (const char* locale : {"ar_EG", "fa_IR", "th_TH", "de_DE"}) {
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        // Noon UTC is the same date in every time zone the machine may be set to.
        EXPECT_EQ(reportFileName(at("2026-12-06T12:00:00Z")),
                  QStringLiteral("Velaro Diagnostics 2026-12-06.txt"))
            << locale;
    }
    QLocale::setDefault(before);
}

TEST(DiagnosticsReport, WritesAtomicallyAndReportsAFailure) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.txt"));
    QString error;
    ASSERT_TRUE(writeReport(path, "Velaro — line\n", &error)) << error.toStdString();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("Velaro \xe2\x80\x94 line\n")) << "UTF-8, no byte-order mark";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("report.txt")});

    EXPECT_FALSE(writeReport(dir.filePath(QStringLiteral("missing/report.txt")), "x\n", &error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace velaro
