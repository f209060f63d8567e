#include <QtTest>

#include "addtoipfsdialog.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "fakekubonode.h"
#include "mainwindowfixture.h"
#include "modaldialogdriver.h"
#include "remoteservicesdialog.h"
#include "testsettings.h"
#include "widgetlookup.h"
#include "windowtour.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolTip>
#include <QTreeView>

using namespace MainWindowFixture;

namespace {

// Markup as a node, a service nickname or a file name may carry it. Taken as markup, the image would
// be loaded from the application's resources and the word set in bold.
const QString kMarker = QStringLiteral("vaxel-probe");
const QString kMarkup = QStringLiteral("<img src=':/icons/app-icon.png'><b>vaxel-probe</b>");
const QString kCid = QStringLiteral("bafybeigdyrzt5sfp7udm7hu76uh7y26nf3efuylqabf3oclgtqy55fbzdi");

// What QLabel and QMessageBox do with a text: markup for rich text, and for automatic text whenever
// it looks like markup.
bool shownAsMarkup(Qt::TextFormat format, const QString& text)
{
    return format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
}

struct SeenBox {
    QString title;
    QString text;
    bool asMarkup = false;
};

// Notes every message box that opens while it lives and answers it: Yes where asked, else OK or Close.
class BoxRecorder : public QObject
{
public:
    QList<SeenBox> boxes;

    BoxRecorder()
    {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            boxes.append({ box->windowTitle(), box->text(), shownAsMarkup(box->textFormat(), box->text()) });
            for (const QMessageBox::StandardButton answer :
                { QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Close }) {
                if (QAbstractButton* button = box->button(answer)) {
                    button->click();
                    return;
                }
            }
            box->close();
        });
        timer.start();
    }

    QList<SeenBox> withMarker() const
    {
        QList<SeenBox> found;
        for (const SeenBox& box : boxes) {
            if (box.text.contains(kMarker))
                found.append(box);
        }
        return found;
    }

private:
    QTimer timer;
};

// The tool tip a widget shows when the pointer rests on it; empty when it shows none.
QString shownToolTip(QWidget* widget)
{
    QToolTip::hideText();
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), widget->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(widget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

} // namespace

// Texts that come from a node or a file name are shown as they stand in every window: as text, never
// as markup that could load images or links.
class TestNodeTextPlain : public QObject
{
    Q_OBJECT

