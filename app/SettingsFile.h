#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The settings file "nu.ini" in the program's folder. It holds one line: the output file
// counter in decimal (minus sign when negative), followed by CR LF. Nothing else is stored.
class SettingsFile {
public:
    // The path of "nu.ini" in `folder`.
    static QString path(const QString& folder);

    // The counter read from the first line of "nu.ini" in `folder`. A missing or unreadable
    // file, anything but a regular file (a FIFO is never waited on), or a first line that is
    // no number in the 16-bit range, gives 0: the file is then written afresh by the next
    // recording.
    static std::int16_t ReadFileNo(const QString& folder);

    // Writes the counter, creating or truncating the file. A FIFO or a device in its place
    // is never written into (nor waited on): a regular file replaces it. False when it could
    // not be written.
    static bool WriteFileNo(const QString& folder, std::int16_t intFileNo);

    // The counter a first line stands for: a decimal number with optional sign and fraction,
    // spaces around it allowed, the fraction rounded to the nearest integer with halves to
    // even ("7.5" gives 8, "6.5" gives 6). Nothing when the text is no such number or the
    // rounded value lies outside -32768 ... 32767.
    static std::optional<std::int16_t> ParseFileNo(const QString& line);
};
