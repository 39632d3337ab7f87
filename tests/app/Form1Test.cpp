#include "app/Form1.h"
#include "app/SettingsFile.h"
#include "dsp/clsDSP.h"
#include "platform/WindowService.h"

#include "AudioProbe.h"
#include "EventPump.h"
#include "Form1Fixture.h"
#include "MessageRecorder.h"
#include "ReadBack.h"
#include "ScriptedChooser.h"
#include "ScriptedWaveIn.h"

#include "TestFiles.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace {

using namespace std::chrono_literals;

constexpr std::int32_t kBlockBytes = 10240; // the capture engine's default buffer
constexpr std::size_t kBlockSamples = kBlockBytes / 2;

// A recognisable block: sample i of block n is n * 7 + i, wrapped to 16 bits.
std::vector<std::int16_t> block(int n, std::size_t samples = kBlockSamples) {
    std::vector<std::int16_t> data(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        data[i] = static_cast<std::int16_t>(n * 7 + static_cast<int>(i));
    }
    return data;
}

class Form1Test : public Form1Fixture {
public:
    static QString Caption(Form1& form) { return control<QPushButton>(form, "cmdDo")->text(); }
    static QString Path(Form1& form) { return control<QLineEdit>(form, "txtFile")->text(); }

    // Feeds `count` whole blocks and waits until the window has handled them.
    void FeedBlocks(Form1& form, int count, int first = 0) {
        // Every block handed to the encoder moves the recorded time on.
        for (int n = first; n < first + count; ++n) {
            const std::int32_t before = form.lngElapsedMS();
            waveIn.Feed(block(n));
            ASSERT_TRUE(PumpUntil([&] { return form.lngElapsedMS() != before; })) << n;
        }
    }

    QString FilePath(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
};

TEST_F(Form1Test, StartsIdleWithTheFirstNumberedFileAndNoDeviceChosen) {
    auto form = Open();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("VocarnV3.93"));
    EXPECT_TRUE(form->isVisible());

    auto* cboDev = control<QComboBox>(*form, "cboDev");
    ASSERT_EQ(cboDev->count(), 2);
    EXPECT_EQ(cboDev->itemText(1), QStringLiteral("Scripted line in"));
    EXPECT_EQ(cboDev->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>(*form, "cboRecLine")->count(), 0);
    EXPECT_EQ(control<QComboBox>(*form, "cboSamplerate")->currentText(), QStringLiteral("44100"));
    EXPECT_TRUE(control<QCheckBox>(*form, "chkStereo")->isChecked());
    EXPECT_EQ(control<QLineEdit>(*form, "txtWAVFmt")->text(),
              QStringLiteral("PCM - 44.1 kHz 16 Bit Stereo"));
    EXPECT_EQ(Caption(*form), QStringLiteral("开始录音"));
    EXPECT_EQ(control<QLabel>(*form, "sbarSize")->text(), QStringLiteral("文件大小: 0 字节"));
    EXPECT_EQ(control<QLabel>(*form, "sbarTime")->text(), QStringLiteral("长度: 0:00"));

    // No nu.ini: the counter starts at 0, its file and the "file" folder are created, and
    // nu.ini waits for the first recording.
    EXPECT_EQ(form->intFileNo(), 0);
    EXPECT_EQ(Path(*form), FilePath("file/录音0.wav"));
    EXPECT_TRUE(QFileInfo(Path(*form)).isFile());
    EXPECT_EQ(QFileInfo(Path(*form)).size(), 0);
    EXPECT_FALSE(QFile::exists(SettingsFile::path(dir.path())));

    EXPECT_EQ(form->Effects().samplerate(), 44100);
    EXPECT_EQ(form->Effects().Channels(), 2);
    EXPECT_EQ(form->Effects().EffectsUsed(), 0);
    EXPECT_EQ(form->intBlock().size(), 1024u);
    EXPECT_EQ(form->lngElapsedMS(), 0);
}

