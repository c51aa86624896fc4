#pragma once

#include <QUrl>

namespace tandrel {

// The tutorial carried with the program, written out as a local page (a build without a vendor has no page
// on the web to open).
QUrl LocalTutorialUrl();

}  // namespace tandrel
