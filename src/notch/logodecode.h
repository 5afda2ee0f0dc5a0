#pragma once

#include <QByteArray>
#include <QImage>

namespace velline::logo {

// Limits that keep a hostile or broken logo answer from eating memory. A company logo is a
// small square picture; anything beyond these is refused, never decoded.
inline constexpr qint64 maxBodyBytes = 1024 * 1024; // per download
inline constexpr int maxSourceEdge = 2048;          // declared width and height, pixels
inline constexpr int maxSourceAllocationMiB = 32;   // decoder buffers, as Qt counts them
// Decoded logos are kept at most this large (the card draws them at 26 points, 52 pixels at 2x).
inline constexpr int storedEdge = 128;

// The format a logo body is in, from its first bytes: "png", "jpeg", "gif" or "webp"; empty for
// anything else.
QByteArray formatOf(const QByteArray& body);

// Decodes a logo body: PNG, JPEG, GIF or WebP, checked by its header before any pixel is
// decoded. A null image for anything over the limits or undecodable; otherwise an image no
// larger than storedEdge on its longer side.
QImage decodeLogo(const QByteArray& body);

} // namespace velline::logo
