#pragma once
// The program's arguments as UTF-8. On Windows main() receives them in the ANSI code page, which cannot hold
// every Chinese folder name; they are taken from the UTF-16 command line instead. Elsewhere they are argv as
// is.

#include <string>
#include <vector>

namespace tandrel {

// argv[0] included. Should the UTF-16 command line not match argc (argv rewritten), argv is used as is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace tandrel
