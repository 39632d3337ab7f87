#include "encoder/EncoderWAV.h"

#include "common/RaisedError.h"
#include "platform/acm/AcmService.h"
#include "platform/acm/DialogFormatChooser.h"
#include "platform/acm/FfmpegAcmService.h"
#include "platform/acm/FormatChooser.h"

#include <array>
#include <cstring>
#include <limits>

namespace {

// Room of the output format buffer from construction: enough for any codec's record.
constexpr std::size_t FormatBufferSize = 131072;
// The longest texts the chooser hands back for a format and for its type, in characters.
constexpr std::size_t FormatTextChars = 128;
constexpr std::size_t FormatTagChars = 48;
// 28 = "RIFF" + size + "WAVE" + "fmt " + size + "data" + size, the header around the record.
constexpr std::int32_t HeaderFraming = 28;

void put32(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
    at[2] = static_cast<std::uint8_t>(v >> 16);
    at[3] = static_cast<std::uint8_t>(v >> 24);
}

// The rate in kHz with one decimal, halves to even on the exact value, in its shortest
// form: 44100 -> "44.1", 8000 -> "8", 22050 -> "22".
std::string rateText(std::int32_t samplerate) {
    const bool negative = samplerate < 0;
    std::int64_t magnitude = samplerate;
    if (negative) {
        magnitude = -magnitude;
    }
    std::int64_t tenths = magnitude / 100;
    const std::int64_t rest = magnitude % 100;
    if (rest > 50 || (rest == 50 && tenths % 2 != 0)) {
        ++tenths;
    }
    std::string text = (negative && tenths != 0) ? "-" : "";
    text += std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += '.';
        text += std::to_string(tenths % 10);
    }
    return text;
}

// A text from the chooser as stored: up to its first NUL, at most maxChars characters
// (UTF-8 sequences are kept whole).
std::string chooserText(const std::string& text, std::size_t maxChars) {
    const std::string beforeNul = text.substr(0, text.find('\0'));
    std::size_t chars = 0;
    for (std::size_t at = 0; at < beforeNul.size(); ++at) {
        const auto byte = static_cast<unsigned char>(beforeNul[at]);
        if ((byte & 0xC0) != 0x80 && ++chars > maxChars) { // a character starts here
            return beforeNul.substr(0, at);
        }
    }
    return beforeNul;
}

} // namespace

EncoderWAV::EncoderWAV()
    : EncoderWAV(std::make_unique<platform::FfmpegAcmService>(), nullptr,
                 std::make_unique<platform::DialogFormatChooser>(), nullptr) {}

EncoderWAV::EncoderWAV(platform::AcmService& acm)
    : EncoderWAV(nullptr, &acm, std::make_unique<platform::DialogFormatChooser>(), nullptr) {}

EncoderWAV::EncoderWAV(platform::FormatChooser& chooser)
    : EncoderWAV(std::make_unique<platform::FfmpegAcmService>(), nullptr, nullptr, &chooser) {}

EncoderWAV::EncoderWAV(platform::AcmService& acm, platform::FormatChooser& chooser)
    : EncoderWAV(nullptr, &acm, nullptr, &chooser) {}

EncoderWAV::EncoderWAV(std::unique_ptr<platform::AcmService> ownedAcm, platform::AcmService* acm,
                       std::unique_ptr<platform::FormatChooser> ownedChooser,
                       platform::FormatChooser* chooser)
    : ownedAcm_(std::move(ownedAcm)), acm_(acm ? *acm : *ownedAcm_),
      ownedChooser_(std::move(ownedChooser)), chooser_(chooser ? *chooser : *ownedChooser_) {
    outputFormat_.assign(FormatBufferSize, 0);
    const auto pcm = platform::WaveFormat::pcm(44100, 2, 16).bytes();
    SetFormat(pcm, "44.1 kHz 16 Bit Stereo", "PCM");
}

EncoderWAV::~EncoderWAV() {
    Encoder_EncoderClose();
}

bool EncoderWAV::WriteHeader() const {
    return writeHeader_;
}

void EncoderWAV::setWriteHeader(bool v) {
    if (IsRunning()) {
        throw RaisedError(90, "Encoder already running!");
    }
    writeHeader_ = v;
}

std::string EncoderWAV::FormatTag() const {
    return formatTag_;
}

std::string EncoderWAV::FormatID() const {
    return formatID_;
}

