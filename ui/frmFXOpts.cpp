#include "ui/frmFXOpts.h"

#include "display/DeviceContext.h"
#include "display/PictureBox.h"
#include "display/modDraw.h"
#include "dsp/clsDSP.h"
#include "ui/WindowFonts.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {

using modDraw::RGB;

// Positions of the layout are kept in twips, 15 to the pixel at 96 dots per inch.
constexpr double kTwipsPerPixel = 15.0;

// Band sliders stand one slider width plus this many pixels apart; each band label starts
// this many pixels right of its slider's left edge.
constexpr int kBandGap = 20;
constexpr int kBandLabelIndent = 15;

// Colours of the equaliser curve: background, grid, the first point, and the gradient by
// height (boost at the top, cut at the bottom).
constexpr std::uint32_t kCurveBack = RGB(24, 31, 44);
constexpr std::uint32_t kCurveGrid = RGB(94, 88, 66);
constexpr std::uint32_t kCurveStart = RGB(167, 158, 131);
constexpr std::uint32_t kCurveTop = RGB(188, 34, 1);
constexpr std::uint32_t kCurveMiddle = RGB(225, 168, 34);
constexpr std::uint32_t kCurveBottom = RGB(0, 204, 0);

// Grows a label to show its whole caption in the window's font: to the right, as a label
// sized to its text would, and equally up and down, so the text stays centred where the
// layout puts it.
void fitToCaption(QLabel* label) {
    const QSize need = label->sizeHint();
    QRect r = label->geometry();
    if (need.width() > r.width()) {
        r.setWidth(need.width());
    }
    if (need.height() > r.height()) {
        const int grow = need.height() - r.height();
        r.adjust(0, -(grow / 2), 0, grow - grow / 2);
    }
    label->setGeometry(r);
}

std::int32_t toInt(double v) {
    return static_cast<std::int32_t>(std::lrint(v));
}

// A chain value as a position of slider, rounded halves to even. Values beyond the slider's
// range (or not a number) stop at its ends rather than overflow the conversion.
int sliderPosition(const QSlider* slider, double v) {
    if (std::isnan(v)) {
        return slider->minimum();
    }
    v = std::clamp(v, static_cast<double>(slider->minimum()),
                   static_cast<double>(slider->maximum()));
    return static_cast<int>(std::nearbyint(v));
}

// The single-precision product by ten that maps a factor onto a slider of tenths.
double tenths(float v) {
    return static_cast<double>(v * 10.0f);
}

float fromTenths(int v) {
    return static_cast<float>(static_cast<double>(v) / 10.0);
}

// Value labels stand this many pixels right of their level slider, or above their band
// slider.
constexpr int kValueGap = 3;
constexpr int kBandValueGap = 1;

// The texts of the value labels, from the slider's integer value.
QString milliseconds(int v) {
    return QStringLiteral("%1 ms").arg(v);
}
QString tenthsAsPercent(int v) {
    return QStringLiteral("%1%").arg(v * 10);
}
QString tenthsPlain(int v) {
    return QString::number(v / 10.0, 'f', 1);
}
// Hertz after a thin space: the phase shifter's page leaves little room right of its
// sliders.
QString tenthsHertz(int v) {
    return QStringLiteral("%1\u2009Hz").arg(tenthsPlain(v));
}
QString hertz(int v) {
    return QStringLiteral("%1\u2009Hz").arg(v);
}
// Band sliders are inverted: the value -12 is a gain of 12 dB.
QString bandGain(int v) {
    return QStringLiteral("%1 dB").arg(-v);
}

} // namespace

