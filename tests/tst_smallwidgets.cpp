#include <QtTest>

#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QPushButton>
#include <QToolTip>

#include "connectionstatusdot.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "mainwindowfixture.h"
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

// The tool tip a widget shows when the pointer rests on it; empty when it shows none.
QString shownToolTip(QWidget* widget)
{
    QToolTip::hideText();
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// Pixels of the image near this colour: where text of that colour was drawn.
int pixelsNear(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green())
                    + qAbs(pixel.blue() - colour.blue())
                < 60)
                ++count;
        }
    }
    return count;
}

} // namespace

// The connection indicator, the two-part window button and the label for texts of any length.
class TestSmallWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MainWindowFixture::silenceOffscreenPlatformWarnings(); }

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

    void elidedLabel_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: cut, ending with "…"
        const QString longText = QStringLiteral("Failed to load: ") + QString(300, u'x');
        QTest::newRow("fits") << QStringLiteral("Loaded 3 keys") << QStringLiteral("Loaded 3 keys");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("line breaks become blanks")
            << QStringLiteral("first\nsecond") << QStringLiteral("first second");
        QTest::newRow("markup stays text") << QStringLiteral("<b>bold</b>") << QStringLiteral("<b>bold</b>");
        QTest::newRow("one long word") << longText << QString();
        QTest::newRow("a megabyte") << QString(1 << 20, u'y') << QString();
        QTest::newRow("many lines") << QStringLiteral("line\n").repeated(5000) << QString();
    }

    void elidedLabel()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        // A status row as the windows have it: the label, room to spare, a button.
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* label = new ElidedLabel(QStringLiteral("Click Refresh"), &window);
        row->addWidget(label, 1);
        row->addStretch();
        row->addWidget(new QPushButton(QStringLiteral("Refresh"), &window));
        window.resize(400, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize windowSize = window.size();
        const QSize shortHint = window.sizeHint();
        const QSize shortMinimum = window.minimumSizeHint();

        label->setText(text);
        QCoreApplication::processEvents();
        QCOMPARE(label->text(), text);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        const ElidedLine line = label->shownLine();
        if (shown.isEmpty() && !text.isEmpty()) {
            QVERIFY(line.cut);
            QVERIFY2(line.text.endsWith(QChar(0x2026)), qPrintable(line.text));
            QVERIFY(label->fontMetrics().horizontalAdvance(line.text) <= label->contentsRect().width());
            QCOMPARE(shownToolTip(label), plainToolTip(text));
        } else {
            QVERIFY(!line.cut);
            QCOMPARE(line.text, shown);
            QVERIFY(shownToolTip(label).isEmpty());
        }
        // However long the text, the window keeps its size and asks for no more room than before
        // beyond a few dozen characters.
        QCOMPARE(window.size(), windowSize);
        QCOMPARE(window.minimumSizeHint(), shortMinimum);
        QVERIFY(
            window.sizeHint().width() <= shortHint.width() + 40 * label->fontMetrics().averageCharWidth());
        QVERIFY(window.sizeHint().width() <= 600);
        QToolTip::hideText();
    }

    void elidedLabelDrawsInItsStyleColour_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("fits") << QStringLiteral("MMMM");
        QTest::newRow("cut") << QString(300, u'M');
    }

    void elidedLabelDrawsInItsStyleColour()
    {
        QFETCH(QString, text);
        ElidedLabel label(text);
        label.setStyleSheet(QStringLiteral("color: #ff0000; background: #000000;"));
        label.resize(200, label.sizeHint().height());
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        const QImage image = label.grab().toImage();
        QVERIFY(pixelsNear(image, Qt::red) > 20);
        QCOMPARE(pixelsNear(image, Qt::white), 0);
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
