// The About page's layout, its actions and the export flow.
#include "ui/settings/pages/AboutSection.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/MainLoop.h"
#include "platform/DefaultsStore.h"
#include "platform/Updater.h"
#include "sampling/ScreenTopology.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SymbolIcon.h"
#include "ui/settings/pages/UpdateCheckModel.h"

namespace velaro {
namespace {

QLabel* textLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    return label;
}

void quieten(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, SettingsStyle::secondaryText(palette));
    label->setPalette(palette);
}

QPushButton* largeButton(const QString& text, std::string_view symbol, QWidget* parent) {
    auto* button =
        new QPushButton(symbolIcon(symbol, parent->palette().color(QPalette::ButtonText)), text, parent);
    button->setFont(SettingsStyle::rowTitleFont());
    button->setIconSize(QSize(14, 14));
    button->setMinimumHeight(30);
    return button;
}

}  // namespace

ReportDialogs ReportDialogs::standard() {
    return {
        [](QWidget* parent, const QString& suggestedName) -> std::optional<QString> {
            QFileDialog dialog(parent);
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setNameFilter(QStringLiteral("Text files (*.txt)"));
            dialog.setDefaultSuffix(QStringLiteral("txt"));
            dialog.selectFile(suggestedName);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
            return dialog.selectedFiles().constFirst();
        },
        [](QWidget* parent, const QString& message, const QString& detail) {
            QMessageBox box(QMessageBox::Warning, QString(), message, QMessageBox::Ok, parent);
            box.setInformativeText(detail);
            box.exec();
        },
    };
}

AboutServices AboutServices::standard(DefaultsStore& defaults, ScreenTopology* topology) {
    return {QUrl(QStringLiteral(VELARO_PROJECT_URL)),
            QUrl(QStringLiteral(VELARO_FEEDBACK_URL)),
            AppIdentity::current(),
            defaults,
            topology,
            [](const QUrl& url) { QDesktopServices::openUrl(url); },
            ReportDialogs::standard()};
}

AboutSection::AboutSection(UpdateCheckModel& updateCheck, AboutServices services, MainLoop& loop,
                           QWidget* parent)
    : SettingsPage(loop, parent), updateCheck_(updateCheck), services_(std::move(services)) {
    QVBoxLayout* column = this->column();

    // Icon, name and version.
    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/velaro/icons/com.quornet.Velaro.svg")).pixmap(52, 52));
    icon->setFixedSize(52, 52);
    header->addWidget(icon);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(textLabel(QString::fromStdString(appName(services_.app)),
                               SettingsStyle::systemFont(17, QFont::Bold), this));
    auto* version =
        textLabel(QString::fromStdString(versionString(services_.app)), SettingsStyle::calloutFont(), this);
    quieten(version);
    names->addWidget(version);
    header->addLayout(names);
    header->addStretch(1);
    column->addLayout(header);

    column->addSpacing(12);
    auto* tagline = textLabel(QString::fromUtf8(AboutSection::tagline), SettingsStyle::calloutFont(), this);
    quieten(tagline);
    tagline->setWordWrap(true);
    column->addWidget(tagline);

    auto* website =
        textLabel(QStringLiteral("<a href=\"%1\">Visit Website</a>").arg(services_.projectURL.toString()),
                  SettingsStyle::calloutFont(), this);
    website->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    column->addSpacing(8);
    QObject::connect(website, &QLabel::linkActivated, this, [this](const QString&) {
        if (services_.openURL) services_.openURL(services_.projectURL);
    });
    column->addWidget(website, 0, Qt::AlignLeft);

    column->addSpacing(20);
    update_ = largeButton(QStringLiteral("Check for Updates…"), "arrow.triangle.2.circlepath", this);
    QObject::connect(update_, &QPushButton::clicked, this,
                     [this] { updateCheck_.updater().checkForUpdates(); });
    column->addWidget(update_, 0, Qt::AlignLeft);
    if (!updateCheck_.hasUpdateFeed()) {
        // Disabled for good in this build: the button and a line under it say why.
        const QString reason = QString::fromUtf8(UpdateCheckModel::noFeedReason);
        update_->setToolTip(reason);
        column->addWidget(new SettingsCaptionRow(reason, this));
    }

    column->addSpacing(8);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    auto* exportButton = largeButton(QStringLiteral("Export Logs…"), "square.and.arrow.up", this);
    QObject::connect(exportButton, &QPushButton::clicked, this, [this] { exportLogs(); });
    actions->addWidget(exportButton);
    auto* feedback = largeButton(QStringLiteral("Send Feedback"), "paperplane", this);
    QObject::connect(feedback, &QPushButton::clicked, this, [this] { openFeedback(); });
    actions->addWidget(feedback);
    actions->addStretch(1);
    column->addLayout(actions);

    column->addSpacing(8);
    column->addWidget(new SettingsCaptionRow(
        QStringLiteral(
            "Export Logs saves a timestamped diagnostics report — app version and app ID, OS "
            "version, display setup, the settings you've changed from their defaults. The app keeps "
            "no log files."),
        this));

    // The button follows whether a check can start, as the checker publishes it.
    follow(updateCheck_.canCheckForUpdates.changes());
    refresh();
}

AboutSection::~AboutSection() = default;

void AboutSection::refreshPage() {
    update_->setEnabled(updateCheck_.canCheckForUpdates());
}

std::string AboutSection::diagnosticsReport() const {
    DiagnosticsInputs inputs{
        services_.app, systemVersionText(), {}, services_.defaults.persistentDomain(), loop().wallTime()};
    if (services_.topology) inputs.screens = services_.topology->screens();
    return velaro::diagnosticsReport(inputs);
}

void AboutSection::exportLogs() {
    if (!services_.dialogs.chooseSavePath) return;
    const auto path = services_.dialogs.chooseSavePath(this, reportFileName(loop().wallTime()));
    if (!path || path->isEmpty()) return;
    // Built only now, so "Generated" is the time of saving.
    QString error;
    if (writeReport(*path, diagnosticsReport(), &error)) return;
    if (services_.dialogs.alert)
        services_.dialogs.alert(this, QStringLiteral("Could not save the report"), error);
}

void AboutSection::openFeedback() {
    if (services_.openURL) services_.openURL(services_.feedbackURL);
}

}  // namespace velaro
