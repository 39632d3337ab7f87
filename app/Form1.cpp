#include "app/Form1.h"

#include "app/MainWindowHints.h"
#include "app/PopupComboBox.h"
#include "app/QuitWhenClosed.h"
#include "app/SaveFileDialog.h"
#include "app/SettingsFile.h"
#include "app/TrayIcon.h"
#include "app/UserSettings.h"
#include "app/modDisplay.h"
#include "display/PictureBox.h"
#include "display/clsDraw.h"
#include "display/clsSmooth.h"
#include "display/modDraw.h"
#include "dsp/clsDSP.h"
#include "encoder/EncoderWAV.h"
#include "encoder/WavRepair.h"
#include "platform/EventLog.h"
#include "platform/MessageBoxService.h"
#include "ui/About.h"
#include "ui/FrmST.h"
#include "ui/ModFolderSetFileFocus.h"
#include "ui/WindowFonts.h"
#include "ui/frmFXOpts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Title of the messages of the start and stop of a recording; the other handlers use the
// application title.
const QString kTitleHint = QStringLiteral("提示");
const QString kAppTitle = QStringLiteral("Vocarn");

// The highest rate the effects chain accepts; the rate box takes five digits.
constexpr std::int32_t kMaxSampleRate = 96000;
// The lowest rate every part of a recording takes: PipeWire's sound server refuses record
// streams of about 21 Hz and below, and the resampler (a 32-tap filter) gives a take of
// fewer than 31 frames back short, which is every take of one one-second block below 31 Hz.
constexpr std::int32_t kMinSampleRate = 32;

// The capture block the window asks for: 10240 bytes, 58 ms at 44100 Hz stereo.
constexpr std::int32_t kCaptureBlockBytes = 10240;

const QString kCaptionStop = QStringLiteral("停止录音");

// The display timer's period.
constexpr int kDisplayPeriodMS = 25;

