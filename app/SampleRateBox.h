#pragma once

#include <QObject>

#include <cstdint>
#include <optional>

class QComboBox;

// The behaviour of the main window's rate box (cboSamplerate): a rate comes out as typed, of
// up to five digits, whether typed, pasted or picked from the list; the box completes nothing
// and adds no typed rate to its list.
class SampleRateBox : public QObject {
    Q_OBJECT

public:
    // Watches box (not owned; the box owns this object).
    explicit SampleRateBox(QComboBox& box);

    // The rate in the box, or nothing when it holds no decimal number.
    std::optional<std::int32_t> Rate() const;
    // True when the typed character may go into the box: Backspace, or a digit while the
    // text outside the selection it replaces is shorter than five characters.
    bool cboSamplerate_KeyPress(QChar character) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox& box_;
};
