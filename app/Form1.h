#pragma once

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

class About;
class EncoderWAV;
class SaveFileDialog;
class QTimer;
class clsDraw;
class FrmST;
class TrayIcon;
class QuitWhenClosed;
class QCheckBox;
class QLabel;
class clsDSP;
class clsSmooth;
class frmFXOpts;

namespace platform {
class FormatChooser;
class WaveInService;
class WindowService;
} // namespace platform

// The main window. It owns the capture engine, the encoder, the effects chain and the level
// smoothers for the whole run, lets the user pick the input device, the output path, the rate
// and mono or stereo, and starts and stops recordings with one button. Every captured block
// goes through the effects chain into the output file (clsRecorder_GotData).
//
// Recordings are numbered: "<program folder>/file/录音N.wav", N being the counter intFileNo
// that "nu.ini" in the program's folder keeps between runs.
class Form1 : public QMainWindow, private WaveInRecorderEvents {
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
    void FillDevices();
    // Lists the input lines of the selected device in cboRecLine and selects the current one
    // (which runs the line selection).
    void FillMixerLines();
    // One update of the live display (the 25 ms timer tmrVis): while recording the waveform,
    // the spectrum, the level bars, the file size and the recorded time; while idle the
    // texts of an empty recording, and the timer stops until the next recording starts it.
    // Also enables the preview button exactly when no recording runs.
    void tmrVis_Timer();
    // Asks for output paths through dialog (not owned) instead of the file dialog.
    void setSaveFileDialog(SaveFileDialog& dialog) { saveDialog_ = &dialog; }

    // The recording state, read by the display and the preview window.
    std::int16_t intFileNo() const { return intFileNo_; }
    const QString& strLastFile() const { return strLastFile_; }
    std::int32_t lngElapsedMS() const { return lngElapsedMS_; }
    std::int32_t lngBytesPerSec() const { return lngBytesPerSec_; }
    std::span<const std::int16_t> intBlock() const { return intBlock_; }
    clsDSP& Effects() { return *clsEffects; }
    WaveInRecorder& Recorder() { return *clsRecorder; }
    TrayIcon& Tray() { return *tray_; }

    // The path the recording with counter intFileNo goes to, in programFolder.
    static QString OutputPath(const QString& programFolder, std::int16_t intFileNo);

