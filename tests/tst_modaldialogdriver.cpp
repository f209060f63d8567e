#include "modaldialogdriver.h"

#include <QDir>
#include <QFileDialog>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The driver answers Qt's own file dialogs whatever has the focus, and a modal dialog that a test
// leaves unanswered fails that test instead of hanging it (the probe's functions do so on purpose).
class TestModalDialogDriver : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        ModalDialogDriver::prepareModalDialogs();
        QVERIFY(dir.isValid());
        startProbes();
    }

    void chooseFileInEveryKindOfDialog_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("chosen"); // relative to the temporary folder
        QTest::newRow("open an existing file") << QStringLiteral("open") << QStringLiteral("in/there.json");
        QTest::newRow("save a new file") << QStringLiteral("save") << QStringLiteral("in/new.json");
        QTest::newRow("choose a folder") << QStringLiteral("folder") << QStringLiteral("in/sub");
    }

    void chooseFileInEveryKindOfDialog()
    {
        QFETCH(QString, kind);
        QFETCH(QString, chosen);
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("in/sub")));
        QFile existing(dir.filePath(QStringLiteral("in/there.json")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();

        const QString path = dir.filePath(chosen);
        bool focusedName = false;
        ModalDialogDriver::answerNext([path, &focusedName](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            focusedName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->hasFocus();
            ModalDialogDriver::chooseFile(dialog, path);
        });
        // Opened in another folder than the chosen one, as a dialog that remembers its last folder is.
        QString result;
        if (kind == QLatin1String("open"))
            result = QFileDialog::getOpenFileName(nullptr, kind, QDir::homePath());
        else if (kind == QLatin1String("save"))
            result = QFileDialog::getSaveFileName(nullptr, kind, QDir::homePath());
        else
            result = QFileDialog::getExistingDirectory(nullptr, kind, QDir::homePath());
        QCOMPARE(result, path);
        QVERIFY(focusedName); // answered as a user finds it, the name field focused
    }

    void unansweredDialogsFailTheTest_data()
    {
        QTest::addColumn<QString>("reported"); // empty: the probe passes
        for (const ProbeCase& probeCase : probeCases())
            QTest::newRow(probeCase.name) << probeCase.reported;
    }

    void unansweredDialogsFailTheTest()
    {
        QFETCH(QString, reported);
        QProcess* probe = probes.value(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY2(probe->state() == QProcess::NotRunning || probe->waitForFinished(120000), "the probe hangs");
        const QString output = QString::fromUtf8(probe->readAll());
        QVERIFY2(probe->exitStatus() == QProcess::NormalExit, qPrintable(output));
        QVERIFY2((probe->exitCode() == 0) == reported.isEmpty(), qPrintable(output));
        QVERIFY2(output.contains(reported), qPrintable(output));
    }

private:
    struct ProbeCase {
        const char* name;
        QStringList functions;
        QString reported;
    };

    static QList<ProbeCase> probeCases()
    {
        return {
            { "answer leaves the box open", { QStringLiteral("answerLeavesTheBoxOpen") },
                QStringLiteral("QMessageBox 'Probe' (\"left open\") stayed open after its answer; rejected it") },
            { "selectFile into a focused dialog", { QStringLiteral("selectFileIntoAFocusedDialog") },
                QStringLiteral("QFileDialog 'Probe' stayed open after its answer; rejected it") },
            { "nobody answers the box", { QStringLiteral("nobodyAnswersTheBox") },
                QStringLiteral("QMessageBox 'Probe' (\"nobody answers\") was not answered; rejected it") },
            { "answer opens a box nobody answers", { QStringLiteral("answerOpensABoxNobodyAnswers") },
                QStringLiteral("File not found.") },
            { "a driver ends with its test",
                { QStringLiteral("armAndEnd"), QStringLiteral("nextTestAnswersItsOwnBox") }, QString() },
        };
    }

    // Each probe waits seconds for its guard; they run side by side, started at once.
    void startProbes()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const ProbeCase& probeCase : probeCases()) {
            auto* probe = new QProcess(this);
            probe->setProcessEnvironment(environment);
            probe->setProcessChannelMode(QProcess::MergedChannels);
            probe->start(QStringLiteral(VAXEL_MODAL_DIALOG_PROBE), probeCase.functions);
            probes.insert(QString::fromUtf8(probeCase.name), probe);
        }
    }

    QHash<QString, QProcess*> probes;
};

QTEST_MAIN(TestModalDialogDriver)
#include "tst_modaldialogdriver.moc"
