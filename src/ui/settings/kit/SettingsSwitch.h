// The settings pages' switch: a small capsule whose knob sits right and whose track takes the accent colour
// while it is on. It is a checkable button, so it toggles on a click and with the space key.
#pragma once

#include <QAbstractButton>

namespace velaro {

class SettingsSwitch : public QAbstractButton {
public:
    static constexpr int trackWidth = 32;
    static constexpr int trackHeight = 18;

    explicit SettingsSwitch(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {trackWidth, trackHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace velaro
