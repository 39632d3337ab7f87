#pragma once

#include "app/InputPicker.h"
#include "app/Take.h"
#include "app/TakeFiles.h"
#include "capture/WaveInRecorder.h"
#include "ui_Form1.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class EncoderAudioFile;
class EncoderWAV;
class LiveDisplay;
class OutputPicker;
class RecordingControls;
class SampleRateBox;
class SideWindows;
class SaveFileDialog;
class QTimer;
class TrayIcon;
class QuitWhenClosed;
class QCheckBox;
class QLabel;
class clsDSP;

namespace platform {
class FormatChooser;
class WaveInService;
class WindowService;
} // namespace platform

// The main window. It owns the capture engine, the encoder, the effects chain and the level
// smoothers for the whole run, lets the user pick the input device, the output path, the rate
// and mono or stereo, and starts and stops recordings with one button. Every captured block
// goes through the effects chain into the output file: the take (Take) does that, the window
// drives it and shows what it does.
//
// Recordings are numbered: "<program folder>/file/录音N.wav", N being the counter intFileNo
// that "nu.ini" in the program's folder keeps between runs (TakeFiles).
class Form1 : public QMainWindow, public TakeEvents {
    Q_OBJECT

public:
    // windows and waveIn are the message-window and capture services the capture engine works
    // on; neither is owned, both must outlive the window. programFolder holds "nu.ini" and
    // the "file" subfolder. Runs the start-up sequence, which also shows the window.
    Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
          const QString& programFolder, QWidget* parent = nullptr);
    // As above, the output format being chosen through chooser (not owned, must outlive the
    // window) instead of the format chooser dialog.
    Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
          const QString& programFolder, platform::FormatChooser& chooser,
          QWidget* parent = nullptr);
    ~Form1() override;

    // Starts a recording when idle, stops it when one runs.
    void cmdDo_Click();
    // One captured block: intBuffer is the capture buffer's whole sample array, lngLen the
    // number of valid bytes in it.
    void clsRecorder_GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen);
    // Enables or disables the output frame, then the input frame.
    void EnableSettings(bool enabled);
    // Lists the capture devices in cboDev, none selected.
    void FillDevices() { input_->FillDevices(); }
    // Lists the input lines of the selected device in cboRecLine and selects the current one
    // (which runs the line selection).
    void FillMixerLines() { input_->FillMixerLines(); }
    // One update of the live display (the 25 ms timer tmrVis): while recording the waveform,
    // the spectrum, the level bars, the file size and the recorded time; while idle the
    // texts of an empty recording, and the timer stops until the next recording starts it.
    // Also enables the preview button exactly when no recording runs.
    void tmrVis_Timer();
    // Asks for output paths through dialog (not owned) instead of the file dialog.
    void setSaveFileDialog(SaveFileDialog& dialog);

    // The recording state, read by the display and the preview window.
    std::int16_t intFileNo() const { return files_->intFileNo(); }
    const QString& strLastFile() const { return take_->strLastFile(); }
    std::int32_t lngElapsedMS() const { return take_->lngElapsedMS(); }
    std::int32_t lngBytesPerSec() const { return take_->lngBytesPerSec(); }
    std::span<const std::int16_t> intBlock() const { return take_->intBlock(); }
    clsDSP& Effects() { return *clsEffects; }
    WaveInRecorder& Recorder() { return *clsRecorder; }
    Take& CurrentTake() { return *take_; }
    TrayIcon& Tray() { return *tray_; }

    // The path the recording with counter intFileNo goes to, in programFolder.
    static QString OutputPath(const QString& programFolder, std::int16_t intFileNo) {
        return TakeFiles::OutputPath(programFolder, intFileNo);
    }

    // The largest file a recording writes before it goes on in the next numbered file; tests
    // lower it to split small recordings.
    void setSizeLimitForTests(std::uint32_t bytes);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Puts the remembered settings into the window and takes them out again.
    friend class WindowSettings;

    Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
          const QString& programFolder, platform::FormatChooser* chooser, QWidget* parent);

    void TakeGoesOn() override;
    // The window's side of the end of a take: the idle window, the next file shown, what the
    // take reports in the status bar, and a message for an end the user did not ask for.
    void TakeEnded(TakeEnd why) override;

    void Form_Load();
    void Form_Unload();
    void StartRecording();
    void StopRecording();

    void cboSamplerate_Click();
    void chkStereo_Click();
    void chkFX_Click(int Index);
    void cmdSelFmt_Click();

    // The rate in cboSamplerate, or nothing when the box holds no decimal number.
    std::optional<std::int32_t> SampleRate() const;
    std::int16_t Channels() const;
    // 暂停 / 继续.
    void cmdPause_Click();
    // Whether the display timer has anything to show: a take runs and the window is seen.
    void FollowVisibility();

    Ui::Form1 ui;
    std::array<QCheckBox*, 4> chkFX{};

    platform::WindowService& windows_;
    platform::WaveInService& waveIn_;
    const QString programFolder_;

    std::unique_ptr<WaveInRecorder> clsRecorder;
    std::unique_ptr<EncoderWAV> clsEncoder;
    std::unique_ptr<EncoderAudioFile> fileEncoder_; // FLAC, Ogg Opus and MP3 takes
    std::unique_ptr<clsDSP> clsEffects;
    std::unique_ptr<TakeFiles> files_;
    std::unique_ptr<Take> take_;
    std::unique_ptr<LiveDisplay> display_;
    RecordingControls* controls_ = nullptr;
    InputPicker* input_ = nullptr;
    OutputPicker* output_ = nullptr;
    SampleRateBox* rateBox_ = nullptr;
    platform::FormatChooser* chooser_ = nullptr; // null: the format chooser dialog
    QTimer* tmrVis = nullptr;
    std::unique_ptr<TrayIcon> tray_; // the icon and the window's procedure
    // The effects, preview and About windows, the folder and the tray buttons.
    std::unique_ptr<SideWindows> sideWindows_;
    // The program ends when this window closes, never when another one does.
    std::unique_ptr<QuitWhenClosed> quitWhenClosed_;

    bool blnLoaded = false;
    bool unloaded_ = false;
};
