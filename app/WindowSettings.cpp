#include "app/WindowSettings.h"

#include "app/Form1.h"
#include "app/InputPicker.h"
#include "app/OutputPicker.h"
#include "app/TakeFiles.h"
#include "dsp/clsDSP.h"
#include "encoder/EncoderAudioFile.h"
#include "encoder/EncoderWAV.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTime>

void WindowSettings::Restore(Form1& form, const UserSettings::Values& remembered) {
    form.ui.cboSamplerate->setCurrentText(remembered.rate);
    form.ui.chkStereo->setChecked(remembered.stereo);

    form.blnLoaded = true;

    if (!remembered.format.isEmpty()) {
        form.clsEncoder->RestoreFormat(
            form.SampleRate().value_or(44100), form.Channels(),
            {reinterpret_cast<const std::uint8_t*>(remembered.format.constData()),
             static_cast<std::size_t>(remembered.format.size())});
    }
    if (!UserSettings::File().isEmpty()) {
        form.files_->setExtension(remembered.fileType);
        using platform::AudioFileType;
        form.fileEncoder_->setSettings({AudioFileType::Flac, 0, remembered.flacLevel});
        form.fileEncoder_->setSettings({AudioFileType::Opus, remembered.opusKbps * 1000, 5});
        form.fileEncoder_->setSettings({AudioFileType::Mp3, remembered.mp3Kbps * 1000, 5});
    }
    form.output_->ShowWAVFormat();
    form.FillDevices();
    form.input_->SelectRememberedDevice(remembered.device, remembered.line);

    form.clsEffects->setSamplerate(form.SampleRate().value_or(44100));
    form.clsEffects->setChannels(form.Channels());
    if (!UserSettings::File().isEmpty()) {
        UserSettings::Apply(remembered, *form.clsEffects);
        for (int i = 0; i < static_cast<int>(form.chkFX.size()); ++i) {
            form.chkFX[i]->setChecked((remembered.effectsUsed & (1 << i)) != 0);
        }
    }

    // Where it was last time when that is on a screen now, else centred on the screen the
    // window opens on.
    const bool onScreen =
        remembered.position && QGuiApplication::screenAt(*remembered.position) != nullptr;
    if (onScreen) {
        form.move(*remembered.position);
    } else if (const QScreen* screen = form.screen()) {
        form.move(screen->availableGeometry().center() - form.frameGeometry().center() +
                  form.pos());
    }
    if (!UserSettings::File().isEmpty()) {
        form.ui.chkLength->setChecked(remembered.lengthOn);
        form.ui.tmeLength->setTime(QTime(0, 0).addSecs(remembered.lengthS));
        form.ui.chkVoice->setChecked(remembered.voiceOn);
        form.ui.spnThreshold->setValue(remembered.thresholdDb);
        form.ui.spnHold->setValue(remembered.holdS);
    }
}

void WindowSettings::Save(const Form1& form) {
    if (UserSettings::File().isEmpty() || !form.clsEffects || !form.clsRecorder ||
        !form.clsEncoder || !form.fileEncoder_) {
        return;
    }
    UserSettings::Values v;
    if (form.clsRecorder->SelectedDevice() >= 0) {
        v.device = QString::fromStdString(form.clsRecorder->SelectedDeviceId());
        v.line = form.ui.cboRecLine->currentText();
    }
    v.rate = form.ui.cboSamplerate->currentText();
    v.stereo = form.ui.chkStereo->isChecked();
    const auto format = form.clsEncoder->OutputFormat();
    v.format = QByteArray(reinterpret_cast<const char*>(format.data()),
                          static_cast<qsizetype>(format.size()));
    UserSettings::Take(*form.clsEffects, v);
    v.position = form.pos();
    v.fileType = form.files_->Extension();
    using platform::AudioFileType;
    v.flacLevel = form.fileEncoder_->Settings(AudioFileType::Flac).compressionLevel;
    v.opusKbps = form.fileEncoder_->Settings(AudioFileType::Opus).bitRate / 1000;
    v.mp3Kbps = form.fileEncoder_->Settings(AudioFileType::Mp3).bitRate / 1000;
    v.lengthOn = form.ui.chkLength->isChecked();
    v.lengthS = form.ui.tmeLength->time().msecsSinceStartOfDay() / 1000;
    v.voiceOn = form.ui.chkVoice->isChecked();
    v.thresholdDb = form.ui.spnThreshold->value();
    v.holdS = form.ui.spnHold->value();
    UserSettings::Write(v);
}
