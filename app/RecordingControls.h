#pragma once

#include "app/Take.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QPushButton;
class QSpinBox;
class QTimeEdit;
class QTimer;

// The frame "录音控制" beside the main window's own controls: pausing the running take, a
// length after which a take stops by itself, a clock time at which a take starts by itself,
// and voice-activated writing (threshold in dBFS, the silence after which writing waits).
class RecordingControls : public QObject {
    Q_OBJECT

public:
    struct Widgets {
        QPushButton& cmdPause;
        QCheckBox& chkLength;
        QTimeEdit& tmeLength;
        QCheckBox& chkStartAt;
        QTimeEdit& tmeStartAt;
        QCheckBox& chkVoice;
        QSpinBox& spnThreshold;
        QSpinBox& spnHold;
    };

    // startDue runs when the set clock time has come while no take runs.
    RecordingControls(Widgets widgets, std::function<void()> startDue, QObject* parent = nullptr);

    // The settings of the next take.
    std::optional<std::int64_t> LengthLimitMS() const;
    std::optional<VoiceActivation> Voice() const;
    // Follows the take: the pause button works and reads "暂停" or "继续" while a take runs;
    // the settings of the next take are fixed meanwhile.
    void ShowTake(bool recording, bool paused);

private:
    // Sets the clock-time timer for the time shown, or stops it when unchecked. The timer
    // wakes at most a minute apart and looks at the clock each time, so a changed clock or a
    // suspended machine still starts the take on time.
    void Arm();
    void Due();

    Widgets w_;
    std::function<void()> startDue_;
    QTimer* startTimer_ = nullptr;
};
