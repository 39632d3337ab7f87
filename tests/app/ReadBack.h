#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// The samples of a WAV file that Vocarn wrote, as two readers nobody here wrote see them:
// ffprobe must find 16-bit PCM at `rate` and `channels`, and ffmpeg and sox must decode the
// same interleaved samples, as many as the header announces. Any disagreement fails the test.
std::vector<std::int16_t> ReadBack(const QString& path, int rate, int channels);
