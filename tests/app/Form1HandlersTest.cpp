#include "EventPump.h"
#include "Form1Fixture.h"

#include "app/SaveFileDialog.h"
#include "app/UserSettings.h"
#include "dsp/clsDSP.h"
#include "platform/acm/AcmFormats.h"
#include "platform/acm/WaveFormat.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTime>
#include <QTimeEdit>

#include <algorithm>
#include <deque>

namespace {

// Answers the save dialog with the queued names (an empty name is a cancel) and remembers
// the filters and folders it was shown with.
class ScriptedSaveDialog final : public SaveFileDialog {
public:
    QString GetSaveFileName(QWidget*, const QString& filter, const QString& folder,
                            QString* selectedFilter) override {
        filters.push_back(filter);
        folders.push_back(folder);
        shownSelected.push_back(*selectedFilter);
        if (answers.empty()) {
            return {};
        }
        const QString answer = answers.front();
        answers.pop_front();
        if (!selections.empty()) {
            *selectedFilter = selections.front();
            selections.pop_front();
        }
        return answer;
    }
    std::deque<QString> answers;
    std::deque<QString> selections; // the entry chosen with each answer, when given
    QStringList shownSelected;
    QStringList filters;
    QStringList folders;
};

class Form1Handlers : public Form1Fixture {};

QString Text(Form1& form, const char* name) {
    return Form1Fixture::control<QLineEdit>(form, name)->text();
}

// Picks the entry at `index` of the rate list as the user does: the list opens and the
// entry is clicked.
void PickFromList(QComboBox& cbo, int index) {
    cbo.showPopup();
    QAbstractItemView* view = cbo.view();
    const QModelIndex entry = view->model()->index(index, 0);
    view->setCurrentIndex(entry);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(entry).center());
    ASSERT_FALSE(view->isVisible());
}

// The window active and the rate box focused, as when the user types into it.
void FocusRateBox(Form1& form) {
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Form1Fixture::control<QComboBox>(form, "cboSamplerate")->setFocus();
}

TEST_F(Form1Handlers, RateBoxKeepsOnlyWhatTheKeyFilterLetsThrough) {
    auto form = Open();
    auto* cbo = control<QComboBox>(*form, "cboSamplerate");
    QLineEdit* edit = cbo->lineEdit();
    FocusRateBox(*form);

    // Any rate of up to five digits comes out as typed (the list completes nothing), and
    // typing over a selection replaces it: the selected text does not count.
    for (const char* rate : {"48000", "16000", "4", "12000", "24000", "8"}) {
        edit->selectAll();
        QTest::keyClicks(cbo, rate);
        EXPECT_EQ(cbo->currentText(), QString::fromLatin1(rate));
    }
    QTest::keyClicks(cbo, "0000");
    EXPECT_EQ(cbo->currentText(), QStringLiteral("80000"));
    QTest::keyClicks(cbo, "1");
    EXPECT_EQ(cbo->currentText(), QStringLiteral("80000")) << "a sixth digit is refused";
    edit->setSelection(1, 1);
    QTest::keyClicks(cbo, "4");
    EXPECT_EQ(cbo->currentText(), QStringLiteral("84000"));
    QTest::keyClick(cbo, Qt::Key_Return);
    EXPECT_EQ(cbo->currentText(), QStringLiteral("84000"));
    EXPECT_EQ(cbo->count(), 4) << "typed rates are not added to the list";
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(cbo->currentText(), QString());

    // Pasting text that is not all digits keeps the digits, five at most.
    QGuiApplication::clipboard()->setText(QStringLiteral("12ab"));
    edit->paste();
    EXPECT_EQ(cbo->currentText(), QStringLiteral("12"));
    QGuiApplication::clipboard()->setText(QStringLiteral("3.4-5x6789"));
    edit->paste();
    EXPECT_EQ(cbo->currentText(), QStringLiteral("12345"));
    // The paste key is a control character the filter refuses.
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QGuiApplication::clipboard()->setText(QStringLiteral("22050"));
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(cbo->currentText(), QString());
    EXPECT_TRUE(chooser.openings.empty()) << "typing and pasting open no chooser";
}