frmFXOpts::frmFXOpts(QWidget* parent) : QDialog(parent) {
    ui.setupUi(this);
    // A fixed tool window: title and close button only, no resizing.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // Every control gets the font itself: a style sheet on the owner window would otherwise
    // give the controls the application's font instead of the window's.
    const QFont captions = WindowFonts::Window(font());
    setFont(captions);
    for (QWidget* w : findChildren<QWidget*>()) {
        w->setFont(captions);
    }

    for (QLabel* label : findChildren<QLabel*>()) {
        fitToCaption(label);
    }

    sldEQ_.push_back(ui.sldEQ_0);
    lblEQID_.push_back(ui.lblEQID_0);
    AddValueLabel(ui.sldReverbLen, milliseconds);
    AddValueLabel(ui.sldReverbAmp, tenthsAsPercent);
    AddValueLabel(ui.sldShDry, tenthsPlain);
    AddValueLabel(ui.sldShWet, tenthsPlain);
    AddValueLabel(ui.sldShFb, tenthsPlain);
    AddValueLabel(ui.sldShSwpRate, tenthsHertz);
    AddValueLabel(ui.sldShSwpRange, tenthsPlain);
    AddValueLabel(ui.sldShFreq, hertz);
    AddValueLabel(ui.sldEQ_0, bandGain);

    connect(ui.strip, &QTabWidget::currentChanged, this, &frmFXOpts::strip_Click);
    connect(ui.sldAmplDB, &QSlider::valueChanged, this, &frmFXOpts::sldAmplDB_Scroll);
    connect(ui.sldReverbLen, &QSlider::valueChanged, this, &frmFXOpts::sldReverbLen_Scroll);
    connect(ui.sldReverbAmp, &QSlider::valueChanged, this, &frmFXOpts::sldReverbAmp_Scroll);
    connect(ui.sldShDry, &QSlider::valueChanged, this, &frmFXOpts::sldShDry_Scroll);
    connect(ui.sldShWet, &QSlider::valueChanged, this, &frmFXOpts::sldShWet_Scroll);
    connect(ui.sldShFb, &QSlider::valueChanged, this, &frmFXOpts::sldShFb_Scroll);
    connect(ui.sldShSwpRate, &QSlider::valueChanged, this, &frmFXOpts::sldShSwpRate_Scroll);
    connect(ui.sldShSwpRange, &QSlider::valueChanged, this, &frmFXOpts::sldShSwpRange_Scroll);
    connect(ui.sldShFreq, &QSlider::valueChanged, this, &frmFXOpts::sldShFreq_Scroll);
    connect(ui.sldEQ_0, &QSlider::valueChanged, this, [this] { sldEQ_Scroll(0); });
    ui.sldEQ_0->installEventFilter(this);
    connect(ui.cmdClose, &QPushButton::clicked, this, &QDialog::close);

    strip_Click();
}

frmFXOpts::~frmFXOpts() = default;

void frmFXOpts::ShowEx(clsDSP& dsp, QWidget* owner) {
    prepare(dsp, owner);
    exec();
    // The chain belongs to the main window; it is held only while the window is open.
    dsp_ = nullptr;
}

void frmFXOpts::prepare(clsDSP& dsp, QWidget* owner) {
    dsp_ = &dsp;
    curvePoints_.assign(static_cast<std::size_t>(std::max(dsp.EqualizerBands(), 0)), CurvePoint{});
    strip_Click();
    LoadSliders();
    sldAmplDB_Scroll();
    LayoutEqualizer();
    ShowValues();

    if (parentWidget() != owner) {
        setParent(owner, windowFlags());
    }
    CentreOn(owner);
}

double frmFXOpts::CosineInterpolate(double a, double b, double t) {
    const double s = (1.0 - std::cos(t * 3.14159265358979)) / 2.0;
    return (1.0 - s) * a + s * b;
}

void frmFXOpts::CentreOn(QWidget* owner) {
    // A window is placed by its frame, which is not known before it is first shown; the
    // owner's frame stands in for it, so the client areas share one centre.
    QPoint centre;
    QPoint frame;
    if (owner != nullptr) {
        const QWidget* w = owner->window();
        centre = w->geometry().center();
        frame = w->geometry().topLeft() - w->frameGeometry().topLeft();
    } else if (const QScreen* s = screen()) {
        centre = s->availableGeometry().center();
    } else {
        return;
    }
    move(centre - rect().center() - frame);
}

