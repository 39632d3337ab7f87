#include "platform/acm/FormatChooserDialog.h"

#include "encoder/EncoderWAV.h"
#include "platform/acm/DialogFormatChooser.h"
#include "platform/acm/FfmpegAcmService.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <set>

using platform::FormatChooserDialog;
using platform::WaveFormat;

namespace {

QComboBox* types(QDialog& d) {
    return d.findChild<QComboBox*>("cboFormatTag");
}
QComboBox* formats(QDialog& d) {
    return d.findChild<QComboBox*>("cboFormat");
}
QPushButton* button(QDialog& d, QDialogButtonBox::StandardButton which) {
    return d.findChild<QDialogButtonBox*>()->button(which);
}

// Picks the type and the format with this text (without its data rate) by index, as the
// user does.
void pick(QDialog& d, const QString& type, const QString& text) {
    types(d)->setCurrentIndex(types(d)->findText(type));
    formats(d)->setCurrentIndex(formats(d)->findText(text, Qt::MatchStartsWith));
}

// Runs `answer` on the chooser dialog once it is shown modally; the dialog's exec() blocks
// the test until answer closes it.
void whenShown(std::function<void(FormatChooserDialog&)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto* d = qobject_cast<FormatChooserDialog*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            poll->stop();
            answer(*d);
        }
    });
    poll->start(5);
}

} // namespace

// Every type and format of the dialog, each picked in turn: exactly the formats given,
// every one convertible from the recording's PCM.
TEST(FormatChooserDialog, ListsOnlyFormatsTheRecordingConvertsInto) {
    platform::FfmpegAcmService acm;
    for (const auto& [rate, channels] : {std::pair{8000, 1}, std::pair{44100, 2}}) {
        const auto source = WaveFormat::pcm(rate, static_cast<std::int16_t>(channels), 16);
        const auto offered = acm.convertibleFormats(source.bytes());
        FormatChooserDialog d(offered);
        QStringList typeNames;
        std::set<std::pair<std::string, std::string>> listed;
        for (int t = 0; t < types(d)->count(); ++t) {
            typeNames << types(d)->itemText(t);
            types(d)->setCurrentIndex(t);
            for (int f = 0; f < formats(d)->count(); ++f) {
                formats(d)->setCurrentIndex(f);
                const auto c = d.chosen();
                ASSERT_TRUE(c);
                EXPECT_EQ(c->tagName, typeNames.back().toStdString());
                EXPECT_TRUE(acm.open(source.bytes(), c->record)) << c->tagName << c->text;
                listed.insert({c->tagName, c->text});
            }
        }
        EXPECT_EQ(typeNames,
                  QStringList({"PCM", "IEEE Float", "IMA ADPCM", "Microsoft ADPCM", "CCITT A-Law",
                               "CCITT u-Law", "GSM 6.10", "MPEG Layer-3"}));
        EXPECT_EQ(listed.size(), offered.size()) << rate;
        for (const auto& f : offered) {
            EXPECT_TRUE(listed.count({f.tagName, f.text})) << f.tagName << " " << f.text;
        }
    }
}

TEST(FormatChooserDialog, PickingATypeFillsItsFormatsAndOkReturnsTheSelection) {
    const auto offered =
        platform::FfmpegAcmService().convertibleFormats(WaveFormat::pcm(22050, 1, 16).bytes());
    FormatChooserDialog d(offered);
    EXPECT_EQ(d.findChild<QLabel*>("lblFormatTag")->text(), "格式(&F):");
    EXPECT_EQ(d.findChild<QLabel*>("lblFormat")->text(), "属性(&A):");
    EXPECT_EQ(button(d, QDialogButtonBox::Ok)->text(), "确定");
    EXPECT_EQ(button(d, QDialogButtonBox::Cancel)->text(), "取消");
    EXPECT_EQ(types(d)->currentText(), "PCM");
    EXPECT_EQ(formats(d)->currentText(), "8,000 Hz, 8 Bit, Mono    7 KB/s");

    pick(d, "IMA ADPCM", "22,050 Hz, 4 Bit, Mono");
    EXPECT_EQ(formats(d)->count(), 10); // five rates, mono and stereo
    EXPECT_EQ(formats(d)->currentText(), "22,050 Hz, 4 Bit, Mono    10 KB/s");
    button(d, QDialogButtonBox::Ok)->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    const auto c = d.chosen();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->tagName, "IMA ADPCM");
    EXPECT_EQ(c->text, "22,050 Hz, 4 Bit, Mono");
    EXPECT_EQ(c->record,
              platform::AcmFormats::record(platform::AcmFormats::TagImaAdpcm, 22050, 1)->bytes());

    FormatChooserDialog none({});
    EXPECT_EQ(types(none)->count(), 0);
    EXPECT_FALSE(button(none, QDialogButtonBox::Ok)->isEnabled());
    EXPECT_FALSE(none.chosen());
}

