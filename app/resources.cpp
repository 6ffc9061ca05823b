// Registers the compiled-in bitmaps and icons. The resource file lives in a static library, so
// nothing pulls its initializer in by itself: the program calls this once at start-up.
#include <QtCore/qglobal.h>

#include "app/graphic_button.h"

// Q_INIT_RESOURCE names a function in the global namespace, so it cannot be used inside vlm.
static void initCompiledResources() {
  Q_INIT_RESOURCE(app);
}

namespace vlm {

void initAppResources() {
  static bool done = false;
  if (done) return;
  done = true;
  initCompiledResources();
}

}  // namespace vlm
