#pragma once

#include <QString>

#include <cstdint>
#include <span>

class PictureBox;
class clsDraw;

// The pieces of the main window's live display: the texts of the status bar and the level
// bars. A level is a single-precision fraction of full scale (peak magnitude / 32768).
namespace modDisplay {

// The largest magnitude among block[start], block[start + step], ... (32768 for -32768);
// 0 when start lies past the block's end. A step below 1 counts as 1.
std::int32_t GetPeak(std::span<const std::int16_t> block, std::int32_t start, std::int32_t step);

// A file size as the status bar shows it: below 0 nothing; up to 1023 the number of bytes
// ("1023 bytes"); then KB as a whole number ("1 KB"), then MB and GB with one decimal
// ("1.0 MB"), always rounding halves away from zero. format, when not empty, replaces the
// KB / MB / GB pattern: digit placeholders ('#' or '0') with an optional decimal point,
// the places after the point giving the decimals shown.
QString FormatSize(double size, const QString& format);

// Recorded time as minutes and seconds ("75:30"): the milliseconds rounded to whole seconds
// with halves to even, minutes neither padded nor wrapped into hours.
QString FormatTime(std::int32_t ms);

// One level bar: the box cleared, then a bar from the left edge, level * the box's width
// (rounded) wide and the box's height high, green at 0, amber at 0.5, red at 1.
void DrawVU(clsDraw& vis, PictureBox& box, float level);

// The clip mark over a level bar: a red strip, a sixteenth of the box wide (at least 3
// pixels), at its right end, where full scale lies.
void DrawClipMark(clsDraw& vis, PictureBox& box);

// The bar colours: green, amber RGB(225, 168, 34), red.
std::uint32_t VUColor(float level);

} // namespace modDisplay
