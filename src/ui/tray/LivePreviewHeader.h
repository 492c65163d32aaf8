// The popover's two live views: the status row (front app, what the overlay is doing, a swatch of the
// sampled colour) and the preview (the bar miniature with the style and the colour as hex). Both follow
// every change of the sampler, the settings and the app watcher, one loop turn later.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

#include "base/Cancellable.h"
#include "base/Color.h"
#include "overlay/OverlayFeed.h"
#include "ui/settings/kit/MenuBarPreview.h"

class QLabel;

namespace velaro {

class AppWatcher;
class MainLoop;
class OverlaySettings;
class ScreenSampler;

namespace LivePreviewHeader {

struct StatusWord {
    std::string_view text;
    bool green;  // else the secondary colour

    friend bool operator==(const StatusWord&, const StatusWord&) = default;
};
StatusWord statusWord(bool masterEnabled, bool filledWindowActive);

// The sampled colour through the settings: the manual colour unless the style or auto-sample samples.
Color previewColor(ScreenSampler& sampler, const OverlaySettings& settings);
// The live screen's zone colours while sampling is active; else none.
std::vector<Color> previewZoneColors(ScreenSampler& sampler, const OverlaySettings& settings);
// The first drift stop, the first zone stop, or the preview colour, as the caption shows it.
std::string previewHexText(ScreenSampler& sampler, const OverlaySettings& settings);
// "<style label> • <hex>".
std::string previewCaption(ScreenSampler& sampler, const OverlaySettings& settings);
MenuBarPreview::Inputs previewInputs(ScreenSampler& sampler, const OverlaySettings& settings);

// What both views watch: any published change of the three models refreshes the view on the next turn.
class ModelWatch {
public:
    ModelWatch(MainLoop& loop, ScreenSampler& sampler, const OverlaySettings& settings,
               const AppWatcher& appWatcher, std::function<void()> refresh);

private:
    CoalescedRefresh refresh_;
    std::vector<Subscription> subscriptions_;
};

class StatusRow : public QWidget {
public:
    static constexpr int iconSize = 32;
    static constexpr int swatchSize = 24;

    StatusRow(ScreenSampler& sampler, OverlaySettings& settings, AppWatcher& appWatcher, MainLoop& loop,
              QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    // The front app's icon, or the stand-in when it has none.
    QImage appIcon() const;

    ScreenSampler& sampler_;
    OverlaySettings& settings_;
    AppWatcher& appWatcher_;
    QLabel* icon_;
    QLabel* name_;
    QLabel* status_;
    Color swatch_ = Color::black();
    StatusWord word_{"Windowed", false};
    ModelWatch watch_;
};

class Preview : public QWidget {
public:
    Preview(ScreenSampler& sampler, OverlaySettings& settings, AppWatcher& appWatcher, MainLoop& loop,
            QWidget* parent = nullptr);

    MenuBarPreview& bar() const { return *bar_; }
    QString caption() const;

private:
    void refresh();

    ScreenSampler& sampler_;
    OverlaySettings& settings_;
    MenuBarPreview* bar_;
    QLabel* caption_;
    ModelWatch watch_;
};

}  // namespace LivePreviewHeader
}  // namespace velaro
