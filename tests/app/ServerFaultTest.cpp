#include "app/Form1.h"
#include "platform/PulseWaveIn.h"
#include "platform/WindowService.h"

#include "EventPump.h"
#include "MessageRecorder.h"
#include "ReadBack.h"
#include "SoundServer.h"

#include "app/PopupComboBox.h"
#include "platform/PulseConnection.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A sound server of the test's own, of the test run's kind (the shared one of the test run is
// never stopped or killed), with PULSE_SERVER pointing at it while the test runs.
class OwnServer {
public:
    OwnServer() : dir_(QStringLiteral("/tmp/vocarn-fault-XXXXXX")) {
        QProcess start;
        start.start(Script(),
                    {QStringLiteral("start"), dir_.path(), QString::fromStdString(TestServer())});
        start.waitForFinished(20000);
        const QString out = QString::fromUtf8(start.readAllStandardOutput());
        for (const QString& line : out.split(u'\n')) {
            if (line.startsWith(QStringLiteral("export PULSE_SERVER="))) {
                address_ = line.mid(20).toStdString();
            }
        }
        if (!address_.empty()) {
            override_ = std::make_unique<ServerOverride>(address_);
        }
    }
    ~OwnServer() {
        Signal(SIGCONT);
        QProcess::execute(Script(), {QStringLiteral("stop"), dir_.path()});
    }

    bool ok() const { return override_ != nullptr; }
    // The process id of the server Vocarn talks to (PulseAudio, or PipeWire's PulseAudio
    // service), from its pid file.
    qint64 pid() const {
        QFile file(dir_.filePath(QStringLiteral("pulse/pid")));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
    }
    void Signal(int signal) const {
        if (const qint64 p = pid(); p > 0) {
            ::kill(static_cast<pid_t>(p), signal);
        }
    }

private:
    static QString Script() {
        return qEnvironmentVariable("VOCARN_SOURCE_DIR") + QStringLiteral("/scripts/sound-server");
    }

    QTemporaryDir dir_;
    std::string address_;
    std::unique_ptr<ServerOverride> override_;
};

class ServerFault : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(server.ok()) << "the test's own sound server did not start";
    }

    // Opens the window, records from the source named `source` until half a second is in.
    void RecordFrom(const std::string& source) {
        form = std::make_unique<Form1>(windows, waveIn, folder.path());
        const std::int32_t device = DeviceIndexOf(source);
        ASSERT_GE(device, 0);
        auto* cboDev = form->findChild<QComboBox*>("cboDev");
        cboDev->setCurrentIndex(device);
        emit cboDev->activated(device);
        form->findChild<QPushButton*>("cmdDo")->click();
        ASSERT_TRUE(form->Recorder().IsRecording());
        ASSERT_TRUE(PumpUntil([&] { return form->lngElapsedMS() > 500; }, 5s));
    }

    // The take ends within three seconds, finished, with the loss message, and the window
    // is ready for the next take.
    void ExpectStoppedWithTheLossMessage() {
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(PumpUntil([&] { return !messages.messages.empty(); }, 3s));
        EXPECT_LT(timer.elapsed(), 3000);
        EXPECT_FALSE(form->Recorder().IsRecording());
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, QStringLiteral("录音设备已断开，录音已停止!"));
        EXPECT_EQ(messages.messages[0].title, QStringLiteral("提示"));
        EXPECT_EQ(form->intFileNo(), 1);
        EXPECT_EQ(form->findChild<QPushButton*>("cmdDo")->text(), QStringLiteral("开始录音"));
        // At least the half second recorded before the loss is in the file, readable.
        EXPECT_GE(ReadBack(form->strLastFile(), 44100, 2).size(), 44100u);
    }

    QTemporaryDir folder;
    OwnServer server;
    MessageRecorder messages;
    platform::WindowService windows;
    platform::PulseWaveIn waveIn;
    std::unique_ptr<Form1> form;
};

TEST_F(ServerFault, RemovedSourceStopsTheTake) {
    const QByteArray module =
        Pactl({"load-module", "module-null-sink", "sink_name=vocarn_fault_sink"}).trimmed();
    ASSERT_FALSE(module.isEmpty());
    RecordFrom("vocarn_fault_sink.monitor");
    Pactl({"unload-module", QString::fromLatin1(module)});
    ExpectStoppedWithTheLossMessage();
}

TEST_F(ServerFault, KilledServerStopsTheTake) {
    RecordFrom("vocarn_null.monitor");
    server.Signal(SIGKILL);
    ExpectStoppedWithTheLossMessage();
}

TEST_F(ServerFault, StoppedServerLeavesTheWindowResponsive) {
    form = std::make_unique<Form1>(windows, waveIn, folder.path());
    auto* cboDev = form->findChild<PopupComboBox*>("cboDev");
    auto* cboRecLine = form->findChild<QComboBox*>("cboRecLine");
    ASSERT_GT(cboDev->count(), 0);
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
    ASSERT_EQ(cboRecLine->count(), 1); // a source without ports has one line
    server.Signal(SIGSTOP);

    // Choosing the line again asks the server several times (select, read the volume, set
    // it): the handler waits for the silent server once, not once per call.
    QElapsedTimer timer;
    timer.start();
    {
        const QSignalBlocker quiet(cboRecLine);
        cboRecLine->setCurrentIndex(-1);
    }
    cboRecLine->setCurrentIndex(0);
    EXPECT_LT(timer.elapsed(), 2000);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0].text, QStringLiteral("Couldn't select mixer line!"));

    // Opening the device list gives up on the silent server and lists none; the chosen
    // device and its lines go.
    timer.restart();
    emit cboDev->aboutToShowPopup();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(cboDev->count(), 0);
    EXPECT_EQ(cboRecLine->count(), 0);

    // A start with a device chosen gives up too and stays idle.
    cboDev->addItem(QStringLiteral("chosen before"));
    cboDev->setCurrentIndex(0);
    timer.restart();
    form->findChild<QPushButton*>("cmdDo")->click();
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(form->Recorder().IsRecording());
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[1].text, QStringLiteral("不能启动录音功能!"));
    EXPECT_EQ(form->findChild<QPushButton*>("cmdDo")->text(), QStringLiteral("开始录音"));

    // Once the server answers again, and the time it was taken for hung is over, the
    // devices are back.
    server.Signal(SIGCONT);
    std::this_thread::sleep_for(platform::PulseConnection::hungBackoff);
    form->FillDevices();
    EXPECT_GT(cboDev->count(), 0);
}

} // namespace
