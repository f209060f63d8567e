#include "gcdialog.h"

#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"
#include "textfeeder.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QVariant>

namespace {

const QLatin1String kTimeFormat("yyyy-MM-dd hh:mm:ss");
const QString kNoValue = QStringLiteral("\u2014");

QString timestamp()
{
    return QDateTime::currentDateTime().toString(kTimeFormat);
}

// "1.5 KiB (1536 B)", or a dash for a negative count.
QString sizeWithBytes(qint64 bytes)
{
    if (bytes < 0)
        return kNoValue;
    return QStringLiteral("%1 (%2 B)").arg(GcDialog::formatBytes(bytes), QString::number(bytes));
}

// A node without a storage limit reports 2^64 - 1, which JSON readers keep as a double: casting
// that to 64 bits is undefined and gives different numbers on different processors.
bool beyond64Bits(const QVariant& value)
{
    if (value.typeId() != QMetaType::Double)
        return false;
    const double number = value.toDouble();
    return !(number >= -0x1p63 && number < 0x1p63);
}

// The count or size in a member; missing is 0, a number beyond 64 bits is unknown (-1).
qint64 countOf(const QJsonObject& stat, QLatin1String member)
{
    const QVariant value = stat.value(member).toVariant();
    return beyond64Bits(value) ? -1 : value.toLongLong();
}

QStringList repoStatLines(const QJsonObject& stat)
{
    QStringList lines;
    lines << QStringLiteral("[%1] /api/v0/repo/stat").arg(timestamp());

    // A node may report the limit as text (e.g. "10GB"); it is shown as given, ahead of the numbers.
    // A limit beyond 64 bits means none is set, and gets no line.
    qint64 storageMax = -1;
    const QVariant storageMaxValue = stat.value(QLatin1String("StorageMax")).toVariant();
    if (!beyond64Bits(storageMaxValue)) {
        bool isNumber = false;
        const qint64 number = storageMaxValue.toLongLong(&isNumber);
        if (isNumber)
            storageMax = number;
        else if (storageMaxValue.canConvert<QString>())
            lines << QStringLiteral("StorageMax: %1").arg(storageMaxValue.toString());
    }

    const qint64 numObjects = countOf(stat, QLatin1String("NumObjects"));
    lines << QStringLiteral("NumObjects: %1").arg(numObjects < 0 ? kNoValue : QString::number(numObjects));
    lines << QStringLiteral("RepoSize: %1").arg(sizeWithBytes(countOf(stat, QLatin1String("RepoSize"))));
    if (storageMax >= 0)
        lines << QStringLiteral("StorageMax: %1").arg(sizeWithBytes(storageMax));

    const QString repoPath = stat.value(QLatin1String("RepoPath")).toString();
    if (!repoPath.isEmpty())
        lines << QStringLiteral("RepoPath: %1").arg(repoPath);
    const QString version = stat.value(QLatin1String("Version")).toString();
    if (!version.isEmpty())
        lines << QStringLiteral("Version: %1").arg(version);
    return lines;
}

// A report in parts, each a few lines of its own or a list shown as " - item" lines: a collection
// can remove hundreds of thousands of blocks, and their lines are made only as they go in.
struct ReportPart {
    QStringList lines;
    bool listed = false;
};

QList<ReportPart> repoGcReport(const QStringList& collectedCids, const QStringList& errors)
{
    QList<ReportPart> parts;
    parts.append({ { QStringLiteral("[%1] /api/v0/repo/gc completed").arg(timestamp()),
        QStringLiteral("Collected entries: %1").arg(collectedCids.size()),
        QStringLiteral("Errors: %1").arg(errors.size()), QString() } });
    if (!errors.isEmpty()) {
        parts.append({ { QStringLiteral("Errors:") } });
        parts.append({ errors, true });
        parts.append({ { QString() } });
    }
    if (collectedCids.isEmpty()) {
        parts.append({ { QStringLiteral("No collected CIDs returned.") } });
    } else {
        parts.append({ { QStringLiteral("Collected CIDs:") } });
        parts.append({ collectedCids, true });
    }
    return parts;
}

qsizetype lineCount(const QList<ReportPart>& parts)
{
    qsizetype count = 0;
    for (const ReportPart& part : parts)
        count += part.lines.size();
    return count;
}

// Lines are asked for in order: the part of the last line asked for is where the next one is.
TextFeeder::LineSource reportLines(const QList<ReportPart>& parts)
{
    return [parts, part = qsizetype(0), partStart = qsizetype(0)](qsizetype index) mutable {
        if (index < partStart) {
            part = 0;
            partStart = 0;
        }
        while (index - partStart >= parts.at(part).lines.size())
            partStart += parts.at(part++).lines.size();
        const QString& line = parts.at(part).lines.at(index - partStart);
        return parts.at(part).listed ? QStringLiteral(" - ") + line : line;
    };
}

} // namespace

