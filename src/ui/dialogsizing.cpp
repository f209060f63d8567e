#include "dialogsizing.h"

#include "appsettings.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QLayout>
#include <QScreen>
#include <QTimer>

#include <cmath>

namespace {

QString geometryKey(const QString& settingsKey)
{
    return settingsKey + QStringLiteral("/geometry");
}

bool isEmptySize(const QSize& size)
{
    return size.width() <= 0 || size.height() <= 0;
}

// One per attached dialog; a child of it, so it dies with it.
class DialogSizingController : public QObject
{
public:
    DialogSizingController(QDialog* dialog, const QString& key, const DialogSizing::Options& options);
    ~DialogSizingController() override;

    bool eventFilter(QObject* object, QEvent* event) override;

    bool isFrozen() const { return geometryRestored || userResized; }
    bool isRefitPending() const { return refitPending; }
    void scheduleRefit();

private:
    void restoreOrFit();
    void applyBestSize();
    void saveGeometry();

    QDialog* dialog;
    DialogSizing::Options options; // settingsKey holds the resolved key
    bool shownOnce = false;
    bool refitPending = false;
    bool geometryRestored = false;
    bool userResized = false;
    bool applyingSize = false;
};

QHash<QDialog*, DialogSizingController*>& controllers()
{
    static QHash<QDialog*, DialogSizingController*> registry;
    return registry;
}

DialogSizingController::DialogSizingController(
    QDialog* dialog, const QString& key, const DialogSizing::Options& options)
    : QObject(dialog)
    , dialog(dialog)
    , options(options)
{
    this->options.settingsKey = key;
}

DialogSizingController::~DialogSizingController()
{
    auto it = controllers().find(dialog);
    if (it != controllers().end() && it.value() == this)
        controllers().erase(it);
}

bool DialogSizingController::eventFilter(QObject* object, QEvent* event)
{
    if (object != dialog)
        return QObject::eventFilter(object, event);

    switch (event->type()) {
    case QEvent::Resize:
        if (!applyingSize && dialog->isVisible() && shownOnce)
            userResized = true;
        break;
    case QEvent::Show:
        if (!shownOnce) {
            shownOnce = true;
            restoreOrFit();
        }
        break;
    case QEvent::Close:
        saveGeometry();
        break;
    case QEvent::Hide:
        // accept(), reject() and done() hide the dialog without a Close event.
        if (!event->spontaneous())
            saveGeometry();
        break;
    case QEvent::LayoutRequest:
        if (dialog->isVisible() && !isFrozen() && !refitPending)
            scheduleRefit();
        break;
    default:
        break;
    }
    return QObject::eventFilter(object, event);
}

void DialogSizingController::scheduleRefit()
{
    refitPending = true;
    QTimer::singleShot(0, dialog, [this] {
        refitPending = false;
        if (dialog->isVisible() && !isFrozen())
            applyBestSize();
    });
}

void DialogSizingController::restoreOrFit()
{
    if (options.persistGeometry && !options.settingsKey.trimmed().isEmpty()) {
        const QByteArray saved = appSettings().value(geometryKey(options.settingsKey)).toByteArray();
        if (!saved.isEmpty() && dialog->restoreGeometry(saved)) {
            geometryRestored = true;
            return;
        }
    }
    applyBestSize();
    // Fit again once the first layout pass has settled.
    if (!refitPending)
        scheduleRefit();
}

void DialogSizingController::applyBestSize()
{
    if (QLayout* layout = dialog->layout())
        layout->activate();

    QScreen* screen = dialog->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();

    const QSize size = DialogSizing::bestSize(dialog->sizeHint(), options, available);
    if (isEmptySize(size))
        return;
    applyingSize = true;
    dialog->resize(size);
    applyingSize = false;
}

void DialogSizingController::saveGeometry()
{
    if (options.persistGeometry && !options.settingsKey.trimmed().isEmpty())
        appSettings().setValue(geometryKey(options.settingsKey), dialog->saveGeometry());
}

} // namespace

void DialogSizing::attach(QDialog* dialog, const Options& options)
{
    if (!dialog || controllers().contains(dialog))
        return;

    const QString key = options.settingsKey.trimmed().isEmpty()
        ? QStringLiteral("Dialogs/%1").arg(QLatin1String(dialog->metaObject()->className()))
        : options.settingsKey;
    auto* controller = new DialogSizingController(dialog, key, options);
    controllers().insert(dialog, controller);

    if (options.minimumSize.width() >= 0 && options.minimumSize.height() >= 0)
        dialog->setMinimumSize(options.minimumSize);
    dialog->installEventFilter(controller);
}

void DialogSizing::requestRefit(QDialog* dialog)
{
    if (!dialog)
        return;
    DialogSizingController* controller = controllers().value(dialog);
    if (!controller || controller->isFrozen() || controller->isRefitPending())
        return;
    controller->scheduleRefit();
}

double DialogSizing::clampedFraction(double fraction)
{
    if (!(fraction > 0.2)) // NaN included
        return 0.2;
    return fraction > 1.0 ? 1.0 : fraction;
}

QSize DialogSizing::bestSize(const QSize& sizeHint, const Options& options, const QRect& availableGeometry)
{
    const bool minimumValid = options.minimumSize.width() >= 0 && options.minimumSize.height() >= 0;
    const bool preferredValid = options.preferredSize.isValid();

    QSize base = (options.useSizeHint && !isEmptySize(sizeHint)) ? sizeHint : options.preferredSize;
    if (isEmptySize(base) && minimumValid)
        base = options.minimumSize;
    if (isEmptySize(base))
        base = QSize(640, 480);

    QSize cap = base;
    if (availableGeometry.isValid()) {
        cap = QSize(
            int(std::trunc(clampedFraction(options.maxScreenWidthFraction) * availableGeometry.width())),
            int(std::trunc(clampedFraction(options.maxScreenHeightFraction) * availableGeometry.height())));
    }

    QSize target = preferredValid ? base.expandedTo(options.preferredSize) : base;
    if (minimumValid)
        target = target.expandedTo(options.minimumSize);
    return target.boundedTo(cap);
}
