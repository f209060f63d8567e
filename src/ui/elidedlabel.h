#pragma once

#include <QLabel>

class QFont;

// A text as one line at a width: line breaks become blanks, and what does not fit is cut with "…".
struct ElidedLine {
    QString text;
    bool cut = false;
};
ElidedLine elideToWidth(const QString& text, const QFont& font, int width);

// A one-line label for texts of any length, such as a node's error: what does not fit is cut with
// "…" and the whole text is in its tool tip. Its size hint never grows past a few dozen characters,
// so a long text never widens its window. Always plain text.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = QString(), QWidget* parent = nullptr);

    // What the label shows at its current width.
    ElidedLine shownLine() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textArea() const;
    QSize withMargins(int textWidth) const;
};
