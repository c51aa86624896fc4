#pragma once
// The vendor check without a window: the failure goes to stderr and stops the program, a start-up notice
// and a newer version are reported on stdout, and monitoring goes on (there is no self-update without a
// window).

#include <filesystem>
#include <iosfwd>

#include "update/version_check.h"

namespace tandrel {

struct Endpoints;

// True when the program may go on: no vendor address is configured, or the check found a usable record.
bool RunHeadlessVersionCheck(const Endpoints& endpoints, const PageReader& read,
                             const std::filesystem::path& programDir, std::ostream& out, std::ostream& err);

// The text of the start-up failure (GBK).
std::string StartupFailureText();

}  // namespace tandrel
