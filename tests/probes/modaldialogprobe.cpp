// Test functions that misuse modal dialogs on purpose, run one by one by tst_modaldialogdriver,
// which checks that each ends with a failure instead of hanging. Not a test of its own.
#include "modaldialogdriver.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

class ModalDialogProbe : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString existingFile()
    {
        const QString path = dir.filePath(QStringLiteral("there.json"));
        QFile file(path);
        if (!file.exists() && file.open(QIODevice::WriteOnly))
            file.write("[]");
        return path;
    }

private slots:
    void initTestCase()
    {
        ModalDialogDriver::prepareModalDialogs();
        QVERIFY(dir.isValid());
    }

    void answerLeavesTheBoxOpen()
    {
        ModalDialogDriver::answerNext([](QWidget*) {});
        QMessageBox::information(nullptr, QStringLiteral("Probe"), QStringLiteral("left open"));
    }

    // selectFile() leaves a focused name field empty, so accept() has nothing to accept.
    void selectFileIntoAFocusedDialog()
    {
        const QString path = existingFile();
        ModalDialogDriver::answerNext([path](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept();
        });
        QCOMPARE(QFileDialog::getOpenFileName(nullptr, QStringLiteral("Probe")), path);
    }

    void nobodyAnswersTheBox()
    {
        QMessageBox::warning(nullptr, QStringLiteral("Probe"), QStringLiteral("nobody answers"));
    }

    // The file dialog's own "File not found" box opens inside the answer.
    void answerOpensABoxNobodyAnswers()
    {
        const QString missing = dir.filePath(QStringLiteral("missing.json"));
        ModalDialogDriver::answerNext([missing](QWidget* modal) {
            ModalDialogDriver::chooseFile(qobject_cast<QFileDialog*>(modal), missing);
        });
        QFileDialog::getOpenFileName(nullptr, QStringLiteral("Probe"));
    }

    // Run together: a driver whose test ended without its dialog leaves the next test's alone.
    void armAndEnd()
    {
        ModalDialogDriver::answerNext(
            [](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click(); });
    }
    void nextTestAnswersItsOwnBox()
    {
        ModalDialogDriver::answerNext(
            [](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click(); });
        QCOMPARE(QMessageBox::question(nullptr, QStringLiteral("Probe"), QStringLiteral("which driver?")),
            QMessageBox::Yes);
    }
};

QTEST_MAIN(ModalDialogProbe)
#include "modaldialogprobe.moc"