TEST_F(Form1Handlers, BrowseAddsTheExtensionUnlessTheNameEndsWithIt) {
    ScriptedSaveDialog dialog;
    auto form = Open();
    form->setSaveFileDialog(dialog);
    const QString numbered = Text(*form, "txtFile");
    const QString folder = dir.path() + QStringLiteral("/other/");
    const QString flac = QStringLiteral("FLAC (*.flac)");
    dialog.answers = {folder + "Test", folder + "TEST.WAV",  folder + "a.mp3",
                      QString(),       folder + "x.wav.txt", folder + "talk"};
    dialog.selections = {QString(), QString(), QString(), QString(), QString(), flac};
    ASSERT_TRUE(QDir().mkpath(folder));

    Click(*form, "cmdBrowse");
    EXPECT_EQ(dialog.filters[0], QStringLiteral("Wave ACM Encoder (*.wav);;FLAC (*.flac);;"
                                                "Ogg Opus (*.opus);;MP3 (*.mp3)"));
    EXPECT_EQ(dialog.shownSelected[0], QStringLiteral("Wave ACM Encoder (*.wav)"));
    // The dialog opens in the folder of the path shown.
    EXPECT_EQ(dialog.folders.back(), QFileInfo(numbered).absolutePath());
    EXPECT_EQ(Text(*form, "txtFile"), folder + "Test.wav");
    Click(*form, "cmdBrowse");
    EXPECT_EQ(dialog.folders.back(), QDir::cleanPath(folder));
    EXPECT_EQ(Text(*form, "txtFile"), folder + "TEST.WAV");
    Click(*form, "cmdBrowse");
    EXPECT_EQ(Text(*form, "txtFile"), folder + "a.mp3") << "an MP3 take";
    EXPECT_EQ(Text(*form, "txtWAVFmt"), QStringLiteral("MP3 - 128 kbit/s Stereo"));
    Click(*form, "cmdBrowse");
    EXPECT_EQ(dialog.shownSelected.back(), QStringLiteral("MP3 (*.mp3)"));
    EXPECT_EQ(Text(*form, "txtFile"), folder + "a.mp3") << "a cancel changes nothing";
    Click(*form, "cmdBrowse");
    EXPECT_EQ(Text(*form, "txtFile"), folder + "x.wav.txt.wav");
    EXPECT_TRUE(Text(*form, "txtWAVFmt").startsWith(QStringLiteral("PCM - ")));
    Click(*form, "cmdBrowse");
    EXPECT_EQ(Text(*form, "txtFile"), folder + "talk.flac") << "the type chosen in the dialog";
    EXPECT_EQ(Text(*form, "txtWAVFmt"), QStringLiteral("FLAC - 44.1 kHz 16 Bit Stereo"));
    EXPECT_NE(numbered, Text(*form, "txtFile"));
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Form1Handlers, RateListAndStereoBoxOpenTheFormatChooser) {
    auto form = Open();
    EXPECT_TRUE(chooser.openings.empty()) << "start-up opens no chooser";
    chooser.pick = [](const std::vector<platform::AcmFormatChoice>& offered)
        -> std::optional<platform::FormatChooser::Choice> {
        for (const auto& f : offered) {
            if (f.tagName == "IMA ADPCM" && f.text == "22,050 Hz, 4 Bit, Stereo") {
                return platform::FormatChooser::Choice{f.record, f.tagName, f.text};
            }
        }
        return std::nullopt;
    };
    auto* cbo = control<QComboBox>(*form, "cboSamplerate");
    ASSERT_EQ(cbo->itemText(1), QStringLiteral("22050"));
    PickFromList(*cbo, 1);
    ASSERT_EQ(chooser.openings.size(), 1u);
    EXPECT_EQ(chooser.openings[0].title, "选择声音输出格式");
    EXPECT_EQ(chooser.openings[0].owner, form.get());
    EXPECT_EQ(chooser.openings[0].source, platform::WaveFormat::pcm(22050, 2, 16).bytes());
    EXPECT_GT(chooser.openings[0].offered, 0u);
    // It opens on the format set, so that accepting at once keeps it.
    EXPECT_EQ(chooser.openings[0].initial, platform::WaveFormat::pcm(44100, 2, 16).bytes());
    EXPECT_EQ(Text(*form, "txtWAVFmt"), QStringLiteral("IMA ADPCM - 22,050 Hz, 4 Bit, Stereo"));
    EXPECT_EQ(form->Effects().samplerate(), 22050);

    // The stereo box: the chooser for mono; a cancel keeps the format shown.
    chooser.pick = nullptr;
    control<QCheckBox>(*form, "chkStereo")->click();
    ASSERT_EQ(chooser.openings.size(), 2u);
    EXPECT_EQ(chooser.openings[1].source, platform::WaveFormat::pcm(22050, 1, 16).bytes());
    EXPECT_EQ(chooser.openings[1].initial,
              platform::AcmFormats::record(platform::AcmFormats::TagImaAdpcm, 22050, 2)->bytes());
    EXPECT_EQ(Text(*form, "txtWAVFmt"), QStringLiteral("IMA ADPCM - 22,050 Hz, 4 Bit, Stereo"));
    EXPECT_EQ(form->Effects().Channels(), 1);

    // The format button itself.
    Click(*form, "cmdSelFmt");
    EXPECT_EQ(chooser.openings.size(), 3u);
}

