#pragma once

#include <QFont>

// The fonts of Vocarn's windows. The classic window fonts are rarely installed on Linux; the
// fallbacks are the CJK faces that draw the Chinese captions, at the same sizes. Each takes
// the first face of its list that is installed (none: the base font's face).
namespace WindowFonts {

// Captions, labels and lists: 8.25 points.
QFont Window(const QFont& base);
// The large record button: 10.5 points.
QFont Button(const QFont& base);

} // namespace WindowFonts
