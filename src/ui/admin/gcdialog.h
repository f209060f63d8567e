#pragma once

#include <QDialog>
#include <QJsonObject>
#include <QStringList>

#include <functional>

class IpfsClient;
class QLabel;
class QPushButton;
class QTextEdit;
class TextFeeder;

// The "Repo stats" window: the repository statistics as a short report, and garbage collection
// with the CIDs it removed and the errors it reported.
class GcDialog : public QDialog
{
    Q_OBJECT

public:
    explicit GcDialog(IpfsClient* client, QWidget* parent = nullptr);

    void setLoading(bool loading);
    static QString formatBytes(qint64 bytes);

signals:
    void statusMessageRequested(const QString& message);

public slots:
    void onRepoStatsClicked();
    void onRunGcClicked();
    void onRepoStatReceived(const QJsonObject& stat);
    void onRepoStatFailed(const QString& message);
    void onRepoGcCompleted(const QStringList& collectedCids, const QStringList& errors);
    void onRepoGcFailed(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startRequest(const QString& statusText, const QString& statusBarText);
    // The report's lines are made as they go in (see TextFeeder).
    void showResult(qsizetype lineCount, const std::function<QString(qsizetype)>& lineAt,
        const QString& statusText, const QString& statusBarText);
    void onReportShown();
    void showFailure(const QString& message, const QString& statusBarText);

    IpfsClient* client = nullptr;
    QPushButton* repoStatsButton = nullptr;
    QPushButton* runGcButton = nullptr;
    QLabel* statusLabel = nullptr;
    QTextEdit* outputEdit = nullptr;
    // A collection can list hundreds of thousands of CIDs: the report goes in a slice at a time,
    // and the window says it is done once the last line is in.
    TextFeeder* reportFeeder = nullptr;
    QString reportStatusText;
    QString reportStatusBarText;
};