TEST_F(Form1Test, LaysOutEveryControlInsideTheWindowWithoutOverlaps) {
    auto form = Open();
    const QWidget* central = form->centralWidget();
    ASSERT_NE(central, nullptr);
    EXPECT_EQ(central->height(), 375);
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed border";

    // The frames sit where the classic layout puts them; the effect switches are beside them.
    EXPECT_EQ(control<QGroupBox>(*form, "frmInp")->geometry(), QRect(8, 0, 345, 87));
    EXPECT_EQ(control<QGroupBox>(*form, "frmOut")->geometry(), QRect(8, 88, 346, 95));
    EXPECT_EQ(control<QGroupBox>(*form, "Frame1")->geometry(), QRect(8, 184, 345, 57));
    EXPECT_EQ(control<QGroupBox>(*form, "Frame2")->geometry(), QRect(8, 248, 345, 97));
    EXPECT_EQ(control<QPushButton>(*form, "cmdDo")->geometry(), QRect(120, 8, 125, 41));

    const QList<QWidget*> tops = {
        control<QGroupBox>(*form, "frmInp"), control<QGroupBox>(*form, "frmOut"),
        control<QGroupBox>(*form, "Frame1"), control<QGroupBox>(*form, "Frame2"),
        control<QLabel>(*form, "Label1"),    control<QGroupBox>(*form, "frmEffects")};
    for (QWidget* a : tops) {
        EXPECT_TRUE(central->rect().contains(a->geometry())) << a->objectName().toStdString();
        EXPECT_TRUE(a->isVisible()) << a->objectName().toStdString();
        for (QWidget* b : tops) {
            if (a != b) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry()))
                    << a->objectName().toStdString() << " / " << b->objectName().toStdString();
            }
        }
    }
    // Every control lies inside its parent.
    for (QWidget* child : central->findChildren<QWidget*>()) {
        if (child->parentWidget() != nullptr && !child->isWindow() &&
            child->parentWidget()->inherits("QGroupBox")) {
            EXPECT_TRUE(child->parentWidget()->rect().contains(child->geometry()))
                << child->objectName().toStdString();
        }
    }
    auto* frmEffects = control<QGroupBox>(*form, "frmEffects");
    EXPECT_EQ(frmEffects->title(), QStringLiteral("特效/滤镜"));
    const char* captions[] = {"回声", "周相移动", "放大器", "均衡器"};
    for (int i = 0; i < 4; ++i) {
        auto* chk = control<QCheckBox>(*form, ("chkFX_" + std::to_string(i)).c_str());
        EXPECT_EQ(chk->text(), QString::fromUtf8(captions[i]));
        EXPECT_FALSE(chk->isChecked());
        EXPECT_TRUE(chk->isVisible());
    }
}

TEST_F(Form1Test, RecordsToTheNumberedFileAndPreparesTheNext) {
    ASSERT_TRUE(QDir(dir.path()).mkpath("file"));
    writeFile(SettingsFile::path(dir.path()), "7\r\n");
    writeFile(FilePath("file/录音8.wav"), ""); // an empty next file is kept as it is
    auto form = Open();
    ASSERT_EQ(Path(*form), FilePath("file/录音7.wav"));

    Start(*form);
    EXPECT_EQ(Caption(*form), QStringLiteral("停止录音"));
    EXPECT_FALSE(control<QGroupBox>(*form, "frmInp")->isEnabled());
    EXPECT_FALSE(control<QGroupBox>(*form, "frmOut")->isEnabled());
    EXPECT_TRUE(control<QPushButton>(*form, "cmdFXOpts")->isEnabled());
    EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("7\r\n"));
    FeedBlocks(*form, 3);

    control<QPushButton>(*form, "cmdDo")->click();
    EXPECT_FALSE(form->Recorder().IsRecording());
    EXPECT_EQ(Caption(*form), QStringLiteral("开始录音"));
    EXPECT_TRUE(control<QGroupBox>(*form, "frmInp")->isEnabled());
    EXPECT_TRUE(control<QGroupBox>(*form, "frmOut")->isEnabled());
    EXPECT_EQ(form->strLastFile(), FilePath("file/录音7.wav"));
    EXPECT_EQ(Path(*form), FilePath("file/录音8.wav"));
    EXPECT_EQ(QFileInfo(Path(*form)).size(), 0);
    EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("8\r\n"));
    EXPECT_EQ(form->lngElapsedMS(), 0);
    EXPECT_EQ(form->lngBytesPerSec(), 0);
    EXPECT_TRUE(messages.messages.empty());

    // The three blocks, in order, as the file readers see them.
    std::vector<std::int16_t> expected;
    for (int n = 0; n < 3; ++n) {
        const auto b = block(n);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(ReadBack(form->strLastFile(), 44100, 2), expected);
}

