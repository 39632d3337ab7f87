#include "app/OutputPicker.h"

#include "app/SaveFileDialog.h"
#include "encoder/EncoderWAV.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

OutputPicker::OutputPicker(Widgets widgets, EncoderWAV& encoder, QObject* parent)
    : QObject(parent), w_(widgets), encoder_(encoder),
      ownSaveDialog_(std::make_unique<SaveFileDialog>()), saveDialog_(ownSaveDialog_.get()) {
    connect(&w_.cmdBrowse, &QPushButton::clicked, this, &OutputPicker::cmdBrowse_Click);
}

OutputPicker::~OutputPicker() = default;

void OutputPicker::cmdBrowse_Click() {
    const QString pattern =
        QStringLiteral("*.") + QString::fromStdString(encoder_.Encoder_Extension());
    const QString filter = QString::fromStdString(encoder_.Encoder_Description()) +
                           QStringLiteral(" (") + pattern + QStringLiteral(")");
    // The dialog opens where the path shown points, when that folder is there.
    const QFileInfo shown(w_.txtFile.text());
    const QString folder = shown.absoluteDir().exists() ? shown.absolutePath() : QString();
    const QString name = saveDialog_->GetSaveFileName(w_.txtFile.window(), filter, folder);
    if (name.isEmpty()) {
        return;
    }
    if (name.toLower().right(4) != QStringLiteral(".wav")) {
        w_.txtFile.setText(name + QStringLiteral(".wav"));
    } else {
        w_.txtFile.setText(name);
    }
}

void OutputPicker::SelectFormat(std::int32_t rate, std::int16_t channels) {
    encoder_.SelectFormat(rate, channels, w_.txtFile.window(), "选择声音输出格式");
    ShowWAVFormat();
}

void OutputPicker::ShowWAVFormat() {
    w_.txtWAVFmt.setText(QString::fromStdString(encoder_.FormatTag()) + QStringLiteral(" - ") +
                         QString::fromStdString(encoder_.FormatID()));
}
