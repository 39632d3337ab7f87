#pragma once

#include "app/Form1.h"
#include "platform/WindowService.h"

#include "ScriptedWaveIn.h"

#include <QPushButton>
#include <QTemporaryDir>

// The main window on a scripted microphone, its files in a temporary folder, for the
// benchmarks that time its handlers while it records.
class RecordingWindow {
public:
    RecordingWindow();
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    Form1& form() { return *form_; }
    // Presses 开始录音 / 停止录音.
    void ClickRecord();
    // Presses 开始录音; true when the recording runs.
    bool Start();

private:
    QTemporaryDir dir_;
    platform::WindowService windows_;
    ScriptedWaveIn waveIn_;
    std::unique_ptr<Form1> form_;
};
