// The row kit every settings page is built from, so all pages share one look: section headers, rounded cards
// of rows with hairlines between them, rows of a fixed shape (switch, slider, pop-up menu, segmented control,
// colour well, caption, action), the "BETA" badge, the dimming of disabled rows, the row this desktop never
// acts on, the gate that disables a page while the overlay is off, the backdrop of the window's header row,
// and `SettingsPage`, the base of every page.
//
// A page composes: a SettingsSectionHeader, then a SettingsCard whose rows are separated by hairlines
// (`addHairline()`), then optional SettingsCaptionRows. Rows hold no settings of their own: they read and
// write through `Binding`s. Switches, pickers and colour wells are given `deferredBinding(...)`s, so their
// writes land on the next turn of the loop; slider rows defer by themselves. A page follows the streams of
// what it shows (`SettingsPage::follow`) and every row reads its binding again on the turn after a change.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/AnimatedValue.h"
#include "base/Published.h"
#include "overlay/OverlayFeed.h"
#include "settings/SettingsKeys.h"
#include "ui/kit/DeferredBinding.h"
#include "ui/settings/kit/ResettableSlider.h"

class QComboBox;
class QHBoxLayout;
class QVBoxLayout;

namespace velaro {

class ColorWell;
class MainLoop;
class OverlaySettings;
class ProfileManager;
class SegmentedControl;
class SettingsSwitch;

// Draws `widget` at `disabledOpacity` while it is disabled (by itself or by a parent) and fully otherwise.
// The widget's own disabled text colours are made the enabled ones, so the opacity alone does the dimming.
void applyDisabledDim(QWidget* widget, double disabledOpacity);
// Gives a widget's text one colour in every state.
void setTextColour(QWidget* widget, const QColor& colour);
// The frame every row of a card shares: at least 44 points high, the title in the row font, a flexible gap
// of at least 8 points, then whatever the row adds to the returned layout.
QHBoxLayout* rowFrame(QWidget* row, QLabel* title);

// A row that shows values it reads through bindings. `refresh()` reads them again and moves its controls
// without writing anything back.
class SettingsRow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual void refresh() {}
};

// Text with space around it, kept by a layout: a QLabel is a QFrame, whose own contents margins the style
// resets when it polishes the label.
class SpacedText : public QWidget {
public:
    SpacedText(const QString& text, QMargins margins, QWidget* parent = nullptr);

    QLabel* label() const { return label_; }
    QString text() const;
    void setText(const QString& text);

private:
    QLabel* label_;
};

class SettingsSectionHeader : public SpacedText {
public:
    explicit SettingsSectionHeader(const QString& title, QWidget* parent = nullptr);
};

// A rounded card holding a column of rows.
class SettingsCard : public QWidget {
public:
    explicit SettingsCard(QWidget* parent = nullptr);

    // Appends a row (the card takes it). A caption as the first row gets the top padding rows have.
    void addRow(QWidget* row);
    // Appends the hairline that separates two rows.
    void addHairline();
    // Appends a hairline and the row under it as one block (returned), so that a row shown only sometimes
    // takes its hairline with it when it hides.
    QWidget* addHairlinedRow(QWidget* row);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* rows_;
};