// Size in bytes of the regular file at path (UTF-8); 0 when it cannot be read (deleted while
// recording). One stat: the display never opens the file the encoder is writing.
double FileLength(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0.0;
    }
    return static_cast<double>(info.st_size);
}

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
      chooser_(chooser), ownSaveDialog_(std::make_unique<SaveFileDialog>()),
      saveDialog_(ownSaveDialog_.get()),
      quitWhenClosed_(std::make_unique<QuitWhenClosed>(static_cast<QWidget&>(*this))) {
    ui.setupUi(this);
    chkFX = {ui.chkFX_0, ui.chkFX_1, ui.chkFX_2, ui.chkFX_3};

    // Two text panels: the size of the output file and the recorded time.
    sbarSize = new QLabel(QStringLiteral("文件大小: 0 字节"), ui.sbar);
    sbarSize->setObjectName(QStringLiteral("sbarSize"));
    sbarTime = new QLabel(QStringLiteral("长度: 0:00"), ui.sbar);
    sbarTime->setObjectName(QStringLiteral("sbarTime"));
    ui.sbar->addWidget(sbarSize, 1);
    ui.sbar->addWidget(sbarTime, 1);

    // The read-only format box has the button face as its background.
    QPalette formatPalette = ui.txtWAVFmt->palette();
    formatPalette.setColor(QPalette::Base, formatPalette.color(QPalette::Button));
    ui.txtWAVFmt->setPalette(formatPalette);
    // Spectrum and waveform on black; the level bars on the button face.
    ui.picFreq->setBackColor(modDraw::RGB(0, 0, 0));
    ui.picAmpl->setBackColor(modDraw::RGB(0, 0, 0));
    const QColor face = palette().color(QPalette::Button);
    for (PictureBox* pic : {ui.picVUL, ui.picVUR}) {
        pic->setBackColor(modDraw::RGB(static_cast<std::uint32_t>(face.red()),
                                       static_cast<std::uint32_t>(face.green()),
                                       static_cast<std::uint32_t>(face.blue())));
    }
    ApplyFonts();
    // Frames with their caption on the border line, so the controls placed just below the
    // caption sit inside the frame.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"));

    connect(ui.cmdDo, &QPushButton::clicked, this, &Form1::cmdDo_Click);
    connect(ui.cboDev, &QComboBox::activated, this, &Form1::cboDev_Click);
    connect(ui.cboDev, &PopupComboBox::aboutToShowPopup, this, &Form1::cboDev_DropDown);
    // The line list also runs its handler when code selects a line (FillMixerLines); an
    // emptied list selects no line.
    connect(ui.cboRecLine, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) {
            cboRecLine_Click();
        }
    });
    connect(ui.sldVol, &QSlider::valueChanged, this, &Form1::sldVol_Change);
    connect(ui.cmdFXOpts, &QPushButton::clicked, this, &Form1::cmdFXOpts_Click);
    // Only a rate picked from the open list runs the handler; a typed rate, even one of the
    // list's, is read by the start.
    connect(ui.cboSamplerate, &PopupComboBox::listPicked, this, &Form1::cboSamplerate_Click);
    connect(ui.chkStereo, &QCheckBox::toggled, this, &Form1::chkStereo_Click);
    connect(ui.CmdST, &QPushButton::clicked, this, &Form1::CmdST_Click);
    connect(ui.cmdBrowse, &QPushButton::clicked, this, &Form1::cmdBrowse_Click);
    connect(ui.cmdSelFmt, &QPushButton::clicked, this, &Form1::cmdSelFmt_Click);
    connect(ui.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui.Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    for (int i = 0; i < static_cast<int>(chkFX.size()); ++i) {
        connect(chkFX[i], &QCheckBox::toggled, this, [this, i] { chkFX_Click(i); });
    }
    connect(ui.Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    if (!TrayIcon::SystemTrayAvailable()) {
        ui.Command4->setToolTip(QStringLiteral("此桌面没有系统托盘，窗口将最小化到任务栏"));
    }
    MainWindowHints::Install(*this);
    // A rate comes out as typed: the box completes nothing from its list (completing "4" to
    // "44100" would leave no room for 48000) and adds no typed rate to it.
    ui.cboSamplerate->setCompleter(nullptr);
    ui.cboSamplerate->installEventFilter(this);
    ui.cboSamplerate->lineEdit()->installEventFilter(this);
    // Text put in by other means than a typed key (the context menu's paste, the mouse's
    // selection paste) keeps only what the rate filter lets through: up to five digits.
    connect(ui.cboSamplerate->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) {
                QString digits;
                for (const QChar c : text) {
                    if (c >= u'0' && c <= u'9' && digits.size() < 5) {
                        digits += c;
                    }
                }
                if (digits != text) {
                    ui.cboSamplerate->lineEdit()->setText(digits);
                }
            });

    // Fixed border: the client area is the control area plus the status bar.
    ui.centralwidget->setFixedSize(ui.centralwidget->size());
    adjustSize();
    setFixedSize(size());

    Form_Load();
}

void Form1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window has a fixed size, so the status panels keep the size it lays out for them.
    // Fixed, a panel whose text changes (several times a second while recording) no longer
    // makes the status bar lay itself out again.
    if (!panelsFixed_) {
        panelsFixed_ = true;
        sbarSize->setFixedSize(sbarSize->size());
        sbarTime->setFixedSize(sbarTime->size());
    }
}

Form1::~Form1() {
    Form_Unload();
}

void Form1::ApplyFonts() {
    setFont(WindowFonts::Window(font()));
    ui.cmdDo->setFont(WindowFonts::Button(ui.cmdDo->font()));
}

