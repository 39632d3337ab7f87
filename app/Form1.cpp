#include "app/Form1.h"

#include "app/InputPicker.h"
#include "app/LiveDisplay.h"
#include "app/MainWindowHints.h"
#include "app/MainWindowLooks.h"
#include "app/OutputPicker.h"
#include "app/PopupComboBox.h"
#include "app/QuitWhenClosed.h"
#include "app/RecordingControls.h"
#include "app/SampleRateBox.h"
#include "app/SideWindows.h"
#include "app/TakeFiles.h"
#include "app/TrayIcon.h"
#include "app/WindowSettings.h"
#include "dsp/clsDSP.h"
#include "encoder/EncoderAudioFile.h"
#include "encoder/EncoderWAV.h"
#include "platform/MessageBoxService.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>

#include <utility>

namespace {

// Title of the messages of the start and stop of a recording.
const QString kTitleHint = QStringLiteral("提示");

// The highest rate the effects chain accepts; the rate box takes five digits.
constexpr std::int32_t kMaxSampleRate = 96000;
// The lowest rate every part of a recording takes: PipeWire's sound server refuses record
// streams of about 21 Hz and below, and the resampler (a 32-tap filter) gives a take of
// fewer than 31 frames back short, which is every take of one one-second block below 31 Hz.
constexpr std::int32_t kMinSampleRate = 32;

const QString kCaptionStop = QStringLiteral("停止录音");

// The display timer's period.
constexpr int kDisplayPeriodMS = 25;

} // namespace

Form1::Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
             const QString& programFolder, platform::FormatChooser& chooser, QWidget* parent)
    : Form1(windows, waveIn, programFolder, &chooser, parent) {}

Form1::Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
             const QString& programFolder, QWidget* parent)
    : Form1(windows, waveIn, programFolder, nullptr, parent) {}

Form1::Form1(platform::WindowService& windows, platform::WaveInService& waveIn,
             const QString& programFolder, platform::FormatChooser* chooser, QWidget* parent)
    : QMainWindow(parent), windows_(windows), waveIn_(waveIn), programFolder_(programFolder),
      chooser_(chooser),
      quitWhenClosed_(std::make_unique<QuitWhenClosed>(static_cast<QWidget&>(*this))) {
    ui.setupUi(this);
    chkFX = {ui.chkFX_0, ui.chkFX_1, ui.chkFX_2, ui.chkFX_3};

    display_ = std::make_unique<LiveDisplay>(
        LiveDisplay::Boxes{*ui.picFreq, *ui.picAmpl, *ui.picVUL, *ui.picVUR, *ui.sbar});

    MainWindowLooks::Apply(*this);

    connect(ui.cmdDo, &QPushButton::clicked, this, &Form1::cmdDo_Click);
    // Only a rate picked from the open list runs the handler; a typed rate, even one of the
    // list's, is read by the start.
    connect(ui.cboSamplerate, &PopupComboBox::listPicked, this, &Form1::cboSamplerate_Click);
    connect(ui.chkStereo, &QCheckBox::toggled, this, &Form1::chkStereo_Click);
    connect(ui.cmdSelFmt, &QPushButton::clicked, this, &Form1::cmdSelFmt_Click);
    for (int i = 0; i < static_cast<int>(chkFX.size()); ++i) {
        connect(chkFX[i], &QCheckBox::toggled, this, [this, i] { chkFX_Click(i); });
    }
    controls_ = new RecordingControls(
        {*ui.cmdPause, *ui.chkLength, *ui.tmeLength, *ui.chkStartAt, *ui.tmeStartAt, *ui.chkVoice,
         *ui.spnThreshold, *ui.spnHold},
        [this] {
            if (!take_->IsRecording()) {
                StartRecording();
            }
        },
        this);
    connect(ui.cmdPause, &QPushButton::clicked, this, &Form1::cmdPause_Click);
    MainWindowHints::Install(*this);
    rateBox_ = new SampleRateBox(*ui.cboSamplerate);

    // Fixed border: the client area is the control area plus the status bar.
    ui.centralwidget->setFixedSize(ui.centralwidget->size());
    adjustSize();
    setFixedSize(size());

    Form_Load();
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    display_->FixPanels();
    FollowVisibility();
}

Form1::~Form1() {
    Form_Unload();
}

