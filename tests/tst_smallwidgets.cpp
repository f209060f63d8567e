#include <QtTest>

#include <QIcon>
#include <QImage>
#include <QPushButton>

#include "connectionstatusdot.h"
#include "splitactionbutton.h"

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

// The connection indicator and the two-part window button.
class TestSmallWidgets : public QObject
{
    Q_OBJECT

private slots:
    void dotColours_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("unknown") << int(ConnectionStatusDot::Unknown) << QColor(0x95, 0xa5, 0xa6);
        QTest::newRow("checking") << int(ConnectionStatusDot::Checking) << QColor(0xf1, 0xc4, 0x0f);
        QTest::newRow("connected") << int(ConnectionStatusDot::Connected) << QColor(0x27, 0xae, 0x60);
        QTest::newRow("disconnected") << int(ConnectionStatusDot::Disconnected) << QColor(0xe7, 0x4c, 0x3c);
        QTest::newRow("out of range") << 9 << QColor(0x95, 0xa5, 0xa6);
    }

    void dotColours()
    {
        QFETCH(int, state);
        QFETCH(QColor, colour);
        ConnectionStatusDot dot;
        QCOMPARE(dot.size(), QSize(12, 12));
        QCOMPARE(dot.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        dot.setState(ConnectionStatusDot::State(state));
        QImage image(dot.size(), QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        dot.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        QCOMPARE(image.pixelColor(6, 6), colour);
        // A 10 x 10 circle at 1, 1: the corners stay empty.
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(image.pixelColor(11, 11).alpha(), 0);
    }

    void dotRepaintsOnlyOnChange()
    {
        ConnectionStatusDot dot;
        PaintCounter counter;
        dot.installEventFilter(&counter);
        dot.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dot));
        QTRY_VERIFY(counter.paints > 0);
        dot.setState(ConnectionStatusDot::Connected);
        const int afterChange = counter.paints;
        QTRY_VERIFY(counter.paints > afterChange);
        const int settled = counter.paints;
        dot.setState(ConnectionStatusDot::Connected);
        QCOMPARE(dot.currentState(), ConnectionStatusDot::Connected);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, settled);
    }

    void splitButton()
    {
        SplitActionButton button(QStringLiteral("Swarm"));
        QSignalSpy primary(&button, &SplitActionButton::primaryClicked);
        QSignalSpy secondary(&button, &SplitActionButton::secondaryClicked);
        auto* main = button.findChild<QPushButton*>(QStringLiteral("actionBtn"));
        auto* side = button.findChild<QPushButton*>(QStringLiteral("actionBtnSecondary"));
        QVERIFY(main && side);
        QCOMPARE(main->text(), QStringLiteral("Swarm"));
        QCOMPARE(side->width(), 28);
        QCOMPARE(main->minimumHeight(), 28);
        if (QIcon::hasThemeIcon(QStringLiteral("window-new"))) {
            QVERIFY(side->text().isEmpty());
            QVERIFY(!side->icon().isNull());
        } else {
            QCOMPARE(side->text(), QStringLiteral("\u2197"));
            QVERIFY(side->icon().isNull());
        }

        button.setPrimaryToolTip(QStringLiteral("Open as child window"));
        button.setSecondaryToolTip(QStringLiteral("Open in new window"));
        QCOMPARE(main->toolTip(), QStringLiteral("Open as child window"));
        QCOMPARE(side->toolTip(), QStringLiteral("Open in new window"));

        main->click();
        QCOMPARE(primary.size(), 1);
        QCOMPARE(secondary.size(), 0);
        side->click();
        QCOMPARE(primary.size(), 1);
        QCOMPARE(secondary.size(), 1);
    }
};

QTEST_MAIN(TestSmallWidgets)
#include "tst_smallwidgets.moc"
