#pragma once

#include <QWidget>

// The small round connection indicator under the pin table.
class ConnectionStatusDot : public QWidget
{
    Q_OBJECT

public:
    enum State : int { Unknown = 0, Checking = 1, Connected = 2, Disconnected = 3 };

    explicit ConnectionStatusDot(QWidget* parent = nullptr);

    void setState(State state);
    State currentState() const { return state; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    State state = Unknown;
};