GcDialog::GcDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(tr("Repo stats"));

    statusLabel = new ElidedLabel(tr("Repo stats"), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setStyleSheet(hintTextStyle());
    repoStatsButton = new QPushButton(tr("Repo stats"), this);
    repoStatsButton->setObjectName(QStringLiteral("repoStatsButton"));
    runGcButton = new QPushButton(tr("Run garbage collection"), this);
    runGcButton->setObjectName(QStringLiteral("runGcButton"));
    outputEdit = new QTextEdit(this);
    outputEdit->setObjectName(QStringLiteral("outputEdit"));
    outputEdit->setReadOnly(true);
    outputEdit->setAcceptRichText(false);
    reportFeeder = new TextFeeder(outputEdit->document(), TextFeeder::LongLines::Clip, this);
    connect(reportFeeder, &TextFeeder::finished, this, &GcDialog::onReportShown);

    auto* topRow = new QHBoxLayout;
    topRow->addWidget(statusLabel, 1);
    topRow->addStretch();
    topRow->addWidget(repoStatsButton);
    topRow->addWidget(runGcButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(topRow);
    layout->addWidget(outputEdit);

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/GcDialog");
    sizing.minimumSize = QSize(560, 360);
    sizing.preferredSize = QSize(860, 560);
    sizing.maxScreenWidthFraction = 0.6;
    sizing.maxScreenHeightFraction = 0.6;
    DialogSizing::attach(this, sizing);

    connect(repoStatsButton, &QPushButton::clicked, this, &GcDialog::onRepoStatsClicked);
    connect(runGcButton, &QPushButton::clicked, this, &GcDialog::onRunGcClicked);
    if (client) {
        connect(client, &IpfsClient::repoStatReceived, this, &GcDialog::onRepoStatReceived);
        connect(client, &IpfsClient::repoStatFailed, this, &GcDialog::onRepoStatFailed);
        connect(client, &IpfsClient::repoGcCompleted, this, &GcDialog::onRepoGcCompleted);
        connect(client, &IpfsClient::repoGcFailed, this, &GcDialog::onRepoGcFailed);
    }
}

void GcDialog::setLoading(bool loading)
{
    repoStatsButton->setEnabled(!loading);
    runGcButton->setEnabled(!loading);
}

QString GcDialog::formatBytes(qint64 bytes)
{
    if (bytes < 0)
        return {};
    constexpr qint64 kib = 1024;
    constexpr qint64 mib = kib * 1024;
    constexpr qint64 gib = mib * 1024;
    const double value = static_cast<double>(static_cast<quint64>(bytes));
    if (bytes < kib)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < mib)
        return QStringLiteral("%1 KiB").arg(value / kib, 0, 'f', 1);
    if (bytes < gib)
        return QStringLiteral("%1 MiB").arg(value / mib, 0, 'f', 1);
    return QStringLiteral("%1 GiB").arg(value / gib, 0, 'f', 1);
}

void GcDialog::onRepoStatsClicked()
{
    startRequest(tr("Loading repo stats..."), tr("Fetching repo stats..."));
    if (client)
        client->fetchRepoStat();
}

void GcDialog::onRunGcClicked()
{
    startRequest(tr("Running GC..."), tr("Running repo garbage collection..."));
    if (client)
        client->runRepoGc();
}

void GcDialog::onRepoStatReceived(const QJsonObject& stat)
{
    const QString text = tr("Repo stats loaded");
    const QStringList lines = repoStatLines(stat);
    showResult(lines.size(), [lines](qsizetype index) { return lines.at(index); }, text, text);
}

void GcDialog::onRepoStatFailed(const QString& message)
{
    showFailure(message, tr("Repo stats error: %1").arg(message));
}

void GcDialog::onRepoGcCompleted(const QStringList& collectedCids, const QStringList& errors)
{
    const QList<ReportPart> report = repoGcReport(collectedCids, errors);
    showResult(lineCount(report), reportLines(report), tr("GC completed"),
        tr("Repo GC finished: %1 collected, %2 errors").arg(collectedCids.size()).arg(errors.size()));
}

void GcDialog::onRepoGcFailed(const QString& message)
{
    showFailure(message, tr("Repo GC error: %1").arg(message));
}

void GcDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Only the first showing loads; later ones keep the last report.
    if (outputEdit->toPlainText().trimmed().isEmpty())
        onRepoStatsClicked();
}

void GcDialog::startRequest(const QString& statusText, const QString& statusBarText)
{
    setLoading(true);
    reportFeeder->stop();
    outputEdit->clear();
    statusLabel->setText(statusText);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(statusBarText);
}

void GcDialog::showResult(qsizetype lineCount, const std::function<QString(qsizetype)>& lineAt,
    const QString& statusText, const QString& statusBarText)
{
    reportStatusText = statusText;
    reportStatusBarText = statusBarText;
    reportFeeder->stop();
    outputEdit->clear();
    reportFeeder->start(lineCount, lineAt);
}

void GcDialog::onReportShown()
{
    setLoading(false);
    statusLabel->setText(reportStatusText);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(reportStatusBarText);
    DialogSizing::requestRefit(this);
}

void GcDialog::showFailure(const QString& message, const QString& statusBarText)
{
    reportFeeder->stop();
    setLoading(false);
    outputEdit->setPlainText(clipLongLines(message));
    statusLabel->setText(message);
    statusLabel->setStyleSheet(errorTextStyle());
    emit statusMessageRequested(statusBarText);
    DialogSizing::requestRefit(this);
}
