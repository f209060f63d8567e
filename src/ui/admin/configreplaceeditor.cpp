#include "configreplaceeditor.h"

#include "dialogsizing.h"

#include <QDialogButtonBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The config as indented JSON, in a form the text editor keeps unchanged. The editor breaks the
// text into lines at these characters; they occur only inside strings, where the JSON escape
// stands for the same character.
QString editableJson(const QJsonObject& config)
{
    QString text = QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Indented));
    for (const char16_t lineBreaking : { u'\u2028', u'\u2029', u'\ufdd0', u'\ufdd1' })
        text.replace(
            QChar(lineBreaking), QStringLiteral("\\u%1").arg(uint(lineBreaking), 4, 16, QLatin1Char('0')));
    return text;
}

} // namespace

ConfigReplaceEditor::ConfigReplaceEditor(const QJsonObject& config, const QSize& ownerSize, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Replace Kubo config"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    auto* hint = new QLabel(
        QStringLiteral("Paste full config JSON. This will replace the entire Kubo config file."), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    editor = new QPlainTextEdit(this);
    editor->setObjectName(QStringLiteral("configEditor"));
    editor->setPlainText(editableJson(config));
    layout->addWidget(editor, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Replace"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/ConfigDialog/ReplaceEditor");
    sizing.minimumSize = QSize(520, 360);
    sizing.preferredSize
        = QSize(std::max(640, int(0.8 * ownerSize.width())), std::max(420, int(0.8 * ownerSize.height())));
    sizing.maxScreenWidthFraction = 0.8;
    sizing.maxScreenHeightFraction = 0.8;
    DialogSizing::attach(this, sizing);
}

QString ConfigReplaceEditor::text() const
{
    // The lines as they stand: the editor's plain text would turn a no-break space into a blank.
    QStringList lines;
    for (QTextBlock block = editor->document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    QString text = lines.join(QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n')); // Shift+Enter
    return text;
}