// A path named .flac, .opus or .mp3 records that type through the same window: the format
// box says what is written, the file opens in ffprobe as the type and decodes in the type's
// reference reader (FLAC to the very samples), and the next numbered take keeps the type.
TEST_F(Form1Test, EachFileTypeRecordsThroughTheWindowAndTheNumberingKeepsIt) {
    auto form = Open();
    const std::pair<const char*, const char*> types[] = {{"flac", "FLAC - 44.1 kHz 16 Bit Stereo"},
                                                         {"opus", "Opus - 48 kbit/s Stereo"},
                                                         {"mp3", "MP3 - 128 kbit/s Stereo"}};
    int number = 0;
    for (const auto& [extension, shown] : types) {
        const QString path = FilePath("file/录音") + QString::number(number) + QStringLiteral(".") +
                             QString::fromLatin1(extension);
        control<QLineEdit>(*form, "txtFile")->setText(path);
        EXPECT_EQ(control<QLineEdit>(*form, "txtWAVFmt")->text(), QString::fromLatin1(shown));
        Start(*form);
        FeedBlocks(*form, 20); // 1.16 s
        control<QPushButton>(*form, "cmdDo")->click();
        ++number;
        EXPECT_EQ(Path(*form), FilePath("file/录音") + QString::number(number) +
                                   QStringLiteral(".") + QString::fromLatin1(extension));

        const std::string file = path.toStdString();
        const audioprobe::FfprobeInfo probe = audioprobe::ffprobe(file);
        ASSERT_TRUE(probe.ok) << probe.text;
        EXPECT_EQ(probe.codecName, extension == std::string("opus")  ? "opus"
                                   : extension == std::string("mp3") ? "mp3"
                                                                     : "flac");
        const std::string q = audioprobe::quoted(file);
        const std::string command =
            extension == std::string("flac")
                ? "flac -d -s -c --force-raw-format --endian=little --sign=signed " + q
            : extension == std::string("opus")
                ? "opusdec --quiet --rate 44100 " + q + " - 2>/dev/null"
                : "mpg123 -q -s " + q;
        int status = -1;
        const std::string raw = audioprobe::run(command, status);
        EXPECT_EQ(status, 0) << command;
        std::vector<std::int16_t> expected;
        for (int n = 0; n < 20; ++n) {
            const auto b = block(n);
            expected.insert(expected.end(), b.begin(), b.end());
        }
        const double frames = static_cast<double>(raw.size()) / 4;
        EXPECT_NEAR(frames, expected.size() / 2.0, 0.03 * 44100) << extension;
        if (extension == std::string("flac")) {
            std::vector<std::int16_t> decoded(raw.size() / 2);
            std::memcpy(decoded.data(), raw.data(), raw.size());
            EXPECT_EQ(decoded, expected);
        }
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Form1Test, NextFileThatExistsKeepsItsContentsAndIsPassedOver) {
    ASSERT_TRUE(QDir(dir.path()).mkpath("file"));
    writeFile(FilePath("file/录音1.wav"), "keep me");
    auto form = Open();
    Start(*form);
    control<QPushButton>(*form, "cmdDo")->click();
    EXPECT_EQ(Path(*form), FilePath("file/录音2.wav"));
    EXPECT_EQ(readFile(FilePath("file/录音1.wav")), QByteArray("keep me"));
    EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("2\r\n"));
}

