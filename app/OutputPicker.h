#pragma once

#include <QObject>

#include <cstdint>
#include <memory>

class EncoderWAV;
class QLineEdit;
class QPushButton;
class SaveFileDialog;

// The main window's output frame: the path of the next take (txtFile, another one through
// cmdBrowse) and the output format (shown in txtWAVFmt, chosen through cmdSelFmt).
class OutputPicker : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QLineEdit& txtFile;
        QPushButton& cmdBrowse;
        QLineEdit& txtWAVFmt;
    };

    // encoder is not owned and outlives the picker.
    OutputPicker(Widgets widgets, EncoderWAV& encoder, QObject* parent = nullptr);
    ~OutputPicker() override;

    // Asks for output paths through dialog (not owned) instead of the file dialog.
    void setSaveFileDialog(SaveFileDialog& dialog) { saveDialog_ = &dialog; }
    // The format chooser for rate and channels. A cancel leaves the format as it was; the
    // box shows the encoder's format either way.
    void SelectFormat(std::int32_t rate, std::int16_t channels);
    void ShowWAVFormat();

private:
    // "..." beside the path: another output path; ".wav" is added unless the name ends so.
    void cmdBrowse_Click();

    Widgets w_;
    EncoderWAV& encoder_;
    std::unique_ptr<SaveFileDialog> ownSaveDialog_;
    SaveFileDialog* saveDialog_ = nullptr;
};
