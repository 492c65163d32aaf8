// The picture of the desktop under the Corner Rounding page's rings: a model that keeps a scaled snapshot
// of the main display's wallpaper fresh while the page shows (a new picture when the session tells of a new
// wallpaper and after every desktop switch, nothing at all while neither happens), and the canvas that draws
// it at the screen's shape, or a dotted grey stand-in.
#pragma once

#include <QImage>
#include <QSizeF>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "base/Cancellable.h"
#include "base/Lifetime.h"
#include "base/Published.h"
#include "overlay/OverlayFeed.h"

class QPainter;

namespace velaro {

class MainLoop;
class Screens;
class WallpaperPictureSource;
class Workspace;

// What tells two pictures apart without comparing every byte: FNV-1a over the width, the height and every
// 16th pixel (all four bytes of it). None for a picture whose pixels cannot be read as 4-byte pixels.
std::optional<std::uint64_t> wallpaperDigest(const QImage& image);

class WallpaperPreviewModel {
public:
    // The longest side of the picture, in pixels; a smaller wallpaper is never enlarged.
    static constexpr double pictureSize = 920;

    // `pictures` and `workspace` may be null (then there is never a picture, or no desktop switch to follow);
    // whatever is given must outlive the model.
    WallpaperPreviewModel(MainLoop& loop, WallpaperPictureSource* pictures, Workspace* workspace);
    ~WallpaperPreviewModel();
    WallpaperPreviewModel(const WallpaperPreviewModel&) = delete;
    WallpaperPreviewModel& operator=(const WallpaperPreviewModel&) = delete;

    // The picture to show; none before the first one arrives and while there is no wallpaper to take.
    Published<std::optional<QImage>> image;

    // Starts following the wallpaper's changes and the desktop switches, and asks for a picture; nothing
    // while already started. The change notices of one turn of the loop ask for one picture.
    void start();
    // Ends both and drops the picture still on its way. The picture shown stays.
    void stop();
    // Asks for a new picture; one asked for earlier that arrives later than this one's request is dropped.
    void reload();
    bool isStarted() const { return started_; }

private:
    void load();
    void finishLoad(std::uint64_t generation, std::optional<QImage> picture);

    MainLoop& loop_;
    WallpaperPictureSource* pictures_;
    Workspace* workspace_;
    bool started_ = false;
    Subscription changeObserver_;
    Subscription spaceObserver_;
    CoalescedRefresh changeReload_;
    std::optional<std::uint64_t> publishedDigest_;
    std::uint64_t loadGeneration_ = 0;
    // Guards the watches and every load on its way.
    Lifetime lifetime_;
};

// The ratio of the main screen's width to its height; 1.6 without a main screen or with no height.
double mainScreenAspect(const Screens* screens);

// The wallpaper picture filling a rounded rectangle of the main screen's shape (cropped to fill, never
// stretched), or the dotted stand-in while there is none; a 1-point separator line along its edge. Whatever
// else lies over it (the ring layer) is drawn by its own widget: the canvas keeps one rendered copy per size
// and picture, so repaints under a moving layer only copy pixels.
class WallpaperCanvas : public QWidget {
public:
    static constexpr double cornerRadius = 12;

    // `screens` may be null (ratio 1.6); it must outlive the canvas. The shape follows its changes.
    explicit WallpaperCanvas(const Screens* screens, QWidget* parent = nullptr);

    void setImage(std::optional<QImage> image);
    const std::optional<QImage>& image() const { return image_; }
    double aspect() const { return aspect_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

    // Renders the canvas into `target` (sized in device pixels, with its device pixel ratio set): what the
    // cache holds.
    static void render(QImage& target, const std::optional<QImage>& image, const QColor& separator);
    // Draws the part `dirty` (in points) of such a rendered copy: what every repaint does.
    static void paintRendered(QPainter& painter, const QImage& rendered, const QRect& dirty);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const Screens* screens_;
    Subscription screensWatch_;
    std::optional<QImage> image_;
    double aspect_ = 1.6;
    QImage rendered_;
    bool stale_ = true;
};

// The stand-in for a missing picture: a grey gradient, lighter at the top, with a grid of faint dots every
// 18 points (none on a canvas 9 points or less in either direction).
void paintCanvasFallback(QPainter& painter, const QSizeF& size);

}  // namespace velaro
