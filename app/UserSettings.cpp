#include "app/UserSettings.h"

#include "dsp/clsDSP.h"

#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace {

QString& SettingsFile() {
    static QString file;
    return file;
}

// A whole number in lo..hi from the file, else the default.
std::int32_t Whole(const QSettings& s, const char* key, std::int32_t lo, std::int32_t hi,
                   std::int32_t fallback) {
    bool ok = false;
    const int v = s.value(QLatin1String(key)).toInt(&ok);
    return ok && v >= lo && v <= hi ? v : fallback;
}

// A number in lo..hi (the effects window's range) from the file, else the default.
float Number(const QSettings& s, const char* key, float lo, float hi, float fallback) {
    bool ok = false;
    const double v = s.value(QLatin1String(key)).toDouble(&ok);
    return ok && std::isfinite(v) && v >= lo && v <= hi ? static_cast<float>(v) : fallback;
}

} // namespace

void UserSettings::SetFile(const QString& file) {
    SettingsFile() = file;
}

QString UserSettings::File() {
    return SettingsFile();
}

QString UserSettings::DefaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Vocarn/Vocarn.conf");
}

UserSettings::Values UserSettings::Read() {
    Values v;
    if (File().isEmpty()) {
        return v;
    }
    const QSettings s(File(), QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        return v;
    }
    v.device = s.value(QStringLiteral("input/device")).toString();
    v.line = s.value(QStringLiteral("input/line")).toString();
    const QString rate = s.value(QStringLiteral("output/rate")).toString();
    const int r = rate.toInt();
    if (rate.size() <= 5 && r >= 32 && r <= 96000 && QString::number(r) == rate) {
        v.rate = rate;
    }
    v.stereo = Whole(s, "output/channels", 1, 2, 2) == 2;
    v.format = QByteArray::fromHex(s.value(QStringLiteral("output/format")).toByteArray());
    v.lengthOn = Whole(s, "take/lengthOn", 0, 1, 0) == 1;
    v.lengthS = Whole(s, "take/length", 1, 86399, 3600);
    v.voiceOn = Whole(s, "take/voiceOn", 0, 1, 0) == 1;
    v.thresholdDb = Whole(s, "take/threshold", -90, -1, -40);
    v.holdS = Whole(s, "take/hold", 1, 600, 2);
    const QString type = s.value(QStringLiteral("output/type")).toString();
    if (type == QStringLiteral("flac") || type == QStringLiteral("opus") ||
        type == QStringLiteral("mp3")) {
        v.fileType = type;
    }
    v.flacLevel = Whole(s, "output/flacLevel", 0, 8, 5);
    v.opusKbps = Whole(s, "output/opusKbps", 6, 510, 48);
    v.mp3Kbps = Whole(s, "output/mp3Kbps", 8, 320, 128);
    v.effectsUsed = Whole(s, "effects/used", 0, 15, 0);
    v.echoLength = Whole(s, "effects/echoLength", 1, 1000, v.echoLength);
    v.echoAmp = Number(s, "effects/echoAmp", 0.1f, 0.9f, v.echoAmp);
    v.amplifyDB = Whole(s, "effects/amplifyDB", -12, 12, v.amplifyDB);
    v.dry = Number(s, "effects/dry", -1.0f, 1.0f, v.dry);
    v.wet = Number(s, "effects/wet", -1.0f, 1.0f, v.wet);
    v.feedback = Number(s, "effects/feedback", -0.9f, 0.9f, v.feedback);
    v.sweepRate = Number(s, "effects/sweepRate", 0.1f, 1.5f, v.sweepRate);
    v.sweepRange = Number(s, "effects/sweepRange", 3.0f, 6.0f, v.sweepRange);
    v.frequency = Number(s, "effects/frequency", -10.0f, 150.0f, v.frequency);
    for (std::size_t i = 0; i < v.bandGains.size(); ++i) {
        const QByteArray key = "effects/band" + QByteArray::number(static_cast<int>(i));
        v.bandGains[i] = Number(s, key.constData(), -12.0f, 12.0f, 0.0f);
    }
    if (s.contains(QStringLiteral("window/x")) && s.contains(QStringLiteral("window/y"))) {
        v.position = QPoint(Whole(s, "window/x", -100000, 100000, 0),
                            Whole(s, "window/y", -100000, 100000, 0));
    }
    return v;
}