void Form1::Form_Load() {
    clsSmoothL = std::make_unique<clsSmooth>();
    clsSmoothR = std::make_unique<clsSmooth>();
    clsRecorder = std::make_unique<WaveInRecorder>(windows_, waveIn_);
    clsRecorder->setEvents(this);
    clsEncoder =
        chooser_ ? std::make_unique<EncoderWAV>(*chooser_) : std::make_unique<EncoderWAV>();
    clsVis = std::make_unique<clsDraw>();
    clsEffects = std::make_unique<clsDSP>();

    clsSmoothL->SmoothNew(3);
    clsSmoothR->SmoothNew(3);

    // What the user had at the end of the last run, or the defaults (44100 Hz stereo).
    const UserSettings::Values remembered = UserSettings::Read();
    ui.cboSamplerate->setCurrentText(remembered.rate);
    ui.chkStereo->setChecked(remembered.stereo);

    intBlock_.assign(1024, 0);
    blnLoaded = true;

    if (!remembered.format.isEmpty()) {
        clsEncoder->RestoreFormat(
            SampleRate().value_or(44100), Channels(),
            {reinterpret_cast<const std::uint8_t*>(remembered.format.constData()),
             static_cast<std::size_t>(remembered.format.size())});
    }
    ShowWAVFormat();
    FillDevices();
    SelectRememberedDevice(remembered.device, remembered.line);

    clsEffects->setSamplerate(SampleRate().value_or(44100));
    clsEffects->setChannels(Channels());
    if (!UserSettings::File().isEmpty()) {
        UserSettings::Apply(remembered, *clsEffects);
        for (int i = 0; i < static_cast<int>(chkFX.size()); ++i) {
            chkFX[i]->setChecked((remembered.effectsUsed & (1 << i)) != 0);
        }
    }

    // Where it was last time when that is on a screen now, else centred on the screen the
    // window opens on.
    const bool onScreen =
        remembered.position && QGuiApplication::screenAt(*remembered.position) != nullptr;
    if (onScreen) {
        move(*remembered.position);
    } else if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
    }
    show();

    // Takes a crash cut off are made whole first, so the numbering sees them as takes and
    // never hands their names to a new recording.
    RepairTakes();
    const std::int16_t stored = SettingsFile::ReadFileNo(programFolder_);
    intFileNo_ = FreeFileNo(stored);
    if (intFileNo_ != stored) {
        WriteSettings();
    }
    const QString path = OutputPath(programFolder_, intFileNo_);
    CreateOutputFile(path);
    ui.txtFile->setText(path);

    // The display timer runs while a recording runs; its first tick after start-up and
    // after each stop shows the idle texts and stops it.
    tmrVis = new QTimer(this);
    tmrVis->setObjectName(QStringLiteral("tmrVis"));
    tmrVis->setInterval(kDisplayPeriodMS);
    connect(tmrVis, &QTimer::timeout, this, &Form1::tmrVis_Timer);
    tmrVis->start();

    tray_ = std::make_unique<TrayIcon>(windows_, *this);
    tray_->Add();
}

void Form1::RepairTakes() const {
    // Every numbered take in the folder: a header read each, and a write only for the cut
    // ones. A symbolic link named like a take is no take: it is not even listed.
    QDirIterator takes(QDir(programFolder_).filePath(QStringLiteral("file")),
                       {QStringLiteral("录音*.wav")}, QDir::Files | QDir::NoSymLinks);
    while (takes.hasNext()) {
        WavRepair::Repair(takes.next().toStdString());
    }
}

std::int16_t Form1::FreeFileNo(std::int16_t from) const {
    std::int16_t number = from;
    for (int tries = 0; tries < 65536; ++tries) {
        if (WavRepair::FreeForRecording(OutputPath(programFolder_, number).toStdString())) {
            return number;
        }
        number = static_cast<std::int16_t>(number + 1); // wraps from 32767 to -32768
    }
    return from;
}

void Form1::NextFile() {
    // The counter wraps from 32767 to -32768.
    intFileNo_ = FreeFileNo(static_cast<std::int16_t>(intFileNo_ + 1));
    const QString path = OutputPath(programFolder_, intFileNo_);
    ui.txtFile->setText(path);
    CreateOutputFile(path);
    WriteSettings();
}

void Form1::setSizeLimitForTests(std::uint32_t bytes) {
    clsEncoder->setSizeLimitForTests(bytes);
}

void Form1::Form_Unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    if (tmrVis) {
        tmrVis->stop();
    }
    if (clsRecorder && clsRecorder->IsRecording()) {
        cmdDo_Click();
    }
    SaveUserSettings();
    // The capture engine goes first, so no block reaches an encoder that is being finished.
    clsRecorder.reset();
    clsEncoder.reset();
    if (tray_) {
        tray_->Remove();
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

QString Form1::OutputPath(const QString& programFolder, std::int16_t intFileNo) {
    return QDir(programFolder)
        .filePath(QStringLiteral("file/录音%1.wav").arg(static_cast<int>(intFileNo)));
}

void Form1::CreateOutputFile(const QString& path) const {
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Read and write without truncating: an existing file keeps its contents. A symbolic
    // link in the file's place is not followed (nothing is made where it leads), and a FIFO
    // is not waited on.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
    }
}

