#include "app/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

QString SettingsFile::path(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("nu.ini"));
}

std::int16_t SettingsFile::ReadFileNo(const QString& folder) {
    QFile file(path(folder));
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    // The counter is a handful of digits: a longer first line is no counter anyway.
    const QByteArray head = file.read(4096);
    if (head.isEmpty()) {
        return 0;
    }
    QString line = QString::fromUtf8(head);
    if (line.startsWith(QChar(0xFEFF))) {
        line.remove(0, 1);
    }
    const qsizetype end = line.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (end >= 0) {
        line.truncate(end);
    }
    return ParseFileNo(line).value_or(std::int16_t{0});
}

bool SettingsFile::WriteFileNo(const QString& folder, std::int16_t intFileNo) {
    QFile file(path(folder));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    const QByteArray text = QByteArray::number(intFileNo) + "\r\n";
    const bool written = file.write(text) == text.size();
    return file.flush() && written;
}

std::optional<std::int16_t> SettingsFile::ParseFileNo(const QString& line) {
    const QString text = line.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // The whole part is accumulated exactly; anything beyond 6 significant digits is out of
    // range whatever the fraction, so the accumulator is capped there.
    constexpr std::int64_t cap = 1000000;
    std::int64_t whole = 0;
    qsizetype digits = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 0x80; ++i, ++digits) {
        whole = std::min<std::int64_t>(whole * 10 + (text[i].unicode() - u'0'), cap);
    }
    // The fraction decides the rounding by its digits alone, so "7.4999999999999999999" stays
    // below the half where a double would not.
    int firstFraction = -1;
    bool restNonZero = false;
    qsizetype fractionDigits = 0;
    if (i < text.size() && text[i] == u'.') {
        for (++i; i < text.size() && text[i].isDigit() && text[i].unicode() < 0x80;
             ++i, ++fractionDigits) {
            const int d = text[i].unicode() - u'0';
            if (firstFraction < 0) {
                firstFraction = d;
            } else if (d != 0) {
                restNonZero = true;
            }
        }
    }
    if (i != text.size() || digits + fractionDigits == 0) {
        return std::nullopt;
    }
    if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || whole % 2 == 1))) {
        whole = std::min<std::int64_t>(whole + 1, cap);
    }
    const std::int64_t value = negative ? -whole : whole;
    if (value < std::numeric_limits<std::int16_t>::min() ||
        value > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}