void frmFXOpts::strip_Click() {
    QWidget* tab = ui.strip->currentWidget();
    const QString key = tab != nullptr ? tab->property("key").toString() : QString();
    QWidget* shown = nullptr;
    if (key == QLatin1String("ECHO")) {
        shown = ui.picReverb;
    } else if (key == QLatin1String("SHIFT")) {
        shown = ui.picShift;
    } else if (key == QLatin1String("EQ")) {
        shown = ui.picEQ;
    } else if (key == QLatin1String("AMPL")) {
        shown = ui.picAmpl;
    }
    if (shown == nullptr) {
        return;
    }
    for (QWidget* page : {ui.picReverb, ui.picShift, ui.picEQ, ui.picAmpl}) {
        page->setVisible(page == shown);
    }
}

// Every slider's handler runs when its value changes, whether dragged, stepped by the keys
// or the wheel, or paged by a click beside the thumb. A click that leaves the value as it
// was writes nothing: the chain already holds it, and writing it again would only restart
// the effect's set-up (clearing the echo line, for one).

void frmFXOpts::sldAmplDB_Scroll() {
    const int v = ui.sldAmplDB->value();
    ui.lblAmplDB->setText(QStringLiteral("%1 dB").arg(v));
    if (dsp_ != nullptr) {
        dsp_->setAmplifyDB(v);
    }
}

void frmFXOpts::sldReverbLen_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setEchoLength(ui.sldReverbLen->value());
    }
}

void frmFXOpts::sldReverbAmp_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setEchoAmp(fromTenths(ui.sldReverbAmp->value()));
    }
}

void frmFXOpts::sldShDry_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setPhaseShiftDry(fromTenths(ui.sldShDry->value()));
    }
}

void frmFXOpts::sldShWet_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setPhaseShiftWet(fromTenths(ui.sldShWet->value()));
    }
}

void frmFXOpts::sldShFb_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setPhaseShiftFeedback(fromTenths(ui.sldShFb->value()));
    }
}

void frmFXOpts::sldShSwpRate_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setPhaseShiftSweepRate(fromTenths(ui.sldShSwpRate->value()));
    }
}

void frmFXOpts::sldShSwpRange_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setPhaseShiftSweepRange(fromTenths(ui.sldShSwpRange->value()));
    }
}

void frmFXOpts::sldShFreq_Scroll() {
    if (dsp_ != nullptr) {
        dsp_->setPhaseShiftFrequency(static_cast<float>(ui.sldShFreq->value()));
    }
}

void frmFXOpts::sldEQ_Scroll(int Index) {
    if (dsp_ == nullptr || Index >= dsp_->EqualizerBands()) {
        return;
    }
    // Upright sliders grow downwards: the top end (-12) is a boost of 12 dB.
    dsp_->setEqualizerBandGainDB(Index, static_cast<float>(-sldEQ_[Index]->value()));
    DrawEqualizerCurve();
}

void frmFXOpts::sldEQ_MouseUp(int Index, Qt::MouseButton Button) {
    if (Button != Qt::RightButton) {
        return;
    }
    {
        const QSignalBlocker quiet(sldEQ_[Index]);
        sldEQ_[Index]->setValue(0);
    }
    ShowValue(sldEQ_[Index]);
    sldEQ_Scroll(Index);
}

