#pragma once

#include "display/DeviceContext.h"

#include <QImage>
#include <QWidget>

#include <cstdint>

// A picture box: a widget that shows a persistent image, drawn into through its device
// context (hDC) and kept between paints. Scale units are pixels: ScaleWidth and
// ScaleHeight are the inner size. The foreground colour is also the pen of the device
// context; Cls clears the image to the background colour. Colours are 0x00BBGGRR.
class PictureBox : public QWidget {
    Q_OBJECT

public:
    explicit PictureBox(QWidget* parent = nullptr);

    float ScaleWidth() const { return static_cast<float>(imageSize().width()); }
    float ScaleHeight() const { return static_cast<float>(imageSize().height()); }

    std::uint32_t ForeColor() const { return dc_.penColor(); }
    void setForeColor(std::uint32_t color) { dc_.setPenColor(color); }

    std::uint32_t BackColor() const { return backColor_; }
    void setBackColor(std::uint32_t color);

    // Clears the image to the background colour.
    void Cls();

    DeviceContext& hDC();
    const QImage& image();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The image follows the widget's size (also while the widget is hidden and its resize
    // event is still pending); what was drawn is kept.
    QSize imageSize() const { return size().expandedTo(QSize(1, 1)); }
    void syncSize();

    QImage image_;
    DeviceContext dc_;
    std::uint32_t backColor_ = 0;
};
