// The bridge between the shared colour panel and the corner-rounding preview's rings: it points the panel at
// one corner and turns every colour picked there into that corner's custom colour, through the deferred
// corner mutators. The page owns one link for its life and lets it go (closing the panel it opened) when it
// goes away. The panel is the application's one colour picker, so only one corner is linked at a time;
// opening it for another corner retargets it, and the first keeps the last colour it received.
#pragma once

#include <QObject>
#include <string>

#include "settings/CornerSettings.h"

namespace velaro {

class MainLoop;
class OverlaySettings;

class ColorRingPanelLink : public QObject {
public:
    explicit ColorRingPanelLink(MainLoop& loop, QObject* parent = nullptr);

    // Shows the panel, without an opacity control, for `corner`: at `customHex` when it is a colour, else at
    // whatever the panel shows (nothing is written until the user picks).
    void open(ScreenCorner corner, OverlaySettings& settings, const std::string& customHex);
    // The page went away: the link lets go of the panel and closes it when it still serves the link. A panel
    // the link never opened is left alone.
    void detach();

    ScreenCorner corner() const { return corner_; }

private:
    MainLoop& loop_;
    OverlaySettings* settings_ = nullptr;
    ScreenCorner corner_ = ScreenCorner::screenTopLeft;
    // Whether the link opened the panel and has not let it go since.
    bool attached_ = false;
};

}  // namespace velaro
