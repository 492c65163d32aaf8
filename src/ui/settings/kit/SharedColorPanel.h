// The process's one colour dialog, shared by every colour control as a desktop app has one colour picker,
// and the colour well that drives it. Only one control is served at a time: opening the panel for another
// control detaches the one before, which keeps the last colour it received.
#pragma once

#include <QAbstractButton>
#include <functional>
#include <optional>

#include "base/Color.h"
#include "ui/kit/DeferredBinding.h"

class QColorDialog;

namespace velaro {

// Shows the panel for `consumer` (creating it on first use), set to `current` (no colour: it keeps the one it
// shows), with or without an opacity control; every colour the user picks from then on goes to `picked`
// until another consumer takes the panel or `consumer` is destroyed.
void openSharedColorPanel(QObject& consumer, const std::optional<Color>& current, bool showsOpacity,
                          std::function<void(const Color&)> picked);
// Whether the panel serves `consumer` now.
bool sharedColorPanelServes(const QObject& consumer);
// The panel, or null before anything opened it; reading never creates it.
QColorDialog* sharedColorPanelIfCreated();
// Closes the panel when it exists and shows; never creates it. List edits that move or remove colours call it
// first, so the panel never writes into a colour that is gone.
void closeSharedColorPanel();
// Closes the panel (as above) and detaches the control it serves, so nothing the panel sends from now on
// reaches that control. List editors call it before they move, remove or replace colours: the control of row
// i would otherwise keep receiving picks for a row that now holds another colour.
void releaseSharedColorPanel();
// Closes the panel each time `widget` leaves the screen (it is hidden, or a page or window holding it is),
// whichever control the panel serves: a block of colour settings that goes takes the panel with it.
void closeSharedColorPanelWhenHidden(QWidget& widget);

Color colorFromQColor(const QColor& colour);
QColor qColorFromColor(const Color& colour);

// A swatch of the bound colour; a click opens the shared panel for it. It closes the panel when it leaves the
// screen while the panel serves it.
class ColorWell : public QAbstractButton {
public:
    ColorWell(Binding<Color> selection, bool supportsOpacity, QWidget* parent = nullptr);

    // Shows the bound colour as it is now.
    void refresh();

    QSize sizeHint() const override { return {38, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void open();

    Binding<Color> selection_;
    bool supportsOpacity_;
    Color shown_;
};

}  // namespace velaro