TEST_F(Form1Test, CounterWrapsFrom32767ToMinus32768) {
    writeFile(SettingsFile::path(dir.path()), "32767\r\n");
    auto form = Open();
    EXPECT_EQ(Path(*form), FilePath("file/录音32767.wav"));
    Start(*form);
    control<QPushButton>(*form, "cmdDo")->click();
    EXPECT_EQ(form->intFileNo(), -32768);
    EXPECT_EQ(Path(*form), FilePath("file/录音-32768.wav"));
    EXPECT_TRUE(QFileInfo(Path(*form)).isFile());
    EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("-32768\r\n"));
}

TEST_F(Form1Test, UnusableNuIniStartsAtZeroAndIsWrittenByTheNextRecording) {
    for (const QByteArray& content :
         {QByteArray(""), QByteArray("abc\r\n"), QByteArray("70000"), QByteArray("-40000\r\n")}) {
        SCOPED_TRACE(content.toStdString());
        writeFile(SettingsFile::path(dir.path()), content);
        auto form = Open();
        EXPECT_EQ(form->intFileNo(), 0);
        EXPECT_EQ(readFile(SettingsFile::path(dir.path())), content) << "left alone at start-up";
        Start(*form);
        EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("0\r\n"));
        control<QPushButton>(*form, "cmdDo")->click();
        EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("1\r\n"));
    }
    writeFile(SettingsFile::path(dir.path()), "7.5\r\n");
    EXPECT_EQ(Open()->intFileNo(), 8);
}

TEST_F(Form1Test, MissingFileFolderIsCreatedAgainBeforeTheNextFile) {
    auto form = Open();
    ASSERT_TRUE(QDir(dir.filePath("file")).exists());
    Start(*form);
    // The folder disappears while recording (the open file keeps being written).
    ASSERT_TRUE(QFile::remove(Path(*form)));
    ASSERT_TRUE(QDir(dir.filePath("file")).removeRecursively());
    control<QPushButton>(*form, "cmdDo")->click();
    EXPECT_TRUE(QFileInfo(FilePath("file/录音1.wav")).isFile());
}

TEST_F(Form1Test, FolderThatCannotBeCreatedStillStartsAndRefusesTheRecording) {
    // A plain file where the "file" folder should be.
    writeFile(dir.filePath("file"), "not a folder");
    auto form = Open();
    EXPECT_EQ(Path(*form), FilePath("file/录音0.wav"));
    PickDevice(*form, 0);
    control<QPushButton>(*form, "cmdDo")->click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("无法初始化编码器!"));
    EXPECT_EQ(Caption(*form), QStringLiteral("开始录音"));
}

struct StartFailure {
    const char* name;
    std::function<void(Form1Test&, Form1&)> arrange;
    const char* message;
};

