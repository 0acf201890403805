#include "CQrCode.h"

#include <memory>
#include <qrencode.h>

QImage CQrCode::Image(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return {};
    const int size = code->width + 2 * kQuietZone;
    QImage image(size, size, QImage::Format_Mono);
    image.fill(0);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            // The low bit of each module is black or white; the others are libqrencode's own.
            if (code->data[y * code->width + x] & 1)
                image.setPixel(x + kQuietZone, y + kQuietZone, 1);
    return image;
}