// The thin separator between two rows of a card, inset from the leading edge.
class SettingsHairline : public QWidget {
public:
    explicit SettingsHairline(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The bar behind the window's header row, which stands where a title bar would be: the bar colour with a
// hairline along its lower edge. Whatever the header holds is laid out on it by its owner.
class SettingsTopStripBackdrop : public QWidget {
public:
    explicit SettingsTopStripBackdrop(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Title, a flexible gap and a switch. A click on the title flips the switch while the row is enabled.
class SettingsToggleRow : public SettingsRow {
public:
    // `accessory` (may be null; the row takes it) sits just before the switch, e.g. a SettingsBetaBadge.
    SettingsToggleRow(const QString& title, Binding<bool> isOn, const QString& hint = {},
                      QWidget* accessory = nullptr, QWidget* parent = nullptr);

    void refresh() override;
    // The spoken hint (also the tooltip), for rows whose hint depends on other settings.
    void setHint(const QString& hint);
    SettingsSwitch* toggle() const { return switch_; }
    QLabel* titleLabel() const { return title_; }

private:
    Binding<bool> isOn_;
    QLabel* title_;
    SettingsSwitch* switch_;
};

// Title, a flexible gap, then the value text, the minimum symbol, a 200-point ResettableSlider and the
// maximum symbol. The page formats the value text: `valueText` returns it for the value as it is now (an
// empty text or no function shows none).
class SettingsSliderRow : public SettingsRow {
public:
    static constexpr int sliderWidth = 200;

    struct Options {
        std::optional<double> step;
        std::function<QString()> valueText;
        std::string minSymbol;  // empty: none
        std::string maxSymbol;

        // The usual options: a value text and perhaps a step, no symbols.
        static Options showing(std::function<QString()> valueText,
                               std::optional<double> step = std::nullopt) {
            Options options;
            options.step = step;
            options.valueText = std::move(valueText);
            return options;
        }
    };

    SettingsSliderRow(MainLoop& loop, const QString& title, Binding<double> value, SliderRange range,
                      double defaultValue, Options options = {}, QWidget* parent = nullptr);
    // A row over a number of the key table: the track spans the row's bounds (what a stored value is
    // bounded to) and a double click returns it to the row's default.
    template <class T>
    SettingsSliderRow(MainLoop& loop, const QString& title, Binding<double> value,
                      const settings_keys::Entry<T, Bounds>& row, Options options = {},
                      QWidget* parent = nullptr)
        : SettingsSliderRow(loop, title, std::move(value), {row.check.lo, row.check.hi},
                            double(row.defaultValue), std::move(options), parent) {}

    void refresh() override;
    ResettableSlider* slider() const { return slider_; }

private:
    std::function<QString()> valueText_;
    QLabel* value_;
    ResettableSlider* slider_;
};

// The untyped core of the picker and segmented rows: a list of labels and the index of the chosen one.
class SettingsChoiceRow : public SettingsRow {
public:
    enum class Form { popUpMenu, segmented };

    SettingsChoiceRow(Form form, const QString& title, std::vector<QString> labels,
                      std::function<int()> chosenIndex, std::function<void(int)> choose,
                      QWidget* parent = nullptr);

    void refresh() override;
    // Replaces a pop-up menu's options by these labels, for rows whose options follow the value; leaves the
    // menu alone when they are the ones it shows. The caller refreshes the row after it.
    void setMenuLabels(const std::vector<QString>& labels);

private:
    std::function<int()> chosenIndex_;
    std::function<void(int)> choose_;
    QComboBox* menu_ = nullptr;
    SegmentedControl* segments_ = nullptr;
};

// Options of a picker: each value with its label, in the order shown.
template <class T>
using SettingsOptions = std::vector<std::pair<T, QString>>;

namespace detail {
template <class T>
std::vector<QString> optionLabels(const SettingsOptions<T>& options) {
    std::vector<QString> labels;
    for (const auto& option : options) labels.push_back(option.second);
    return labels;
}
template <class T>
std::function<int()> optionIndex(Binding<T> selection, SettingsOptions<T> options) {
    return [selection = std::move(selection), options = std::move(options)] {
        const T now = selection.get();
        for (std::size_t i = 0; i < options.size(); ++i)
            if (options[i].first == now) return int(i);
        return -1;
    };
}
template <class T>
std::function<void(int)> optionChooser(Binding<T> selection, SettingsOptions<T> options) {
    return [selection = std::move(selection), options = std::move(options)](int index) {
        if (index >= 0 && std::size_t(index) < options.size())
            selection.set(options[std::size_t(index)].first);
    };
}
}  // namespace detail

// Title, a flexible gap and a pop-up menu of the options.
template <class T>
class SettingsPickerRow : public SettingsChoiceRow {
public:
    SettingsPickerRow(const QString& title, Binding<T> selection, SettingsOptions<T> options,
                      QWidget* parent = nullptr)
        : SettingsChoiceRow(Form::popUpMenu, title, detail::optionLabels(options),
                            detail::optionIndex(selection, options),
                            detail::optionChooser(selection, options), parent) {}
};

// Title, a flexible gap and a segmented control of the options.
template <class T>
class SettingsSegmentedRow : public SettingsChoiceRow {
public:
    SettingsSegmentedRow(const QString& title, Binding<T> selection, SettingsOptions<T> options,
                         QWidget* parent = nullptr)
        : SettingsChoiceRow(Form::segmented, title, detail::optionLabels(options),
                            detail::optionIndex(selection, options),
                            detail::optionChooser(selection, options), parent) {}
};

// Title, a flexible gap and a colour well. Its spoken label is `accessibilityLabel` when given, else the
// title.
class SettingsColorWellRow : public SettingsRow {
public:
    SettingsColorWellRow(const QString& title, Binding<Color> selection, bool supportsOpacity,
                         std::optional<QString> accessibilityLabel = std::nullopt, QWidget* parent = nullptr);

    void refresh() override;
    ColorWell* well() const { return well_; }

private:
    ColorWell* well_;
};

// Explanatory text under a row, wrapped onto as many lines as it needs.
class SettingsCaptionRow : public SpacedText {
public:
    explicit SettingsCaptionRow(const QString& text, QWidget* parent = nullptr);
};

// A row whose setting this desktop never acts on, so that no control silently does nothing: the row stays and
// shows the stored value, disabled, with a one-line caption under it that says why. Returns the block of the
// two (the caller's card takes it like a row).
QWidget* unavailableHereRow(QWidget* row, const QString& why);

// A short message in the smallest text style and one colour (orange for a warning),
// full width, with 10 points below it.
class SettingsNoticeText : public SpacedText {
public:
    SettingsNoticeText(const QString& text, const QColor& colour, QWidget* parent = nullptr);
    void setColor(const QColor& colour);
    QColor color() const;
};

// The small "BETA" capsule, used as a toggle row's accessory.
class SettingsBetaBadge : public QWidget {
public:
    explicit SettingsBetaBadge(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A whole-row button without a bezel: an optional symbol and the title.
class SettingsActionRow : public QAbstractButton {
public:
    enum class Role { plain, destructive, cancel };

    SettingsActionRow(const QString& title, std::string symbol, Role role, std::function<void()> action,
                      QWidget* parent = nullptr);

    Role role() const { return role_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    Role role_;
};

// Wraps a page that matters only while the overlay is on: while it is off, the page is disabled (its rows
// dim) and a notice above it says where to turn the overlay on.
class SettingsOverlayGate : public QWidget {
public:
    static constexpr const char* noticeText =
        "Turn the overlay on in Appearance ▸ Overlay Style to use these settings.";

    // The gate takes `content`. `followsContent`: whether the notice follows other content on the page
    // (it then keeps a header's distance above).
    SettingsOverlayGate(QWidget* content, bool followsContent, QWidget* parent = nullptr);

    void setOverlayEnabled(bool enabled);
    bool overlayEnabled() const { return overlayEnabled_; }
    QWidget* notice() const { return notice_; }
    QWidget* content() const { return content_; }

private:
    QWidget* notice_;
    QWidget* content_;
    bool overlayEnabled_ = true;
};

// The note under a card of settings that no app profile can change, shown while an app's profile is edited.
class GlobalOnlyNote : public QLabel {
public:
    static constexpr const char* noteText =
        "These settings apply to all apps and can't be customized per app.";
    explicit GlobalOnlyNote(QWidget* parent = nullptr);
};

// A vertical stack of widgets with no margins or spacing of its own: the holder of rows that a section
// shows and hides together.
QWidget* rowStack(QWidget* parent, std::initializer_list<QWidget*> rows = {});
// Appends rows to such a stack (giving `holder` the stack's layout when it has none yet).
void addRows(QWidget* holder, std::initializer_list<QWidget*> rows);

// Shows and hides one block of a page. While its window shows, a block that appears slides open over
// 0.2 s with an ease in and out; a block that goes, goes at once. Hidden rows keep their settings.
class SlideReveal {
public:
    static constexpr double seconds = 0.2;

    SlideReveal(MainLoop& loop, QWidget* block);
    SlideReveal(const SlideReveal&) = delete;
    SlideReveal& operator=(const SlideReveal&) = delete;

    void setShown(bool shown);
    QWidget* block() const { return block_; }

private:
    void apply();

    QWidget* block_;
    AnimatedValue<double> open_;
};

// The base of every settings page: a column of sections at most 460 points wide. A page follows the
// streams of what it shows; on the turn after any of them fires, every row of the page reads its value
// again and then `refreshPage()` runs for what the page shows or hides by itself.
class SettingsPage : public QWidget {
public:
    static constexpr int maximumPageWidth = 460;

    explicit SettingsPage(MainLoop& loop, QWidget* parent = nullptr);

    QVBoxLayout* column() const { return column_; }
    MainLoop& loop() const { return loop_; }

    template <class T>
    void follow(const Stream<T>& stream) {
        watches_.push_back(stream.sink([this](const T&) { refresh_.schedule(); }));
    }
    // Reads everything again now.
    void refresh();

protected:
    virtual void refreshPage() {}

private:
    MainLoop& loop_;
    QVBoxLayout* column_;
    CoalescedRefresh refresh_;
    std::vector<Subscription> watches_;
};

// A page of settings: keeps the settings it edits for the page's rows.
class OverlaySettingsPage : public SettingsPage {
public:
    OverlaySettingsPage(OverlaySettings& settings, MainLoop& loop, QWidget* parent = nullptr)
        : SettingsPage(loop, parent), settings_(settings) {}

    OverlaySettings& settings() const { return settings_; }

private:
    OverlaySettings& settings_;
};

// A page of settings that app profiles may override in part, so it also needs the profiles.
class ProfiledSettingsPage : public OverlaySettingsPage {
public:
    ProfiledSettingsPage(OverlaySettings& settings, ProfileManager& profileManager, MainLoop& loop,
                         QWidget* parent = nullptr)
        : OverlaySettingsPage(settings, loop, parent), profileManager_(profileManager) {}

    ProfileManager& profileManager() const { return profileManager_; }

private:
    ProfileManager& profileManager_;
};

}  // namespace velaro
