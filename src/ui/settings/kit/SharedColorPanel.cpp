// The shared colour panel and the colour well.
#include "ui/settings/kit/SharedColorPanel.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {
namespace {

// The panel is application-wide state in the platform's own sense (one colour picker per app), so it lives
// for the process: created on first use, deleted as the application quits, while widgets can still go.
struct PanelState {
    QPointer<QColorDialog> dialog;
    QPointer<QObject> consumer;
    QMetaObject::Connection link;
};

PanelState& panelState() {
    static PanelState state;
    return state;
}

QColorDialog& panel() {
    PanelState& state = panelState();
    if (!state.dialog) {
        state.dialog = new QColorDialog;
        state.dialog->setWindowTitle(QStringLiteral("Colors"));
        // A live panel: every change is a pick, there is nothing to confirm.
        state.dialog->setOption(QColorDialog::NoButtons);
        state.dialog->setOption(QColorDialog::DontUseNativeDialog);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, state.dialog,
                         [] { delete panelState().dialog.data(); });
    }
    return *state.dialog;
}

}  // namespace

Color colorFromQColor(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return Color::rgb(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

QColor qColorFromColor(const Color& colour) {
    return QColor::fromRgbF(float(colour.red), float(colour.green), float(colour.blue), float(colour.alpha));
}

void openSharedColorPanel(QObject& consumer, const std::optional<Color>& current, bool showsOpacity,
                          std::function<void(const Color&)> picked) {
    PanelState& state = panelState();
    QColorDialog& dialog = panel();
    // Detach the control served so far before the panel moves to the new colour, or it would receive it.
    QObject::disconnect(state.link);
    state.consumer = &consumer;
    dialog.setOption(QColorDialog::ShowAlphaChannel, showsOpacity);
    if (current) dialog.setCurrentColor(qColorFromColor(*current));
    state.link =
        QObject::connect(&dialog, &QColorDialog::currentColorChanged, &consumer,
                         [picked = std::move(picked)](const QColor& c) { picked(colorFromQColor(c)); });
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
}

bool sharedColorPanelServes(const QObject& consumer) {
    const PanelState& state = panelState();
    return state.dialog && state.consumer == &consumer;
}

QColorDialog* sharedColorPanelIfCreated() {
    return panelState().dialog.data();
}

void closeSharedColorPanel() {
    if (QColorDialog* dialog = sharedColorPanelIfCreated(); dialog && dialog->isVisible()) dialog->close();
}

void releaseSharedColorPanel() {
    PanelState& state = panelState();
    QObject::disconnect(state.link);
    state.consumer = nullptr;
    closeSharedColorPanel();
}

namespace {

class PanelCloserOnHide final : public QObject {
public:
    explicit PanelCloserOnHide(QWidget& widget) : QObject(&widget) { widget.installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Hide) closeSharedColorPanel();
        return false;
    }
};

}  // namespace

void closeSharedColorPanelWhenHidden(QWidget& widget) {
    new PanelCloserOnHide(widget);
}

// ---- colour well ----

ColorWell::ColorWell(Binding<Color> selection, bool supportsOpacity, QWidget* parent)
    : QAbstractButton(parent), selection_(std::move(selection)), supportsOpacity_(supportsOpacity) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(sizeHint());
    QObject::connect(this, &QAbstractButton::clicked, this, [this] { open(); });
    refresh();
}

void ColorWell::refresh() {
    const Color now = selection_.get();
    if (now == shown_) return;
    shown_ = now;
    update();
}

void ColorWell::open() {
    openSharedColorPanel(*this, shown_, supportsOpacity_, [this](const Color& c) {
        shown_ = supportsOpacity_ ? c : c.withAlpha(1);
        update();
        selection_.set(shown_);
    });
}

void ColorWell::hideEvent(QHideEvent* event) {
    if (sharedColorPanelServes(*this)) closeSharedColorPanel();
    QAbstractButton::hideEvent(event);
}

void ColorWell::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.45);
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    SettingsStyle::paintCard(p, outer, palette().color(QPalette::Button),
                             SettingsStyle::primary(palette(), 0.2), 5);
    const QRectF swatch = outer.adjusted(4, 4, -4, -4);
    QPainterPath shape;
    shape.addRoundedRect(swatch, 3, 3);
    if (shown_.alpha < 1) {
        // A checkerboard under a translucent colour shows how much of it there is.
        p.save();
        p.setClipPath(shape);
        p.fillRect(swatch, Qt::white);
        const double cell = 4;
        for (double y = swatch.top(); y < swatch.bottom(); y += cell)
            for (double x = swatch.left(); x < swatch.right(); x += cell)
                if ((int((x - swatch.left()) / cell) + int((y - swatch.top()) / cell)) % 2)
                    p.fillRect(QRectF(x, y, cell, cell), QColor(204, 204, 204));
        p.restore();
    }
    p.fillPath(shape, qColorFromColor(shown_));
    if (hasFocus()) SettingsStyle::paintFocusRing(p, QRectF(rect()), 5, palette());
}

}  // namespace velaro
