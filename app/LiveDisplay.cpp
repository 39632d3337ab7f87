#include "app/LiveDisplay.h"

#include "app/Take.h"
#include "app/modDisplay.h"
#include "display/PictureBox.h"
#include "display/clsDraw.h"
#include "display/clsSmooth.h"

#include <QLabel>
#include <QStatusBar>

#include <sys/stat.h>

namespace {

// How long a bar keeps its clip mark.
constexpr std::int64_t kClipMarkMS = 2000;

// Size in bytes of the regular file at path (UTF-8); 0 when it cannot be read (deleted while
// recording). One stat: the display never opens the file the encoder is writing.
double FileLength(const QByteArray& path) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return 0.0;
    }
    return static_cast<double>(info.st_size);
}

} // namespace

LiveDisplay::LiveDisplay(Boxes boxes)
    : boxes_(boxes), clsVis(std::make_unique<clsDraw>()), clsSmoothL(std::make_unique<clsSmooth>()),
      clsSmoothR(std::make_unique<clsSmooth>()) {
    clsSmoothL->SmoothNew(3);
    clsSmoothR->SmoothNew(3);
    clock_.start();
    sbarSize = new QLabel(QStringLiteral("文件大小: 0 字节"), &boxes_.sbar);
    sbarSize->setObjectName(QStringLiteral("sbarSize"));
    sbarTime = new QLabel(QStringLiteral("长度: 0:00"), &boxes_.sbar);
    sbarTime->setObjectName(QStringLiteral("sbarTime"));
    boxes_.sbar.addWidget(sbarSize, 1);
    boxes_.sbar.addWidget(sbarTime, 1);
}

void LiveDisplay::FixPanels() {
    if (!panelsFixed_) {
        panelsFixed_ = true;
        sbarSize->setFixedSize(sbarSize->size());
        sbarTime->setFixedSize(sbarTime->size());
    }
}

LiveDisplay::~LiveDisplay() = default;

void LiveDisplay::Tick(Take& take, bool draw, bool stereo, const QString& path) {
    // Clip marks are taken every tick, so that a clip while the window was hidden does not
    // light the bar when it shows again.
    const std::int64_t now = clock_.elapsed();
    for (int c = 0; c < 2; ++c) {
        if (take.TakeClipMark(c)) {
            markUntil_[static_cast<std::size_t>(c)] = now + kClipMarkMS;
        }
    }
    if (draw) {
        DrawPictures(take, stereo);
    }
    ShowTexts(take, path);
}

void LiveDisplay::DrawPictures(Take& take, bool stereo) {
    const auto block = take.intBlock();
    clsVis->DrawAmplitudes(block, boxes_.picAmpl);
    clsVis->DrawFrequencies(block, boxes_.picFreq);

    std::int32_t left = 0;
    std::int32_t right = 0;
    if (stereo) {
        left = modDisplay::GetPeak(block, 0, 2);
        right = modDisplay::GetPeak(block, 1, 2);
    } else {
        left = right = modDisplay::GetPeak(block, 0, 1);
    }
    // The bars never fall to nothing: a silent block counts as a peak of 1.
    clsSmoothL->SmoothAdd(static_cast<float>(left == 0 ? 1 : left));
    clsSmoothR->SmoothAdd(static_cast<float>(right == 0 ? 1 : right));
    const std::int64_t now = clock_.elapsed();
    // A bar that shows its level already is not drawn again.
    const auto drawVU = [this, now](PictureBox& box, float level, std::size_t c) {
        ShownBar& shown = shownBars_[c];
        const bool marked = now < markUntil_[c];
        if (shown.stamp == box.hDC().Stamp() && shown.level == level && shown.marked == marked) {
            return;
        }
        modDisplay::DrawVU(*clsVis, box, level);
        if (marked) {
            modDisplay::DrawClipMark(*clsVis, box);
        }
        shown = {level, marked, box.hDC().Stamp()};
    };
    drawVU(boxes_.picVUL, clsSmoothL->SmoothGetMax() / 32768.0f, 0);
    drawVU(boxes_.picVUR, clsSmoothR->SmoothGetMax() / 32768.0f, 1);
}

void LiveDisplay::ShowTexts(Take& take, const QString& path) {
    // A text is built again only when its value changed since the last tick.
    if (path != sizePath_) {
        sizePath_ = path;
        sizePathBytes_ = path.toUtf8();
        shownSize_.reset();
    }
    // Only a written block changes the file's size.
    if (take.TakeWritten() || !shownSize_) {
        const double size = FileLength(sizePathBytes_);
        if (shownSize_ != size) {
            sbarSize->setText(QStringLiteral("文件大小: ") +
                              modDisplay::FormatSize(size, QString()));
            shownSize_ = size;
        }
    }
    QString state;
    if (take.IsPaused()) {
        state = QStringLiteral(" (已暂停)");
    } else if (take.VoiceActive()) {
        state = take.VoiceWriting() ? QStringLiteral(" (声控: 录音中)")
                                    : QStringLiteral(" (声控: 等待声音)");
    }
    if (shownElapsedMS_ != take.lngElapsedMS() || state != shownState_) {
        sbarTime->setText(QStringLiteral("时间: ") + modDisplay::FormatTime(take.lngElapsedMS()) +
                          state);
        shownElapsedMS_ = take.lngElapsedMS();
        shownState_ = state;
    }
}

void LiveDisplay::ShowIdle() {
    sbarSize->setText(QStringLiteral("文件大小: 0 Bytes"));
    sbarTime->setText(QStringLiteral("时间: 0:00"));
    shownSize_.reset();
    shownElapsedMS_.reset();
    shownState_.clear();
    markUntil_ = {-1, -1};
}
