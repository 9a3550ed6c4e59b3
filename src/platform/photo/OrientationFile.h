// The text of an orientation file (docs/orientation-files.md): YAML as OpenCV's file storage
// writes it, read by a parser of our own that accepts the part of YAML such files use (block
// mappings and sequences by indentation, flow sequences and mappings, quoted and plain scalars,
// tags, comments, the "%YAML" directive and the document markers). Every step of the parser moves
// forward through the text, nesting is limited and the text's size is bounded by the reader, so no
// input can make it hang or take unbounded memory.
#pragma once

#include <string_view>

namespace zqc {

// The values of an orientation file, each checked only for its kind and count: the sides are
// whole numbers from 1 to 1,000,000, the others finite numbers.
struct OrientationValues {
    int width = 0;
    int height = 0;
    double camera[9] = {};      // camera_matrix, row by row
    double distortion[5] = {};  // k1, k2, p1, p2, k3
    double center[3] = {};      // projection_center
    double rotation[9] = {};    // row by row
};

// The largest orientation file read; a larger one is refused unread.
inline constexpr long long kMaxOrientationFileBytes = 1 << 20;

// Reads the text. True when it parses and holds every key with a value of the right kind and
// count (a matrix as an "!!opencv-matrix" mapping of rows, cols and data, or a plain sequence of
// numbers); a key given twice counts with its first value.
bool ParseOrientationText(std::string_view text, OrientationValues* values);

}  // namespace zqc
