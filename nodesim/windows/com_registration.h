// --register and --unregister: the node class, its local server and its
// type library, for the current user (HKCU\Software\Classes).
//
// Wine's COM looks classes up in the machine's classes only, and its
// RegisterTypeLibForUser registers the type library for the machine, so
// under Wine the class is written to HKLM\Software\Classes as well. The
// Wine prefix is a test machine; on Windows nothing outside the user's own
// hive is touched.
#pragma once

#include <string>

namespace tarnwick::nodesim {

// Each returns an empty string on success, or a sentence saying what failed.
// `summary` gets a line for the user on success.
std::string registerForUser(std::string& summary);
// Removing what is not there succeeds.
std::string unregisterForUser(std::string& summary);

bool runningUnderWine();

}  // namespace tarnwick::nodesim
