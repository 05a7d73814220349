#pragma once

// The PNG encoder of large figures: 8-bit RGB, no row filter, run-length deflate, the rows
// split between threads that each deflate their share into one zlib stream (sync-flushed
// pieces, Adler-32 sums combined). A figure of lines on one background is mostly runs, which
// this compresses about as well as the best filters, in a fraction of their time.

#include <QImage>
#include <QString>

class QIODevice;

namespace fastpng {

// Writes `image` (any format; converted to RGB32 first unless it is one) as a PNG to `device`,
// with up to `threads` threads (at least one). False with a reason on a write or memory failure.
bool write(QIODevice &device, const QImage &image, int threads, QString *why);

} // namespace fastpng
