#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

class PictureBox;
class QLabel;
class QStatusBar;
class Take;
class clsDraw;
class clsSmooth;

// The main window's live display of a running take, one tick at a time: the spectrum, the
// waveform, a level bar per channel (with a red mark for about two seconds after a channel
// clipped), and in the status bar the size of the output file and the recorded time with the
// take's state (paused, waiting for sound, writing).
class LiveDisplay {
public:
    struct Boxes {
        PictureBox& picFreq;
        PictureBox& picAmpl;
        PictureBox& picVUL;
        PictureBox& picVUR;
        QStatusBar& sbar;
    };

    // Puts two text panels into the status bar: the size of the output file (sbarSize) and
    // the recorded time (sbarTime).
    explicit LiveDisplay(Boxes boxes);
    ~LiveDisplay();
    LiveDisplay(const LiveDisplay&) = delete;
    LiveDisplay& operator=(const LiveDisplay&) = delete;

    // One tick while take runs into path. draw: the window is seen, so the pictures are
    // drawn; the texts follow the take either way.
    void Tick(Take& take, bool draw, bool stereo, const QString& path);
    // The texts of no take.
    void ShowIdle();
    // The window has a fixed size, so the status panels keep the size it first lays out for
    // them: fixed, a panel whose text changes (several times a second while recording) no
    // longer makes the status bar lay itself out again. Once, at the first show.
    void FixPanels();
    // A take starts: no bar carries a mark of the take before.
    void NewTake() { markUntil_ = {-1, -1}; }

private:
    void DrawPictures(Take& take, bool stereo);
    void ShowTexts(Take& take, const QString& path);

    Boxes boxes_;
    QLabel* sbarSize = nullptr;
    QLabel* sbarTime = nullptr;
    bool panelsFixed_ = false;
    std::unique_ptr<clsDraw> clsVis;
    std::unique_ptr<clsSmooth> clsSmoothL;
    std::unique_ptr<clsSmooth> clsSmoothR;
    // The level a bar shows, whether with the clip mark, and the stamp of its box's image
    // right after it was drawn.
    struct ShownBar {
        float level = 0.0f;
        bool marked = false;
        std::uint64_t stamp = 0;
    };
    std::array<ShownBar, 2> shownBars_{};
    // Until when (ms of clock_) a channel's bar carries the clip mark.
    std::array<std::int64_t, 2> markUntil_{-1, -1};
    QElapsedTimer clock_;
    // What the status texts show, so that a tick builds a text again only when its value
    // changed; empty while they show the idle texts.
    std::optional<double> shownSize_;
    std::optional<std::int32_t> shownElapsedMS_;
    QString shownState_;
    // The output path the display last took the size of, and its bytes for the stat.
    QString sizePath_;
    QByteArray sizePathBytes_;
};
