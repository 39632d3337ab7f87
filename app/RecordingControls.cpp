#include "app/RecordingControls.h"

#include <QCheckBox>
#include <QDateTime>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// The longest single wait of the clock-time timer.
constexpr qint64 kLongestWaitMS = 60000;

} // namespace

RecordingControls::RecordingControls(Widgets widgets, std::function<void()> startDue,
                                     QObject* parent)
    : QObject(parent), w_(widgets), startDue_(std::move(startDue)) {
    startTimer_ = new QTimer(this);
    startTimer_->setSingleShot(true);
    startTimer_->setTimerType(Qt::PreciseTimer);
    connect(startTimer_, &QTimer::timeout, this, &RecordingControls::Due);
    connect(&w_.chkStartAt, &QCheckBox::toggled, this, &RecordingControls::Arm);
    connect(&w_.tmeStartAt, &QTimeEdit::timeChanged, this, &RecordingControls::Arm);
    const auto follow = [this] {
        w_.tmeLength.setEnabled(w_.chkLength.isChecked());
        w_.tmeStartAt.setEnabled(w_.chkStartAt.isChecked());
        w_.spnThreshold.setEnabled(w_.chkVoice.isChecked());
        w_.spnHold.setEnabled(w_.chkVoice.isChecked());
    };
    for (QCheckBox* box : {&w_.chkLength, &w_.chkStartAt, &w_.chkVoice}) {
        connect(box, &QCheckBox::toggled, this, follow);
    }
    follow();
    w_.tmeLength.setMinimumTime(QTime(0, 0, 1));
}

std::optional<std::int64_t> RecordingControls::LengthLimitMS() const {
    if (!w_.chkLength.isChecked()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(w_.tmeLength.time().msecsSinceStartOfDay());
}

std::optional<VoiceActivation> RecordingControls::Voice() const {
    if (!w_.chkVoice.isChecked()) {
        return std::nullopt;
    }
    return VoiceActivation{static_cast<double>(w_.spnThreshold.value()), w_.spnHold.value() * 1000};
}

void RecordingControls::ShowTake(bool recording, bool paused) {
    w_.cmdPause.setEnabled(recording);
    w_.cmdPause.setText(recording && paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    w_.chkLength.setEnabled(!recording);
    w_.chkVoice.setEnabled(!recording);
    w_.tmeLength.setEnabled(!recording && w_.chkLength.isChecked());
    w_.spnThreshold.setEnabled(!recording && w_.chkVoice.isChecked());
    w_.spnHold.setEnabled(!recording && w_.chkVoice.isChecked());
}

void RecordingControls::Arm() {
    if (!w_.chkStartAt.isChecked()) {
        startTimer_->stop();
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime at(now.date(), w_.tmeStartAt.time());
    if (at <= now) {
        at = at.addDays(1);
    }
    startTimer_->setProperty("at", at);
    startTimer_->start(static_cast<int>(std::clamp<qint64>(now.msecsTo(at), 0, kLongestWaitMS)));
}

void RecordingControls::Due() {
    const QDateTime at = startTimer_->property("at").toDateTime();
    const qint64 left = QDateTime::currentDateTime().msecsTo(at);
    if (left > 0) {
        startTimer_->start(static_cast<int>(std::min(left, kLongestWaitMS)));
        return;
    }
    // A start at a set time happens once.
    w_.chkStartAt.setChecked(false);
    startDue_();
}