TEST_F(Form1Test, StartFailuresLeaveTheWindowIdleWithTheirMessage) {
    const std::vector<StartFailure> cases = {
        {"no output path",
         [](Form1Test&, Form1& f) {
             PickDevice(f, 0);
             control<QLineEdit>(f, "txtFile")->clear();
         },
         "没有指定输出文件!"},
        {"no device", [](Form1Test&, Form1&) {}, "没有选择硬件设备!"},
        {"empty rate",
         [](Form1Test&, Form1& f) {
             PickDevice(f, 0);
             control<QComboBox>(f, "cboSamplerate")->setCurrentText("");
         },
         "取样率无效!"},
        {"rate not a number",
         [](Form1Test&, Form1& f) {
             PickDevice(f, 0);
             control<QComboBox>(f, "cboSamplerate")->setCurrentText("44k");
         },
         "取样率无效!"},
        {"rate too high",
         [](Form1Test&, Form1& f) {
             PickDevice(f, 0);
             control<QComboBox>(f, "cboSamplerate")->setCurrentText("96001");
         },
         "取样率无效!"},
        {"rate below the lowest the chain takes",
         [](Form1Test&, Form1& f) {
             PickDevice(f, 0);
             control<QComboBox>(f, "cboSamplerate")->setCurrentText("31");
         },
         "取样率无效!"},
        {"rate 0",
         [](Form1Test&, Form1& f) {
             PickDevice(f, 0);
             control<QComboBox>(f, "cboSamplerate")->setCurrentText("0");
         },
         "无法初始化编码器!"},
        {"path in a missing folder",
         [](Form1Test& t, Form1& f) {
             PickDevice(f, 0);
             control<QLineEdit>(f, "txtFile")->setText(t.dir.filePath("nowhere/x.wav"));
         },
         "无法初始化编码器!"},
        {"device does not open",
         [](Form1Test& t, Form1& f) {
             PickDevice(f, 0);
             t.waveIn.openError = platform::MMSYSERR_NODRIVER;
         },
         "不能启动录音功能!"},
        {"device unplugged since it was chosen",
         [](Form1Test& t, Form1& f) {
             PickDevice(f, 0);
             t.waveIn.devices.erase(t.waveIn.devices.begin());
         },
         "所选录音设备已不存在，请重新选择!"},
        {"device does not start",
         [](Form1Test& t, Form1& f) {
             PickDevice(f, 0);
             t.waveIn.startError = platform::MMSYSERR_ERROR;
         },
         "不能启动录音功能!"},
    };
    for (const StartFailure& c : cases) {
        SCOPED_TRACE(c.name);
        waveIn.devices = {"Scripted microphone", "Scripted line in"};
        waveIn.openError = 0;
        waveIn.startError = 0;
        waveIn.log.clear();
        messages.messages.clear();
        QFile::remove(SettingsFile::path(dir.path()));
        auto form = Open();
        c.arrange(*this, *form);
        const QString path = Path(*form);

        control<QPushButton>(*form, "cmdDo")->click();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, QString::fromUtf8(c.message));
        EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
        EXPECT_EQ(messages.messages[0].icon, platform::MessageIcon::Warning);

        EXPECT_FALSE(form->Recorder().IsRecording());
        EXPECT_EQ(Caption(*form), QStringLiteral("开始录音"));
        EXPECT_TRUE(control<QGroupBox>(*form, "frmInp")->isEnabled());
        EXPECT_TRUE(control<QGroupBox>(*form, "frmOut")->isEnabled());
        EXPECT_EQ(form->intFileNo(), 0);
        EXPECT_EQ(Path(*form), path);
        EXPECT_FALSE(QFile::exists(SettingsFile::path(dir.path())));
        if (QString::fromUtf8(c.message) == QStringLiteral("取样率无效!")) {
            for (const std::string& call : waveIn.log) {
                EXPECT_NE(call.rfind("open ", 0), 0u) << "no capture device opened: " << call;
            }
            EXPECT_EQ(QFileInfo(path).size(), 0) << "no file written";
        }
        if (QString::fromUtf8(c.message) == QStringLiteral("不能启动录音功能!") ||
            QString::fromUtf8(c.message) == QStringLiteral("所选录音设备已不存在，请重新选择!")) {
            // The encoder was closed again: a finished file with no sound in it.
            EXPECT_TRUE(ReadBack(path, 44100, 2).empty());
        }
    }
}

