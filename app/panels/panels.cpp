// The one source beside panels.h, so that its Q_OBJECT classes get their meta-object code.
#include "app/panels/panel_util.h"

#include <QMimeData>
#include <QUrl>

namespace vlm {

QStringList localPathsOf(const QMimeData* mime) {
  QStringList paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (!path.isEmpty()) paths << path;
  }
  return paths;
}

}  // namespace vlm
