// Logo downloads: whatever the body, the decoder returns a null image or a small one.
#include "notch/logodecode.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Image format plugins are found through the application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QImage image = velline::logo::decodeLogo(body);
    if (!image.isNull() &&
        (image.width() > velline::logo::storedEdge || image.height() > velline::logo::storedEdge))
        std::abort();
    return 0;
}
