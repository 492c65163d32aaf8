// A small button without a bezel that shows one of the app's symbols: the move, remove and add buttons of
// list editors. It darkens while pressed and fades while disabled, as a borderless button does.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <optional>
#include <string>

namespace velaro {

class SymbolButton : public QAbstractButton {
public:
    // `side` is the square's size in points; `accessibleName` is also the tooltip when `withTooltip`.
    SymbolButton(std::string symbol, int side, const QString& accessibleName, QWidget* parent = nullptr,
                 bool withTooltip = false);

    const std::string& symbol() const { return symbol_; }
    // The symbol's colour; the primary text colour when none is set.
    void setInk(std::optional<QColor> ink);
    // A button wider or taller than its symbol: the frame takes the clicks, the symbol is drawn `glyph`
    // points square in its middle.
    void setFrame(QSize frame, int glyph);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    int side_;
    std::optional<QSize> frame_;
    int glyph_ = 0;
    std::optional<QColor> ink_;
};

}  // namespace velaro
