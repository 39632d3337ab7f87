#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The numbered takes in the program folder: "<folder>/file/录音N.wav", N being the counter
// intFileNo that "nu.ini" in the folder keeps between runs, or .flac, .opus or .mp3 once the
// takes are of that type. The counter only ever moves to a number that holds no take of any
// type, so no take is overwritten.
class TakeFiles {
public:
    explicit TakeFiles(QString programFolder);

    // The path the take with counter intFileNo goes to, in programFolder.
    static QString OutputPath(const QString& programFolder, std::int16_t intFileNo);
    static QString OutputPath(const QString& programFolder, std::int16_t intFileNo,
                              const QString& extension);
    // The extensions of the types a take can be: "wav" first.
    static const QStringList& Extensions();

    // The start-up: the takes a crash cut off are made whole first, so the numbering sees
    // them as takes; then the counter is read and moved to the first free number (written
    // back when it moved), and its file is created.
    void Load();
    // The counter moves on past the files that hold takes (wrapping from 32767 to -32768);
    // the next file is created and "nu.ini" written.
    void Next();
    // Writes the counter to "nu.ini".
    void WriteSettings() const;
    // The type of the numbered files from the next one on (an extension of Extensions();
    // anything else counts as "wav"). At start-up, before Load.
    void setExtension(const QString& extension);
    const QString& Extension() const { return extension_; }

    std::int16_t intFileNo() const { return intFileNo_; }
    // The file of the counter.
    QString Path() const { return OutputPath(programFolder_, intFileNo_, extension_); }
    const QString& ProgramFolder() const { return programFolder_; }

private:
    // Restates the sizes of the takes in the "file" subfolder that a crash or a kill cut off.
    void RepairTakes() const;
    // Whether no file of the number holds a take, of any type.
    bool NumberFree(std::int16_t number) const;
    // The first counter from `from` on (wrapping at 16 bits) whose files a recording may
    // use without destroying a take; `from` itself when every number is taken.
    std::int16_t FreeFileNo(std::int16_t from) const;
    // Creates the "file" subfolder when missing and the file at path when missing, leaving an
    // existing file's contents alone; never through a symbolic link.
    static void CreateOutputFile(const QString& path);

    const QString programFolder_;
    std::int16_t intFileNo_ = 0;
    QString extension_ = QStringLiteral("wav");
};
