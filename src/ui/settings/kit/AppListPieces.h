// Pieces the lists of applications share (the excluded-apps page, the profile selector): an app's name on one
// line, cut at the tail, and its icon with the "app.dashed" placeholder and an optional running dot.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

namespace velaro {

// A name as one line: line breaks, tabs and other control characters become spaces.
QString oneLineName(const QString& name);

// One line of text cut at the tail with "…" when it does not fit; never wraps.
class ElidedLabel : public QWidget {
public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    QString text() const { return text_; }
    void setText(const QString& text);
    // The text as painted at the current width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The text's exact width in the label's font, fractions of a pixel included.
    double textWidth() const;

    QString text_;
};

// An app's icon in a square, or a placeholder symbol ("app.dashed") in the secondary colour while there is
// none; with a green dot on its bottom-trailing corner while the app runs.
class AppIconView : public QWidget {
public:
    explicit AppIconView(int size, QWidget* parent = nullptr, std::string placeholder = "app.dashed");

    // A null image shows the placeholder.
    void setIcon(const QImage& icon);
    bool showsPlaceholder() const { return icon_.isNull(); }
    void setPlaceholder(std::string symbol);
    void setRunning(bool running);
    QSize sizeHint() const override { return {size_ + 2, size_ + 2}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int size_;
    std::string placeholder_;
    QImage icon_;
    bool running_ = false;
};

}  // namespace velaro
