#include "connectionstatusdot.h"

#include <QPainter>

namespace {

QColor colourForState(ConnectionStatusDot::State state)
{
    switch (state) {
    case ConnectionStatusDot::Checking:
        return QColor(0xf1, 0xc4, 0x0f);
    case ConnectionStatusDot::Connected:
        return QColor(0x27, 0xae, 0x60);
    case ConnectionStatusDot::Disconnected:
        return QColor(0xe7, 0x4c, 0x3c);
    case ConnectionStatusDot::Unknown:
        break;
    }
    return QColor(0x95, 0xa5, 0xa6);
}

} // namespace

ConnectionStatusDot::ConnectionStatusDot(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(12, 12);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ConnectionStatusDot::setState(State newState)
{
    if (newState == state)
        return;
    state = newState;
    update();
}

void ConnectionStatusDot::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(colourForState(state), Qt::SolidPattern));
    painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
}
