#pragma once

#include "app/UserSettings.h"

class Form1;

// The main window's side of what Vocarn remembers between runs (UserSettings): the values put
// into the window's controls, the capture engine, the encoder and the effects chain at the
// start, and taken from them at the end and at each start of a take.
class WindowSettings {
public:
    // Puts remembered into form at its start-up, before it shows: rate, stereo, format,
    // device and line, effects, the take controls, and where the window opens (where it was,
    // when that is on a screen now, else centred on the screen it opens on).
    static void Restore(Form1& form, const UserSettings::Values& remembered);
    // Keeps what form has now for the next run; nothing when no settings file is set.
    static void Save(const Form1& form);
};
