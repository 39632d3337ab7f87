#include "app/SaveFileDialog.h"

#include <QFileDialog>

QString SaveFileDialog::GetSaveFileName(QWidget* owner, const QString& filter) {
    // The overwrite question is on unless DontConfirmOverwrite is given.
    return QFileDialog::getSaveFileName(owner, QString(), QString(), filter);
}
