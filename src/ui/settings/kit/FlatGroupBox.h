// A flat group box: a small semibold caption (with an optional icon) over its content, on a rounded card of
// the control background with a hairline border.
#pragma once

#include <QFrame>
#include <QIcon>
#include <QString>

class QLabel;
class QVBoxLayout;

namespace velaro {

class FlatGroupBox : public QFrame {
public:
    static constexpr int padding = 14;
    static constexpr int spacing = 12;
    static constexpr double cornerRadius = 12;

    FlatGroupBox(const QString& title, const QIcon& icon = {}, QWidget* parent = nullptr);

    // Where the content goes, below the caption.
    QVBoxLayout* contentLayout() const { return content_; }
    QString title() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QVBoxLayout* content_;
};

}  // namespace velaro
