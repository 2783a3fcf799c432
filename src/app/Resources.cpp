#include <QtGlobal>

// Resources linked from a static library must be registered by name.
static void initZandrelResources() {
    Q_INIT_RESOURCE(zandrel);
}

namespace zandrel {
void InitResources() {
    initZandrelResources();
}
}  // namespace zandrel