void EncoderWAV::SetPCMFormat(std::int32_t samplerate, std::int16_t Channels, std::string FormatID,
                              std::string FormatTag) {
    const auto record = platform::WaveFormat::pcm(samplerate, Channels, 16);
    if (FormatID.empty()) {
        FormatID = rateText(samplerate) + " " + std::to_string(record.bitsPerSample) + " Bit " +
                   (Channels == 2 ? "stereo" : "mono");
    }
    if (FormatTag.empty()) {
        FormatTag = "PCM";
    }
    SetFormat(record.bytes(), std::move(FormatID), std::move(FormatTag));
}

void EncoderWAV::SetFormat(std::span<const std::uint8_t> wfx, std::string FormatID,
                           std::string FormatTag) {
    if (wfx.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        return; // beyond the 32-bit length: not a record this encoder can hold
    }
    if (wfx.size() > outputFormat_.size()) {
        outputFormat_.resize(wfx.size());
    }
    if (!wfx.empty()) {
        std::memcpy(outputFormat_.data(), wfx.data(), wfx.size());
    }
    outputFormatLength_ = static_cast<std::int32_t>(wfx.size());
    formatID_ = std::move(FormatID);
    formatTag_ = std::move(FormatTag);
}

std::int32_t EncoderWAV::SelectFormat(std::int32_t samplerate, std::int16_t Channels,
                                      QWidget* hwndOwner, const std::string& Title) {
    // Only formats into which this recording's 16-bit PCM converts are offered.
    const auto source = platform::WaveFormat::pcm(samplerate, Channels, 16).bytes();
    const auto formats = acm_.convertibleFormats(source);
    const auto choice = chooser_.choose(hwndOwner, Title, source, formats);
    if (!choice || choice->record.size() < platform::WaveFormat::RecordSize ||
        choice->record.size() > FormatBufferSize) {
        return 11;
    }
    // The chosen record at the start of a zeroed buffer of the full size, over the source
    // record the buffer was offered with.
    std::vector<std::uint8_t> buffer(FormatBufferSize, 0);
    std::memcpy(buffer.data(), source.data(), source.size());
    std::memcpy(buffer.data(), choice->record.data(), choice->record.size());
    // The extra size is an unsigned 16-bit field: 18 + n stays within the buffer for any n.
    const std::int32_t extraSize = buffer[16] | (buffer[17] << 8);
    outputFormat_ = std::move(buffer);
    outputFormatLength_ = static_cast<std::int32_t>(platform::WaveFormat::RecordSize) + extraSize;
    formatID_ = chooserText(choice->text, FormatTextChars);
    formatTag_ = chooserText(choice->tagName, FormatTagChars);
    return 0;
}

std::string EncoderWAV::Encoder_Description() const {
    return "Wave ACM Encoder";
}

std::string EncoderWAV::Encoder_Extension() const {
    return "wav";
}

bool EncoderWAV::IsRunning() const {
    return file_.handle() != -1;
}

std::span<const std::uint8_t> EncoderWAV::OutputFormat() const {
    return {outputFormat_.data(), static_cast<std::size_t>(outputFormatLength_)};
}

std::int32_t EncoderWAV::OutputFormatCapacity() const {
    return static_cast<std::int32_t>(outputFormat_.size());
}

std::int32_t EncoderWAV::Encoder_EncoderMetrics(std::int32_t info) const {
    switch (info) {
    case 0:
        return IsRunning() ? inputFormat_.blockAlign : -1;
    case 1:
        return IsRunning() ? static_cast<std::int32_t>(inputFormat_.avgBytesPerSec) : -1;
    default:
        return 0;
    }
}