// Typing never opens the chooser, not even a rate of the list taken when the focus leaves
// the box: the click on the start button that moves the focus starts the recording, at the
// typed rate.
TEST_F(Form1Handlers, TypedRateOpensNoChooserAndTheStartTakesIt) {
    auto form = Open();
    PickDevice(*form, 0);
    auto* cbo = control<QComboBox>(*form, "cboSamplerate");
    FocusRateBox(*form);
    for (const char* rate : {"22050", "11025"}) {
        cbo->lineEdit()->selectAll();
        QTest::keyClick(cbo, Qt::Key_Backspace);
        QTest::keyClicks(cbo, rate);
        QTest::keyClick(cbo, Qt::Key_Tab);
        EXPECT_FALSE(cbo->hasFocus());
        cbo->setFocus();
    }
    QTest::keyClick(cbo, Qt::Key_Return);
    cbo->lineEdit()->selectAll();
    QTest::keyClick(cbo, Qt::Key_Backspace);
    QTest::keyClicks(cbo, "22050");
    QTest::mouseClick(control<QPushButton>(*form, "cmdDo"), Qt::LeftButton);
    EXPECT_TRUE(chooser.openings.empty());
    ASSERT_TRUE(form->Recorder().IsRecording());
    EXPECT_EQ(form->Effects().samplerate(), 22050);
    EXPECT_TRUE(std::any_of(waveIn.log.begin(), waveIn.log.end(), [](const std::string& line) {
        return line.starts_with("open 0 22050 2 ");
    }));
}

