#pragma once

#include "platform/acm/AcmFormats.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QWidget;

namespace platform {

// Lets the user pick an output format from the formats a recording's 16-bit PCM can be
// converted into. The real chooser is a modal dialog (DialogFormatChooser); tests put a
// scripted one in its place.
class FormatChooser {
public:
    // What the user chose.
    struct Choice {
        std::vector<std::uint8_t> record; // the wave format record with its extra bytes
        std::string tagName;              // the format type, e.g. "Microsoft ADPCM"
        std::string text;                 // the format, e.g. "8,000 Hz, 4 Bit, Mono"
    };

    virtual ~FormatChooser() = default;

    // Offers `formats` (all convertible from the PCM record `source`) under the window
    // title `title`, modal to `owner` (may be null), opening with the format whose record is
    // `initial` selected, so that accepting at once keeps it. nullopt when the user cancelled
    // or the chooser could not be shown.
    virtual std::optional<Choice> choose(QWidget* owner, const std::string& title,
                                         std::span<const std::uint8_t> source,
                                         const std::vector<AcmFormatChoice>& formats,
                                         std::span<const std::uint8_t> initial) = 0;
};

} // namespace platform
