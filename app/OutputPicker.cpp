#include "app/OutputPicker.h"

#include "app/FileTypeDialog.h"
#include "app/SaveFileDialog.h"
#include "app/TakeFiles.h"
#include "encoder/EncoderAudioFile.h"
#include "encoder/EncoderWAV.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include <array>

using platform::AudioFileType;

namespace {

// The save dialog's entries after the WAV one, in the order of TakeFiles::Extensions().
const std::array<const char*, 3> kTypeFilters = {"FLAC (*.flac)", "Ogg Opus (*.opus)",
                                                 "MP3 (*.mp3)"};

// The values each type offers: bit rates in kbit/s, FLAC's compression levels.
const QList<int> kOpusRates = {16, 24, 32, 48, 64, 96, 128};
const QList<int> kMp3Rates = {64, 96, 128, 160, 192, 256, 320};
const QList<int> kFlacLevels = {0, 1, 2, 3, 4, 5, 6, 7, 8};

} // namespace

OutputPicker::OutputPicker(Widgets widgets, EncoderWAV& wav, EncoderAudioFile& files, Format format,
                           QObject* parent)
    : QObject(parent), w_(widgets), wav_(wav), files_(files), format_(std::move(format)),
      ownSaveDialog_(std::make_unique<SaveFileDialog>()), saveDialog_(ownSaveDialog_.get()) {
    connect(&w_.cmdBrowse, &QPushButton::clicked, this, &OutputPicker::cmdBrowse_Click);
    connect(&w_.txtFile, &QLineEdit::textChanged, this, &OutputPicker::ShowWAVFormat);
}

OutputPicker::~OutputPicker() = default;

bool OutputPicker::WavTake() const {
    return !EncoderAudioFile::TypeOf(w_.txtFile.text().toStdString()).has_value();
}

void OutputPicker::cmdBrowse_Click() {
    QStringList filters = {QString::fromStdString(wav_.Encoder_Description()) +
                           QStringLiteral(" (*.") +
                           QString::fromStdString(wav_.Encoder_Extension()) + QStringLiteral(")")};
    for (const char* filter : kTypeFilters) {
        filters << QString::fromLatin1(filter);
    }
    // The dialog opens where the path shown points, when that folder is there, on the type
    // it names.
    const QFileInfo shown(w_.txtFile.text());
    const QString folder = shown.absoluteDir().exists() ? shown.absolutePath() : QString();
    const auto shownType = TakeFiles::Extensions().indexOf(shown.suffix().toLower());
    QString selected = filters[shownType > 0 ? shownType : 0];
    const QString name = saveDialog_->GetSaveFileName(
        w_.txtFile.window(), filters.join(QStringLiteral(";;")), folder, &selected);
    if (name.isEmpty()) {
        return;
    }
    if (TakeFiles::Extensions().contains(QFileInfo(name).suffix().toLower())) {
        w_.txtFile.setText(name);
        return;
    }
    const auto chosen = filters.indexOf(selected);
    w_.txtFile.setText(name + QStringLiteral(".") +
                       TakeFiles::Extensions()[chosen > 0 ? chosen : 0]);
}

void OutputPicker::SelectFormat(std::int32_t rate, std::int16_t channels) {
    if (WavTake()) {
        wav_.SelectFormat(rate, channels, w_.txtFile.window(), "选择声音输出格式");
    } else {
        SelectTypeSetting();
    }
    ShowWAVFormat();
}

void OutputPicker::SelectTypeSetting() {
    const AudioFileType type = *EncoderAudioFile::TypeOf(w_.txtFile.text().toStdString());
    platform::AudioFileSettings settings = files_.Settings(type);
    const bool flac = type == AudioFileType::Flac;
    const QList<int>& values = flac                          ? kFlacLevels
                               : type == AudioFileType::Opus ? kOpusRates
                                                             : kMp3Rates;
    const int now = flac ? settings.compressionLevel : settings.bitRate / 1000;
    QStringList items;
    for (const int v : values) {
        items << (flac ? QStringLiteral("压缩级别 %1").arg(v) : QStringLiteral("%1 kbit/s").arg(v));
    }
    const QString title = QString::fromStdString(EncoderAudioFile::Name(type)) +
                          (flac ? QStringLiteral(" 压缩级别") : QStringLiteral(" 比特率"));
    const std::optional<int> chosen = FileTypeDialog::Choose(
        w_.txtFile.window(), title, items, std::max(0, static_cast<int>(values.indexOf(now))));
    if (!chosen) {
        return;
    }
    if (flac) {
        settings.compressionLevel = values[*chosen];
    } else {
        settings.bitRate = values[*chosen] * 1000;
    }
    files_.setSettings(settings);
}

void OutputPicker::ShowWAVFormat() {
    const auto type = EncoderAudioFile::TypeOf(w_.txtFile.text().toStdString());
    if (!type) {
        w_.txtWAVFmt.setText(QString::fromStdString(wav_.FormatTag()) + QStringLiteral(" - ") +
                             QString::fromStdString(wav_.FormatID()));
        return;
    }
    const auto [rate, channels] = format_();
    w_.txtWAVFmt.setText(QString::fromStdString(files_.Describe(*type, rate, channels)));
}