void Form1::WriteSettings() const {
    SettingsFile::WriteFileNo(programFolder_, intFileNo_);
}

std::optional<std::int32_t> Form1::SampleRate() const {
    const QString text = ui.cboSamplerate->currentText().trimmed();
    if (text.isEmpty()) {
        return std::nullopt;
    }
    // Long digit strings are capped: anything that large is refused anyway.
    constexpr std::int32_t cap = 10000000;
    std::int32_t rate = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        rate = std::min(rate * 10 + (c.unicode() - u'0'), cap);
    }
    return rate;
}

std::int16_t Form1::Channels() const {
    return ui.chkStereo->isChecked() ? 2 : 1;
}

void Form1::EnableSettings(bool enabled) {
    ui.frmOut->setEnabled(enabled);
    ui.frmInp->setEnabled(enabled);
}

void Form1::FillDevices() {
    ui.cboDev->clear();
    const std::int32_t count = clsRecorder->DeviceCount();
    for (std::int32_t i = 0; i < count; ++i) {
        ui.cboDev->addItem(QString::fromStdString(clsRecorder->DeviceName(i)));
    }
    ui.cboDev->setCurrentIndex(-1);
}

void Form1::ShowWAVFormat() {
    ui.txtWAVFmt->setText(QString::fromStdString(clsEncoder->FormatTag()) + QStringLiteral(" - ") +
                          QString::fromStdString(clsEncoder->FormatID()));
}

void Form1::FillMixerLines() {
    {
        // Emptying and filling the list selects nothing yet.
        const QSignalBlocker quiet(ui.cboRecLine);
        ui.cboRecLine->clear();
        const std::int32_t count = clsRecorder->MixerLineCount();
        for (std::int32_t i = 0; i < count; ++i) {
            ui.cboRecLine->addItem(QString::fromStdString(clsRecorder->MixerLineName(i)));
        }
        ui.cboRecLine->setCurrentIndex(-1);
    }
    ui.cboRecLine->setCurrentIndex(clsRecorder->SelectedMixerLine());
}

void Form1::cboDev_Click() {
    {
        const QSignalBlocker quiet(ui.cboRecLine);
        ui.cboRecLine->clear();
    }
    if (!clsRecorder->SelectDevice(ui.cboDev->currentIndex())) {
        // No device is selected now, so none is shown either: a start would otherwise
        // record from another device than the one in the list.
        ui.cboDev->setCurrentIndex(-1);
        platform::MsgBox(this, QStringLiteral("没有找到设备！"), platform::MessageIcon::Warning,
                         kAppTitle);
        return;
    }
    FillMixerLines();
}

void Form1::SelectRememberedDevice(const QString& device, const QString& line) {
    if (device.isEmpty()) {
        return;
    }
    for (int i = 0; i < ui.cboDev->count(); ++i) {
        if (clsRecorder->DeviceId(i) != device.toStdString()) {
            continue;
        }
        ui.cboDev->setCurrentIndex(i);
        cboDev_Click();
        const int l = ui.cboRecLine->findText(line);
        if (l >= 0 && l != ui.cboRecLine->currentIndex()) {
            ui.cboRecLine->setCurrentIndex(l);
        }
        return;
    }
}

void Form1::SaveUserSettings() const {
    if (UserSettings::File().isEmpty() || !clsEffects || !clsRecorder || !clsEncoder) {
        return;
    }
    UserSettings::Values v;
    if (clsRecorder->SelectedDevice() >= 0) {
        v.device = QString::fromStdString(clsRecorder->SelectedDeviceId());
        v.line = ui.cboRecLine->currentText();
    }
    v.rate = ui.cboSamplerate->currentText();
    v.stereo = ui.chkStereo->isChecked();
    const auto format = clsEncoder->OutputFormat();
    v.format = QByteArray(reinterpret_cast<const char*>(format.data()),
                          static_cast<qsizetype>(format.size()));
    UserSettings::Take(*clsEffects, v);
    v.position = pos();
    UserSettings::Write(v);
}

