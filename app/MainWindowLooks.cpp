#include "app/MainWindowLooks.h"

#include "display/PictureBox.h"
#include "display/modDraw.h"
#include "ui/WindowFonts.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdint>

void MainWindowLooks::Apply(QWidget& window) {
    window.setFont(WindowFonts::Window(window.font()));
    if (auto* cmdDo = window.findChild<QPushButton*>(QStringLiteral("cmdDo"))) {
        cmdDo->setFont(WindowFonts::Button(cmdDo->font()));
    }
    // The read-only format box has the button face as its background.
    if (auto* format = window.findChild<QLineEdit*>(QStringLiteral("txtWAVFmt"))) {
        QPalette formatPalette = format->palette();
        formatPalette.setColor(QPalette::Base, formatPalette.color(QPalette::Button));
        format->setPalette(formatPalette);
    }
    // Spectrum and waveform on black; the level bars on the button face.
    const QColor face = window.palette().color(QPalette::Button);
    const std::uint32_t faceRGB = modDraw::RGB(static_cast<std::uint32_t>(face.red()),
                                               static_cast<std::uint32_t>(face.green()),
                                               static_cast<std::uint32_t>(face.blue()));
    for (const auto& [name, colour] :
         {std::pair{"picFreq", modDraw::RGB(0, 0, 0)}, std::pair{"picAmpl", modDraw::RGB(0, 0, 0)},
          std::pair{"picVUL", faceRGB}, std::pair{"picVUR", faceRGB}}) {
        if (auto* pic = window.findChild<PictureBox*>(QString::fromLatin1(name))) {
            pic->setBackColor(colour);
        }
    }
    // Frames with their caption on the border line, so the controls placed just below the
    // caption sit inside the frame.
    window.setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"));
}
