#pragma once

#include <QImage>

#include <cstdint>
#include <optional>

class QWidget;

// Drawing on a picture box's persistent image with the semantics of the drawing calls the
// display code was written for: a pen colour for lines and outlines, a current pen
// position, an optional solid brush for rectangle interiors, and rectangles whose right and
// bottom edges are exclusive. Coordinates are pixels; anything outside the image is
// clipped. Colours are 0x00BBGGRR values. After each call the owning widget (if any) is
// asked to repaint; a request that is still pending covers the calls that follow it, until
// the owner tells of its next paint (OwnerPainted).
class DeviceContext {
public:
    explicit DeviceContext(QImage& image, QWidget* owner = nullptr);

    std::uint32_t penColor() const { return pen_; }
    void setPenColor(std::uint32_t color) { pen_ = color; }

    // The brush that fills rectangle interiors; none leaves them as they are.
    void setBrush(std::optional<std::uint32_t> color) { brush_ = color; }

    // Moves the pen without drawing.
    void MoveToEx(std::int32_t x, std::int32_t y);
    // Draws from the pen position up to, not including, (x, y) and moves the pen there.
    void LineTo(std::int32_t x, std::int32_t y);
    // Outline of the pixels left..right-1 by top..bottom-1 in the pen colour, the inside
    // with the brush.
    void Rectangle(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom);
    // Fills the pixels left..right-1 by top..bottom-1 with one colour.
    void FillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom,
                  std::uint32_t color);
    // Fills the whole image with one colour.
    void fill(std::uint32_t color);

    std::int32_t penX() const { return x_; }
    std::int32_t penY() const { return y_; }

    const QImage& image() const { return image_; }

    // The owner has painted the image: the next drawing asks for a repaint again.
    void OwnerPainted() { repaintPending_ = false; }

    // A mark that changes with every drawing into the image and every replacement of it
    // (ImageReplaced), unique among all device contexts: an equal mark means the same image
    // with the same pixels.
    std::uint64_t Stamp() const { return stamp_; }
    void ImageReplaced() { stamp_ = nextStamp(); }

    // 0x00BBGGRR as the image's pixel value.
    static QRgb toRgb(std::uint32_t color);

private:
    // The image's pixels, one row after another, `stride` pixels apart; the image is
    // detached once here instead of once per pixel.
    struct Pixels {
        QRgb* bits;
        qsizetype stride;
        std::int32_t width;
        std::int32_t height;

        void plot(std::int32_t x, std::int32_t y, QRgb rgb) const {
            if (x >= 0 && y >= 0 && x < width && y < height) {
                bits[y * stride + x] = rgb;
            }
        }
    };
    Pixels pixels();
    void changed();
    static std::uint64_t nextStamp();

    QImage& image_;
    QWidget* owner_;
    bool repaintPending_ = false;
    std::uint64_t stamp_ = nextStamp();
    std::uint32_t pen_ = 0;
    std::optional<std::uint32_t> brush_;
    std::int32_t x_ = 0;
    std::int32_t y_ = 0;
};
