// Barcodes through zxing-cpp: reading one from a photo, and drawing one (the
// pairing window's QR code, and test pictures).
#pragma once

#include <QByteArray>
#include <QImage>
#include <string>

namespace tallimo::phone {

struct DecodeResult {
  std::string text;    // what the barcode holds
  std::string format;  // "EAN-13", "Code128", "QRCode", ...
  std::string error;   // set when nothing could be read
};

// Reads the first barcode of a JPEG or PNG picture. Pictures are read with a
// memory limit and scaled down to at most 2000 pixels on their longer side.
DecodeResult decode_barcode(const QByteArray& picture);
// The same from a picture already in memory.
DecodeResult decode_barcode(const QImage& image);

// A picture of `text` as a barcode of `format` ("QRCode", "Code128", "EAN13"),
// black on white, `width` x `height` pixels (a QR code is square). A null image
// when the text cannot be written in that format.
QImage render_barcode(const std::string& text, const std::string& format, int width, int height);

}  // namespace tallimo::phone