    FakeKuboNode node;
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        silenceOffscreenPlatformWarnings();
        QVERIFY(node.start());
        QVERIFY(dir.isValid());
    }

    void cleanup()
    {
        QToolTip::hideText();
        deleteTopLevelDialogs();
        node.clearRoutes();
    }

    void everyLabelShowsNodeTextAsText()
    {
        WindowTour::failEveryCommand(node, kMarkup);
        node.route(QStringLiteral("/id"),
            FakeKuboNode::json(QJsonDocument(QJsonObject { { QStringLiteral("ID"), kMarkup },
                                                 { QStringLiteral("AgentVersion"), kMarkup } })
                                   .toJson(QJsonDocument::Compact)));
        auto main = openMainWindow(node);
        const QList<WindowTour::Window> windows = WindowTour::openEveryWindow(*main, kCid);
        QVERIFY(!windows.isEmpty());

        // Where the node's text reaches a label; every other window is walked all the same.
        const QStringList reached { QStringLiteral("main window"), QStringLiteral("ConfigDialog"),
            QStringLiteral("RemoteServicesDialog"), QStringLiteral("GcDialog"), QStringLiteral("SwarmDialog"),
            QStringLiteral("DhtStatsDialog"), QStringLiteral("AddToIpfsDialog"),
            QStringLiteral("PinContentsDialog") };
        // (The indirect pins list shows failures in its list, and the other windows only texts of
        // their own.)
        QStringList reachedHere;
        for (const WindowTour::Window& window : windows) {
            QVERIFY2(window.widget, qPrintable(window.name));
            const QList<QLabel*> labels = window.widget->findChildren<QLabel*>();
            for (QLabel* label : labels) {
                if (label->window() != window.widget || !label->text().contains(kMarker))
                    continue;
                if (!reachedHere.contains(window.name))
                    reachedHere.append(window.name);
                QVERIFY2(!shownAsMarkup(label->textFormat(), label->text()),
                    qPrintable(QStringLiteral("%1: %2").arg(window.name, label->objectName())));
            }
        }
        for (const QString& name : reached)
            QVERIFY2(reachedHere.contains(name), qPrintable(name));

        // A text cut short is whole in the tool tip, which takes markup whenever a text looks like it:
        // there the node's text goes in escaped.
        int shown = 0;
        const QList<ElidedLabel*> elided = main->findChildren<ElidedLabel*>();
        for (ElidedLabel* label : elided) {
            if (!label->text().contains(kMarker))
                continue;
            label->setText(label->text() + QString(400, u'x')); // longer than any window
            const QString tip = shownToolTip(label);
            if (!tip.contains(kMarker))
                continue;
            ++shown;
            QVERIFY2(!tip.contains(QStringLiteral("<b>")), qPrintable(tip));
            QVERIFY2(tip.contains(QStringLiteral("&lt;b&gt;")), qPrintable(tip));
        }
        QVERIFY2(shown >= 6, qPrintable(QString::number(shown)));
    }

    void messageBoxesShowNodeTextAsText()
    {
        WindowTour::failEveryCommand(node, kMarkup);
        node.route(QStringLiteral("/pin/ls"), FakeKuboNode::held());
        const QJsonObject service { { QStringLiteral("Service"), kMarkup },
            { QStringLiteral("ApiEndpoint"), QStringLiteral("https://pins.invalid/") + kMarkup } };
        node.route(QStringLiteral("/pin/remote/service/ls"),
            FakeKuboNode::json(
                QJsonDocument(QJsonObject { { QStringLiteral("RemoteServices"), QJsonArray { service } } })
                    .toJson(QJsonDocument::Compact)));
        auto main = openMainWindow(node);
        BoxRecorder recorder;

        // The remote services window: a test, a save and a removal of the node's service all fail.
        main->showRemoteServicesDialog(MainWindow::ChildWindow);
        auto* services = main->findChild<RemoteServicesDialog*>();
        QVERIFY(services);
        auto* nickname = services->findChild<QLineEdit*>(QStringLiteral("nicknameEdit"));
        QTRY_COMPARE(nickname->text(), kMarkup);
        services->findChild<QLineEdit*>(QStringLiteral("tokenEdit"))->setText(QStringLiteral("secret"));
        // The removal asks first, then tells how it failed.
        const QList<QPair<const char*, int>> presses { { "testButton", 1 }, { "saveButton", 1 },
            { "removeButton", 2 } };
        for (const auto& [button, boxes] : presses) {
            const int before = recorder.boxes.size();
            auto* press = services->findChild<QPushButton*>(QString::fromLatin1(button));
            QTRY_VERIFY(press->isEnabled());
            services->findChild<QLineEdit*>(QStringLiteral("tokenEdit"))->setText(QStringLiteral("secret"));
            press->click();
            QTRY_VERIFY2(recorder.boxes.size() == before + boxes, button);
        }

        // The add flow: a failed add, then one of a file whose name is markup, to which the node answers
        // with markup for its CID.
        const QString markupFile = dir.filePath(QStringLiteral("<b>vaxel-probe.txt"));
        {
            QFile file(markupFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("probe");
        }
        QAction* addAction = nullptr;
        for (QAction* action : main->findChildren<QAction*>()) {
            if (action->text() == QStringLiteral("Add to &IPFS\u2026"))
                addAction = action;
        }
        QVERIFY(addAction);
        const QByteArray addedLine
            = QJsonDocument(
                  QJsonObject { { QStringLiteral("Name"), markupFile.section(u'/', -1) },
                      { QStringLiteral("Hash"), kMarkup }, { QStringLiteral("Size"), QStringLiteral("5") } })
                  .toJson(QJsonDocument::Compact)
            + '\n';
        for (const FakeKuboNode::Response& answer :
            { WindowTour::nodeFailure(kMarkup), FakeKuboNode::json(addedLine) }) {
            node.route(QStringLiteral("/add"), answer);
            const int before = recorder.boxes.size();
            ModalDialogDriver::answerNext([markupFile](QWidget* modal) {
                auto* dialog = qobject_cast<AddToIpfsDialog*>(modal);
                QVERIFY(dialog);
                auto* view = dialog->findChild<QTreeView*>(QStringLiteral("browserView"));
                auto* model = qobject_cast<QFileSystemModel*>(view->model());
                QTRY_VERIFY(model->index(markupFile).isValid());
                view->selectionModel()->select(
                    model->index(markupFile), QItemSelectionModel::Select | QItemSelectionModel::Rows);
                childWithText<QPushButton>(dialog, QStringLiteral("Add selected"))->click();
                childWithText<QCheckBox>(dialog, QStringLiteral("Wrap with directory"))->setChecked(false);
                dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
            });
            addAction->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(recorder.boxes.size() > before, 20000);
        }

        const QList<SeenBox> boxes = recorder.withMarker();
        QStringList titles;
        for (const SeenBox& box : boxes) {
            titles.append(box.title);
            QVERIFY2(!box.asMarkup, qPrintable(box.title + QStringLiteral(": ") + box.text));
        }
        // Test, save, the question before the removal, the removal, the failed add, the add's result.
        QCOMPARE(titles,
            (QStringList { QStringLiteral("Remote services"), QStringLiteral("Remote services"),
                QStringLiteral("Remove remote service"), QStringLiteral("Remote services"),
                QStringLiteral("Add to IPFS failed"), QStringLiteral("Add to IPFS") }));
    }
};

QTEST_MAIN(TestNodeTextPlain)
#include "tst_nodetextplain.moc"
