#include "app/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens without waiting: a FIFO opens (or fails) at once instead of waiting for its other
// end, and no terminal becomes the program's.
int OpenWithoutWaiting(const QByteArray& name, int flags) {
    int fd;
    do {
        fd = ::open(name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool WriteAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t w =
            ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        done += w;
    }
    return true;
}

} // namespace

QString SettingsFile::path(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("nu.ini"));
}

std::int16_t SettingsFile::ReadFileNo(const QString& folder) {
    const Fd file(OpenWithoutWaiting(QFile::encodeName(path(folder)), O_RDONLY));
    // A FIFO, a device or a folder in the file's place holds no counter: it is read as a
    // damaged file, and never waited on.
    if (file.get() < 0 || !IsRegular(file.get())) {
        return 0;
    }
    // The counter is a handful of digits: a longer first line is no counter anyway.
    QByteArray head(4096, '\0');
    qsizetype got = 0;
    while (got < head.size()) {
        const ssize_t r =
            ::read(file.get(), head.data() + got, static_cast<std::size_t>(head.size() - got));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        got += r;
    }
    head.truncate(got);
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
    const QByteArray name = QFile::encodeName(path(folder));
    const QByteArray text = QByteArray::number(intFileNo) + "\r\n";
    {
        const Fd file(OpenWithoutWaiting(name, O_WRONLY | O_CREAT));
        if (file.get() >= 0 && IsRegular(file.get())) {
            return ::ftruncate(file.get(), 0) == 0 && WriteAll(file.get(), text);
        }
        // ENXIO: a FIFO nobody reads. Anything else that cannot be opened (a folder, no
        // right to write) stays as it is.
        if (file.get() < 0 && errno != ENXIO) {
            return false;
        }
    }
    // A FIFO or a device stands in the file's place: nothing is written into it. A file of
    // its own is written beside it and takes its place.
    QByteArray temporary = name + ".XXXXXX";
    const Fd file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    if (!WriteAll(file.get(), text) || ::rename(temporary.constData(), name.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
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
