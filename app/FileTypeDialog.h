#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// The small chooser of a file type's setting (Opus and MP3 bit rate, FLAC compression
// level): one list of values, 确定 and 取消. Tests answer in the user's place through Install.
class FileTypeDialog {
public:
    using Ask = std::function<std::optional<int>(const QString& title, const QStringList& items,
                                                 int current)>;

    // The index of the value chosen, or nothing when cancelled.
    static std::optional<int> Choose(QWidget* owner, const QString& title, const QStringList& items,
                                     int current);
    // Makes ask answer instead of the dialog (empty: the dialog again); returns the previous.
    static Ask Install(Ask ask);
};
