#include "display/PictureBox.h"

#include <QPainter>

PictureBox::PictureBox(QWidget* parent)
    : QWidget(parent), image_(1, 1, QImage::Format_RGB32), dc_(image_, this) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    image_.fill(DeviceContext::toRgb(backColor_));
}

void PictureBox::setBackColor(std::uint32_t color) {
    backColor_ = color;
    Cls();
}

void PictureBox::Cls() {
    syncSize();
    dc_.fill(backColor_);
}

void PictureBox::paintEvent(QPaintEvent*) {
    syncSize();
    dc_.OwnerPainted();
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

void PictureBox::resizeEvent(QResizeEvent*) {
    syncSize();
}

void PictureBox::syncSize() {
    const QSize wanted = imageSize();
    if (wanted == image_.size()) {
        return;
    }
    QImage next(wanted, QImage::Format_RGB32);
    next.fill(DeviceContext::toRgb(backColor_));
    QPainter painter(&next);
    painter.drawImage(0, 0, image_);
    painter.end();
    image_ = next;
    dc_.ImageReplaced();
}

DeviceContext& PictureBox::hDC() {
    syncSize();
    return dc_;
}

const QImage& PictureBox::image() {
    syncSize();
    return image_;
}

#include "moc_PictureBox.cpp"