TEST_F(Form1Test, DeviceThatCannotBeSelectedIsReported) {
    auto form = Open();
    waveIn.devices.pop_back(); // unplugged after the list was filled
    PickDevice(*form, 1);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("没有找到设备！"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("Vocarn"));
    EXPECT_EQ(messages.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_EQ(control<QComboBox>(*form, "cboRecLine")->count(), 0);

    PickDevice(*form, 0);
    EXPECT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(form->Recorder().SelectedDevice(), 0);
}

TEST_F(Form1Test, ChoosingADeviceListsItsLinesAndFollowsTheCurrentOne) {
    ScriptedMixerState& mixer = waveIn.mixers[1];
    mixer.lines = {{"Microphone", 5, {65535}}, {"Line in", 4, {1000, 2000}}};
    mixer.selected = 1;
    auto form = Open();
    auto* cboRecLine = control<QComboBox>(*form, "cboRecLine");
    auto* sldVol = control<QSlider>(*form, "sldVol");
    auto* lblVolPer = control<QLabel>(*form, "lblVolPer");
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("100%"));
    EXPECT_EQ(sldVol->maximum(), 65535);

    PickDevice(*form, 1);
    ASSERT_EQ(cboRecLine->count(), 2);
    EXPECT_EQ(cboRecLine->itemText(0), QStringLiteral("Microphone"));
    EXPECT_EQ(cboRecLine->currentIndex(), 1);
    EXPECT_EQ(sldVol->value(), 1000);
    // The percentage as the desktop's mixer shows it: 1000 sets 1000 of the server's 65536
    // steps, 1.53 %, shown 2%.
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("2%"));
    EXPECT_EQ(mixer.lines[1].channelVolumes, (std::vector<std::int32_t>{1000, 2000}))
        << "the volume read is not written back";

    sldVol->setValue(32768);
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("50%"));
    EXPECT_EQ(mixer.lines[1].channelVolumes, (std::vector<std::int32_t>{32768, 32768}));
    sldVol->setValue(0);
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("0%"));

    cboRecLine->setCurrentIndex(0);
    EXPECT_EQ(mixer.selected, 0);
    EXPECT_EQ(sldVol->value(), 65535);
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("100%"));

    // A line the mixer refuses is reported; the volume is still read.
    mixer.refusesSelect = true;
    mixer.lines[0].channelVolumes = {6553};
    cboRecLine->setCurrentIndex(1);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Couldn't select mixer line!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("Vocarn"));
    EXPECT_EQ(mixer.selected, 0);
    EXPECT_EQ(sldVol->value(), 6553);
    EXPECT_EQ(lblVolPer->text(), QStringLiteral("10%")); // 6553 steps: 9.9991 %

    // Another device without lines empties the list.
    PickDevice(*form, 0);
    EXPECT_EQ(cboRecLine->count(), 0);
    EXPECT_EQ(messages.messages.size(), 1u) << messages.messages.back().text.toStdString();
}

TEST_F(Form1Test, DeviceWhoseMixerCannotOpenIsReported) {
    waveIn.mixers[0].opens = false;
    auto form = Open();
    PickDevice(*form, 0);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("没有找到设备！"));
    EXPECT_EQ(control<QComboBox>(*form, "cboRecLine")->count(), 0);
}

TEST_F(Form1Test, ShortWriteStopsTheRecordingBeforeTheMessage) {
    auto form = Open();
    PickDevice(*form, 0);
    control<QLineEdit>(*form, "txtFile")->setText("/dev/full");
    control<QPushButton>(*form, "cmdDo")->click();
    ASSERT_TRUE(form->Recorder().IsRecording());

    bool stoppedFirst = false;
    messages.onShow = [&](const MessageRecorder::Message&) {
        stoppedFirst = !form->Recorder().IsRecording() &&
                       Caption(*form) == QStringLiteral("开始录音") && form->intFileNo() == 1 &&
                       readFile(SettingsFile::path(dir.path())) == QByteArray("1\r\n") &&
                       QFileInfo(FilePath("file/录音1.wav")).isFile();
    };
    waveIn.Feed(block(0));
    ASSERT_TRUE(PumpUntil([&] { return !messages.messages.empty(); }));
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Write error (no disk space left?)!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("Vocarn"));
    EXPECT_EQ(messages.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_TRUE(stoppedFirst);
    EXPECT_EQ(form->strLastFile(), QStringLiteral("/dev/full"));
    EXPECT_EQ(Path(*form), FilePath("file/录音1.wav"));

    // A block that only the stop hands over (the partly filled last buffer) fails the same
    // way: the take is stopped once, then the message comes once.
    messages.messages.clear();
    control<QLineEdit>(*form, "txtFile")->setText("/dev/full");
    control<QPushButton>(*form, "cmdDo")->click();
    ASSERT_TRUE(form->Recorder().IsRecording());
    waveIn.Feed(block(1, 100));
    messages.onShow = [&](const MessageRecorder::Message&) {
        stoppedFirst = !form->Recorder().IsRecording() &&
                       Caption(*form) == QStringLiteral("开始录音") && form->intFileNo() == 2 &&
                       readFile(SettingsFile::path(dir.path())) == QByteArray("2\r\n");
    };
    stoppedFirst = false;
    control<QPushButton>(*form, "cmdDo")->click();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Write error (no disk space left?)!"));
    EXPECT_TRUE(stoppedFirst);
    EXPECT_EQ(form->intFileNo(), 2);
    EXPECT_EQ(form->strLastFile(), QStringLiteral("/dev/full"));
}

