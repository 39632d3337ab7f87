#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QAudioOutput;
class QFile;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;

// The media player embedded in the preview window: a play/pause button, a position slider
// that also seeks, and the time as "0:07 / 0:42", over QMediaPlayer with a QAudioOutput on
// the default output device.
//
// Its one property is the URL, a file path: setting it plays that file from its start,
// setting it to empty text stops the player and lets go of the file. Failures to play show as
// an empty player; the player never reports anything itself. On a system without a playback
// backend there is no player: a line says the take cannot be played, and the URL is only kept.
class EmbeddedPlayer : public QWidget {
    Q_OBJECT

public:
    explicit EmbeddedPlayer(QWidget* parent = nullptr);
    ~EmbeddedPlayer() override;

    // The path last set; empty when none.
    QString URL() const;
    // Plays the file at `path` from its start, opened anew also when it is the file already
    // playing (it may have been written again). Empty text stops playback and releases the
    // file; a path that names no file leaves the player empty.
    void setURL(const QString& path);

    // The player underneath (the windows only set the URL; tests read its state); null
    // without a playback backend.
    QMediaPlayer* mediaPlayer() const { return player_; }

    // "m:ss" for a time in milliseconds (whole seconds, cut off); minutes grow past 59.
    static QString FormatTime(qint64 ms);

private:
    // Stops the player and closes the file.
    void release();
    void togglePlay();
    void showPosition(qint64 ms);
    void showDuration(qint64 ms);
    void showState();

    // All null without a playback backend.
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* audio_ = nullptr;
    QToolButton* cmdPlay_ = nullptr;
    QSlider* sldPosition_ = nullptr;
    QLabel* lblTime_ = nullptr;
    QString url_;
    std::unique_ptr<QFile> file_; // the file being played, open for the player
};