// A format the conversion stream cannot make from the recording's sound refuses the start.
TEST_F(Form1Handlers, FormatTheStreamCannotProduceRefusesTheStart) {
    auto form = Open();
    chooser.pick = [](const auto&) {
        std::vector<std::uint8_t> record = platform::WaveFormat::pcm(44100, 2, 16).bytes();
        record[0] = 0x34; // format type 0x1234: no codec makes it
        record[1] = 0x12;
        return std::optional<platform::FormatChooser::Choice>{{record, "Unknown", "44,100 Hz"}};
    };
    Click(*form, "cmdSelFmt");
    EXPECT_EQ(Text(*form, "txtWAVFmt"), QStringLiteral("Unknown - 44,100 Hz"));
    // A format not on offer: the chooser opens on the window's own 16-bit PCM.
    chooser.pick = nullptr;
    Click(*form, "cmdSelFmt");
    ASSERT_EQ(chooser.openings.size(), 2u);
    EXPECT_EQ(chooser.openings[1].initial, platform::WaveFormat::pcm(44100, 2, 16).bytes());
    PickDevice(*form, 0);
    Click(*form, "cmdDo");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("无法初始化编码器!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
    EXPECT_FALSE(form->Recorder().IsRecording());
    EXPECT_EQ(control<QPushButton>(*form, "cmdDo")->text(), QStringLiteral("开始录音"));
}

// Opening the device list reads it afresh: the chosen device stays chosen where it still
// exists (its lines and volume read again), is dropped where it has gone.
TEST_F(Form1Handlers, DeviceListIsReadAgainWhenItOpens) {
    waveIn.mixers[1].lines = {{"Line in", 4, {30000}}};
    auto form = Open();
    auto* cboDev = control<QComboBox>(*form, "cboDev");
    auto* cboRecLine = control<QComboBox>(*form, "cboRecLine");
    PickDevice(*form, 1);
    ASSERT_EQ(cboRecLine->count(), 1);

    // The microphone is unplugged and a headset plugged in: the line-in moves to place 0.
    waveIn.devices = {"Scripted line in", "Headset"};
    waveIn.mixers[0] = {.lines = {{"Line in", 4, {40000}}, {"Front", 4, {0}}}, .selected = 0};
    cboDev->showPopup();
    cboDev->hidePopup();
    ASSERT_EQ(cboDev->count(), 2);
    EXPECT_EQ(cboDev->itemText(1), QStringLiteral("Headset"));
    EXPECT_EQ(cboDev->currentIndex(), 0);
    EXPECT_EQ(form->Recorder().SelectedDevice(), 0);
    EXPECT_EQ(cboRecLine->count(), 2);
    EXPECT_EQ(control<QSlider>(*form, "sldVol")->value(), 40000);

    // The line-in goes too: nothing is chosen, no lines are shown, the start says so.
    waveIn.devices = {"Headset"};
    cboDev->showPopup();
    cboDev->hidePopup();
    EXPECT_EQ(cboDev->count(), 1);
    EXPECT_EQ(cboDev->currentIndex(), -1);
    EXPECT_EQ(cboRecLine->count(), 0);
    EXPECT_TRUE(messages.messages.empty());
    Click(*form, "cmdDo");
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("没有选择硬件设备!"));
}

// A start set for a clock time starts the take then, once, on the chosen device; when that
// device is gone by then, the start says so and nothing records from another device.
TEST_F(Form1Handlers, TimedStartRecordsThePickedDeviceOnceOrSaysItIsGone) {
    auto form = Open();
    PickDevice(*form, 1);
    auto* startAt = control<QCheckBox>(*form, "chkStartAt");
    const auto armFor = [&](int seconds) {
        control<QTimeEdit>(*form, "tmeStartAt")->setTime(QTime::currentTime().addSecs(seconds));
        startAt->setChecked(true);
    };
    armFor(2);
    PumpFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(form->Recorder().IsRecording()) << "not before its time";
    ASSERT_TRUE(
        PumpUntil([&] { return form->Recorder().IsRecording(); }, std::chrono::milliseconds(4000)));
    EXPECT_FALSE(startAt->isChecked()) << "a timed start happens once";
    EXPECT_NE(std::find(waveIn.log.begin(), waveIn.log.end(), "open 1 44100 2 4 176400"),
              waveIn.log.end());
    Click(*form, "cmdDo");

    armFor(2);
    waveIn.devices = {"Scripted microphone"}; // the line-in is unplugged meanwhile
    waveIn.log.clear();
    ASSERT_TRUE(
        PumpUntil([&] { return !messages.messages.empty(); }, std::chrono::milliseconds(4000)));
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("所选录音设备已不存在，请重新选择!"));
    EXPECT_FALSE(form->Recorder().IsRecording());
    EXPECT_EQ(std::count(waveIn.log.begin(), waveIn.log.end(), "start"), 0);
}

} // namespace

