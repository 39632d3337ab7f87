#include "encoder/EncoderAudioFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <span>
#include <utility>

using platform::AudioFileSettings;
using platform::AudioFileType;

namespace {

// Each type's extension and name, in the order of AudioFileType.
struct TypeNames {
    const char* extension;
    const char* name;
};
constexpr TypeNames kTypes[] = {{"flac", "FLAC"}, {"opus", "Opus"}, {"mp3", "MP3"}};

} // namespace

EncoderAudioFile::EncoderAudioFile() : EncoderAudioFile(&platform::MakeFfmpegAudioFileWriter) {}

EncoderAudioFile::EncoderAudioFile(WriterFactory make) : make_(std::move(make)) {
    settings_ = {AudioFileSettings{AudioFileType::Flac, 0, 5},
                 AudioFileSettings{AudioFileType::Opus, 48000, 5},
                 AudioFileSettings{AudioFileType::Mp3, 128000, 5}};
}

EncoderAudioFile::~EncoderAudioFile() {
    Encoder_EncoderClose();
}

std::optional<AudioFileType> EncoderAudioFile::TypeOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const AudioFileType type :
         {AudioFileType::Flac, AudioFileType::Opus, AudioFileType::Mp3}) {
        if (extension == "." + Extension(type)) {
            return type;
        }
    }
    return std::nullopt;
}

std::string EncoderAudioFile::Extension(AudioFileType type) {
    return kTypes[Index(type)].extension;
}

std::string EncoderAudioFile::Name(AudioFileType type) {
    return kTypes[Index(type)].name;
}

std::size_t EncoderAudioFile::Index(AudioFileType type) {
    return static_cast<std::size_t>(type);
}

AudioFileSettings EncoderAudioFile::Settings(AudioFileType type) const {
    return settings_[Index(type)];
}

void EncoderAudioFile::setSettings(const AudioFileSettings& settings) {
    settings_[Index(settings.type)] = settings;
}

std::string EncoderAudioFile::Describe(AudioFileType type, std::int32_t samplerate,
                                       std::int16_t Channels) const {
    const std::string channels = Channels == 2 ? "Stereo" : "Mono";
    char text[64];
    if (type == AudioFileType::Flac) {
        // 44100 as "44.1", 48000 as "48", 22050 as "22.05".
        std::snprintf(text, sizeof text, "%.3f", samplerate / 1000.0);
        std::string khz = text;
        khz.erase(khz.find_last_not_of('0') + 1);
        if (khz.back() == '.') {
            khz.pop_back();
        }
        return Name(type) + " - " + khz + " kHz 16 Bit " + channels;
    }
    std::snprintf(text, sizeof text, "%d", settings_[Index(type)].bitRate / 1000);
    return Name(type) + " - " + text + " kbit/s " + channels;
}

std::int32_t EncoderAudioFile::Encoder_EncoderInit(std::int32_t samplerate, std::int16_t Channels,
                                                   const std::string& output) {
    if (writer_) {
        return 2;
    }
    const std::optional<AudioFileType> type = TypeOf(output);
    if (!type || samplerate <= 0 || (Channels != 1 && Channels != 2)) {
        return 7;
    }
    if (!file_.open(output, EncoderFile::Creation::CreateAlways)) {
        return 2;
    }
    std::unique_ptr<platform::AudioFileWriter> writer = make_();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    const platform::AudioFileTags tags{std::filesystem::path(output).stem().string(), date,
                                       "Vocarn"};
    const int opened =
        writer ? writer->Open(file_.handle(), settings_[Index(*type)], samplerate, Channels, tags)
               : 7;
    if (opened != 0) {
        file_.close();
        return opened == 10 ? 10 : 7;
    }
    writer_ = std::move(writer);
    bytesPerSec_ = samplerate * 2 * Channels;
    channels_ = Channels;
    failed_ = false;
    return 0;
}

std::int32_t EncoderAudioFile::Encoder_Encode(const std::uint8_t* buffer_ptr,
                                              std::int32_t buffer_len, std::int32_t& buffer_used) {
    buffer_used = 0;
    if (!writer_) {
        return 2;
    }
    if (buffer_len > bytesPerSec_) {
        return 8;
    }
    if (failed_) {
        return 10;
    }
    const std::size_t samples = static_cast<std::size_t>(buffer_len / (2 * channels_)) * channels_;
    const int result = writer_->Write(
        std::span<const std::int16_t>(reinterpret_cast<const std::int16_t*>(buffer_ptr), samples));
    if (result == 10) {
        failed_ = true;
        return 10;
    }
    if (result != 0) {
        return 9;
    }
    buffer_used = buffer_len;
    return 0;
}

std::int32_t EncoderAudioFile::Encoder_EncoderClose() {
    if (!writer_) {
        return 2;
    }
    writer_->Close();
    writer_.reset();
    file_.close();
    return 0;
}
