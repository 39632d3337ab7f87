#pragma once

#include "app/Form1.h"
#include "platform/WindowService.h"

#include "MessageRecorder.h"
#include "ScriptedChooser.h"
#include "ScriptedWaveIn.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

// A main window over the scripted capture device (devices "Scripted microphone" and
// "Scripted line in"), a scripted format chooser and recorded message boxes, in a
// temporary program folder.
class Form1Fixture : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        waveIn.devices = {"Scripted microphone", "Scripted line in"};
    }

    std::unique_ptr<Form1> Open() {
        return std::make_unique<Form1>(windows, waveIn, dir.path(), chooser);
    }

    template <class T>
    static T* control(Form1& form, const char* name) {
        T* found = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    static void PickDevice(Form1& form, int index) {
        auto* cboDev = control<QComboBox>(form, "cboDev");
        cboDev->setCurrentIndex(index);
        emit cboDev->activated(index);
    }

    static void Click(Form1& form, const char* name) { control<QPushButton>(form, name)->click(); }

    // Starts a recording from device 0 and checks that it runs.
    void Start(Form1& form) {
        PickDevice(form, 0);
        Click(form, "cmdDo");
        ASSERT_TRUE(form.Recorder().IsRecording());
    }

    // Hands one whole 10240-byte block to the window's block handler.
    static void Block(Form1& form, std::vector<std::int16_t> samples) {
        samples.resize(5120);
        std::int32_t lngLen = 10240;
        form.clsRecorder_GotData(samples, lngLen);
    }

    QTemporaryDir dir;
    MessageRecorder messages;
    ScriptedChooser chooser; // cancels unless a test gives it an answer
    platform::WindowService windows;
    ScriptedWaveIn waveIn;
};
