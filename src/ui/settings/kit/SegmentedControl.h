// The segmented look of the kit, shared by the segmented rows and the style picker so every page shows a
// choice the same way: chips on one rounded strip, the chosen chip filled with the accent colour and its
// label in white semibold, the others plain text on the strip.
#pragma once

#include <QAbstractButton>
#include <QString>
#include <functional>
#include <vector>

namespace velaro {

class SegmentedControl : public QWidget {
public:
    // `pressChooses`: a press shows its segment chosen at once. Without it a press only reports itself, and
    // the segment shows chosen once the owner says so (`setChosen`), when the queued write has landed.
    SegmentedControl(const std::vector<QString>& labels, bool pressChooses, QWidget* parent = nullptr);

    int count() const { return int(segments_.size()); }
    QAbstractButton* segment(int index) const;
    // Shows segment `index` chosen (checked); -1 for none.
    void setChosen(int index);

    // A segment was pressed (with the mouse or the keyboard).
    std::function<void(int)> onPressed;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<QAbstractButton*> segments_;
};

}  // namespace velaro
