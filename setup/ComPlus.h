#pragma once

// The COM+ application that hosts the sink: looking it up, installing it with the sink's DLL
// from the current directory, and removing it. Failures go to the error log with an empty subject.

#include "setup/ErrorLog.h"

#include <string>

namespace lorvanta::setup {

// True when an application of that name (letter case ignored) exists; false also on failure.
bool FindComPlusApp(ErrorLog& log, const std::string& applicationName);

// Removes the first application of that name, if any.
void RemoveComPlusApp(ErrorLog& log, const std::string& applicationName);

// Adds a new application (even when one of that name exists) with access checks off, the
// identity and password when both are non-blank, and installs current directory + "/" +
// applicationName + ".dll" as its component.
void InstallComPlusApp(ErrorLog& log, const std::string& applicationName,
                       const std::string& identity, const std::string& password);

// Where InstallComPlusApp takes the DLL from and where the window looks for it: the current
// directory, "/", the name, ".dll".
std::string ComponentPath(const std::string& applicationName);

} // namespace lorvanta::setup
