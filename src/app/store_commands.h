#pragma once
// "tandrel store ...": the store operations without a window, for scripted setups.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "net/endpoints.h"

namespace tandrel {

// command is {"store", verb, ...}. Reads the password from in (store add); writes UTF-8. Returns the exit
// status.
int RunStoreCommand(const std::vector<std::string>& command, const std::filesystem::path& dataDir,
                    const Endpoints& endpoints, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace tandrel
