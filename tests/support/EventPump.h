#pragma once

#include <chrono>
#include <functional>

// Runs the user-interface thread's event loop until `done` is true or `limit` has passed;
// returns done().
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
// Runs the event loop for `period`.
void PumpFor(std::chrono::milliseconds period);
