#pragma once

#include "platform/acm/AcmFormats.h"
#include "platform/acm/FormatChooser.h"
#include "ui_FormatChooserDialog.h"

#include <QDialog>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

// The output format chooser: a list of format types ("PCM", "IMA ADPCM", ...) and, for the
// type picked, its formats in the classic text ("44,100 Hz, 16 Bit, Stereo") followed by
// the data rate in KB/s. It lists exactly the formats it is given, types in the order they
// first appear. OK is enabled while a format is selected.
class FormatChooserDialog : public QDialog {
    Q_OBJECT

public:
    // Opens with the format whose record is `initial` selected; the first format of the first
    // type when none of `formats` has that record.
    explicit FormatChooserDialog(std::vector<AcmFormatChoice> formats, QWidget* parent = nullptr,
                                 std::span<const std::uint8_t> initial = {});

    // The selected format: its record, its type's name and its text without the data rate.
    // nullopt when nothing is selected.
    std::optional<FormatChooser::Choice> chosen() const;

    // The text a format is listed with: its own text and its data rate,
    // e.g. "44,100 Hz, 16 Bit, Stereo    172 KB/s".
    static QString listText(const AcmFormatChoice& format);

public slots:
    // Fills the format list with the formats of the type at `index` and selects the first.
    void cboFormatTag_Change(int index);
    // Enables OK while a format is selected.
    void cboFormat_Change(int index);

private:
    Ui::FormatChooserDialog ui;
    std::vector<AcmFormatChoice> formats_;
};

} // namespace platform