// Any other refusal of the encoder ends the take the same way, with its own message: a take
// that ran on would write nothing while the time counts up.
TEST_F(Form1Test, BlockTheEncoderRefusesStopsTheRecordingBeforeTheMessage) {
    auto form = Open();
    PickDevice(*form, 0);
    control<QCheckBox>(*form, "chkStereo")->setChecked(false);
    control<QComboBox>(*form, "cboSamplerate")->setCurrentText("8000");
    control<QPushButton>(*form, "cmdDo")->click();
    ASSERT_TRUE(form->Recorder().IsRecording());
    FeedBlocks(*form, 1);

    bool stoppedFirst = false;
    messages.onShow = [&](const MessageRecorder::Message&) {
        stoppedFirst = !form->Recorder().IsRecording() &&
                       Caption(*form) == QStringLiteral("开始录音") && form->intFileNo() == 1 &&
                       readFile(SettingsFile::path(dir.path())) == QByteArray("1\r\n");
    };
    // 1.25 s at 8000 Hz mono: more than the encoder takes in one block.
    std::vector<std::int16_t> buffer = block(1, 10000);
    std::int32_t lngLen = 20000;
    form->clsRecorder_GotData(buffer, lngLen);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("编码失败，录音已停止!"));
    EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
    EXPECT_EQ(messages.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_TRUE(stoppedFirst);
    // The block before is in the file, as 44100 Hz stereo: 5120 frames at 8000 Hz.
    EXPECT_EQ(ReadBack(FilePath("file/录音0.wav"), 44100, 2).size(), 2u * 5120 * 441 / 80);
}

TEST_F(Form1Test, EachBlockAddsItsDurationInWholeMilliseconds) {
    auto form = Open();
    Start(*form);
    EXPECT_EQ(form->lngBytesPerSec(), 176400);
    FeedBlocks(*form, 5);
    EXPECT_EQ(form->lngElapsedMS(), 5 * 58);
    control<QPushButton>(*form, "cmdDo")->click();

    // Mono at 22050 Hz: 10240 / 44100 s = 232.2 ms per block.
    control<QCheckBox>(*form, "chkStereo")->setChecked(false);
    control<QComboBox>(*form, "cboSamplerate")->setCurrentText("22050");
    control<QPushButton>(*form, "cmdDo")->click();
    ASSERT_TRUE(form->Recorder().IsRecording());
    EXPECT_EQ(form->lngBytesPerSec(), 44100);
    EXPECT_EQ(form->Effects().samplerate(), 22050);
    EXPECT_EQ(form->Effects().Channels(), 1);
    FeedBlocks(*form, 3);
    EXPECT_EQ(form->lngElapsedMS(), 3 * 232);

    // A short block counts its own bytes only.
    std::vector<std::int16_t> buffer = block(9);
    std::int32_t lngLen = 4410; // 100 ms
    form->clsRecorder_GotData(buffer, lngLen);
    EXPECT_EQ(form->lngElapsedMS(), 3 * 232 + 100);
}

