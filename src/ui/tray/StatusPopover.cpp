// The popover's column, its cards for what is missing, its switches and its height.
#include "ui/tray/StatusPopover.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/FlatGroupBox.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/kit/SymbolIcon.h"
#include "ui/tray/LivePreviewHeader.h"

namespace velaro {
namespace {

constexpr int kPadding = 14;
constexpr int kSpacing = 14;

QFont scaled(QFont font, double factor, QFont::Weight weight = QFont::Normal) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

// A mask icon drawn in one colour, as the header shows the status icon in the accent colour.
QPixmap tinted(const QIcon& icon, int size, const QColor& colour) {
    QPixmap pixmap = icon.pixmap(size, size);
    if (pixmap.isNull()) return pixmap;
    QPainter p(&pixmap);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(pixmap.rect(), colour);
    return pixmap;
}

// A card: the row of symbol, texts and button on a rounded plate edged in the card's colour.
class Card final : public QWidget {
public:
    Card(QColor colour, QWidget* parent) : QWidget(parent), colour_(std::move(colour)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setBrush(palette().color(QPalette::AlternateBase));
        QColor edge = colour_;
        edge.setAlphaF(0.5);
        p.setPen(QPen(edge, 1));
        p.drawRoundedRect(r, 10, 10);
    }

private:
    QColor colour_;
};

}  // namespace

StatusPopover::StatusPopover(Model model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      capabilities_(model_.permissions),
      overlayBinding_(deferredBinding(model_.loop, settingBinding(model_.settings.overlayEnabled))),
      styleReveal_(model_.loop, model_.settings.overlayEnabled() ? 1.0 : 0.0),
      refresh_(model_.loop, [this] { refresh(); }) {
    auto* outer = new QVBoxLayout(this);
    // Room for the edge (paintEvent).
    outer->setContentsMargins(frameWidth, frameWidth, frameWidth, frameWidth);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    outer->addWidget(scroll);

    column_ = new QWidget;
    auto* columnLayout = new QVBoxLayout(column_);
    columnLayout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    columnLayout->setSpacing(kSpacing);

    columnLayout->addWidget(makeHeader());
    columnLayout->addWidget(new LivePreviewHeader::StatusRow(model_.sampler, model_.settings,
                                                             model_.appWatcher, model_.loop, column_));
    // No player running is how the desktop is between tracks, not something to set up: the media player has
    // no card (the progress bar simply waits), where the tour's page lists it.
    struct CardCopy {
        Capability capability;
        const char* symbol;
        QColor colour;
        const char* title;
        const char* detail;
    };
    for (const CardCopy& copy : {
             CardCopy{Capability::x11Session, "inset.filled.topthird.rectangle", QColor(255, 59, 48),
                      "X11 Session Required", "Velaro reads and tints the screen only in an X11 session"},
             CardCopy{Capability::compositor, "circle.dashed", QColor(255, 149, 0), "No Compositing Manager",
                      "Without one the overlay is opaque and the visualizer stays dark"},
             CardCopy{Capability::soundServer, "waveform", QColor(255, 149, 0), "No Sound Server",
                      "The music visualizer needs PulseAudio or PipeWire to hear what plays"},
         }) {
        QWidget* card = makeCard(copy.symbol, copy.colour, copy.title, copy.detail, "Open Help",
                                 [this, c = copy.capability] { openHelp(c); });
        columnLayout->addWidget(card);
        capabilityCards_.emplace_back(copy.capability, card);
    }
    auto* preview = new LivePreviewHeader::Preview(model_.sampler, model_.settings, model_.appWatcher,
                                                   model_.loop, column_);
    columnLayout->addWidget(preview);
    columnLayout->addWidget(makeStyleGroup());
    columnLayout->addWidget(makeBottomRow());
    columnLayout->addStretch(1);
    scroll->setWidget(column_);
    column_->installEventFilter(this);

    watch_ = model_.settings.objectWillChange().sink([this](const std::monostate&) { refresh_.schedule(); });
    capabilityWatch_ = capabilities_.statuses().changes().sink(
        [this](const CapabilityStatuses& statuses) { applyCapabilities(statuses); });
    applyCapabilities(capabilities_.statuses()());
    styleReveal_.setOnChange([this] { applyStyleReveal(); });
    applyStyleReveal();
    refresh();
    applyHeight();
    columnHeightChanged(column_->sizeHint().height());
}

StatusPopover::~StatusPopover() {
    column_->removeEventFilter(this);
}

QWidget* StatusPopover::makeHeader() {
    auto* header = new QWidget(column_);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* icon = new QLabel(header);
    icon->setFixedSize(22, 22);
    icon->setScaledContents(true);
    icon->setPixmap(tinted(model_.statusIcon, 22, palette().color(QPalette::Highlight)));
    row->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* name = new QLabel(QStringLiteral("Velaro"), header);
    name->setFont(scaled(name->font(), 1.0, QFont::DemiBold));
    texts->addWidget(name);
    auto* tagline = new QLabel(QStringLiteral("Tinting the top panel"), header);
    tagline->setFont(scaled(tagline->font(), 0.85));
    tagline->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(tagline);
    row->addLayout(texts);
    row->addStretch(1);
    return header;
}

QWidget* StatusPopover::makeCard(const char* symbol, const QColor& colour, const char* title,
                                 const char* detail, const char* button, std::function<void()> action) {
    auto* card = new Card(colour, column_);
    auto* row = new QHBoxLayout(card);
    row->setContentsMargins(10, 10, 10, 10);
    auto* glyph = new QLabel(card);
    glyph->setPixmap(tinted(symbolIcon(symbol), 16, colour));
    row->addWidget(glyph);
    auto* texts = new QVBoxLayout;
    auto* heading = new QLabel(QString::fromUtf8(title), card);
    heading->setFont(scaled(heading->font(), 1.0, QFont::DemiBold));
    texts->addWidget(heading);
    auto* line = new QLabel(QString::fromUtf8(detail), card);
    line->setWordWrap(true);
    line->setFont(scaled(line->font(), 0.85));
    line->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(line);
    row->addLayout(texts, 1);
    auto* press = new QPushButton(QString::fromUtf8(button), card);
    QObject::connect(press, &QPushButton::clicked, card, [action = std::move(action)] { action(); });
    row->addWidget(press);
    return card;
}

QWidget* StatusPopover::makeStyleGroup() {
    auto* box = new FlatGroupBox(QStringLiteral("Overlay Style"), symbolIcon("paintbrush.fill"), column_);
    overlaySwitch_ = new QCheckBox(QStringLiteral("Enable overlay"), box);
    overlaySwitch_->setToolTip(QStringLiteral("Turns the top panel overlay off without disabling the app"));
    QObject::connect(overlaySwitch_, &QCheckBox::toggled, box, [this](bool on) { overlayBinding_.set(on); });
    box->contentLayout()->addWidget(overlaySwitch_);
    styleControls_ = new StyleOpacityControls(model_.settings, model_.loop, box);
    box->contentLayout()->addWidget(styleControls_);
    return box;
}

QWidget* StatusPopover::makeBottomRow() {
    auto* holder = new QWidget(column_);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    masterButton_ = new QPushButton(holder);
    masterButton_->setFixedWidth(44);
    QObject::connect(masterButton_, &QPushButton::clicked, holder, [this] { toggleMaster(); });
    row->addWidget(masterButton_);
    auto* settingsButton = new QPushButton(symbolIcon("gearshape"), QStringLiteral("Settings…"), holder);
    settingsButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QObject::connect(settingsButton, &QPushButton::clicked, holder, [this] {
        if (model_.openSettings) model_.openSettings();
    });
    row->addWidget(settingsButton);
    auto* quitButton = new QPushButton(symbolIcon("power"), QStringLiteral("Quit"), holder);
    quitButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QPalette red = quitButton->palette();
    red.setColor(QPalette::ButtonText, QColor(255, 59, 48));
    quitButton->setPalette(red);
    QObject::connect(quitButton, &QPushButton::clicked, holder, [this] {
        if (model_.quit) model_.quit();
    });
    row->addWidget(quitButton);
    return holder;
}

// ---- what the session has ----

void StatusPopover::refreshPermissions() {
    capabilities_.refresh();
}

void StatusPopover::openHelp(Capability capability) {
    // Opening the help page changes nothing: the card stays until a later showing finds what it asks for.
    capabilities_.openHelp(capability);
}

void StatusPopover::applyCapabilities(const CapabilityStatuses& statuses) {
    // A card shows only once the desktop said no: an answer still on its way leaves it hidden.
    for (const auto& [capability, card] : capabilityCards_)
        card->setVisible(statuses[capability] == CapabilityStatus::missing);
}

void StatusPopover::toggleMaster() {
    // Written and persisted now, not on the next turn: the switch is the user's way out of a bad state.
    model_.settings.setBoolAndPersist(!model_.settings.masterEnabled(), model_.settings.masterEnabled,
                                      settings_keys::masterEnabled.key);
}

// ---- height ----

void StatusPopover::columnHeightChanged(double height) {
    if (height == contentHeight_) return;
    model_.loop.post(lifetime_.guard([this, height] {
        contentHeight_ = height;
        applyHeight();
    }));
}

void StatusPopover::setAvailableHeight(int points) {
    if (points <= 0) return;  // no screen to measure: the cap alone
    const double room = std::min<double>(points, maxHeight);
    if (room == availableHeight_) return;
    availableHeight_ = room;
    applyHeight();
}

int StatusPopover::popoverHeight() const {
    return static_cast<int>(std::min(std::ceil(std::min(contentHeight_ + 2 * frameWidth, maxHeight)),
                                     std::floor(availableHeight_)));
}

void StatusPopover::applyHeight() {
    setFixedSize(popoverWidth, popoverHeight());
    updateGeometry();
}

bool StatusPopover::eventFilter(QObject* watched, QEvent* event) {
    if (watched == column_ && event->type() == QEvent::LayoutRequest) {
        // After the layout settles, so the measured height is the new one.
        model_.loop.post(lifetime_.guard([this] { columnHeightChanged(column_->sizeHint().height()); }));
    }
    return QWidget::eventFilter(watched, event);
}

void StatusPopover::paintEvent(QPaintEvent*) {
    // A popup window gets no frame or shadow from the window manager, and a compositor may give it none:
    // the edge keeps it apart from a window of the same colour behind it.
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(QPen(palette().color(QPalette::Mid), frameWidth));
    p.setBrush(Qt::NoBrush);
    const double half = frameWidth / 2.0;
    p.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
}

void StatusPopover::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshPermissions();
}

// ---- state to view ----

void StatusPopover::refresh() {
    const bool master = model_.settings.masterEnabled();
    const bool overlay = model_.settings.overlayEnabled();
    {
        const QSignalBlocker quiet(overlaySwitch_);
        overlaySwitch_->setChecked(overlay);
    }
    styleReveal_.set(overlay ? 1.0 : 0.0, OverlayAnimation{styleRevealSeconds, TimingCurve::easeInEaseOut});

    const QIcon eye = symbolIcon(master ? "eye" : "eye.slash");
    masterButton_->setIcon(eye);
    masterButton_->setText(eye.isNull() ? (master ? QStringLiteral("On") : QStringLiteral("Off"))
                                        : QString());
    masterButton_->setAccessibleName(master ? QStringLiteral("Disable") : QStringLiteral("Enable"));
    masterButton_->setToolTip(master ? QStringLiteral("Disable Velaro: hide every overlay")
                                     : QStringLiteral("Enable Velaro: show the overlays again"));
    QPalette tint = masterButton_->palette();
    tint.setColor(QPalette::ButtonText, master ? QColor(52, 199, 89) : QColor(142, 142, 147));
    masterButton_->setPalette(tint);
}

void StatusPopover::applyStyleReveal() {
    const double shown = styleReveal_.value();
    if (shown <= 0) {
        styleControls_->hide();
        return;
    }
    styleControls_->show();
    styleControls_->setMaximumHeight(
        shown >= 1 ? QWIDGETSIZE_MAX
                   : static_cast<int>(std::lround(shown * styleControls_->sizeHint().height())));
}

}  // namespace velaro
