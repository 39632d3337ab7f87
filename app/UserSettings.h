#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class clsDSP;

// What Vocarn remembers between runs: the device (by the server's name of the source) and
// its line, the rate, stereo, the output format, the effect switches and every effect
// setting, the take controls (set length, voice activation), the file type of the takes and
// its settings, and where the window was. Kept in the
// desktop's per-user settings (an INI file under $XDG_CONFIG_HOME), apart from nu.ini. Nothing is
// kept until SetFile names the file (the program does at its start), so windows made by tests
// remember nothing. A damaged or foreign file, or a value out of its range, reads as the default.
class UserSettings {
public:
    struct Values {
        QString device; // the source's server name; empty: none
        QString line;   // the line's name
        QString rate = QStringLiteral("44100");
        bool stereo = true;
        QByteArray format; // the output format record; empty: the default
        std::int32_t effectsUsed = 0;
        std::int32_t echoLength = 100;
        float echoAmp = 0.4f;
        std::int32_t amplifyDB = 3;
        float dry = 1.0f, wet = 1.0f, feedback = 0.5f;
        float sweepRate = 1.0f, sweepRange = 4.0f, frequency = 100.0f;
        std::array<float, 7> bandGains{};
        std::optional<QPoint> position;
        // The take controls: the set length (on, seconds), voice activation (on, threshold
        // in dBFS, seconds of silence).
        bool lengthOn = false;
        std::int32_t lengthS = 3600;
        bool voiceOn = false;
        std::int32_t thresholdDb = -40;
        std::int32_t holdS = 2;
        // The type of the numbered takes (its extension) and what each type is written with.
        QString fileType = QStringLiteral("wav");
        std::int32_t flacLevel = 5;
        std::int32_t opusKbps = 48;
        std::int32_t mp3Kbps = 128;
    };

    // The file to keep the values in; empty: keep nothing.
    static void SetFile(const QString& file);
    static QString File();
    // The desktop's place for Vocarn's settings.
    static QString DefaultFile();

    // The values in the file (the defaults where it has none, or when no file is set).
    static Values Read();
    // Writes values into the file; nothing when no file is set.
    static void Write(const Values& values);

    // The chain's settings into values, and values into the chain (its switches included).
    static void Take(const clsDSP& chain, Values& values);
    static void Apply(const Values& values, clsDSP& chain);
};
