#pragma once

#include "ui_frmFXOpts.h"

#include <QDialog>

#include <cstdint>
#include <vector>

class QLabel;
class QSlider;
class clsDSP;

// The effects settings window: one page per effect (echo, phase shifter, equaliser,
// amplifier), chosen with the tab strip. Every slider writes its value straight into the
// main window's effects chain while it moves, so a change lands on the next processed
// block; there is nothing to confirm or undo. Switching effects on and off belongs to the
// main window.
//
// Sliders hold integers; the chain's properties are reached through the mapping of
// LoadSliders and the slider handlers (tenths for the echo amplitude and the phase
// shifter's factors, whole units for the rest). The band sliders stand upright and are
// inverted: their top end (-12) means +12 dB. A right-button release over a band slider
// returns that band to 0 dB. The equaliser page draws a small response curve through the
// band sliders into picEQAmp.
//
// Beside every slider a label shows its value in its unit (ms, %, Hz, dB, or the plain
// number), kept up to date as the slider moves: right of the level sliders, above the band
// sliders.
class frmFXOpts : public QDialog {
    Q_OBJECT

public:
    explicit frmFXOpts(QWidget* parent = nullptr);
    ~frmFXOpts() override;

    // Opens the window modally on dsp with owner as its owner window and returns when it is
    // closed (prepare, then the modal loop). The window keeps dsp only while it is open.
    void ShowEx(clsDSP& dsp, QWidget* owner);
    // Everything ShowEx does before the modal loop: keeps dsp, shows the selected tab's
    // page, loads the sliders from the chain, shows the gain, lays out the equaliser page
    // and draws the curve, owns and centres the window on owner. The window is not shown.
    void prepare(clsDSP& dsp, QWidget* owner);

    // Interpolates from a (t = 0) to b (t = 1) along half a cosine period: zero slope at
    // both ends.
    static double CosineInterpolate(double a, double b, double t);

    // The band sliders and their frequency labels, element 0 first.
    const std::vector<QSlider*>& sldEQ() const { return sldEQ_; }
    const std::vector<QLabel*>& lblEQID() const { return lblEQID_; }
    // The value shown beside a slider, or nullptr for a slider without one.
    QLabel* ValueLabel(const QSlider* slider) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Pixel position of a band's point on the equaliser curve.
    struct CurvePoint {
        double x = 0.0;
        double y = 0.0;
    };

    void strip_Click();

    void sldAmplDB_Scroll();
    void sldReverbLen_Scroll();
    void sldReverbAmp_Scroll();
    void sldShDry_Scroll();
    void sldShWet_Scroll();
    void sldShFb_Scroll();
    void sldShSwpRate_Scroll();
    void sldShSwpRange_Scroll();
    void sldShFreq_Scroll();
    void sldEQ_Scroll(int Index);
    void sldEQ_MouseUp(int Index, Qt::MouseButton Button);

    // Sets every slider but the band sliders from the chain, without writing back.
    void LoadSliders();
    // Places the band sliders and labels (creating the missing ones), loads them from the
    // chain, writes the band frequencies and draws the curve.
    void LayoutEqualizer();
    void DrawEqualizerCurve();

    void AddBandSlider();
    // Gives slider a value label right of it (or, for a band slider, above it) that text
    // fills from the slider's value.
    void AddValueLabel(QSlider* slider, QString (*text)(int));
    void ShowValue(const QSlider* slider);
    void ShowValues();
    void CentreOn(QWidget* owner);

    Ui::frmFXOpts ui;
    clsDSP* dsp_ = nullptr;
    std::vector<CurvePoint> curvePoints_;
    std::vector<QSlider*> sldEQ_;
    std::vector<QLabel*> lblEQID_;
    struct Value {
        QSlider* slider;
        QLabel* label;
        QString (*text)(int);
    };
    std::vector<Value> values_;
};
