#include "app/InputPicker.h"

#include "app/PopupComboBox.h"
#include "capture/WaveInRecorder.h"
#include "platform/MessageBoxService.h"
#include "platform/Mixer.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

namespace {

const QString kAppTitle = QStringLiteral("Vocarn");

} // namespace

InputPicker::InputPicker(Widgets widgets, WaveInRecorder& recorder, QObject* parent)
    : QObject(parent), w_(widgets), recorder_(recorder) {
    connect(&w_.cboDev, &QComboBox::activated, this, &InputPicker::cboDev_Click);
    connect(&w_.cboDev, &PopupComboBox::aboutToShowPopup, this, &InputPicker::cboDev_DropDown);
    // The line list also runs its handler when code selects a line (FillMixerLines); an
    // emptied list selects no line.
    connect(&w_.cboRecLine, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            cboRecLine_Click();
        }
    });
    connect(&w_.sldVol, &QSlider::valueChanged, this, &InputPicker::sldVol_Change);
}

void InputPicker::FillDevices() {
    w_.cboDev.clear();
    const std::int32_t count = recorder_.DeviceCount();
    for (std::int32_t i = 0; i < count; ++i) {
        w_.cboDev.addItem(QString::fromStdString(recorder_.DeviceName(i)));
    }
    w_.cboDev.setCurrentIndex(-1);
}

void InputPicker::FillMixerLines() {
    {
        // Emptying and filling the list selects nothing yet.
        const QSignalBlocker quiet(&w_.cboRecLine);
        w_.cboRecLine.clear();
        const std::int32_t count = recorder_.MixerLineCount();
        for (std::int32_t i = 0; i < count; ++i) {
            w_.cboRecLine.addItem(QString::fromStdString(recorder_.MixerLineName(i)));
        }
        w_.cboRecLine.setCurrentIndex(-1);
    }
    w_.cboRecLine.setCurrentIndex(recorder_.SelectedMixerLine());
}

void InputPicker::cboDev_Click() {
    {
        const QSignalBlocker quiet(&w_.cboRecLine);
        w_.cboRecLine.clear();
    }
    if (!recorder_.SelectDevice(w_.cboDev.currentIndex())) {
        // No device is selected now, so none is shown either: a start would otherwise
        // record from another device than the one in the list.
        w_.cboDev.setCurrentIndex(-1);
        platform::MsgBox(w_.cboDev.window(), QStringLiteral("没有找到设备！"),
                         platform::MessageIcon::Warning, kAppTitle);
        return;
    }
    FillMixerLines();
}

void InputPicker::SelectRememberedDevice(const QString& device, const QString& line) {
    if (device.isEmpty()) {
        return;
    }
    for (int i = 0; i < w_.cboDev.count(); ++i) {
        if (recorder_.DeviceId(i) != device.toStdString()) {
            continue;
        }
        w_.cboDev.setCurrentIndex(i);
        cboDev_Click();
        const int l = w_.cboRecLine.findText(line);
        if (l >= 0 && l != w_.cboRecLine.currentIndex()) {
            w_.cboRecLine.setCurrentIndex(l);
        }
        return;
    }
}

void InputPicker::cboDev_DropDown() {
    ReadDevicesAgain();
}

void InputPicker::ReadDevicesAgain() {
    const bool chosen = w_.cboDev.currentIndex() >= 0;
    const std::string id = recorder_.SelectedDeviceId();
    FillDevices();
    if (!chosen) {
        return;
    }
    // The chosen device, found by its id: names may repeat, and places move when devices
    // come and go.
    int now = -1;
    for (int i = 0; i < w_.cboDev.count() && !id.empty(); ++i) {
        if (recorder_.DeviceId(i) == id) {
            now = i;
            break;
        }
    }
    if (now < 0) {
        // The chosen device has gone: nothing is chosen, and its lines go with it.
        const QSignalBlocker quiet(&w_.cboRecLine);
        w_.cboRecLine.clear();
        return;
    }
    w_.cboDev.setCurrentIndex(now);
    // The capture engine counts devices in the list just read; the device's lines and
    // volume are read afresh too.
    cboDev_Click();
}

void InputPicker::cboRecLine_Click() {
    if (!recorder_.SelectMixerLine(w_.cboRecLine.currentIndex())) {
        platform::MsgBox(w_.cboDev.window(), QStringLiteral("Couldn't select mixer line!"),
                         platform::MessageIcon::Warning, kAppTitle);
    }
    // The slider and its label follow the line's volume. Only a move of the slider by the
    // user writes it: the volume read is shown, never written back, so a volume above the
    // full level and channels set apart in the desktop's mixer stay as they are.
    const std::int32_t volume = recorder_.MixerLineVolume();
    {
        const QSignalBlocker quiet(&w_.sldVol);
        w_.sldVol.setValue(volume); // at most the maximum
    }
    ShowVolume(volume);
}

void InputPicker::sldVol_Change() {
    const int value = w_.sldVol.value();
    recorder_.setMixerLineVolume(value);
    ShowVolume(value);
}

void InputPicker::ShowVolume(std::int32_t volume) {
    // The percentage the desktop's mixer shows for the volume.
    w_.lblVolPer.setText(QString::number(platform::VolumePercent(volume)) + QStringLiteral("%"));
}
