#include "encoder/EncoderWAV.h"

#include "AudioProbe.h"
#include "TempDir.h"
#include "platform/acm/FfmpegAcmService.h"
#include "platform/acm/FormatChooser.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <algorithm>
#include <functional>

using platform::AcmFormatChoice;
using platform::FormatChooser;
using platform::WaveFormat;

namespace {

// A chooser that remembers what it was offered and answers with what `pick` makes of the
// offered formats (cancel when pick gives nullopt).
struct ScriptedChooser : FormatChooser {
    std::function<std::optional<Choice>(const std::vector<AcmFormatChoice>&)> pick;
    QWidget* owner = nullptr;
    std::string title;
    std::vector<std::uint8_t> source;
    std::vector<AcmFormatChoice> offered;

    std::optional<Choice> choose(QWidget* o, const std::string& t, std::span<const std::uint8_t> s,
                                 const std::vector<AcmFormatChoice>& formats,
                                 std::span<const std::uint8_t>) override {
        owner = o;
        title = t;
        source.assign(s.begin(), s.end());
        offered = formats;
        return pick ? pick(formats) : std::nullopt;
    }
};

std::optional<FormatChooser::Choice> find(const std::vector<AcmFormatChoice>& list,
                                          const std::string& tag, const std::string& text) {
    for (const auto& f : list) {
        if (f.tagName == tag && f.text == text) {
            return FormatChooser::Choice{f.record, f.tagName, f.text};
        }
    }
    return std::nullopt;
}

std::vector<std::uint8_t> formatOf(const EncoderWAV& enc) {
    return {enc.OutputFormat().begin(), enc.OutputFormat().end()};
}

} // namespace

// The chooser is offered the recording's 16-bit PCM record and what it converts into;
// cancelling it, or an answer that holds no record, changes nothing.
TEST(EncoderWAVSelectFormat, CancelOrFailureGivesElevenAndChangesNothing) {
    ScriptedChooser chooser;
    EncoderWAV enc(chooser);
    const std::vector<std::uint8_t> big(200000, 0x5A);
    enc.SetFormat(big, "id", "tag");
    QWidget owner;
    EXPECT_EQ(enc.SelectFormat(8000, 1, &owner, "选择声音输出格式"), 11);
    EXPECT_EQ(chooser.owner, &owner);
    EXPECT_EQ(chooser.title, "选择声音输出格式");
    EXPECT_EQ(chooser.source, WaveFormat::pcm(8000, 1, 16).bytes());
    const auto expected = platform::FfmpegAcmService().convertibleFormats(chooser.source);
    ASSERT_EQ(chooser.offered.size(), expected.size());
    EXPECT_EQ(chooser.offered.back().record, expected.back().record);

    for (const std::size_t size : {std::size_t{17}, std::size_t{131073}}) {
        chooser.pick = [size](const auto&) {
            return FormatChooser::Choice{std::vector<std::uint8_t>(size, 0), "PCM", "x"};
        };
        EXPECT_EQ(enc.SelectFormat(44100, 2, nullptr, "t"), 11) << size;
    }
    EXPECT_EQ(formatOf(enc), big);
    EXPECT_EQ(enc.OutputFormatCapacity(), 200000);
    EXPECT_EQ(enc.FormatID(), "id");
    EXPECT_EQ(enc.FormatTag(), "tag");
}

