#pragma once

#include <QString>

namespace platform {

// Moves the file at `path` into the desktop's trash, by the freedesktop.org trash rules:
// the home trash under the user's data folder when the file is on the same mount; else the
// trash at the top of the file's own mount ($top/.Trash/$uid or $top/.Trash-$uid); and
// where that cannot be made, a copy into the home trash, after which the file is removed.
// The .trashinfo names the file percent-encoded. True when the file is now in a trash;
// false when no trash could take it, and then the file is where it was.
bool MoveToTrash(const QString& path);

} // namespace platform