void Form1::cboDev_DropDown() {
    ReadDevicesAgain();
}

void Form1::ReadDevicesAgain() {
    const bool chosen = ui.cboDev->currentIndex() >= 0;
    const std::string id = clsRecorder->SelectedDeviceId();
    FillDevices();
    if (!chosen) {
        return;
    }
    // The chosen device, found by its id: names may repeat, and places move when devices
    // come and go.
    int now = -1;
    for (int i = 0; i < ui.cboDev->count() && !id.empty(); ++i) {
        if (clsRecorder->DeviceId(i) == id) {
            now = i;
            break;
        }
    }
    if (now < 0) {
        // The chosen device has gone: nothing is chosen, and its lines go with it.
        const QSignalBlocker quiet(ui.cboRecLine);
        ui.cboRecLine->clear();
        return;
    }
    ui.cboDev->setCurrentIndex(now);
    // The capture engine counts devices in the list just read; the device's lines and
    // volume are read afresh too.
    cboDev_Click();
}

void Form1::cboRecLine_Click() {
    if (!clsRecorder->SelectMixerLine(ui.cboRecLine->currentIndex())) {
        platform::MsgBox(this, QStringLiteral("Couldn't select mixer line!"),
                         platform::MessageIcon::Warning, kAppTitle);
    }
    // The slider and its label follow the line's volume. Only a move of the slider by the
    // user writes it: the volume read is shown, never written back, so a volume above the
    // full level and channels set apart in the desktop's mixer stay as they are.
    const std::int32_t volume = clsRecorder->MixerLineVolume();
    {
        const QSignalBlocker quiet(ui.sldVol);
        ui.sldVol->setValue(volume); // at most the maximum
    }
    ShowVolume(volume);
}

void Form1::sldVol_Change() {
    const int value = ui.sldVol->value();
    clsRecorder->setMixerLineVolume(value);
    ShowVolume(value);
}

void Form1::ShowVolume(std::int32_t volume) {
    // The percentage the desktop's mixer shows for the volume.
    ui.lblVolPer->setText(QString::number(platform::VolumePercent(volume)) + QStringLiteral("%"));
}

void Form1::cmdFXOpts_Click() {
    if (!fxOpts_) {
        fxOpts_ = std::make_unique<frmFXOpts>(this);
    }
    fxOpts_->ShowEx(*clsEffects, this);
}

