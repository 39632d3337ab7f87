#include "app/SaveFileDialog.h"

#include <QFileDialog>

QString SaveFileDialog::GetSaveFileName(QWidget* owner, const QString& filter,
                                        const QString& folder, QString* selectedFilter) {
    // The overwrite question is on unless DontConfirmOverwrite is given.
    return QFileDialog::getSaveFileName(owner, QString(), folder, filter, selectedFilter);
}