void Form1::Form_Load() {
    clsRecorder = std::make_unique<WaveInRecorder>(windows_, waveIn_);
    clsEncoder =
        chooser_ ? std::make_unique<EncoderWAV>(*chooser_) : std::make_unique<EncoderWAV>();
    clsEffects = std::make_unique<clsDSP>();
    files_ = std::make_unique<TakeFiles>(programFolder_);
    fileEncoder_ = std::make_unique<EncoderAudioFile>();
    take_ = std::make_unique<Take>(*clsRecorder, *clsEncoder, *fileEncoder_, *clsEffects, *files_,
                                   *this);
    output_ = new OutputPicker(
        {*ui.txtFile, *ui.cmdBrowse, *ui.txtWAVFmt}, *clsEncoder, *fileEncoder_,
        [this] {
            return std::pair{SampleRate().value_or(0), Channels()};
        },
        this);
    input_ = new InputPicker({*ui.cboDev, *ui.cboRecLine, *ui.sldVol, *ui.lblVolPer}, *clsRecorder,
                             this);
    sideWindows_ = std::make_unique<SideWindows>(
        *this, SideWindows::Sources{programFolder_, [this] { return take_->strLastFile(); },
                                    [this] { return ui.txtFile->text(); },
                                    [this]() -> clsDSP& { return *clsEffects; }});
    // What the user had at the end of the last run, or the defaults (44100 Hz stereo).
    WindowSettings::Restore(*this, UserSettings::Read());
    show();

    // Takes a crash cut off are made whole first, so the numbering sees them as takes and
    // never hands their names to a new recording.
    files_->Load();
    ui.txtFile->setText(files_->Path());

    // The display timer runs while a recording runs; its first tick after start-up and
    // after each stop shows the idle texts and stops it.
    tmrVis = new QTimer(this);
    tmrVis->setObjectName(QStringLiteral("tmrVis"));
    tmrVis->setInterval(kDisplayPeriodMS);
    connect(tmrVis, &QTimer::timeout, this, &Form1::tmrVis_Timer);
    tmrVis->start();

    tray_ = std::make_unique<TrayIcon>(windows_, *this);
    tray_->setTakeHandlers([this] { cmdPause_Click(); }, [this] { StopRecording(); });
    tray_->Add();
}

void Form1::setSizeLimitForTests(std::uint32_t bytes) {
    clsEncoder->setSizeLimitForTests(bytes);
}

