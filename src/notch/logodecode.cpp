#include "notch/logodecode.h"

#include <QBuffer>
#include <QImageReader>

namespace velline::logo {

QImage decodeLogo(const QByteArray& body) {
    if (body.isEmpty() || body.size() > maxBodyBytes)
        return {};
    QBuffer buffer;
    buffer.setData(body);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // Only the raster formats a logo service sends; SVG, TIFF and the rest stay out.
    static const QList<QByteArray> accepted{"png", "jpeg", "jpg", "gif", "webp"};
    if (!accepted.contains(reader.format()))
        return {};
    const QSize declared = reader.size();
    if (!declared.isValid() || declared.width() > maxSourceEdge ||
        declared.height() > maxSourceEdge)
        return {};
    reader.setAllocationLimit(maxSourceAllocationMiB);
    QImage image = reader.read();
    if (image.isNull() || image.width() > maxSourceEdge || image.height() > maxSourceEdge)
        return {};
    if (image.width() > storedEdge || image.height() > storedEdge)
        image = image.scaled(storedEdge, storedEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace velline::logo
