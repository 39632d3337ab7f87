#include "display/DeviceContext.h"

#include <QWidget>

#include <algorithm>
#include <cstdlib>

DeviceContext::DeviceContext(QImage& image, QWidget* owner) : image_(image), owner_(owner) {}

QRgb DeviceContext::toRgb(std::uint32_t color) {
    return qRgb(static_cast<int>(color & 0xFFu), static_cast<int>((color >> 8) & 0xFFu),
                static_cast<int>((color >> 16) & 0xFFu));
}

void DeviceContext::plot(std::int32_t x, std::int32_t y, QRgb rgb) {
    if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height()) {
        reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = rgb;
    }
}

void DeviceContext::changed() {
    if (owner_ != nullptr) {
        owner_->update();
    }
}

void DeviceContext::MoveToEx(std::int32_t x, std::int32_t y) {
    x_ = x;
    y_ = y;
}

void DeviceContext::LineTo(std::int32_t x, std::int32_t y) {
    // Bresenham from the pen position; the end point itself is left out.
    const QRgb rgb = toRgb(pen_);
    std::int64_t cx = x_, cy = y_;
    const std::int64_t dx = std::llabs(static_cast<std::int64_t>(x) - cx);
    const std::int64_t dy = -std::llabs(static_cast<std::int64_t>(y) - cy);
    const std::int64_t sx = cx < x ? 1 : -1;
    const std::int64_t sy = cy < y ? 1 : -1;
    std::int64_t err = dx + dy;
    while (cx != x || cy != y) {
        plot(static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cy), rgb);
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
    for (std::int32_t yy = t; yy < b; ++yy) {
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(yy));
        std::fill(line + std::max(l, 0), line + std::max(r, l), rgb);
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
    for (std::int32_t xx = left; xx < right; ++xx) {
        plot(xx, top, rgb);
        plot(xx, bottom - 1, rgb);
    }
    for (std::int32_t yy = top; yy < bottom; ++yy) {
        plot(left, yy, rgb);
        plot(right - 1, yy, rgb);
    }
    changed();
}

void DeviceContext::fill(std::uint32_t color) {
    image_.fill(toRgb(color));
    changed();
}