// A chosen record's length is 18 + its extra size, within the 131072-byte buffer; the next
// recording converts into it and stores it as a format chunk of that length.
TEST(EncoderWAVSelectFormat, ChosenRecordSetsFormatAndTheNextFile) {
    ScriptedChooser chooser;
    EncoderWAV enc(chooser);
    enc.SetFormat(std::vector<std::uint8_t>(200000, 1), "", "");

    chooser.pick = [](const auto& list) { return find(list, "PCM", "8,000 Hz, 16 Bit, Mono"); };
    ASSERT_EQ(enc.SelectFormat(44100, 2, nullptr, "t"), 0);
    EXPECT_EQ(formatOf(enc), WaveFormat::pcm(8000, 1, 16).bytes());
    EXPECT_EQ(enc.OutputFormatCapacity(), 131072);

    chooser.pick = [](const auto& list) {
        return find(list, "Microsoft ADPCM", "22,050 Hz, 4 Bit, Mono");
    };
    ASSERT_EQ(enc.SelectFormat(44100, 2, nullptr, "t"), 0);
    const auto chosen = chooser.pick(chooser.offered)->record;
    ASSERT_EQ(enc.OutputFormat().size(), 50u);
    EXPECT_EQ(formatOf(enc), chosen);
    EXPECT_EQ(enc.FormatTag(), "Microsoft ADPCM");
    EXPECT_EQ(enc.FormatID(), "22,050 Hz, 4 Bit, Mono");

    TempDir dir;
    const std::string path = dir.file("adpcm.wav");
    ASSERT_EQ(enc.Encoder_EncoderInit(44100, 2, path), 0);
    const std::vector<std::int16_t> second(88200, 1000);
    std::int32_t used = 0;
    ASSERT_EQ(
        enc.Encoder_Encode(reinterpret_cast<const std::uint8_t*>(second.data()), 176400, used), 0);
    ASSERT_EQ(enc.Encoder_EncoderClose(), 0);
    const auto file = audioprobe::readFile(path);
    ASSERT_GT(file.size(), 78u);
    EXPECT_EQ(file[16] | (file[17] << 8) | (file[18] << 16) | (file[19] << 24), 50);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 20, file.begin() + 70), chosen);
    const auto probe = audioprobe::ffprobe(path);
    ASSERT_TRUE(probe.ok) << probe.text;
    EXPECT_EQ(probe.codecName, "adpcm_ms");
    EXPECT_EQ(probe.codecTag, 2u);
    EXPECT_EQ(probe.sampleRate, 22050);
    EXPECT_EQ(probe.channels, 1);
    EXPECT_EQ(probe.extradata, WaveFormat::parse(chosen)->extra);
}

// The texts end at their first NUL and at 128 (format) and 48 (type) characters, counted
// whole in UTF-8. An extra size of 0x8000 or more is a length, never a negative one.
TEST(EncoderWAVSelectFormat, TextsAreCutAndTheExtraSizeIsUnsigned) {
    ScriptedChooser chooser;
    EncoderWAV enc(chooser);
    auto record = WaveFormat::pcm(8000, 1, 16).bytes();
    record.push_back(0x77); // one byte past the record: not part of it (extra size 0)
    std::string text = "8,000 Hz, 16 Bit, Mono";
    text += '\0';
    text += "rest";
    chooser.pick = [&](const auto&) {
        return FormatChooser::Choice{record, std::string("PCM\0x", 5), text};
    };
    ASSERT_EQ(enc.SelectFormat(8000, 1, nullptr, "t"), 0);
    EXPECT_EQ(enc.FormatID(), "8,000 Hz, 16 Bit, Mono");
    EXPECT_EQ(enc.FormatTag(), "PCM");
    EXPECT_EQ(enc.OutputFormat().size(), 18u);

    std::string han;
    for (int i = 0; i < 130; ++i) {
        han += "汉";
    }
    record[16] = 0x00;
    record[17] = 0x80;
    chooser.pick = [&](const auto&) {
        return FormatChooser::Choice{record, std::string(60, 'T'), han};
    };
    ASSERT_EQ(enc.SelectFormat(8000, 1, nullptr, "t"), 0);
    EXPECT_EQ(enc.FormatTag(), std::string(48, 'T'));
    EXPECT_EQ(enc.FormatID(), han.substr(0, 128 * 3));
    ASSERT_EQ(enc.OutputFormat().size(), 18u + 0x8000u);
    EXPECT_EQ(enc.OutputFormat()[18], 0x77);
    EXPECT_TRUE(std::all_of(enc.OutputFormat().begin() + 19, enc.OutputFormat().end(),
                            [](std::uint8_t b) { return b == 0; }));
}
