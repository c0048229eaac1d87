#pragma once

// How the setup program tells from its command line that it runs as a batch.

#include <string>
#include <vector>

namespace lorvanta::setup {

// The program's argument text: the arguments after the program name, joined by one blank.
std::string ArgumentText(const std::vector<std::string>& arguments);

// Batch mode is asked for by an argument text longer than one character whose first two
// characters are "-b" or "/b" in any case ("-B", "/batch"). Leading blanks are ignored.
bool IsBatchSwitch(const std::string& argumentText);

} // namespace lorvanta::setup