TEST_F(Form1Test, BlocksWhileIdleGoThroughTheEffectsOnly) {
    auto form = Open();
    control<QCheckBox>(*form, "chkFX_2")->click(); // amplifier
    form->Effects().setAmplifyDB(6);
    std::vector<std::int16_t> buffer = block(3);
    const std::vector<std::int16_t> original = buffer;
    std::int32_t lngLen = kBlockBytes;
    form->clsRecorder_GotData(buffer, lngLen);

    clsDSP reference;
    reference.setSamplerate(44100);
    reference.setChannels(2);
    reference.setEffectsUsed(4);
    reference.setAmplifyDB(6);
    std::vector<std::int16_t> expected = original;
    reference.ProcessSamples(expected);
    ASSERT_NE(expected, original);
    EXPECT_TRUE(std::equal(form->intBlock().begin(), form->intBlock().end(), expected.begin(),
                           expected.end()));
    EXPECT_EQ(buffer, original) << "the capture buffer itself is not touched";
    EXPECT_EQ(form->lngElapsedMS(), 0);
    EXPECT_EQ(QFileInfo(Path(*form)).size(), 0);
}

TEST_F(Form1Test, EffectCheckBoxesSwitchTheirBits) {
    auto form = Open();
    for (int i = 0; i < 4; ++i) {
        auto* chk = control<QCheckBox>(*form, ("chkFX_" + std::to_string(i)).c_str());
        const std::int32_t before = form->Effects().EffectsUsed();
        chk->click();
        EXPECT_EQ(form->Effects().EffectsUsed(), before | (1 << i));
    }
    EXPECT_EQ(form->Effects().EffectsUsed(), 15);
    control<QCheckBox>(*form, "chkFX_1")->click();
    EXPECT_EQ(form->Effects().EffectsUsed(), 15 & ~2);
    control<QCheckBox>(*form, "chkFX_3")->click();
    EXPECT_EQ(form->Effects().EffectsUsed(), 5);
}

TEST_F(Form1Test, EffectsApplyToTheRecordedSound) {
    auto form = Open();
    control<QCheckBox>(*form, "chkFX_2")->click();
    form->Effects().setAmplifyDB(-6);
    Start(*form);
    FeedBlocks(*form, 2);
    const std::vector<std::int16_t> lastBlock(form->intBlock().begin(), form->intBlock().end());
    control<QPushButton>(*form, "cmdDo")->click();

    const std::vector<std::int16_t> samples = ReadBack(form->strLastFile(), 44100, 2);
    ASSERT_EQ(samples.size(), 2 * kBlockSamples);
    EXPECT_TRUE(std::equal(lastBlock.begin(), lastBlock.end(), samples.begin() + kBlockSamples));
    EXPECT_NE(lastBlock, block(1));
}

TEST_F(Form1Test, ClosingWhileRecordingFinishesTheFile) {
    writeFile(SettingsFile::path(dir.path()), "3\r\n");
    auto form = Open();
    Start(*form);
    FeedBlocks(*form, 2);
    form->close();
    EXPECT_EQ(readFile(SettingsFile::path(dir.path())), QByteArray("4\r\n"));
    EXPECT_TRUE(QFileInfo(FilePath("file/录音4.wav")).isFile());
    form.reset();

    EXPECT_EQ(ReadBack(FilePath("file/录音3.wav"), 44100, 2), [] {
        std::vector<std::int16_t> both = block(0);
        const std::vector<std::int16_t> second = block(1);
        both.insert(both.end(), second.begin(), second.end());
        return both;
    }());
}

TEST_F(Form1Test, ClosingWhileIdleLeavesNuIniAlone) {
    auto form = Open();
    form->close();
    form.reset();
    EXPECT_FALSE(QFile::exists(SettingsFile::path(dir.path())));
}

TEST_F(Form1Test, RateBoxTakesUpToFiveDigitsFromTheKeyboard) {
    auto form = Open();
    auto* cbo = control<QComboBox>(*form, "cboSamplerate");
    QLineEdit* edit = cbo->lineEdit();
    cbo->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(cbo->currentText(), QString());
    QTest::keyClicks(edit, "4a4.1-0+0");
    EXPECT_EQ(cbo->currentText(), QStringLiteral("44100"));
    QTest::keyClicks(edit, "5");
    EXPECT_EQ(cbo->currentText(), QStringLiteral("44100")) << "a sixth digit is refused";
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(cbo->currentText(), QStringLiteral("4410"));
    QTest::keyClicks(edit, "2");
    EXPECT_EQ(cbo->currentText(), QStringLiteral("44102"));
}

} // namespace
