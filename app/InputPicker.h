#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

class PopupComboBox;
class QComboBox;
class QLabel;
class QSlider;
class WaveInRecorder;

// The main window's input frame: the capture devices (cboDev), the selected device's input
// lines (cboRecLine) and the line's recording volume (sldVol, shown in lblVolPer), kept in
// step with the capture engine's selection.
class InputPicker : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        PopupComboBox& cboDev;
        QComboBox& cboRecLine;
        QSlider& sldVol;
        QLabel& lblVolPer;
    };

    // recorder is not owned and outlives the picker.
    InputPicker(Widgets widgets, WaveInRecorder& recorder, QObject* parent = nullptr);

    // Lists the capture devices in cboDev, none selected.
    void FillDevices();
    // Lists the input lines of the selected device in cboRecLine and selects the current one
    // (which runs the line selection).
    void FillMixerLines();
    // Reads the device list again, keeping the chosen device chosen (by its id) when it is
    // still there, its lines and volume read afresh; nothing is chosen when it is gone.
    void ReadDevicesAgain();
    // The device kept from the last run, by its server name, and its line, when present.
    void SelectRememberedDevice(const QString& device, const QString& line);

private:
    void cboDev_Click();
    void cboRecLine_Click();
    void sldVol_Change();
    // Refreshes the device list before it opens (ReadDevicesAgain).
    void cboDev_DropDown();
    // Shows `volume` (0 .. 65535, more above the full level) in lblVolPer as the desktop's
    // mixer would.
    void ShowVolume(std::int32_t volume);

    Widgets w_;
    WaveInRecorder& recorder_;
};
