// Helpers shared by the panels. This is also the one source named after panels.h, which is how
// the build finds that header and makes the meta-object code of its Q_OBJECT classes.
#include <QMimeData>
#include <QUrl>

#include "app/panels/panel_util.h"

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
