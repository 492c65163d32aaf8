// The Shortcuts page: one row per feature a global shortcut switches, each with its record button (which
// shows the stored combination), a clear button and the recorder's notice under it. Leaving the page ends a
// recording, so no pause of the global hot keys outlives it.
#pragma once

#include <QAbstractButton>
#include <array>
#include <memory>

#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/kit/SymbolButton.h"
#include "ui/settings/pages/ShortcutRecorder.h"

namespace velaro {

class ShortcutRecorderRow;

// A row's record button: its text on a tinted rounded rectangle, without a bezel.
class ShortcutRecordButton : public QAbstractButton {
public:
    explicit ShortcutRecordButton(QWidget* parent = nullptr);

    // Recording shows the button tinted in the accent colour.
    void setRecording(bool recording);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool recording_ = false;
};

class ShortcutsSection : public OverlaySettingsPage {
public:
    static constexpr const char* captionText =
        "Shortcuts work everywhere while Velaro is running, and always switch your global settings — per-app "
        "profiles are never modified.";

    ShortcutsSection(OverlaySettings& settings, MainLoop& loop, ShortcutRecorderServices services,
                     QWidget* parent = nullptr);
    ~ShortcutsSection() override;

    ShortcutRecorderRow* row(ShortcutAction action) const;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    std::unique_ptr<ShortcutRecorderModel> recorder_;
    std::array<ShortcutRecorderRow*, 5> rows_{};
};

class ShortcutRecorderRow : public SettingsRow {
public:
    ShortcutRecorderRow(ShortcutAction action, OverlaySettings& settings, ShortcutRecorderModel& recorder,
                        QWidget* parent = nullptr);

    void refresh() override;

    ShortcutAction action() const { return action_; }
    bool isRecording() const;
    std::optional<ShortcutKeyCombo> currentCombo() const;
    // The recorder's notice when it names this row; hidden otherwise.
    SpacedText* notice() const { return notice_; }

private:
    ShortcutAction action_;
    OverlaySettings& settings_;
    ShortcutRecorderModel& recorder_;
    QLabel* title_;
    ShortcutRecordButton* record_;
    SymbolButton* clear_;
    SpacedText* notice_;
};

}  // namespace velaro