void UserSettings::Write(const Values& v) {
    if (File().isEmpty()) {
        return;
    }
    QSettings s(File(), QSettings::IniFormat);
    s.clear();
    s.setValue(QStringLiteral("input/device"), v.device);
    s.setValue(QStringLiteral("input/line"), v.line);
    s.setValue(QStringLiteral("output/rate"), v.rate);
    s.setValue(QStringLiteral("output/channels"), v.stereo ? 2 : 1);
    s.setValue(QStringLiteral("output/format"), QString::fromLatin1(v.format.toHex()));
    s.setValue(QStringLiteral("take/lengthOn"), v.lengthOn ? 1 : 0);
    s.setValue(QStringLiteral("take/length"), v.lengthS);
    s.setValue(QStringLiteral("take/voiceOn"), v.voiceOn ? 1 : 0);
    s.setValue(QStringLiteral("take/threshold"), v.thresholdDb);
    s.setValue(QStringLiteral("take/hold"), v.holdS);
    s.setValue(QStringLiteral("output/type"), v.fileType);
    s.setValue(QStringLiteral("output/flacLevel"), v.flacLevel);
    s.setValue(QStringLiteral("output/opusKbps"), v.opusKbps);
    s.setValue(QStringLiteral("output/mp3Kbps"), v.mp3Kbps);
    s.setValue(QStringLiteral("effects/used"), v.effectsUsed);
    s.setValue(QStringLiteral("effects/echoLength"), v.echoLength);
    s.setValue(QStringLiteral("effects/echoAmp"), static_cast<double>(v.echoAmp));
    s.setValue(QStringLiteral("effects/amplifyDB"), v.amplifyDB);
    s.setValue(QStringLiteral("effects/dry"), static_cast<double>(v.dry));
    s.setValue(QStringLiteral("effects/wet"), static_cast<double>(v.wet));
    s.setValue(QStringLiteral("effects/feedback"), static_cast<double>(v.feedback));
    s.setValue(QStringLiteral("effects/sweepRate"), static_cast<double>(v.sweepRate));
    s.setValue(QStringLiteral("effects/sweepRange"), static_cast<double>(v.sweepRange));
    s.setValue(QStringLiteral("effects/frequency"), static_cast<double>(v.frequency));
    for (std::size_t i = 0; i < v.bandGains.size(); ++i) {
        s.setValue(QStringLiteral("effects/band%1").arg(i), static_cast<double>(v.bandGains[i]));
    }
    if (v.position) {
        s.setValue(QStringLiteral("window/x"), v.position->x());
        s.setValue(QStringLiteral("window/y"), v.position->y());
    }
    s.sync();
}

void UserSettings::Take(const clsDSP& chain, Values& v) {
    v.effectsUsed = chain.EffectsUsed() & 15;
    v.echoLength = chain.EchoLength();
    v.echoAmp = chain.EchoAmp();
    v.amplifyDB = chain.AmplifyDB();
    v.dry = chain.PhaseShiftDry();
    v.wet = chain.PhaseShiftWet();
    v.feedback = chain.PhaseShiftFeedback();
    v.sweepRate = chain.PhaseShiftSweepRate();
    v.sweepRange = chain.PhaseShiftSweepRange();
    v.frequency = chain.PhaseShiftFrequency();
    const auto bands = static_cast<std::size_t>(std::max(chain.EqualizerBands(), 0));
    for (std::size_t i = 0; i < v.bandGains.size(); ++i) {
        v.bandGains[i] = i < bands ? chain.EqualizerBandGainDB(static_cast<std::int32_t>(i)) : 0.0f;
    }
}

void UserSettings::Apply(const Values& v, clsDSP& chain) {
    chain.setEffectsUsed(v.effectsUsed);
    chain.setEchoLength(v.echoLength);
    chain.setEchoAmp(v.echoAmp);
    chain.setAmplifyDB(v.amplifyDB);
    chain.setPhaseShiftDry(v.dry);
    chain.setPhaseShiftWet(v.wet);
    chain.setPhaseShiftFeedback(v.feedback);
    chain.setPhaseShiftSweepRate(v.sweepRate);
    chain.setPhaseShiftSweepRange(v.sweepRange);
    chain.setPhaseShiftFrequency(v.frequency);
    const auto bands = static_cast<std::size_t>(std::max(chain.EqualizerBands(), 0));
    for (std::size_t i = 0; i < v.bandGains.size() && i < bands; ++i) {
        chain.setEqualizerBandGainDB(static_cast<std::int32_t>(i), v.bandGains[i]);
    }
}
