#include "app/FileTypeDialog.h"

#include <QInputDialog>

#include <utility>

namespace {

FileTypeDialog::Ask& Seam() {
    static FileTypeDialog::Ask ask;
    return ask;
}

} // namespace

std::optional<int> FileTypeDialog::Choose(QWidget* owner, const QString& title,
                                          const QStringList& items, int current) {
    if (const Ask& ask = Seam()) {
        return ask(title, items, current);
    }
    bool ok = false;
    const QString chosen = QInputDialog::getItem(owner, title, title, items, current, false, &ok);
    if (!ok) {
        return std::nullopt;
    }
    const auto index = static_cast<int>(items.indexOf(chosen));
    return index >= 0 ? std::optional<int>(index) : std::nullopt;
}

FileTypeDialog::Ask FileTypeDialog::Install(Ask ask) {
    return std::exchange(Seam(), std::move(ask));
}
