#pragma once

#include <QString>

class QWidget;

// The dialog that asks for an output path. The main window asks through this class, so
// tests can answer in the user's place by overriding GetSaveFileName.
class SaveFileDialog {
public:
    virtual ~SaveFileDialog() = default;

    // Shows a save dialog modal to owner, with the platform's default title, open in
    // folder, no initial name, the filter entries (e.g. "Wave ACM Encoder (*.wav)", entries
    // apart by ";;") with *selectedFilter chosen, and a question before an existing file is
    // overwritten. The chosen path, or an empty text when cancelled; *selectedFilter is then
    // the entry chosen.
    virtual QString GetSaveFileName(QWidget* owner, const QString& filter, const QString& folder,
                                    QString* selectedFilter);
};
