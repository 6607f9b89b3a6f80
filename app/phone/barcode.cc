#include "app/phone/barcode.h"

#include <QBuffer>
#include <QImageReader>
#include <exception>

#define ZX_USE_UTF8 1
#include <ZXing/BarcodeFormat.h>
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>
#include <ZXing/ReadBarcode.h>

namespace tallimo::phone {
namespace {
constexpr int kMaxSide = 2000;
// Megabytes a decoded picture may take (a 12-megapixel photo takes 48).
constexpr int kAllocationLimitMb = 128;
}  // namespace

DecodeResult decode_barcode(const QImage& picture) {
  DecodeResult out;
  if (picture.isNull()) {
    out.error = "the picture is empty";
    return out;
  }
  QImage image = picture.convertToFormat(QImage::Format_Grayscale8);
  try {
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    const ZXing::ImageView view(image.constBits(), image.width(), image.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(image.bytesPerLine()));
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid()) {
      out.error = "no barcode found in the picture";
      return out;
    }
    out.text = result.text();
    out.format = ZXing::ToString(result.format());
  } catch (const std::exception& e) {
    out.error = std::string("the picture could not be read: ") + e.what();
  }
  return out;
}

DecodeResult decode_barcode(const QByteArray& picture) {
  QByteArray bytes = picture;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAllocationLimit(kAllocationLimitMb);
  reader.setAutoTransform(true);
  const QByteArray format = reader.format();
  if (format != "jpeg" && format != "jpg" && format != "png") {
    DecodeResult out;
    out.error = "the picture is not a JPEG or PNG image";
    return out;
  }
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > kMaxSide || size.height() > kMaxSide))
    reader.setScaledSize(size.scaled(kMaxSide, kMaxSide, Qt::KeepAspectRatio));
  QImage image = reader.read();
  if (image.isNull()) {
    DecodeResult out;
    out.error = "the picture could not be read: " + reader.errorString().toStdString();
    return out;
  }
  return decode_barcode(image);
}

QImage render_barcode(const std::string& text, const std::string& format, int width, int height) {
  try {
    const ZXing::BarcodeFormat f = ZXing::BarcodeFormatFromString(format);
    if (f == ZXing::BarcodeFormat::None) return {};
    ZXing::MultiFormatWriter writer(f);
    writer.setMargin(f == ZXing::BarcodeFormat::QRCode ? 2 : 10);
    const ZXing::BitMatrix matrix = writer.encode(text, width, height);
    QImage image(matrix.width(), matrix.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < matrix.height(); ++y) {
      uchar* line = image.scanLine(y);
      for (int x = 0; x < matrix.width(); ++x) line[x] = matrix.get(x, y) ? 0 : 255;
    }
    return image;
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace tallimo::phone
