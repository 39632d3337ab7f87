#include "encoder/EncoderWAV.h"

#include "common/RaisedError.h"
#include "platform/acm/AcmService.h"
#include "platform/acm/DialogFormatChooser.h"
#include "platform/acm/FfmpegAcmService.h"
#include "platform/acm/FormatChooser.h"

#include <algorithm>
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
// 8 = "RIFF" + its size field: the part of the file the RIFF size does not count.
constexpr std::uint32_t RiffPreamble = 8;
// 4 = the RIFF size field's offset, after "RIFF".
constexpr std::uint32_t RiffSizeOffset = 4;
// 12 = the block align field's offset in a wave format record.
constexpr std::size_t BlockAlignOffset = 12;
// How often, at most, the size fields follow the audio while recording.
constexpr std::chrono::seconds SizesInterval{1};

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
    // The chooser opens on the format set now where it is on offer, so that accepting at once
    // keeps it; otherwise on the recording's own 16-bit PCM.
    const bool offered = std::any_of(formats.begin(), formats.end(), [this](const auto& f) {
        return std::ranges::equal(f.record, OutputFormat());
    });
    const std::span<const std::uint8_t> initial =
        offered ? OutputFormat() : std::span<const std::uint8_t>(source);
    const auto choice = chooser_.choose(hwndOwner, Title, source, formats, initial);
    if (!choice || choice->record.size() < platform::WaveFormat::RecordSize ||
        choice->record.size() > FormatBufferSize) {
        return 11;
    }
    useChoice(source, choice->record, choice->tagName, choice->text);
    return 0;
}

bool EncoderWAV::RestoreFormat(std::int32_t samplerate, std::int16_t Channels,
                               std::span<const std::uint8_t> record) {
    const auto source = platform::WaveFormat::pcm(samplerate, Channels, 16).bytes();
    for (const auto& f : acm_.convertibleFormats(source)) {
        if (std::ranges::equal(f.record, record) &&
            f.record.size() >= platform::WaveFormat::RecordSize &&
            f.record.size() <= FormatBufferSize) {
            useChoice(source, f.record, f.tagName, f.text);
            return true;
        }
    }
    return false;
}

void EncoderWAV::useChoice(std::span<const std::uint8_t> source,
                           std::span<const std::uint8_t> record, const std::string& tagName,
                           const std::string& text) {
    // The chosen record at the start of a zeroed buffer of the full size, over the source
    // record the buffer was offered with.
    std::vector<std::uint8_t> buffer(FormatBufferSize, 0);
    std::memcpy(buffer.data(), source.data(), source.size());
    std::memcpy(buffer.data(), record.data(), record.size());
    // The extra size is an unsigned 16-bit field: 18 + n stays within the buffer for any n.
    const std::int32_t extraSize = buffer[16] | (buffer[17] << 8);
    outputFormat_ = std::move(buffer);
    outputFormatLength_ = static_cast<std::int32_t>(platform::WaveFormat::RecordSize) + extraSize;
    formatID_ = chooserText(text, FormatTextChars);
    formatTag_ = chooserText(tagName, FormatTagChars);
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
    blockAlign_ = 1;
    if (streamFormat_.size() >= BlockAlignOffset + 2) {
        blockAlign_ = std::max<std::uint32_t>(1, streamFormat_[BlockAlignOffset] |
                                                     (streamFormat_[BlockAlignOffset + 1] << 8));
    }
    headerBytes_ = 0;
    audioBytes_ = 0;
    writeFailed_ = false;
    if (writeHeader_) {
        // The real header at once, stating no audio yet: the file is valid from the start.
        const std::uint32_t length = static_cast<std::uint32_t>(streamFormat_.size());
        std::vector<std::uint8_t> head(streamFormat_.size() + HeaderFraming);
        std::memcpy(head.data(), "RIFF", 4);
        put32(head.data() + 4, length + HeaderFraming - RiffPreamble);
        std::memcpy(head.data() + 8, "WAVEfmt ", 8);
        put32(head.data() + 16, length);
        std::memcpy(head.data() + 20, streamFormat_.data(), length);
        std::memcpy(head.data() + 20 + length, "data", 4);
        put32(head.data() + 24 + length, 0);
        const auto size = static_cast<std::int32_t>(head.size());
        if (file_.write(head.data(), size) == size) {
            headerBytes_ = static_cast<std::uint32_t>(size);
        } else {
            // No room even for the header: an empty file rather than a torn header.
            file_.truncate(0);
            writeFailed_ = true;
        }
    }
    sizesWrittenAt_ = std::chrono::steady_clock::now();
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
        if (writeFailed_) {
            // The file ended at an earlier short write: nothing is appended after it.
            result = produced > 0 ? 10 : 0;
        } else {
            const std::int32_t written = file_.write(destination_.data(), produced);
            if (written != produced) {
                result = 10;
                keepWholeBlocks(written);
            } else {
                audioBytes_ += static_cast<std::uint32_t>(produced);
                const auto now = std::chrono::steady_clock::now();
                if (headerBytes_ > 0 && now - sizesWrittenAt_ >= SizesInterval) {
                    sizesWrittenAt_ = now;
                    writeSizes();
                }
            }
        }
    }
    buffer_used = header_.sourceLengthUsed;
    return result;
}

