#include "assets/assets.h"

#include <QtCore/QtGlobal>

// Q_INIT_RESOURCE declares a function and cannot be used inside a namespace.
static void InitAssetsResource() {
    Q_INIT_RESOURCE(assets);
}

namespace tandrel {

void InitAssets() {
    // Registering twice is harmless, but once is enough.
    static const bool registered = [] {
        InitAssetsResource();
        return true;
    }();
    (void)registered;
}

}  // namespace tandrel
