#include "platform/acm/DialogFormatChooser.h"

#include "platform/acm/FormatChooserDialog.h"

#include <QPointer>
#include <QScopeGuard>

namespace platform {

std::optional<FormatChooser::Choice> DialogFormatChooser::choose(
    QWidget* owner, const std::string& title, std::span<const std::uint8_t> /*source*/,
    const std::vector<AcmFormatChoice>& formats, std::span<const std::uint8_t> initial) {
    // The list already holds only what the source converts into.
    if (formats.empty()) {
        return std::nullopt;
    }
    // The owner may go away while the dialog runs (taking its child along): hold the dialog
    // through a guarded pointer and delete it here only while it still exists.
    QPointer<FormatChooserDialog> dialog = new FormatChooserDialog(formats, owner, initial);
    const auto release = qScopeGuard([&dialog] { delete dialog.data(); });
    dialog->setWindowTitle(QString::fromStdString(title));
    dialog->setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    const int answer = dialog->exec();
    if (!dialog || answer != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog->chosen();
}

} // namespace platform
