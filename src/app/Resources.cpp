#include <QtGlobal>

// Resources linked from a static library must be registered by name.
static void InitZandrelResources() {
    Q_INIT_RESOURCE(zandrel);
}

namespace zandrel {
void InitResources() {
    InitZandrelResources();
}
}  // namespace zandrel