void Form1::cboSamplerate_Click() {
    if (!blnLoaded) {
        return;
    }
    cmdSelFmt_Click();
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
    cmdSelFmt_Click();
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

void Form1::Command4_Click() {
    if (TrayIcon::SystemTrayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

// "..." beside the path: another output path; ".wav" is added unless the name ends so.
void Form1::cmdBrowse_Click() {
    const QString pattern =
        QStringLiteral("*.") + QString::fromStdString(clsEncoder->Encoder_Extension());
    const QString filter = QString::fromStdString(clsEncoder->Encoder_Description()) +
                           QStringLiteral(" (") + pattern + QStringLiteral(")");
    // The dialog opens where the path shown points, when that folder is there.
    const QFileInfo shown(ui.txtFile->text());
    const QString folder = shown.absoluteDir().exists() ? shown.absolutePath() : QString();
    const QString name = saveDialog_->GetSaveFileName(this, filter, folder);
    if (name.isEmpty()) {
        return;
    }
    if (name.toLower().right(4) != QStringLiteral(".wav")) {
        ui.txtFile->setText(name + QStringLiteral(".wav"));
    } else {
        ui.txtFile->setText(name);
    }
}

// "..." beside the format: the format chooser for the rate and channels in the window. A
// cancel leaves the format as it was; the box shows the encoder's format either way.
void Form1::cmdSelFmt_Click() {
    clsEncoder->SelectFormat(SampleRate().value_or(0), Channels(), this, "选择声音输出格式");
    ShowWAVFormat();
}

void Form1::tmrVis_Timer() {
    if (!clsRecorder) {
        return;
    }
    if (clsRecorder->IsRecording()) {
        // A hidden window draws nothing; the texts and the recording go on.
        if (isVisible()) {
            clsVis->DrawAmplitudes(intBlock_, *ui.picAmpl);
            clsVis->DrawFrequencies(intBlock_, *ui.picFreq);

            std::int32_t left = 0;
            std::int32_t right = 0;
            if (ui.chkStereo->isChecked()) {
                left = modDisplay::GetPeak(intBlock_, 0, 2);
                right = modDisplay::GetPeak(intBlock_, 1, 2);
            } else {
                left = right = modDisplay::GetPeak(intBlock_, 0, 1);
            }
            // The bars never fall to nothing: a silent block counts as a peak of 1.
            clsSmoothL->SmoothAdd(static_cast<float>(left == 0 ? 1 : left));
            clsSmoothR->SmoothAdd(static_cast<float>(right == 0 ? 1 : right));
            // A bar that shows its level already is not drawn again.
            const auto drawVU = [this](PictureBox& box, float level, ShownBar& shown) {
                if (shown.stamp == box.hDC().Stamp() && shown.level == level) {
                    return;
                }
                modDisplay::DrawVU(*clsVis, box, level);
                shown = {level, box.hDC().Stamp()};
            };
            drawVU(*ui.picVUL, clsSmoothL->SmoothGetMax() / 32768.0f, shownBars_[0]);
            drawVU(*ui.picVUR, clsSmoothR->SmoothGetMax() / 32768.0f, shownBars_[1]);
        }
        // A text is built again only when its value changed since the last tick.
        const QString path = ui.txtFile->text();
        if (path != sizePath_) {
            sizePath_ = path;
            sizePathBytes_ = path.toUtf8();
            sizeStale_ = true;
        }
        if (sizeStale_ || !shownSize_) {
            sizeStale_ = false;
            const double size = FileLength(sizePathBytes_);
            if (shownSize_ != size) {
                sbarSize->setText(QStringLiteral("文件大小: ") +
                                  modDisplay::FormatSize(size, QString()));
                shownSize_ = size;
            }
        }
        if (shownElapsedMS_ != lngElapsedMS_) {
            sbarTime->setText(QStringLiteral("时间: ") + modDisplay::FormatTime(lngElapsedMS_));
            shownElapsedMS_ = lngElapsedMS_;
        }
    } else {
        sbarSize->setText(QStringLiteral("文件大小: 0 Bytes"));
        sbarTime->setText(QStringLiteral("时间: 0:00"));
        shownSize_.reset();
        shownElapsedMS_.reset();
        // The idle texts stand until the next recording starts the timer again: an idle
        // window does no periodic work.
        if (tmrVis) {
            tmrVis->stop();
        }
    }
    ui.CmdST->setEnabled(ui.cmdDo->text() != kCaptionStop);
}

bool Form1::cboSamplerate_KeyPress(QChar character) const {
    if (character == QChar(8)) {
        return true;
    }
    // The typed digit replaces the selected text, so the selection does not count towards
    // the five digits.
    const QLineEdit* edit = ui.cboSamplerate->lineEdit();
    return character >= u'0' && character <= u'9' &&
           edit->text().size() - edit->selectedText().size() < 5;
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        (watched == ui.cboSamplerate || watched == ui.cboSamplerate->lineEdit())) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Paste)) {
            return true;
        }
        // Keys that type no character (arrows, Home, Delete) and focus moves work as usual;
        // every typed character goes through the rate filter.
        const bool typesCharacter = !key->text().isEmpty() && key->key() != Qt::Key_Delete &&
                                    key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab;
        if (typesCharacter) {
            return !cboSamplerate_KeyPress(key->text().front());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// "试听": the last finished recording in the preview window (an empty player before the
// first stop of the run).
void Form1::CmdST_Click() {
    if (!frmST_) {
        frmST_ = std::make_unique<FrmST>();
    }
    frmST_->ShowWith(strLastFile_);
}

// "关于"
void Form1::Command1_Click() {
    if (!frmAbout_) {
        frmAbout_ = std::make_unique<About>(programFolder_);
    }
    frmAbout_->show();
    frmAbout_->raise();
    frmAbout_->activateWindow();
}

// "打开文件夹": the next output file, which exists, selected in its folder.
void Form1::Command3_Click() {
    ModFolderSetFileFocus::FolderSetFileFocus(ui.txtFile->text());
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
    const std::int16_t channels = Channels();
    lngBytesPerSec_ = *rate * (2 * (channels - 1) + 2);
    recordRate_ = *rate;
    recordChannels_ = channels;

    if (clsEncoder->Encoder_EncoderInit(*rate, channels, ui.txtFile->text().toStdString()) != 0) {
        hint(clsEncoder->OutputInUse() ? QStringLiteral("该文件正在被另一个录音使用!")
                                       : QStringLiteral("无法初始化编码器!"));
        return;
    }
    clsEffects->setSamplerate(*rate);
    clsEffects->setChannels(channels);

    // The encoder takes at most one second of sound per block: below 5120 Hz mono (2560 Hz
    // stereo) a capture block holds one second instead of its usual 10240 bytes.
    clsRecorder->setBufferSize(std::min(kCaptureBlockBytes, lngBytesPerSec_));
    if (!clsRecorder->StartRecord(*rate, channels)) {
        // Without capture there is nothing to record: finish the empty file and stay idle.
        if (clsRecorder->StartError() == platform::MMSYSERR_BADDEVICEID) {
            // The chosen device is gone: the list shows what there is now, and the user
            // chooses again.
            clsEncoder->Encoder_EncoderClose();
            ReadDevicesAgain();
            hint(QStringLiteral("所选录音设备已不存在，请重新选择!"));
            return;
        }
        hint(QStringLiteral("不能启动录音功能!"));
        clsEncoder->Encoder_EncoderClose();
        return;
    }
    ui.cmdDo->setText(kCaptionStop);
    EnableSettings(false);
    WriteSettings();
    SaveUserSettings();
    tmrVis->start();
}

void Form1::StopRecording() {
    if (stopping_) {
        // A block of the take's end asks for the stop: the capture ends at that block, and
        // the stop under way finishes the take.
        clsRecorder->StopRecord();
        return;
    }
    // The capture engine hands the end of the take to clsRecorder_GotData before it returns,
    // so the file is finished after the last block.
    stopping_ = true;
    const bool stopped = clsRecorder->StopRecord();
    stopping_ = false;
    if (std::exchange(takeEndedAtStop_, false)) {
        writeFailedAtStop_ = false;
        return;
    }
    if (!stopped) {
        platform::MsgBox(this, QStringLiteral("此时无法停止录音!"), platform::MessageIcon::Warning,
                         kTitleHint);
    }
    clsEncoder->Encoder_EncoderClose();
    ShowIdle();
    strLastFile_ = ui.txtFile->text();
    NextFile();
    EnableSettings(true);
    ReportLostSound(clsRecorder->SilenceBytes(), clsRecorder->DroppedBytes());
    if (std::exchange(writeFailedAtStop_, false)) {
        platform::MsgBox(this, QStringLiteral("Write error (no disk space left?)!"),
                         platform::MessageIcon::Warning, kAppTitle);
    }
}

void Form1::ShowIdle() {
    lngElapsedMS_ = 0;
    lngBytesPerSec_ = 0;
    ui.cmdDo->setText(QStringLiteral("开始录音"));
}

void Form1::ReportLostSound(std::uint64_t silenceBytes, std::uint64_t droppedBytes) {
    if ((silenceBytes == 0 && droppedBytes == 0) || recordRate_ <= 0 || recordChannels_ <= 0) {
        return;
    }
    const auto seconds = [this](std::uint64_t bytes) {
        return QString::number(static_cast<double>(bytes) /
                                   (static_cast<double>(recordRate_) * recordChannels_ * 2),
                               'f', 3);
    };
    QStringList shown;
    QStringList logged;
    if (silenceBytes != 0) {
        shown << QStringLiteral("录音中有 %1 秒声音丢失，已用静音补上").arg(seconds(silenceBytes));
        logged << QStringLiteral("%1 s (%2 bytes) of sound lost by the capture, written as silence")
                      .arg(seconds(silenceBytes), QString::number(silenceBytes));
    }
    if (droppedBytes != 0) {
        shown << QStringLiteral("录音中有 %1 秒声音未能及时读取，已被声音服务器丢弃")
                     .arg(seconds(droppedBytes));
        logged << QStringLiteral("%1 s (%2 bytes) of sound dropped by the sound server before "
                                 "it was read, missing from the file")
                      .arg(seconds(droppedBytes), QString::number(droppedBytes));
    }
    ui.sbar->showMessage(shown.join(QStringLiteral("；")));
    platform::LogError(QStringLiteral("%1: %2")
                           .arg(strLastFile_, logged.join(QStringLiteral("; ")))
                           .toStdString());
}

bool Form1::ContinueInNextFile() {
    clsEncoder->Encoder_EncoderClose();
    strLastFile_ = ui.txtFile->text();
    NextFile();
    if (clsEncoder->Encoder_EncoderInit(recordRate_, recordChannels_,
                                        ui.txtFile->text().toStdString()) != 0) {
        // Nothing can take the sound: the recording ends with the full file, the counter
        // stays on the file that could not be opened.
        clsRecorder->StopRecord();
        ShowIdle();
        EnableSettings(true);
        takeEndedAtStop_ = stopping_;
        platform::MsgBox(this, QStringLiteral("无法初始化编码器!"), platform::MessageIcon::Warning,
                         kTitleHint);
        return false;
    }
    ui.sbar->showMessage(QStringLiteral("文件已达大小上限，录音继续写入 %1")
                             .arg(QFileInfo(ui.txtFile->text()).fileName()),
                         10000);
    return true;
}

void Form1::DeviceLost() {
    if (!clsRecorder->IsRecording()) {
        return;
    }
    StopRecording();
    platform::MsgBox(this, QStringLiteral("录音设备已断开，录音已停止!"),
                     platform::MessageIcon::Warning, kTitleHint);
}

void Form1::GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) {
    clsRecorder_GotData(intBuffer, lngLen);
}

void Form1::clsRecorder_GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) {
    // The capture engine hands this array back to the device when the handler returns: the
    // effects, the file and the display work on a copy. Its storage is reused from block to
    // block; it only grows when the buffer size grows.
    intBlock_.resize(intBuffer.size());
    std::copy(intBuffer.begin(), intBuffer.end(), intBlock_.begin());
    clsEffects->ProcessSamples(intBlock_);

    if (!clsRecorder->IsRecording()) {
        return;
    }
    const std::int32_t blockBytes = static_cast<std::int32_t>(intBlock_.size() * 2);
    const std::int32_t length = std::clamp(lngLen, std::int32_t{0}, blockBytes);
    // Each block adds its own duration rounded to whole milliseconds (58 for 10240 bytes at
    // 44100 Hz stereo).
    lngElapsedMS_ = static_cast<std::int32_t>(
        std::nearbyint(static_cast<double>(length) / lngBytesPerSec_ * 1000.0 + lngElapsedMS_));

    if (clsEncoder) {
        // A file at its size limit is finished and the block opens the next one, so a long
        // take goes on in numbered files without a gap.
        if (clsEncoder->WouldExceedLimit(length) && !ContinueInNextFile()) {
            return;
        }
        std::int32_t buffer_used = 0;
        const std::int32_t result = clsEncoder->Encoder_Encode(
            reinterpret_cast<const std::uint8_t*>(intBlock_.data()), length, buffer_used);
        sizeStale_ = true;
        if (result == 10) {
            // Short write: finish what is on disk and advance the counter, then tell the user.
            // During a stop the stop does both, once it has finished the take.
            if (stopping_) {
                writeFailedAtStop_ = true;
                cmdDo_Click();
                return;
            }
            cmdDo_Click();
            platform::MsgBox(this, QStringLiteral("Write error (no disk space left?)!"),
                             platform::MessageIcon::Warning, kAppTitle);
        } else if (result != 0) {
            // The encoder refused the block: a take that went on would write nothing while
            // the time counts up. It ends here with what is on disk, and the user is told.
            cmdDo_Click();
            platform::MsgBox(this, QStringLiteral("编码失败，录音已停止!"),
                             platform::MessageIcon::Warning, kTitleHint);
        }
    }
}