// The encoder's own chooser: the dialog runs modally over the owner with the caller's
// title, opening on the format set (or, when that is not on offer, on the recording's own
// 16-bit PCM); OK sets the format, Cancel gives 11.
TEST(FormatChooserDialog, EncoderChoosesThroughTheModalDialog) {
    QWidget owner;
    EncoderWAV enc;
    QString title;
    bool ownedByOwner = false;
    QString opened;
    const auto selection = [](FormatChooserDialog& d) {
        return types(d)->currentText() + " " + formats(d)->currentText();
    };
    whenShown([&](FormatChooserDialog& d) {
        title = d.windowTitle();
        ownedByOwner = d.parentWidget() == &owner && d.windowModality() == Qt::WindowModal;
        opened = selection(d);
        pick(d, "CCITT A-Law", "44,100 Hz, 8 Bit, Stereo");
        button(d, QDialogButtonBox::Ok)->click();
    });
    ASSERT_EQ(enc.SelectFormat(44100, 2, &owner, "选择声音输出格式"), 0);
    EXPECT_EQ(title, "选择声音输出格式");
    EXPECT_TRUE(ownedByOwner);
    EXPECT_EQ(enc.FormatTag(), "CCITT A-Law");
    EXPECT_EQ(enc.FormatID(), "44,100 Hz, 8 Bit, Stereo");
    EXPECT_EQ(enc.OutputFormat().size(), 18u);
    EXPECT_EQ(enc.OutputFormat()[0], platform::AcmFormats::TagALaw);
    EXPECT_EQ(opened, "PCM 44,100 Hz, 16 Bit, Stereo    172 KB/s");

    whenShown([](FormatChooserDialog& d) { button(d, QDialogButtonBox::Cancel)->click(); });
    EXPECT_EQ(enc.SelectFormat(8000, 1, &owner, "t"), 11);
    EXPECT_EQ(enc.FormatTag(), "CCITT A-Law");

    // OK at once keeps the format set, for another rate and mono too.
    const std::vector<std::uint8_t> aLaw(enc.OutputFormat().begin(), enc.OutputFormat().end());
    whenShown([&](FormatChooserDialog& d) {
        opened = selection(d);
        button(d, QDialogButtonBox::Ok)->click();
    });
    ASSERT_EQ(enc.SelectFormat(8000, 1, &owner, "t"), 0);
    EXPECT_EQ(opened, "CCITT A-Law 44,100 Hz, 8 Bit, Stereo    86 KB/s");
    EXPECT_EQ(std::vector<std::uint8_t>(enc.OutputFormat().begin(), enc.OutputFormat().end()),
              aLaw);
    EXPECT_EQ(enc.FormatID(), "44,100 Hz, 8 Bit, Stereo");

    // A format another rate's list does not hold: the chooser opens on that rate's PCM.
    whenShown([&](FormatChooserDialog& d) {
        pick(d, "PCM", "12,345 Hz, 16 Bit, Mono");
        button(d, QDialogButtonBox::Ok)->click();
    });
    ASSERT_EQ(enc.SelectFormat(12345, 1, &owner, "t"), 0);
    whenShown([&](FormatChooserDialog& d) {
        opened = selection(d);
        button(d, QDialogButtonBox::Ok)->click();
    });
    ASSERT_EQ(enc.SelectFormat(22050, 2, &owner, "t"), 0);
    EXPECT_EQ(opened, "PCM 22,050 Hz, 16 Bit, Stereo    86 KB/s");
    EXPECT_EQ(enc.FormatID(), "22,050 Hz, 16 Bit, Stereo");

    // Nothing to offer: no dialog (one shown would be cancelled here), the choice fails.
    bool shown = false;
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [&shown] {
        if (auto* d = QApplication::activeModalWidget()) {
            shown = true;
            static_cast<QDialog*>(d)->reject();
        }
    });
    guard.start(5);
    EXPECT_FALSE(platform::DialogFormatChooser().choose(&owner, "t", {}, {}, {}));
    EXPECT_FALSE(shown);
}
