#include "display/DeviceContext.h"

#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cstdlib>

DeviceContext::DeviceContext(QImage& image, QWidget* owner) : image_(image), owner_(owner) {}

QRgb DeviceContext::toRgb(std::uint32_t color) {
    return qRgb(static_cast<int>(color & 0xFFu), static_cast<int>((color >> 8) & 0xFFu),
                static_cast<int>((color >> 16) & 0xFFu));
}

DeviceContext::Pixels DeviceContext::pixels() {
    // bits() of an image without pixels is null; its width and height are 0, so nothing is
    // written through it.
    return Pixels{reinterpret_cast<QRgb*>(image_.bits()), image_.bytesPerLine() / 4, image_.width(),
                  image_.height()};
}

std::uint64_t DeviceContext::nextStamp() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

void DeviceContext::changed() {
    stamp_ = nextStamp();
    if (owner_ == nullptr || repaintPending_) {
        return;
    }
    owner_->update();
    // A hidden widget, or one with updates off, drops the request; it is painted whole when
    // it shows again, so the next drawing only has to ask again.
    repaintPending_ = owner_->isVisible() && owner_->updatesEnabled();
}

void DeviceContext::MoveToEx(std::int32_t x, std::int32_t y) {
    x_ = x;
    y_ = y;
}

void DeviceContext::LineTo(std::int32_t x, std::int32_t y) {
    // Bresenham from the pen position; the end point itself is left out.
    const QRgb rgb = toRgb(pen_);
    const Pixels px = pixels();
    std::int64_t cx = x_, cy = y_;
    const std::int64_t dx = std::llabs(static_cast<std::int64_t>(x) - cx);
    const std::int64_t dy = -std::llabs(static_cast<std::int64_t>(y) - cy);
    const std::int64_t sx = cx < x ? 1 : -1;
    const std::int64_t sy = cy < y ? 1 : -1;
    std::int64_t err = dx + dy;
    while (cx != x || cy != y) {
        px.plot(static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cy), rgb);
        const std::int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            cx += sx;
        }
        if (e2 <= dx) {
            err += dx;
            cy += sy;
        }
    }
    x_ = x;
    y_ = y;
    changed();
}

void DeviceContext::FillRect(std::int32_t left, std::int32_t top, std::int32_t right,
                             std::int32_t bottom, std::uint32_t color) {
    const std::int32_t l = std::max(left, 0);
    const std::int32_t t = std::max(top, 0);
    const std::int32_t r = std::min(right, image_.width());
    const std::int32_t b = std::min(bottom, image_.height());
    const QRgb rgb = toRgb(color);
    if (l < r && t < b) {
        const Pixels px = pixels();
        for (std::int32_t yy = t; yy < b; ++yy) {
            QRgb* line = px.bits + yy * px.stride;
            std::fill(line + l, line + r, rgb);
        }
    }
    changed();
}

void DeviceContext::Rectangle(std::int32_t left, std::int32_t top, std::int32_t right,
                              std::int32_t bottom) {
    if (right <= left || bottom <= top) {
        return;
    }
    if (brush_) {
        FillRect(left + 1, top + 1, right - 1, bottom - 1, *brush_);
    }
    const QRgb rgb = toRgb(pen_);
    const Pixels px = pixels();
    for (std::int32_t xx = left; xx < right; ++xx) {
        px.plot(xx, top, rgb);
        px.plot(xx, bottom - 1, rgb);
    }
    for (std::int32_t yy = top; yy < bottom; ++yy) {
        px.plot(left, yy, rgb);
        px.plot(right - 1, yy, rgb);
    }
    changed();
}

void DeviceContext::fill(std::uint32_t color) {
    image_.fill(toRgb(color));
    changed();
}
