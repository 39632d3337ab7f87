#pragma once

#include <QString>

namespace platform {

// Moves the file at `path` into the desktop's trash (the freedesktop.org trash: the home
// trash under the user's data folder, or the trash at the top of the file's own mount).
// True when the file is now in a trash; false when there is no usable trash, and then the file
// has not moved.
bool MoveToTrash(const QString& path);

} // namespace platform