bool EncoderWAV::WouldExceedLimit(std::int32_t buffer_len) {
    if (!IsRunning() || !stream_ || audioBytes_ == 0 || buffer_len < 0) {
        return false;
    }
    // The most one conversion can produce is the destination buffer; the stream's own
    // bound for this block and for the end flush is usually far less.
    std::int32_t blockBound = destinationCapacity_;
    std::int32_t flushBound = destinationCapacity_;
    if (!stream_->size(std::min(buffer_len, sourceCapacity_), blockBound)) {
        blockBound = destinationCapacity_;
    }
    if (!stream_->size(0, flushBound)) {
        flushBound = destinationCapacity_;
    }
    const std::uint64_t end =
        std::uint64_t{headerBytes_} + audioBytes_ +
        static_cast<std::uint64_t>(std::min(blockBound, destinationCapacity_)) +
        static_cast<std::uint64_t>(std::min(flushBound, destinationCapacity_));
    return end > file_.sizeLimit();
}

std::uint32_t EncoderWAV::SizeLimit() const {
    return file_.sizeLimit();
}

void EncoderWAV::setSizeLimitForTests(std::uint32_t bytes) {
    file_.setSizeLimit(bytes);
}

void EncoderWAV::keepWholeBlocks(std::int32_t written) {
    const std::uint32_t reached = audioBytes_ + static_cast<std::uint32_t>(std::max(written, 0));
    if (headerBytes_ == 0) {
        // Bare audio (or no header): counted as it reached the disk, appending goes on.
        audioBytes_ = reached;
        return;
    }
    writeFailed_ = true;
    audioBytes_ = reached - reached % blockAlign_;
    // A partial block is no audio a reader can use; the header states the whole ones.
    file_.truncate(headerBytes_ + audioBytes_);
    writeSizes();
}

void EncoderWAV::writeSizes() {
    const std::uint32_t data = audioBytes_ - audioBytes_ % blockAlign_;
    std::array<std::uint8_t, 4> field{};
    put32(field.data(), data);
    file_.writeAt(headerBytes_ - 4, field.data(), 4); // the data chunk's size, at 24 + L
    put32(field.data(), headerBytes_ - RiffPreamble + data);
    file_.writeAt(RiffSizeOffset, field.data(), 4);
}

std::int32_t EncoderWAV::Encoder_EncoderClose() {
    if (!IsRunning()) {
        return 2;
    }
    // Whatever the stream still holds; on a failed flush the bytes it did deliver are kept.
    header_.sourceLength = 0;
    stream_->convert(header_, platform::AcmConvert::End);
    header_.sourceLength = sourceCapacity_;
    if (!writeFailed_) {
        const std::int32_t tail = header_.destinationLengthUsed;
        const std::int32_t written = file_.write(destination_.data(), tail);
        if (written != tail) {
            keepWholeBlocks(written);
        }
    }
    if (writeFailed_) {
        // The whole blocks that reached the disk (the header was stated with them already;
        // once more in case that write did not get through).
        if (headerBytes_ > 0) {
            writeSizes();
        }
    } else if (writeHeader_) {
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
