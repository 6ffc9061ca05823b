// Helpers shared by the panels.
#pragma once

#include <QStringList>

class QMimeData;

namespace vlm {

// The local paths of the files in a drag (urls that are not local files are left out).
QStringList localPathsOf(const QMimeData* mime);

}  // namespace vlm
