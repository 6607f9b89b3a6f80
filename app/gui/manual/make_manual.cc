// make_manual: renders the user manual from its Markdown source to PDF with
// Qt's own text layout (no other tool needed).
//
//   make_manual SOURCE.md IMAGES_DIR OUTPUT.pdf
//
// Pictures named in the source ("![...](main-standard.png)") are looked up
// in IMAGES_DIR (the screenshots the tests take); a missing picture is left
// out and named on stderr. Exit status 0 when the PDF was written.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_manual SOURCE.md IMAGES_DIR OUTPUT.pdf\n");
    return 2;
  }
  QFile source(QString::fromLocal8Bit(argv[1]));
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "make_manual: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString markdown = QString::fromUtf8(source.readAll());
  const QDir images(QString::fromLocal8Bit(argv[2]));
  const QString output = QString::fromLocal8Bit(argv[3]);

  // Pictures are named by their absolute path: printing lays out a copy of
  // the document, which loads them from the files again.
  QString text = markdown;
  const QRegularExpression picture(R"((!\[[^\]]*\]\()([^)]+)\))");
  for (auto it = picture.globalMatch(markdown); it.hasNext();) {
    const auto match = it.next();
    const QString name = match.captured(2);
    if (!QFileInfo(images.filePath(name)).isFile()) {
      std::fprintf(stderr, "make_manual: picture %s not found in %s\n", qPrintable(name), argv[2]);
      continue;
    }
    text.replace(match.captured(0), match.captured(1) + QUrl::fromLocalFile(images.absoluteFilePath(name)).toString() + ")");
  }
  QTextDocument doc;
  doc.setDefaultFont(QFont("DejaVu Sans", 10));
  doc.setMarkdown(text);
  // The screenshots at 80 % of their size: a window's width then fits the
  // text width of an A4 page.
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      QTextImageFormat format = fragment.charFormat().toImageFormat();
      const QImage image(QUrl(format.name()).toLocalFile());
      if (image.isNull()) continue;
      format.setWidth(image.width() * 0.8);
      format.setHeight(image.height() * 0.8);
      QTextCursor cursor(&doc);
      cursor.setPosition(fragment.position());
      cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      cursor.setCharFormat(format);
    }
  }

  QDir().mkpath(QFileInfo(output).absolutePath());
  QPdfWriter writer(output);
  writer.setTitle("Tallimo Manual");
  writer.setCreator("Tallimo");
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
  writer.setResolution(144);
  doc.print(&writer);
  if (!QFileInfo(output).isFile() || QFileInfo(output).size() == 0) {
    std::fprintf(stderr, "make_manual: %s was not written\n", qPrintable(output));
    return 1;
  }
  std::printf("%s\n", qPrintable(output));
  return 0;
}
