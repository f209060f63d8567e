#include <QtTest>

#include "applicationsetup.h"
#include "displaytext.h"
#include "fakekubonode.h"
#include "mainwindowfixture.h"
#include "testsettings.h"
#include "windowtour.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <cmath>

using namespace MainWindowFixture;

namespace {

// WCAG 2's contrast ratio, from the relative luminance of two opaque sRGB colours.
double luminance(const QColor& colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF())
        + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double lighter = qMax(luminance(a), luminance(b));
    const double darker = qMin(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

// A colour with alpha as it shows over an opaque background.
QColor over(const QColor& colour, const QColor& background)
{
    const double alpha = colour.alphaF();
    return QColor::fromRgbF(float(alpha * colour.redF() + (1 - alpha) * background.redF()),
        float(alpha * colour.greenF() + (1 - alpha) * background.greenF()),
        float(alpha * colour.blueF() + (1 - alpha) * background.blueF()));
}

// The colours a widget's text is drawn in, style sheet included, and the colour behind it.
struct TextColours {
    QColor text;
    QColor background;
    double ratio() const { return contrast(over(text, background), background); }
};

TextColours labelColours(QLabel* label)
{
    label->ensurePolished();
    const QPalette palette = label->palette();
    return { palette.color(label->foregroundRole()), palette.color(label->backgroundRole()) };
}

TextColours placeholderColours(QWidget* field)
{
    field->ensurePolished();
    const QPalette palette = field->palette();
    return { palette.color(QPalette::PlaceholderText), palette.color(QPalette::Base) };
}

constexpr double kReadable = 4.5; // WCAG AA for text of normal size

const QString kMessage = QStringLiteral("the node could not do it");

} // namespace

// On the dark palette every text of every window, errors, hints and placeholders included, reads
// at 4.5:1 or more against what lies behind it.
class TestDarkContrast : public QObject
{
    Q_OBJECT

    FakeKuboNode node;

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        silenceOffscreenPlatformWarnings();
        QVERIFY(applyDarkLook(QStringLiteral("Fusion")));
        QVERIFY(node.start());
    }

    void cleanup() { deleteTopLevelDialogs(); }

    void statusLooks_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<bool>("red");
        QTest::newRow("hint") << hintTextStyle() << false;
        QTest::newRow("error") << errorTextStyle() << true;
    }

    void statusLooks()
    {
        QFETCH(QString, style);
        QFETCH(bool, red);
        QWidget window;
        auto* label = new QLabel(QStringLiteral("Status"), &window);
        label->setStyleSheet(style);
        const TextColours colours = labelColours(label);
        QCOMPARE(colours.background, darkPalette().color(QPalette::Window));
        QVERIFY2(colours.ratio() >= kReadable, qPrintable(QString::number(colours.ratio())));
        // The look keeps its meaning: an error is red, a hint grey.
        const QColor text = colours.text;
        if (red)
            QVERIFY(text.red() > 200 && text.red() > text.green() + 80 && text.red() > text.blue() + 80);
        else
            QVERIFY(text.red() == text.green() && text.green() == text.blue());
    }

    void everyWindowReads()
    {
        WindowTour::failEveryCommand(node, kMessage);
        auto main = openMainWindow(node);
        const QList<WindowTour::Window> windows = WindowTour::openEveryWindow(
            *main, QStringLiteral("bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi"));
        QVERIFY(!windows.isEmpty());

        int errorLines = 0;
        int placeholders = 0;
        for (const WindowTour::Window& window : windows) {
            QVERIFY2(window.widget, qPrintable(window.name));
            const QList<QLabel*> labels = window.widget->findChildren<QLabel*>();
            for (QLabel* label : labels) {
                // Disabled texts are exempt, as WCAG has it.
                if (label->window() != window.widget || !label->isVisibleTo(window.widget)
                    || !label->isEnabled() || label->text().isEmpty())
                    continue;
                if (label->styleSheet() == errorTextStyle())
                    ++errorLines;
                const TextColours colours = labelColours(label);
                QVERIFY2(colours.ratio() >= kReadable,
                    qPrintable(
                        QStringLiteral("%1: \"%2\" %3 on %4 is %5:1")
                            .arg(window.name, label->text().left(60), colours.text.name(QColor::HexArgb),
                                colours.background.name(), QString::number(colours.ratio(), 'f', 2))));
            }
            QList<QWidget*> fields;
            for (QLineEdit* edit : window.widget->findChildren<QLineEdit*>()) {
                if (!edit->placeholderText().isEmpty())
                    fields.append(edit);
            }
            for (QPlainTextEdit* edit : window.widget->findChildren<QPlainTextEdit*>()) {
                if (!edit->placeholderText().isEmpty())
                    fields.append(edit);
            }
            for (QTextEdit* edit : window.widget->findChildren<QTextEdit*>()) {
                if (!edit->placeholderText().isEmpty())
                    fields.append(edit);
            }
            for (QWidget* field : std::as_const(fields)) {
                ++placeholders;
                const TextColours colours = placeholderColours(field);
                QVERIFY2(colours.ratio() >= kReadable,
                    qPrintable(QStringLiteral("%1: placeholder of %2 %3 on %4 is %5:1")
                                   .arg(window.name, field->objectName(), colours.text.name(QColor::HexArgb),
                                       colours.background.name(), QString::number(colours.ratio(), 'f', 2))));
            }
        }
        // The walk saw the failures it is about: the windows' error lines and their placeholders.
        QVERIFY2(errorLines >= 6, qPrintable(QString::number(errorLines)));
        QVERIFY2(placeholders >= 10, qPrintable(QString::number(placeholders)));
    }
};

QTEST_MAIN(TestDarkContrast)
#include "tst_darkcontrast.moc"
