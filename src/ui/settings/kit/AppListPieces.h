// Pieces the lists of applications share (the excluded-apps page, the profile selector, the application
// chooser): an app's name on one line, cut at the tail, and its icon with the "app.dashed" placeholder and an
// optional running dot.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>
#include <string_view>

class QPainter;

namespace velaro {

// A name as one line: line breaks, tabs and other control characters become spaces.
QString oneLineName(const QString& name);

// One line of text as it fits `width` in `font`: whole when it fits (fractions of a pixel included), else cut
// at the tail with "…".
QString elidedLine(const QString& text, const QFont& font, int width);

// An app's icon fitted into `square`, or the placeholder symbol in the secondary colour when `icon` is null;
// with the green running dot on its bottom-trailing corner when `running`.
void paintAppIcon(QPainter& painter, const QRectF& square, const QImage& icon, std::string_view placeholder,
                  const QPalette& palette, bool running = false);

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
