#pragma once
// "tandrel --headless": start-up without a window, then the monitoring cycle with its log on stdout.

#include <filesystem>
#include <iosfwd>

#include "net/endpoints.h"

namespace tandrel {

// Needs a QCoreApplication. Returns the exit status: 0 after a stop (the passes done, SIGINT or SIGTERM);
// 1 when there is no store or the store file cannot be read.
int RunHeadless(const std::filesystem::path& dataDir, const Endpoints& endpoints, int passes,
                std::ostream& out, std::ostream& err);

}  // namespace tandrel
