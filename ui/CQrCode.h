#pragma once

#include <QImage>
#include <QString>

// A QR code that a phone can scan, one pixel per module with the quiet zone around it; scale
// it up without smoothing to show it. A null image when the text does not fit in a code.
class CQrCode {
public:
    static constexpr int kQuietZone = 4;

    static QImage Image(const QString& text);
};
