// An editor of an ordered list of colours stored as "#RRGGBB" strings: one row per colour (its number, a
// colour well, the stored text, move up, move down, remove), then "Add" and a reset button, then a caption.
// It keeps no list of its own: every row reads the list afresh and every edit writes the whole list back
// through the owner's functions, so the same editor serves the visualizer's wave palette and the hue drift's
// cycle. Rows are made as the list first grows to need them and hidden, never destroyed, when it shrinks.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/settings/kit/SettingsKit.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace velaro {

class ColorWell;
class MainLoop;
class SymbolButton;

class PaletteEditor : public SettingsRow {
public:
    // A list keeps 2 to 10 colours: Add is refused at 10, Remove below 3.
    static constexpr std::size_t maximumCount = 10;
    static constexpr std::size_t minimumCount = 2;

    struct Spec {
        std::function<std::vector<std::string>()> read;
        // Stores the whole list (and publishes it).
        std::function<void(std::vector<std::string>)> writeBack;
        std::vector<std::string> resetList;
        QString resetLabel;
        // A well's spoken label: this prefix and the row's number ("Palette color 1").
        QString wellLabelPrefix;
        QString caption;
    };

    class Row;

    PaletteEditor(MainLoop& loop, Spec spec, QWidget* parent = nullptr);
    ~PaletteEditor() override;

    void refresh() override;

    // The buttons' actions, which write at once. Out-of-range indices and refused edits change nothing.
    // Moving, removing and resetting release the shared colour panel first.
    void move(std::size_t index, int step);
    void remove(std::size_t index);
    void add();
    void reset();

private:
    std::vector<std::string> list() const { return spec_.read(); }
    void write(std::vector<std::string> list);

    MainLoop& loop_;
    Spec spec_;
    QVBoxLayout* rowColumn_;
    std::vector<Row*> rows_;
    QPushButton* add_;
};

// One colour of the list.
class PaletteEditor::Row : public QWidget {
public:
    Row(PaletteEditor& editor, std::size_t index, QWidget* parent);

    // Shows entry `index` of `list` (which holds it).
    void showEntry(const std::vector<std::string>& list);

    ColorWell* well() const { return well_; }

private:
    // What the row's well knows of its entry: the text the entry holds once the well's queued writes have
    // landed. A queued write lands only while the entry still holds the text it expected, so a pick that
    // arrives after the colours moved or went never overwrites another colour.
    struct WellState {
        std::string expected;
        int pending = 0;
    };

    std::size_t index_;
    std::shared_ptr<WellState> wellState_;
    ColorWell* well_;
    QLabel* text_;
    SymbolButton* up_;
    SymbolButton* down_;
    SymbolButton* remove_;
};

}  // namespace velaro