std::int32_t EncoderWAV::Encoder_EncoderInit(std::int32_t samplerate, std::int16_t Channels,
                                             const std::string& output) {
    Encoder_EncoderClose();
    if (samplerate < 1 || Channels < 1) {
        return 7;
    }
    // One second of input must fit the 32-bit lengths of the conversion.
    const std::int64_t secondOfInput = std::int64_t{2} * Channels * samplerate;
    if (secondOfInput > std::numeric_limits<std::int32_t>::max()) {
        return 7;
    }
    inputFormat_ = platform::WaveFormat::pcm(samplerate, Channels, 16);
    stream_ = acm_.open(inputFormat_.bytes(), outputFormat_);
    if (!stream_) {
        return 7;
    }
    sourceCapacity_ = static_cast<std::int32_t>(secondOfInput);
    if (!stream_->size(sourceCapacity_, destinationCapacity_) || destinationCapacity_ < 0) {
        releaseStream();
        return 7;
    }
    source_.assign(static_cast<std::size_t>(sourceCapacity_), 0);
    // Never a zero-sized buffer: its address must be a real one for the stream.
    destination_.assign(static_cast<std::size_t>(std::max(destinationCapacity_, 1)), 0);

    header_ = {};
    header_.source = source_.data();
    header_.sourceLength = sourceCapacity_;
    header_.destination = destination_.data();
    header_.destinationLength = destinationCapacity_;
    if (!stream_->prepareHeader(header_)) {
        releaseStream();
        return 7;
    }
    headerPrepared_ = true;

    if (!file_.open(output, EncoderFile::Creation::CreateAlways)) {
        releaseStream();
        return 2;
    }
    streamFormat_.assign(outputFormat_.begin(), outputFormat_.begin() + outputFormatLength_);
    if (writeHeader_) {
        // Zeros where Encoder_EncoderClose puts the header.
        const std::vector<std::uint8_t> placeholder(streamFormat_.size() + HeaderFraming, 0);
        file_.write(placeholder.data(), static_cast<std::int32_t>(placeholder.size()));
    }
    return 0;
}

std::int32_t EncoderWAV::Encoder_Encode(const std::uint8_t* buffer_ptr, std::int32_t buffer_len,
                                        std::int32_t& buffer_used) {
    if (buffer_len < 0 || buffer_len > sourceCapacity_) {
        return 8;
    }
    if (!stream_ || (buffer_len > 0 && !buffer_ptr)) {
        buffer_used = 0;
        return 9;
    }
    if (buffer_len > 0) {
        std::memcpy(source_.data(), buffer_ptr, static_cast<std::size_t>(buffer_len));
    }
    header_.sourceLength = buffer_len;
    std::int32_t result = 0;
    if (!stream_->convert(header_, platform::AcmConvert::BlockAlign)) {
        result = header_.sourceLengthUsed == 0 ? 9 : 0;
    } else {
        const std::int32_t produced = header_.destinationLengthUsed;
        if (file_.write(destination_.data(), produced) != produced) {
            result = 10;
        }
    }
    buffer_used = header_.sourceLengthUsed;
    return result;
}

std::int32_t EncoderWAV::Encoder_EncoderClose() {
    if (!IsRunning()) {
        return 2;
    }
    // Whatever the stream still holds; on a failed flush the bytes it did deliver are kept.
    header_.sourceLength = 0;
    stream_->convert(header_, platform::AcmConvert::End);
    header_.sourceLength = sourceCapacity_;
    file_.write(destination_.data(), header_.destinationLengthUsed);
    if (writeHeader_) {
        writeWaveHeader();
    }
    releaseStream();
    file_.close();
    return 0;
}

void EncoderWAV::writeWaveHeader() {
    const std::uint32_t length = static_cast<std::uint32_t>(streamFormat_.size());
    const std::uint32_t fileSize = file_.size();
    file_.seek(0, EncoderFile::Origin::Begin);

    // 20 = "RIFF" + RIFF size + "WAVE" + "fmt " + format chunk size
    std::array<std::uint8_t, 20> head{};
    std::memcpy(head.data(), "RIFF", 4);
    put32(head.data() + 4, fileSize - 8); // everything after "RIFF" and this field
    std::memcpy(head.data() + 8, "WAVEfmt ", 8);
    put32(head.data() + 16, length);
    file_.write(head.data(), static_cast<std::int32_t>(head.size()));
    file_.write(streamFormat_.data(), static_cast<std::int32_t>(length));
    file_.write("data", 4);

    // Everything after the data chunk's size field is audio.
    const std::uint32_t sizeNow = file_.size();
    const std::uint32_t position = file_.tell();
    std::array<std::uint8_t, 4> dataSize{};
    put32(dataSize.data(), sizeNow - position - 4);
    file_.write(dataSize.data(), 4);
}

void EncoderWAV::releaseStream() {
    if (stream_ && headerPrepared_) {
        stream_->unprepareHeader(header_);
    }
    headerPrepared_ = false;
    stream_.reset();
    header_ = {};
    source_.clear();
    source_.shrink_to_fit();
    destination_.clear();
    destination_.shrink_to_fit();
    sourceCapacity_ = 0;
    destinationCapacity_ = 0;
    streamFormat_.clear();
}
