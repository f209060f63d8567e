#pragma once

#include <QWidget>

class QPushButton;

// A text button with a narrow companion button beside it: the text opens a window inside
// the main window, the companion opens it as a window of its own.
class SplitActionButton : public QWidget
{
    Q_OBJECT

public:
    explicit SplitActionButton(const QString& text, QWidget* parent = nullptr);

    void setPrimaryToolTip(const QString& toolTip);
    void setSecondaryToolTip(const QString& toolTip);

signals:
    void primaryClicked();
    void secondaryClicked();

private:
    QPushButton* primaryButton = nullptr;
    QPushButton* secondaryButton = nullptr;
};
