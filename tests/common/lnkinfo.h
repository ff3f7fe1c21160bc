// Reading a shortcut file back with Debian's lnkinfo, independently of the
// shell-link object that wrote it.
#pragma once

#include <string>

// lnkinfo's report on a .lnk file (UTF-8), or a text in angle brackets that
// says why there is none. The file is read through a copy under /tmp, so no
// Windows path has to be turned into a Linux one.
std::string LnkInfo(const std::string &link);
// The "Local path" of such a report in the ANSI code page, "" when none.
std::string LnkLocalPath(const std::string &info);
