#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

class EncoderAudioFile;
class EncoderWAV;
class QLineEdit;
class QPushButton;
class SaveFileDialog;

// The main window's output frame: the path of the next take (txtFile, another one through
// cmdBrowse), whose extension decides the file's type (WAV, FLAC, Ogg Opus, MP3), and what
// the file will be (shown in txtWAVFmt, set through cmdSelFmt: the WAV format, or the
// setting of the other types).
class OutputPicker : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QLineEdit& txtFile;
        QPushButton& cmdBrowse;
        QLineEdit& txtWAVFmt;
    };
    // The rate and channels set in the window.
    using Format = std::function<std::pair<std::int32_t, std::int16_t>()>;

    // The encoders are not owned and outlive the picker.
    OutputPicker(Widgets widgets, EncoderWAV& wav, EncoderAudioFile& files, Format format,
                 QObject* parent = nullptr);
    ~OutputPicker() override;

    // Asks for output paths through dialog (not owned) instead of the file dialog.
    void setSaveFileDialog(SaveFileDialog& dialog) { saveDialog_ = &dialog; }
    // A WAV take: the format chooser for rate and channels (a cancel leaves the format as
    // it was). Another type: the chooser of its setting.
    void SelectFormat(std::int32_t rate, std::int16_t channels);
    // Whether the path shown names a WAV take.
    bool WavTake() const;
    void ShowWAVFormat();

private:
    // "..." beside the path: another output path, of the type its extension names; the
    // extension of the type chosen in the dialog is added when the name has none of them.
    void cmdBrowse_Click();
    void SelectTypeSetting();

    Widgets w_;
    EncoderWAV& wav_;
    EncoderAudioFile& files_;
    Format format_;
    std::unique_ptr<SaveFileDialog> ownSaveDialog_;
    SaveFileDialog* saveDialog_ = nullptr;
};
