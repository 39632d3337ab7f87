#include "RecordingWindow.h"

#include <QComboBox>

RecordingWindow::RecordingWindow() {
    waveIn_.devices = {"Scripted microphone"};
    form_ = std::make_unique<Form1>(windows_, waveIn_, dir_.path());
    auto* cboDev = form_->findChild<QComboBox*>("cboDev");
    cboDev->setCurrentIndex(0);
    emit cboDev->activated(0);
}

void RecordingWindow::ClickRecord() {
    form_->findChild<QPushButton*>("cmdDo")->click();
}

bool RecordingWindow::Start() {
    ClickRecord();
    return form_->Recorder().IsRecording();
}
