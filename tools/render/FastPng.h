#pragma once

// The PNG encoder of large pictures: 8-bit RGB(A), run-length deflate, the rows
// split between threads that each deflate their share into one zlib stream (sync-flushed
// pieces, Adler-32 sums combined). A figure of lines on one background is mostly runs, which
// this compresses about as well as the best filters, in a fraction of their time.

#include <QImage>
#include <QString>

class QIODevice;

namespace fastpng {

// Writes `image` as a PNG to `device`, with up to `threads` threads (at least one): 8-bit RGB,
// or RGBA (unpremultiplied, as Qt's own writer stores it) when the format has an alpha channel.
// `level` is the deflate level, 0 (stored) ... 9; 1 is the run-length coder above, 2 ... 9
// zlib's usual matching at that level. False with a reason on a write or memory failure.
bool write(QIODevice &device, const QImage &image, int threads, QString *why, int level = 1);

} // namespace fastpng
