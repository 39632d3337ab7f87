#pragma once

#include "platform/acm/FormatChooser.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A format chooser that answers in the user's place: it remembers every time it was
// opened and answers with what `pick` makes of the offered formats (a cancel without pick).
struct ScriptedChooser final : platform::FormatChooser {
    struct Opening {
        QWidget* owner;
        std::string title;
        std::vector<std::uint8_t> source;
        std::size_t offered;
        std::vector<std::uint8_t> initial; // the record the chooser opened on
    };

    std::function<std::optional<Choice>(const std::vector<platform::AcmFormatChoice>&)> pick;
    std::vector<Opening> openings;

    std::optional<Choice> choose(QWidget* owner, const std::string& title,
                                 std::span<const std::uint8_t> source,
                                 const std::vector<platform::AcmFormatChoice>& formats,
                                 std::span<const std::uint8_t> initial) override {
        openings.push_back({owner,
                            title,
                            {source.begin(), source.end()},
                            formats.size(),
                            {initial.begin(), initial.end()}});
        return pick ? pick(formats) : std::nullopt;
    }
};
