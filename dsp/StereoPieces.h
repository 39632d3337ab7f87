#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

// Stereo blocks taken apart into their channels for code that works on one channel's
// samples in a row. A block's samples alternate left, right, starting with left; a lone
// last sample is a left one.
namespace stereo_pieces {

// Frames per piece: two arrays of this many samples live on the stack. A capture block
// (at most 10240 bytes) is one piece.
constexpr std::size_t kFrames = 4096;

// Calls work(left, right) on each piece of up to kFrames frames of the block, in order,
// with the piece's left and right samples in arrays of their own, and puts what work left
// in them back into the block. Pieces hold whole frames, so left stays at even indices.
// Allocates nothing.
template <typename Work>
void ForEach(std::span<std::int16_t> block, Work&& work) {
    std::int16_t left[kFrames];
    std::int16_t right[kFrames];
    for (std::size_t at = 0; at < block.size(); at += 2 * kFrames) {
        const std::size_t m = std::min(block.size() - at, 2 * kFrames);
        const std::size_t nl = (m + 1) / 2;
        const std::size_t nr = m / 2;
        std::int16_t* p = block.data() + at;
        for (std::size_t i = 0; i < nr; ++i) {
            left[i] = p[2 * i];
            right[i] = p[2 * i + 1];
        }
        if (nl > nr) {
            left[nr] = p[m - 1];
        }
        work(std::span<std::int16_t>(left, nl), std::span<std::int16_t>(right, nr));
        for (std::size_t i = 0; i < nr; ++i) {
            p[2 * i] = left[i];
            p[2 * i + 1] = right[i];
        }
        if (nl > nr) {
            p[m - 1] = left[nr];
        }
    }
}

} // namespace stereo_pieces
