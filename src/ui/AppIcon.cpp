#include "ui/AppIcon.h"

#include <QString>
#include <QStringList>

namespace qm {

QIcon AppIcon() {
  QIcon icon;
  for (const QString& size : QStringLiteral(QM_ICON_SIZES).split(QLatin1Char(',')))
    icon.addFile(QStringLiteral(":/quillmark/icon-%1.png").arg(size));
  return icon;
}

}  // namespace qm
