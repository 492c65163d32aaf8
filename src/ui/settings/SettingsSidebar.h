// The settings window's sidebar: the three page groups, each a header over one row per page. A row shows the
// page's symbol on a tile in its accent colour and the page's title; the symbol bounces once each time the
// row is clicked. A window too short for the list closes up the gaps between rows before the list scrolls.
#pragma once

#include <QAbstractButton>
#include <QScrollArea>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "ui/settings/SettingsCategory.h"

class QVariantAnimation;

namespace velaro {

class SpacedText;
struct SidebarSpacing;

class SidebarRow : public QAbstractButton {
public:
    static constexpr int tileSize = 24;
    static constexpr double bounceSeconds = 0.4;

    explicit SidebarRow(SettingsCategory category, QWidget* parent = nullptr);

    SettingsCategory category() const { return category_; }
    // A selected row is highlighted and described as "selected" to screen readers.
    void setSelected(bool selected);
    // Each new value bounces the symbol once.
    void setBounceTick(std::int64_t tick);
    // The room above and below the highlight (`inset`) and inside it around the tile (`padding`).
    void setVerticalSpacing(int inset, int padding);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SettingsCategory category_;
    bool selected_ = false;
    std::int64_t bounceTick_ = 0;
    QVariantAnimation* bounce_;
    int insetY_;
    int paddingY_;
};

class SettingsSidebar : public QScrollArea {
public:
    static constexpr int sidebarWidth = 200;

    explicit SettingsSidebar(QWidget* parent = nullptr);

    SidebarRow* row(SettingsCategory category) const { return rows_.at(category); }

    // Highlights the selected page's row. The sidebar is one stop of the Tab key, as a list is: the
    // selected row's (the first row's while none is selected).
    void setSelection(std::optional<SettingsCategory> selection);

    // A row was clicked.
    std::function<void(SettingsCategory)> onRowClicked;
    // The arrow keys moved to a row (Up and Down step, Home and End go to the ends).
    std::function<void(SettingsCategory)> onRowChosenByKey;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Closes the gaps between rows and around the group headers as far as needed for every row to show at
    // `height`; only a sidebar shorter than that at its tightest scrolls.
    void fitHeight(int height);
    int contentHeight(const SidebarSpacing& spacing) const;
    void apply(const SidebarSpacing& spacing);

    std::vector<SpacedText*> headers_;
    std::map<SettingsCategory, SidebarRow*> rows_;
    // The rows top to bottom.
    std::vector<SidebarRow*> order_;
};

}  // namespace velaro
