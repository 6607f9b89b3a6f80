// Writes a video (YUV4MPEG2, 4:2:0) showing barcodes one after another, for
// Chromium's fake camera in the page test:
//   make_barcode_video OUT.y4m FORMAT CODE [CODE...]
// Each code is drawn by zxing-cpp's writer on a white frame for two seconds.
// With OUT ending in ".png", a photo of the first code is written instead.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <string>

#include "app/phone/barcode.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: make_barcode_video OUT.y4m FORMAT CODE [CODE...]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  const std::string out_path = argv[1];
  if (out_path.size() > 4 && out_path.compare(out_path.size() - 4, 4, ".png") == 0) {
    const QImage code = tallimo::phone::render_barcode(argv[3], argv[2], 600, 300);
    QImage photo(900, 700, QImage::Format_RGB32);
    photo.fill(QColor(235, 232, 225));  // a shelf label on a grey-beige shelf
    QPainter painter(&photo);
    painter.drawImage(150, 200, code);
    painter.end();
    return !code.isNull() && photo.save(QString::fromStdString(out_path)) ? 0 : 1;
  }
  constexpr int kWidth = 640, kHeight = 480, kFps = 10, kFramesPerCode = 20;
  FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg\n", kWidth, kHeight, kFps);
  const QByteArray chroma(kWidth * kHeight / 4, static_cast<char>(128));
  for (int i = 3; i < argc; ++i) {
    const QImage code = tallimo::phone::render_barcode(argv[i], argv[2], 480, 240);
    if (code.isNull()) {
      std::fprintf(stderr, "cannot draw \"%s\" as %s\n", argv[i], argv[2]);
      return 1;
    }
    QImage frame(kWidth, kHeight, QImage::Format_Grayscale8);
    frame.fill(255);
    QPainter painter(&frame);
    painter.drawImage((kWidth - code.width()) / 2, (kHeight - code.height()) / 2, code);
    painter.end();
    for (int f = 0; f < kFramesPerCode; ++f) {
      std::fputs("FRAME\n", out);
      for (int y = 0; y < kHeight; ++y) std::fwrite(frame.constScanLine(y), 1, kWidth, out);
      std::fwrite(chroma.constData(), 1, chroma.size(), out);
      std::fwrite(chroma.constData(), 1, chroma.size(), out);
    }
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