bool frmFXOpts::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto it = std::find(sldEQ_.begin(), sldEQ_.end(), watched);
        if (it != sldEQ_.end()) {
            sldEQ_MouseUp(static_cast<int>(it - sldEQ_.begin()),
                          static_cast<QMouseEvent*>(event)->button());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmFXOpts::LoadSliders() {
    // Loading shows the chain's values; nothing is written back.
    const auto load = [](QSlider* slider, double v) {
        const QSignalBlocker quiet(slider);
        slider->setValue(sliderPosition(slider, v));
    };
    const clsDSP& dsp = *dsp_;
    load(ui.sldAmplDB, dsp.AmplifyDB());
    load(ui.sldReverbLen, dsp.EchoLength());
    load(ui.sldReverbAmp, tenths(dsp.EchoAmp()));
    load(ui.sldShDry, tenths(dsp.PhaseShiftDry()));
    load(ui.sldShWet, tenths(dsp.PhaseShiftWet()));
    load(ui.sldShFb, tenths(dsp.PhaseShiftFeedback()));
    load(ui.sldShSwpRate, tenths(dsp.PhaseShiftSweepRate()));
    load(ui.sldShSwpRange, tenths(dsp.PhaseShiftSweepRange()));
    load(ui.sldShFreq, dsp.PhaseShiftFrequency());
}

void frmFXOpts::AddBandSlider() {
    const QSlider* first = sldEQ_.front();
    const QLabel* firstLabel = lblEQID_.front();
    const int Index = static_cast<int>(sldEQ_.size());

    auto* slider = new QSlider(first->orientation(), first->parentWidget());
    slider->setObjectName(QStringLiteral("sldEQ_%1").arg(Index));
    slider->setRange(first->minimum(), first->maximum());
    slider->setSingleStep(first->singleStep());
    slider->setPageStep(first->pageStep());
    slider->setInvertedAppearance(first->invertedAppearance());
    slider->setInvertedControls(first->invertedControls());
    slider->setTickPosition(first->tickPosition());
    slider->setTickInterval(first->tickInterval());
    slider->setGeometry(first->geometry());
    slider->setFont(first->font());
    connect(slider, &QSlider::valueChanged, this, [this, Index] { sldEQ_Scroll(Index); });
    slider->installEventFilter(this);
    sldEQ_.push_back(slider);

    auto* label = new QLabel(firstLabel->parentWidget());
    label->setObjectName(QStringLiteral("lblEQID_%1").arg(Index));
    label->setFont(firstLabel->font());
    label->setGeometry(firstLabel->geometry());
    lblEQID_.push_back(label);
    AddValueLabel(slider, bandGain);
}

void frmFXOpts::AddValueLabel(QSlider* slider, QString (*text)(int)) {
    auto* label = new QLabel(slider->parentWidget());
    const QString name = slider->objectName();
    label->setObjectName(QStringLiteral("lbl%1Value").arg(name.mid(3)));
    label->setFont(slider->font());
    values_.push_back(Value{slider, label, text});
    connect(slider, &QSlider::valueChanged, label, [this, slider] { ShowValue(slider); });
    ShowValue(slider);
}

QLabel* frmFXOpts::ValueLabel(const QSlider* slider) const {
    for (const Value& v : values_) {
        if (v.slider == slider) {
            return v.label;
        }
    }
    return nullptr;
}

void frmFXOpts::ShowValue(const QSlider* slider) {
    for (const Value& v : values_) {
        if (v.slider != slider) {
            continue;
        }
        v.label->setText(v.text(slider->value()));
        v.label->adjustSize();
        const QRect s = slider->geometry();
        const QSize size = v.label->size();
        if (slider->orientation() == Qt::Vertical) {
            v.label->move(s.center().x() - size.width() / 2,
                          s.top() - kBandValueGap - size.height());
        } else {
            // Kept inside the page: a font wider than the window's own takes the gap first.
            const int x =
                std::min(s.right() + 1 + kValueGap, slider->parentWidget()->width() - size.width());
            v.label->move(x, s.center().y() - size.height() / 2);
        }
        v.label->setVisible(slider->isVisibleTo(slider->parentWidget()));
    }
}

void frmFXOpts::ShowValues() {
    for (const Value& v : values_) {
        ShowValue(v.slider);
    }
}

void frmFXOpts::LayoutEqualizer() {
    const int n = static_cast<int>(curvePoints_.size());
    if (n == 0) {
        return;
    }
    // The first slider stands in the last n-th of the page's first n-th.
    QSlider* first = sldEQ_.front();
    const double pageTwips = ui.picEQ->width() * kTwipsPerPixel;
    const double leftTwips = pageTwips / n - first->width() * kTwipsPerPixel;
    first->move(toInt(leftTwips / kTwipsPerPixel), first->y());

    // The sliders beyond the first are made once; a later opening reuses them.
    while (static_cast<int>(sldEQ_.size()) < n) {
        AddBandSlider();
    }
    for (std::size_t i = 0; i < sldEQ_.size(); ++i) {
        QSlider* slider = sldEQ_[i];
        QLabel* label = lblEQID_[i];
        if (i > 0) {
            const QSlider* before = sldEQ_[i - 1];
            slider->move(before->x() + slider->width() + kBandGap, before->y());
        }
        label->move(slider->x() + kBandLabelIndent, label->y());
        const bool used = static_cast<int>(i) < n;
        slider->setVisible(used);
        label->setVisible(used);
    }

    for (int b = 0; b < n; ++b) {
        QSlider* slider = sldEQ_[b];
        {
            const QSignalBlocker quiet(slider);
            slider->setValue(sliderPosition(slider, -dsp_->EqualizerBandGainDB(b)));
        }
        const std::int32_t f = dsp_->EqualizerBandFrequency(b);
        QLabel* label = lblEQID_[b];
        label->setText(f <= 1000 ? QStringLiteral("%1 Hz").arg(f)
                                 : QStringLiteral("%1 kHz").arg(f / 1000));
        fitToCaption(label);
    }
    DrawEqualizerCurve();
}

void frmFXOpts::DrawEqualizerCurve() {
    PictureBox& box = *ui.picEQAmp;
    box.Cls();
    const double H = std::nearbyint(box.ScaleHeight());
    const double W = std::nearbyint(box.ScaleWidth());
    box.setBackColor(kCurveBack);

    const std::size_t n = curvePoints_.size();
    if (n == 0) {
        return;
    }
    const double step = std::nearbyint((W - 10.0) / static_cast<double>(n));
    const double M = sldEQ_.front()->maximum();
    for (std::size_t i = 0; i < n; ++i) {
        curvePoints_[i].x = static_cast<double>(i + 1) * step - 4.0;
        curvePoints_[i].y = (sldEQ_[i]->value() / M) * (H / 2.0) + H / 2.0;
    }

    box.Cls();
    DeviceContext& dc = box.hDC();
    box.setForeColor(kCurveGrid);
    for (const CurvePoint& p : curvePoints_) {
        dc.MoveToEx(toInt(p.x), 2);
        dc.LineTo(toInt(p.x), toInt(H - 2.0));
    }

    box.setForeColor(kCurveStart);
    const std::int32_t x0 = toInt(curvePoints_[0].x);
    const std::int32_t y0 = toInt(curvePoints_[0].y);
    dc.FillRect(x0, y0, x0 + 1, y0 + 1, kCurveStart);
    dc.MoveToEx(x0, y0);
    if (step < 1.0) {
        return;
    }

    // Each segment advances a fifth of a pixel per step, coloured by its height.
    const int steps = toInt(5.0 * step);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        for (int k = 0; k <= steps; ++k) {
            const double t = k / 5.0 / step;
            const double v = CosineInterpolate(curvePoints_[i].y, curvePoints_[i + 1].y, t);
            const double y = std::nearbyint(v - 0.5);
            box.setForeColor(modDraw::GradientColor(static_cast<float>(H), static_cast<float>(y),
                                                    kCurveTop, kCurveMiddle, kCurveBottom));
            dc.LineTo(toInt(curvePoints_[i].x + k / 5.0), toInt(y));
        }
    }
}

#include "moc_frmFXOpts.cpp"
