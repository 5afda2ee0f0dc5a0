#include "notch/logodecode.h"

#include <QBuffer>
#include <QImageReader>

namespace velline::logo {

QByteArray formatOf(const QByteArray& body) {
    if (body.startsWith("\x89PNG\r\n\x1a\n"))
        return QByteArrayLiteral("png");
    if (body.startsWith("\xff\xd8\xff"))
        return QByteArrayLiteral("jpeg");
    if (body.startsWith("GIF87a") || body.startsWith("GIF89a"))
        return QByteArrayLiteral("gif");
    if (body.size() >= 12 && body.startsWith("RIFF") && body.mid(8, 4) == "WEBP")
        return QByteArrayLiteral("webp");
    return {};
}

QImage decodeLogo(const QByteArray& body) {
    if (body.isEmpty() || body.size() > maxBodyBytes)
        return {};
    // The bytes decide the format, and only its own decoder is asked: a reader left to guess
    // would load every image plugin installed to let each one look at the bytes.
    const QByteArray format = formatOf(body);
    if (format.isEmpty())
        return {};
    QBuffer buffer;
    buffer.setData(body);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
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