    // The largest file a recording writes before it goes on in the next numbered file; tests
    // lower it to split small recordings.
    void setSizeLimitForTests(std::uint32_t bytes);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
          const QString& programFolder, platform::FormatChooser* chooser, QWidget* parent);

    void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) override;
    void DeviceLost() override;

    void Form_Load();
    void Form_Unload();
    void StartRecording();
    void StopRecording();

    void cboDev_Click();
    void cboRecLine_Click();
    void sldVol_Change();
    // Opens the effects settings window on the effects chain.
    void cmdFXOpts_Click();
    void cboSamplerate_Click();
    void chkStereo_Click();
    void chkFX_Click(int Index);
    // Refreshes the device list before it opens (ReadDevicesAgain).
    void cboDev_DropDown();
    // Reads the device list again, keeping the chosen device chosen (by its id) when it is
    // still there, its lines and volume read afresh; nothing is chosen when it is gone.
    void ReadDevicesAgain();
    void cmdBrowse_Click();
    void cmdSelFmt_Click();
    void CmdST_Click();
    void Command1_Click();
    void Command3_Click();
    // Hides the window, leaving the tray icon as the way back; minimises it instead on a
    // desktop without a notification area, where a hidden window could not be brought back.
    void Command4_Click();
    // True when the typed character may go into the rate box: Backspace, or a digit while
    // the text outside the selection it replaces is shorter than five characters.
    bool cboSamplerate_KeyPress(QChar character) const;

    void ShowWAVFormat();
    // Shows `volume` (0 .. 65535, more above the full level) in lblVolPer as the desktop's
    // mixer would.
    void ShowVolume(std::int32_t volume);
    void ApplyFonts();
    // The rate in cboSamplerate, or nothing when the box holds no decimal number.
    // The device kept from the last run, by its server name, and its line, when present.
    void SelectRememberedDevice(const QString& device, const QString& line);
    // Keeps what the user set up for the next run (UserSettings).
    void SaveUserSettings() const;
    std::optional<std::int32_t> SampleRate() const;
    std::int16_t Channels() const;
    // Creates the "file" subfolder when missing and the file at path when missing, leaving an
    // existing file's contents alone; never through a symbolic link.
    void CreateOutputFile(const QString& path) const;
    void WriteSettings() const;
    // Restates the sizes of the takes in the "file" subfolder that a crash or a kill cut off.
    void RepairTakes() const;
    // The first counter from `from` on (wrapping at 16 bits) whose file a recording may
    // use without destroying a take; `from` itself when every number is taken.
    std::int16_t FreeFileNo(std::int16_t from) const;
    // The counter moves on past the files that hold takes; the next file is created and
    // shown, and "nu.ini" written.
    void NextFile();
    // The file is full: the take goes on in the next numbered file. False (the recording
    // stopped, the user told) when the encoder cannot open it.
    bool ContinueInNextFile();
    // The window's side of the end of a recording, without moving the counter.
    void ShowIdle();
    // Tells the user (status bar) and the system log (one line) of sound the capture could
    // not deliver: gaps written as silence, and sound the server threw away unread.
    void ReportLostSound(std::uint64_t silenceBytes, std::uint64_t droppedBytes);

    Ui::Form1 ui;
    std::array<QCheckBox*, 4> chkFX{};
    QLabel* sbarSize = nullptr;
    QLabel* sbarTime = nullptr;

    platform::WindowService& windows_;
    platform::WaveInService& waveIn_;
    const QString programFolder_;

    std::unique_ptr<clsSmooth> clsSmoothL;
    std::unique_ptr<clsSmooth> clsSmoothR;
    std::unique_ptr<WaveInRecorder> clsRecorder;
    std::unique_ptr<EncoderWAV> clsEncoder;
    std::unique_ptr<clsDraw> clsVis;
    std::unique_ptr<clsDSP> clsEffects;
    platform::FormatChooser* chooser_ = nullptr; // null: the format chooser dialog
    std::unique_ptr<SaveFileDialog> ownSaveDialog_;
    SaveFileDialog* saveDialog_ = nullptr;
    QTimer* tmrVis = nullptr;
    // The preview and About windows: one each, made on first use, without an owner.
    std::unique_ptr<FrmST> frmST_;
    std::unique_ptr<About> frmAbout_;
    // The effects settings window, made on first use and kept for the next opening.
    std::unique_ptr<frmFXOpts> fxOpts_;
    std::unique_ptr<TrayIcon> tray_; // the icon and the window's procedure
    // The program ends when this window closes, never when another one does.
    std::unique_ptr<QuitWhenClosed> quitWhenClosed_;

    bool blnLoaded = false;
    bool unloaded_ = false;
    // A stop is handing the end of the take to the file.
    bool stopping_ = false;
    // While stopping: a block of the take's end could not be written (the message follows
    // the stop), or the file after a full one could not be opened (the take has ended).
    bool writeFailedAtStop_ = false;
    bool takeEndedAtStop_ = false;
    std::vector<std::int16_t> intBlock_;
    std::int32_t lngElapsedMS_ = 0;
    std::int32_t lngBytesPerSec_ = 0;
    // The format of the running recording, for the files it goes on in.
    std::int32_t recordRate_ = 0;
    std::int16_t recordChannels_ = 0;
    std::int16_t intFileNo_ = 0;
    QString strLastFile_;
    // The level a bar shows and the stamp of its box's image right after it was drawn.
    struct ShownBar {
        float level = 0.0f;
        std::uint64_t stamp = 0;
    };
    std::array<ShownBar, 2> shownBars_{};
    // What the recording's status texts show, so that a display tick builds a text again
    // only when its value changed; empty while they show the idle texts.
    std::optional<double> shownSize_;
    std::optional<std::int32_t> shownElapsedMS_;
    // The output path the display last took the size of, and its bytes for the stat.
    QString sizePath_;
    QByteArray sizePathBytes_;
    // A block was written since the display last took the file's size: only a written
    // block changes it.
    bool sizeStale_ = true;
    // The status panels have been given the fixed size the fixed window lays out for them.
    bool panelsFixed_ = false;
};