// The next start finds the set-up of the last run: the device (by its server name), the
// typed rate, mono, the format chosen, the effects and where the window stood; nothing opens
// the chooser at start. A damaged file gives the defaults.
TEST_F(Form1Handlers, TheNextStartRemembersTheSetUpAndADamagedFileGivesTheDefaults) {
    const QString file = dir.filePath(QStringLiteral("config/Vocarn/Vocarn.conf"));
    UserSettings::SetFile(file);
    struct KeepNothingAfter {
        ~KeepNothingAfter() { UserSettings::SetFile(QString()); }
    } keepNothingAfter;
    QString format;
    {
        auto form = Open();
        PickDevice(*form, 1);
        control<QComboBox>(*form, "cboSamplerate")->setCurrentText(QStringLiteral("22050"));
        chooser.pick = [](const std::vector<platform::AcmFormatChoice>& formats)
            -> std::optional<platform::FormatChooser::Choice> {
            for (const auto& f : formats) {
                if (f.tagName == "IMA ADPCM" && f.text == "22,050 Hz, 4 Bit, Mono") {
                    return platform::FormatChooser::Choice{f.record, f.tagName, f.text};
                }
            }
            return std::nullopt;
        };
        control<QCheckBox>(*form, "chkStereo")->click();
        format = Text(*form, "txtWAVFmt");
        ASSERT_TRUE(format.startsWith(QStringLiteral("IMA ADPCM - 22,050 Hz")))
            << format.toStdString();
        control<QCheckBox>(*form, "chkFX_0")->click();
        control<QCheckBox>(*form, "chkFX_3")->click();
        form->Effects().setEchoLength(250);
        form->Effects().setEqualizerBandGainDB(2, 5.0f);
        form->move(30, 40);
        control<QCheckBox>(*form, "chkVoice")->click();
        control<QSpinBox>(*form, "spnThreshold")->setValue(-33);
        control<QTimeEdit>(*form, "tmeLength")->setTime(QTime(2, 5, 7));
    }
    const std::size_t openings = chooser.openings.size();
    {
        auto form = Open();
        EXPECT_EQ(control<QComboBox>(*form, "cboDev")->currentIndex(), 1);
        EXPECT_EQ(form->Recorder().SelectedDevice(), 1);
        EXPECT_EQ(control<QComboBox>(*form, "cboSamplerate")->currentText(), "22050");
        EXPECT_FALSE(control<QCheckBox>(*form, "chkStereo")->isChecked());
        EXPECT_EQ(Text(*form, "txtWAVFmt"), format);
        EXPECT_TRUE(control<QCheckBox>(*form, "chkFX_0")->isChecked());
        EXPECT_TRUE(control<QCheckBox>(*form, "chkFX_3")->isChecked());
        EXPECT_EQ(form->Effects().EffectsUsed(), 1 | 8);
        EXPECT_EQ(form->Effects().EchoLength(), 250);
        EXPECT_EQ(form->Effects().EqualizerBandGainDB(2), 5.0f);
        EXPECT_EQ(form->Effects().Channels(), 1);
        EXPECT_EQ(form->pos(), QPoint(30, 40));
        EXPECT_TRUE(control<QCheckBox>(*form, "chkVoice")->isChecked());
        EXPECT_EQ(control<QSpinBox>(*form, "spnThreshold")->value(), -33);
        EXPECT_FALSE(control<QCheckBox>(*form, "chkLength")->isChecked());
        EXPECT_EQ(control<QTimeEdit>(*form, "tmeLength")->time(), QTime(2, 5, 7));
        EXPECT_EQ(chooser.openings.size(), openings) << "the start opens no chooser";
    }

    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
    damaged.write(QByteArray("[output]\nrate=4x1\nchannels=7\nformat=zz\n[effects]\nused=99\n"
                             "echoLength=-3\nband2=nan\n[input]\ndevice=gone\n\x01\xff[\n"));
    damaged.close();
    auto form = Open();
    EXPECT_EQ(control<QComboBox>(*form, "cboDev")->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(*form, "cboSamplerate")->currentText(), "44100");
    EXPECT_TRUE(control<QCheckBox>(*form, "chkStereo")->isChecked());
    EXPECT_EQ(form->Effects().EffectsUsed(), 0);
    EXPECT_EQ(form->Effects().EchoLength(), 100);
    EXPECT_EQ(form->Effects().EqualizerBandGainDB(2), 0.0f);
    EXPECT_TRUE(Text(*form, "txtWAVFmt").startsWith(QStringLiteral("PCM")));
    EXPECT_TRUE(messages.messages.empty());
}
