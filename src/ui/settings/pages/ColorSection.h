// The colour zones of the solid style: the multicolour switch, a miniature of the bar, the strip of colour
// stops (left to right, at most ten) with buttons to add and remove them, the blend switch and the width of
// the blended transitions. Stops that do not parse as colours keep their place and show white; they count
// for adding and removing but not for blending.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "ui/settings/kit/SettingsKit.h"

class QAbstractButton;
class QMenu;

namespace velaro {

class ColorWell;
class MenuBarPreview;
class OverlaySettings;

class ColorSection;

// One stop's swatch: its colour well, and the remove button while it is hovered and another stop remains.
class ZoneSwatch : public QWidget {
public:
    ZoneSwatch(ColorSection& section, int index, Binding<Color> colour, QWidget* parent = nullptr);

    int index() const { return index_; }
    ColorWell* well() const { return well_; }
    QAbstractButton* removeButton() const { return remove_; }
    // The swatch's context menu as it stands now: "Remove Color" while another stop remains, else empty.
    std::unique_ptr<QMenu> contextMenu();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    ColorSection& section_;
    int index_;
    ColorWell* well_;
    QAbstractButton* remove_;
};

class ColorSection : public SettingsRow {
public:
    static constexpr std::size_t maximumStops = 10;

    ColorSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr);

    void refresh() override;

    // Appends a copy of the last stop (multicolour on, fewer than ten stops); stored at once.
    void addZone();
    // Removes stop `index` (multicolour on, at least two stops), closing the colour panel first; at once.
    void removeZone(int index);

    // The pointer entered swatch `index`, or left it (a leave after the next swatch was entered changes
    // nothing).
    void swatchEntered(int index);
    void swatchLeft(int index);

    // The swatches shown now, one per stop.
    std::vector<ZoneSwatch*> shownSwatches() const;

private:
    void showHover();
    std::size_t stopCount() const;
    std::size_t colourCount() const;

    OverlaySettings& settings_;
    MainLoop& loop_;
    std::optional<int> hoveredZone_;
    SettingsToggleRow* multicolor_;
    QWidget* autoSampleCaption_;
    QWidget* previewBlock_;
    MenuBarPreview* preview_;
    QWidget* editor_;
    QWidget* strip_;
    // Swatches are made as the stops grow and kept; those past the stop count hide.
    std::vector<ZoneSwatch*> swatches_;
    QAbstractButton* add_;
    SettingsToggleRow* blend_;
    QWidget* widthBlock_;
    SettingsCaptionRow* caption_;
};

}  // namespace velaro
