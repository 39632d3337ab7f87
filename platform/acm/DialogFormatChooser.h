#pragma once

#include "platform/acm/FormatChooser.h"

namespace platform {

// The format chooser of the program: FormatChooserDialog, run modally over its owner.
class DialogFormatChooser final : public FormatChooser {
public:
    // With no formats to offer nothing is shown and the choice fails at once.
    std::optional<Choice> choose(QWidget* owner, const std::string& title,
                                 std::span<const std::uint8_t> source,
                                 const std::vector<AcmFormatChoice>& formats,
                                 std::span<const std::uint8_t> initial) override;
};

} // namespace platform
