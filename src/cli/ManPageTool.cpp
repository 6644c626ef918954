// quillmark-manpage: writes quillmark.1 and quillmark-capture.1 into a folder at build time.
// usage: quillmark-manpage FOLDER DATE DATAFOLDER
#include <QFile>
#include <QString>

#include <cstdio>

#include "cli/ManPage.h"

static bool Write(const QString& path, const QString& text) {
  QFile file(path);
  const QByteArray bytes = text.toUtf8();
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size())
    return true;
  std::fprintf(stderr, "quillmark-manpage: can not write %s\n", path.toLocal8Bit().constData());
  return false;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: quillmark-manpage FOLDER DATE DATAFOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]) + QLatin1Char('/');
  const QString date = QString::fromLocal8Bit(argv[2]);
  const bool ok =
      Write(folder + QStringLiteral("quillmark-capture.1"), qm::cli::CaptureManPage(date)) &&
      Write(folder + QStringLiteral("quillmark.1"),
            qm::cli::ApplicationManPage(date, QString::fromLocal8Bit(argv[3])));
  return ok ? 0 : 1;
}