void Form1::Form_Unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    if (clsRecorder && clsRecorder->IsRecording()) {
        cmdDo_Click();
    }
    // After the stop, which starts the timer for the idle texts.
    if (tmrVis) {
        tmrVis->stop();
    }
    WindowSettings::Save(*this);
    // The capture engine goes first, so no block reaches an encoder that is being finished.
    take_.reset();
    clsRecorder.reset();
    clsEncoder.reset();
    fileEncoder_.reset();
    if (tray_) {
        tray_->Remove();
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

std::int16_t Form1::Channels() const {
    return ui.chkStereo->isChecked() ? 2 : 1;
}

void Form1::EnableSettings(bool enabled) {
    ui.frmOut->setEnabled(enabled);
    ui.frmInp->setEnabled(enabled);
}

void Form1::cboSamplerate_Click() {
    if (!blnLoaded) {
        return;
    }
    // The format chooser of a WAV take; the other types take any rate and channels.
    output_->WavTake() ? cmdSelFmt_Click() : output_->ShowWAVFormat();
    // A rate the effects chain refuses is caught by the start; the chain keeps its rate.
    const std::optional<std::int32_t> rate = SampleRate();
    if (rate && *rate >= 1 && *rate <= kMaxSampleRate) {
        clsEffects->setSamplerate(*rate);
    }
}

void Form1::chkStereo_Click() {
    if (!blnLoaded) {
        return;
    }
    output_->WavTake() ? cmdSelFmt_Click() : output_->ShowWAVFormat();
    clsEffects->setChannels(Channels());
}

void Form1::chkFX_Click(int Index) {
    const std::int32_t bit = std::int32_t{1} << Index;
    if (chkFX[Index]->isChecked()) {
        clsEffects->setEffectsUsed(clsEffects->EffectsUsed() | bit);
    } else {
        clsEffects->setEffectsUsed(clsEffects->EffectsUsed() & ~bit);
    }
}

// "..." beside the format: the format chooser for the rate and channels in the window.
void Form1::cmdSelFmt_Click() {
    output_->SelectFormat(SampleRate().value_or(0), Channels());
}

void Form1::tmrVis_Timer() {
    if (!take_) {
        return;
    }
    if (take_->IsRecording()) {
        // A hidden window draws nothing; the texts and the recording go on.
        display_->Tick(*take_, isVisible(), ui.chkStereo->isChecked(), ui.txtFile->text());
    } else {
        display_->ShowIdle();
        // The idle texts stand until the next recording starts the timer again: an idle
        // window does no periodic work.
        if (tmrVis) {
            tmrVis->stop();
        }
    }
    ui.CmdST->setEnabled(ui.cmdDo->text() != kCaptionStop);
}

void Form1::cmdDo_Click() {
    if (!clsRecorder) {
        return;
    }
    if (clsRecorder->IsRecording()) {
        StopRecording();
    } else {
        StartRecording();
    }
}

void Form1::StartRecording() {
    const auto hint = [this](const QString& text) {
        platform::MsgBox(this, text, platform::MessageIcon::Warning, kTitleHint);
    };
    if (ui.txtFile->text().isEmpty()) {
        hint(QStringLiteral("没有指定输出文件!"));
        return;
    }
    if (ui.cboDev->currentIndex() == -1) {
        hint(QStringLiteral("没有选择硬件设备!"));
        return;
    }
    // An emptied or foreign rate text would open nothing sensible: refuse it before anything
    // is opened, as a rate too low or too high for the chain. A rate of 0 goes on to the
    // encoder, which refuses it.
    const std::optional<std::int32_t> rate = SampleRate();
    if (!rate || *rate > kMaxSampleRate || (*rate > 0 && *rate < kMinSampleRate)) {
        hint(QStringLiteral("取样率无效!"));
        return;
    }
    take_->setLengthLimitMS(controls_->LengthLimitMS());
    take_->setVoiceActivation(controls_->Voice());
    switch (take_->Start(ui.txtFile->text(), *rate, Channels())) {
    case Take::StartResult::Started:
        break;
    case Take::StartResult::OutputInUse:
        hint(QStringLiteral("该文件正在被另一个录音使用!"));
        return;
    case Take::StartResult::EncoderFailed:
        hint(QStringLiteral("无法初始化编码器!"));
        return;
    case Take::StartResult::DeviceGone:
        // The chosen device is gone: the list shows what there is now, and the user chooses
        // again.
        input_->ReadDevicesAgain();
        hint(QStringLiteral("所选录音设备已不存在，请重新选择!"));
        return;
    case Take::StartResult::CaptureFailed:
        // Without capture there is nothing to record: the empty file is finished.
        hint(QStringLiteral("不能启动录音功能!"));
        return;
    }
    ui.cmdDo->setText(kCaptionStop);
    display_->NewTake();
    EnableSettings(false);
    controls_->ShowTake(true, false);
    tray_->ShowTakeItems(true, false);
    files_->WriteSettings();
    WindowSettings::Save(*this);
    FollowVisibility();
}

void Form1::StopRecording() {
    // A stop asked for while the take hands over its end ends the capture at that block; the
    // stop under way finishes the take and shows its end.
    if (take_->IsRecording()) {
        TakeEnded(take_->Stop());
    }
}

void Form1::TakeEnded(TakeEnd why) {
    ui.cmdDo->setText(QStringLiteral("开始录音"));
    tmrVis->start(); // its next tick shows the idle texts, also in a hidden window
    ui.txtFile->setText(files_->Path());
    EnableSettings(true);
    controls_->ShowTake(false, false);
    tray_->ShowTakeItems(false, false);
    if (!take_->Report().isEmpty()) {
        ui.sbar->showMessage(take_->Report());
    }
    if (why == TakeEnd::TimeUp) {
        ui.sbar->showMessage(
            QStringLiteral("已到设定时长，录音已自动停止") +
            (take_->Report().isEmpty() ? QString() : QStringLiteral("；") + take_->Report()));
    }
    if (const Take::EndMessage message = Take::MessageOf(why); !message.text.isEmpty()) {
        platform::MsgBox(this, message.text, platform::MessageIcon::Warning, message.title);
    }
}

void Form1::TakeGoesOn() {
    ui.txtFile->setText(files_->Path());
    ui.sbar->showMessage(QStringLiteral("文件已达大小上限，录音继续写入 %1")
                             .arg(QFileInfo(ui.txtFile->text()).fileName()),
                         10000);
}

void Form1::cmdPause_Click() {
    if (!take_->IsRecording()) {
        return;
    }
    if (take_->IsPaused()) {
        take_->Continue();
    } else {
        take_->Pause();
    }
    controls_->ShowTake(true, take_->IsPaused());
    tray_->ShowTakeItems(true, take_->IsPaused());
    // The time in the status bar reads as paused at once, also when the display sleeps.
    tmrVis_Timer();
}

void Form1::FollowVisibility() {
    // Nothing is seen of a hidden or minimised window: the display timer sleeps, and the
    // take costs no more than its sound.
    const bool seen = isVisible() && !isMinimized();
    if (take_ && take_->IsRecording() && seen) {
        tmrVis->start();
    } else if (take_ && take_->IsRecording()) {
        tmrVis->stop();
    }
}

void Form1::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    FollowVisibility();
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        FollowVisibility();
    }
}

void Form1::clsRecorder_GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) {
    take_->clsRecorder_GotData(intBuffer, lngLen);
}

std::optional<std::int32_t> Form1::SampleRate() const {
    return rateBox_->Rate();
}

void Form1::setSaveFileDialog(SaveFileDialog& dialog) {
    output_->setSaveFileDialog(dialog);
}
