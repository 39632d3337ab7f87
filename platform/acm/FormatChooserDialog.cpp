#include "platform/acm/FormatChooserDialog.h"

#include <QPushButton>

#include <algorithm>

namespace platform {

FormatChooserDialog::FormatChooserDialog(std::vector<AcmFormatChoice> formats, QWidget* parent,
                                         std::span<const std::uint8_t> initial)
    : QDialog(parent), formats_(std::move(formats)) {
    ui.setupUi(this);
    ui.buttonBox->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    ui.buttonBox->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(ui.buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui.buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    for (const AcmFormatChoice& f : formats_) {
        const QString name = QString::fromStdString(f.tagName);
        if (ui.cboFormatTag->findText(name, Qt::MatchExactly) < 0) {
            ui.cboFormatTag->addItem(name);
        }
    }
    connect(ui.cboFormatTag, &QComboBox::currentIndexChanged, this,
            &FormatChooserDialog::cboFormatTag_Change);
    connect(ui.cboFormat, &QComboBox::currentIndexChanged, this,
            &FormatChooserDialog::cboFormat_Change);
    cboFormatTag_Change(ui.cboFormatTag->currentIndex());

    const auto start = std::find_if(formats_.begin(), formats_.end(), [initial](const auto& f) {
        return std::ranges::equal(f.record, initial);
    });
    if (start != formats_.end()) {
        // Its type (which lists the type's formats), then the format itself.
        ui.cboFormatTag->setCurrentText(QString::fromStdString(start->tagName));
        ui.cboFormat->setCurrentIndex(
            ui.cboFormat->findData(static_cast<qulonglong>(start - formats_.begin())));
    }
}

QString FormatChooserDialog::listText(const AcmFormatChoice& format) {
    const auto record = WaveFormat::parse(format.record);
    QString text = QString::fromStdString(format.text);
    if (record) {
        // Whole kilobytes of 1024 bytes, cut as the classic list shows them.
        text += QStringLiteral("    %1 KB/s").arg(record->avgBytesPerSec / 1024);
    }
    return text;
}

void FormatChooserDialog::cboFormatTag_Change(int index) {
    const QSignalBlocker quiet(ui.cboFormat);
    ui.cboFormat->clear();
    if (index >= 0) {
        const std::string name = ui.cboFormatTag->itemText(index).toStdString();
        for (std::size_t i = 0; i < formats_.size(); ++i) {
            if (formats_[i].tagName == name) {
                ui.cboFormat->addItem(listText(formats_[i]), static_cast<qulonglong>(i));
            }
        }
    }
    ui.cboFormat->setCurrentIndex(ui.cboFormat->count() > 0 ? 0 : -1);
    cboFormat_Change(ui.cboFormat->currentIndex());
}

void FormatChooserDialog::cboFormat_Change(int index) {
    ui.buttonBox->button(QDialogButtonBox::Ok)->setEnabled(index >= 0);
}

std::optional<FormatChooser::Choice> FormatChooserDialog::chosen() const {
    const int index = ui.cboFormat->currentIndex();
    if (index < 0) {
        return std::nullopt;
    }
    const auto at = static_cast<std::size_t>(ui.cboFormat->itemData(index).toULongLong());
    const AcmFormatChoice& f = formats_.at(at);
    return FormatChooser::Choice{f.record, f.tagName, f.text};
}

} // namespace platform
