#include "gcdialog.h"

#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"

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

// Lines a list of the report shows at most: a text view of hundreds of thousands of lines takes
// seconds to build and lay out, and nobody reads that far.
constexpr qsizetype kListedLines = 10000;

void appendListed(QStringList& lines, const QStringList& items)
{
    const qsizetype shown = qMin(items.size(), kListedLines);
    for (qsizetype i = 0; i < shown; ++i)
        lines << QStringLiteral(" - %1").arg(items.at(i));
    if (items.size() > shown)
        lines << QStringLiteral("\u2026 and %1 more").arg(items.size() - shown);
}

QStringList repoGcLines(const QStringList& collectedCids, const QStringList& errors)
{
    QStringList lines;
    lines << QStringLiteral("[%1] /api/v0/repo/gc completed").arg(timestamp())
          << QStringLiteral("Collected entries: %1").arg(collectedCids.size())
          << QStringLiteral("Errors: %1").arg(errors.size()) << QString();
    if (!errors.isEmpty()) {
        lines << QStringLiteral("Errors:");
        appendListed(lines, errors);
        lines << QString();
    }
    if (collectedCids.isEmpty()) {
        lines << QStringLiteral("No collected CIDs returned.");
    } else {
        lines << QStringLiteral("Collected CIDs:");
        appendListed(lines, collectedCids);
    }
    return lines;
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
    showResult(repoStatLines(stat).join(QLatin1Char('\n')), text, text);
}

void GcDialog::onRepoStatFailed(const QString& message)
{
    showFailure(message, tr("Repo stats error: %1").arg(message));
}

void GcDialog::onRepoGcCompleted(const QStringList& collectedCids, const QStringList& errors)
{
    showResult(repoGcLines(collectedCids, errors).join(QLatin1Char('\n')), tr("GC completed"),
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
    outputEdit->clear();
    statusLabel->setText(statusText);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(statusBarText);
}

void GcDialog::showResult(const QString& report, const QString& statusText, const QString& statusBarText)
{
    setLoading(false);
    outputEdit->setPlainText(clipLongLines(report));
    statusLabel->setText(statusText);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(statusBarText);
    DialogSizing::requestRefit(this);
}

void GcDialog::showFailure(const QString& message, const QString& statusBarText)
{
    setLoading(false);
    outputEdit->setPlainText(clipLongLines(message));
    statusLabel->setText(message);
    statusLabel->setStyleSheet(errorTextStyle());
    emit statusMessageRequested(statusBarText);
    DialogSizing::requestRefit(this);
}
