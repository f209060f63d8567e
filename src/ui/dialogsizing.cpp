#include "dialogsizing.h"

#include <QDialog>

void DialogSizing::attach(QDialog* dialog, const Options& options)
{
    Q_UNUSED(dialog)
    Q_UNUSED(options)
}

void DialogSizing::requestRefit(QDialog* dialog)
{
    Q_UNUSED(dialog)
}
