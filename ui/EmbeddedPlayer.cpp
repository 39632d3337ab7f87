#include "ui/EmbeddedPlayer.h"

#include "ui/MediaBackend.h"

#include <QAudioOutput>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

EmbeddedPlayer::EmbeddedPlayer(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    // The backend is settled before the first player is made: without one, making a player
    // would end the program.
    if (!MediaBackend::Ready()) {
        auto* why = new QLabel(QStringLiteral("无法试听：此系统没有可用的媒体播放组件。"), this);
        why->setObjectName(QStringLiteral("lblNoPlayer"));
        row->addWidget(why);
        return;
    }
    player_ = new QMediaPlayer(this);
    audio_ = new QAudioOutput(this);
    player_->setAudioOutput(audio_);

    cmdPlay_ = new QToolButton(this);
    cmdPlay_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sldPosition_ = new QSlider(Qt::Horizontal, this);
    sldPosition_->setObjectName(QStringLiteral("sldPosition"));
    lblTime_ = new QLabel(this);
    lblTime_->setObjectName(QStringLiteral("lblTime"));
    row->addWidget(cmdPlay_);
    row->addWidget(sldPosition_, 1);
    row->addWidget(lblTime_);

    connect(cmdPlay_, &QToolButton::clicked, this, &EmbeddedPlayer::togglePlay);
    // Drags, clicks on the groove and keys all move the play position.
    connect(sldPosition_, &QSlider::actionTriggered, this,
            [this] { player_->setPosition(sldPosition_->sliderPosition()); });
    connect(player_, &QMediaPlayer::positionChanged, this, &EmbeddedPlayer::showPosition);
    connect(player_, &QMediaPlayer::durationChanged, this, &EmbeddedPlayer::showDuration);
    connect(player_, &QMediaPlayer::playbackStateChanged, this, &EmbeddedPlayer::showState);
    connect(player_, &QMediaPlayer::mediaStatusChanged, this, &EmbeddedPlayer::showState);
    connect(player_, &QMediaPlayer::seekableChanged, this, &EmbeddedPlayer::showState);
    showDuration(0);
    showState();
}

EmbeddedPlayer::~EmbeddedPlayer() {
    if (player_ != nullptr) {
        release(); // before the file goes: the player is a child and outlives the members
    }
}

QString EmbeddedPlayer::URL() const {
    return url_;
}

void EmbeddedPlayer::setURL(const QString& path) {
    url_ = path;
    if (player_ == nullptr) {
        return;
    }
    release();
    const QFileInfo info(path);
    if (!path.isEmpty() && info.isFile()) {
        // The player reads the file through a device of ours: Qt's FFmpeg backend never gets
        // past loading a file URL whose path is not plain ASCII, and every numbered recording
        // is called "录音N.wav".
        auto file = std::make_unique<QFile>(path);
        if (file->open(QIODevice::ReadOnly)) {
            file_ = std::move(file);
            player_->setSourceDevice(file_.get(), QUrl::fromLocalFile(info.absoluteFilePath()));
            player_->play();
        }
    }
    showPosition(player_->position());
    showDuration(player_->duration());
    showState();
}

void EmbeddedPlayer::release() {
    player_->stop();
    player_->setSourceDevice(nullptr);
    file_.reset();
}

QString EmbeddedPlayer::FormatTime(qint64 ms) {
    const qint64 seconds = ms < 0 ? 0 : ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void EmbeddedPlayer::togglePlay() {
    if (player_->playbackState() == QMediaPlayer::PlayingState) {
        player_->pause();
        return;
    }
    if (player_->mediaStatus() == QMediaPlayer::EndOfMedia) {
        player_->setPosition(0);
    }
    player_->play();
}

void EmbeddedPlayer::showPosition(qint64 ms) {
    if (!sldPosition_->isSliderDown()) {
        sldPosition_->setValue(static_cast<int>(ms));
    }
    lblTime_->setText(FormatTime(ms) + QStringLiteral(" / ") + FormatTime(player_->duration()));
}

void EmbeddedPlayer::showDuration(qint64 ms) {
    sldPosition_->setRange(0, static_cast<int>(ms));
    sldPosition_->setSingleStep(1000);
    sldPosition_->setPageStep(5000);
    lblTime_->setText(FormatTime(player_->position()) + QStringLiteral(" / ") + FormatTime(ms));
}

void EmbeddedPlayer::showState() {
    const bool playing = player_->playbackState() == QMediaPlayer::PlayingState;
    cmdPlay_->setText(playing ? QStringLiteral("暂停") : QStringLiteral("播放"));
    cmdPlay_->setIcon(
        style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    const bool loaded = !player_->source().isEmpty() &&
                        player_->mediaStatus() != QMediaPlayer::InvalidMedia &&
                        player_->mediaStatus() != QMediaPlayer::NoMedia;
    cmdPlay_->setEnabled(loaded);
    sldPosition_->setEnabled(loaded && player_->isSeekable());
}
