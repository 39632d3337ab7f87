#pragma once

class QWidget;

// How the main window looks beyond its form: the window's fonts, the read-only format box on
// the button face, the spectrum and waveform on black, the level bars on the button face, and
// frames with their caption on the border line.
class MainWindowLooks {
public:
    // Applies the looks to window; controls are found by their names.
    static void Apply(QWidget& window);
};
