// Where the command finds the device module it loads: relative to its own
// executable, so that an installed tree works wherever it was installed or
// moved to, and so does a build tree.
#ifndef BLUEFIN_TOOLS_MODULE_PATH_H
#define BLUEFIN_TOOLS_MODULE_PATH_H

#include <string>

namespace bluefin::tool {

// fileName in the installed module folder beside the command's (the
// installed layout's bin/../lib/bluefin), or else in the build tree's module
// folder; when neither holds it, the installed path, for the message.
std::string ModulePath(const std::string &fileName);

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_MODULE_PATH_H
