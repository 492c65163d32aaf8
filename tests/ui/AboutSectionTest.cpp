// The About page: its texts, the update button following the checker live, the two links through the
// opener, and the export: a cancel writes and shows nothing, a write lands the report, a failure shows one
// alert.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>

#include "sampling/ScreenTopology.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeScreens.h"
#include "support/FakeUpdater.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/pages/AboutSection.h"
#include "ui/settings/pages/UpdateCheckModel.h"

namespace velaro {
namespace {

class AboutTest : public ::testing::Test {
protected:
    AboutTest() {
        // Saturday 6 December 2026, 11:19:33 UTC.
        loop.setWallTimeOrigin(std::chrono::system_clock::time_point(std::chrono::seconds(1796555973)));
        ScreenInfo main;
        main.name = "Virtual-1";
        main.frame = Rect(0, 0, 1920, 1080);
        main.visibleFrame = Rect(0, 0, 1920, 1052);
        screens.setScreens({main});
        defaults.set("opacity", 0.25);
        defaults.set("Internal", 1);
        page = makePage();
    }

    std::unique_ptr<AboutSection> makePage() {
        return std::make_unique<AboutSection>(
            updateCheck,
            AboutServices{QUrl(QStringLiteral("https://example.org/velaro")),
                          QUrl(QStringLiteral("https://example.org/feedback")),
                          {"Velaro", "1.4", "212", "com.quornet.Velaro"},
                          defaults,
                          &topology,
                          [this](const QUrl& url) { opened.push_back(url); },
                          {[this](QWidget*, const QString& name) -> std::optional<QString> {
                               suggested.push_back(name);
                               return chosenPath;
                           },
                           [this](QWidget*, const QString& message, const QString& detail) {
                               alerts.push_back(message + " | " + detail);
                           }}},
            loop);
    }

    QAbstractButton* button(const char* text) const {
        return test::buttonLabelled(page.get(), QString::fromUtf8(text));
    }
    QAbstractButton* updateButton() const { return button("Check for Updates…"); }
    // The website's link: the label that holds an anchor.
    QLabel* websiteLink() const {
        for (QLabel* label : page->findChildren<QLabel*>())
            if (label->text().contains(QStringLiteral("<a href"))) return label;
        return nullptr;
    }
    QStringList labelTexts() const {
        QStringList out;
        for (QLabel* label : page->findChildren<QLabel*>()) out << label->text();
        return out;
    }

    test::VirtualLoop loop;
    test::FakeDefaultsStore defaults;
    test::FakeScreens screens;
    ScreenTopology topology{screens};
    test::FakeUpdater updater;
    UpdateCheckModel updateCheck{updater};
    std::vector<QUrl> opened;
    QStringList suggested;
    QStringList alerts;
    std::optional<QString> chosenPath;
    std::unique_ptr<AboutSection> page;
};

TEST_F(AboutTest, ShowsNameVersionAndTagline) {
    const QStringList texts = labelTexts();
    EXPECT_TRUE(texts.contains(QStringLiteral("Velaro")));
    EXPECT_TRUE(texts.contains(QStringLiteral("1.4 (212)")));
    EXPECT_TRUE(texts.contains(QString::fromUtf8(AboutSection::tagline)));
    EXPECT_TRUE(button("Export Logs…")->isVisibleTo(page.get()));
    EXPECT_TRUE(button("Send Feedback")->isVisibleTo(page.get()));
}

TEST_F(AboutTest, UpdateButtonFollowsTheCheckerLive) {
    // The fake checker can check at once; the model mirrors it.
    EXPECT_TRUE(updateButton()->isEnabled());
    updater.canCheck = false;
    loop.runUntilIdle();
    EXPECT_FALSE(updateButton()->isEnabled());
    updateButton()->click();
    EXPECT_EQ(updater.checks, 0);
    updater.canCheck = true;
    loop.runUntilIdle();
    ASSERT_TRUE(updateButton()->isEnabled());
    updateButton()->click();
    EXPECT_EQ(updater.checks, 1);
    // Disabled only while a check runs: nothing to explain.
    EXPECT_TRUE(updateButton()->toolTip().isEmpty());
    EXPECT_FALSE(labelTexts().contains(QString::fromUtf8(UpdateCheckModel::noFeedReason)));
}

TEST_F(AboutTest, ABuildWithoutAnUpdateFeedSaysWhyItsButtonIsDisabled) {
    updater.hasFeed = false;
    updater.canCheck = false;
    page = makePage();
    const QString reason = QString::fromUtf8(UpdateCheckModel::noFeedReason);
    EXPECT_FALSE(updateButton()->isEnabled());
    EXPECT_EQ(updateButton()->toolTip(), reason);
    EXPECT_TRUE(labelTexts().contains(reason)) << "the page says it too, for those who never hover";
}

TEST_F(AboutTest, LinksOpenThroughTheDesktop) {
    websiteLink()->linkActivated(QStringLiteral("https://example.org/velaro"));
    button("Send Feedback")->click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://example.org/velaro")));
    EXPECT_EQ(opened[1], QUrl(QStringLiteral("https://example.org/feedback")));
}

TEST_F(AboutTest, ExportWritesTheReportOfTheMomentOfSaving) {
    QTemporaryDir dir;
    chosenPath = dir.filePath(QStringLiteral("report.txt"));
    loop.advance(60);
    button("Export Logs…")->click();
    EXPECT_EQ(suggested, QStringList{QStringLiteral("Velaro Diagnostics 2026-12-06.txt")});
    EXPECT_TRUE(alerts.isEmpty());
    QFile file(*chosenPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_EQ(text.toStdString(), page->diagnosticsReport());
    EXPECT_TRUE(text.contains("Generated: 2026-12-06T11:20:33Z\n"));
    EXPECT_TRUE(text.contains(
        "0: \"Virtual-1\"  frame=(0,0,1920,1080)  scale=1.0  notchInset=0.0  menuBarSurface=yes\n"));
    EXPECT_TRUE(text.endsWith("[Settings]\nopacity = 0.25\n"));
}

TEST_F(AboutTest, CancelDoesNothingAndAFailedWriteShowsOneAlert) {
    QTemporaryDir dir;
    page->exportLogs();
    EXPECT_EQ(suggested.size(), 1);
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    chosenPath = dir.filePath(QStringLiteral("no-such-folder/report.txt"));
    page->exportLogs();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts[0].startsWith(QStringLiteral("Could not save the report | ")))
        << alerts[0].toStdString();
    EXPECT_GT(alerts[0].size(), 30) << "the system's reason follows";
}

}  // namespace
}  // namespace velaro
