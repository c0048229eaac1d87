#pragma once

// Runs the built exhost binary, or any program, as a script would.

#include <filesystem>
#include <string>
#include <vector>

namespace exhost_test {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs exhost with the arguments. EXHOST_ROOT is removed from its environment unless
// `rootVariable` is given, so that every test says which folder it means.
// `input` becomes its standard input.
RunResult RunExhost(const std::vector<std::string>& arguments, const std::string& rootVariable = {},
                    const std::string& input = {});

// Runs any program (the full path first, then its arguments) the same way.
RunResult RunProgram(const std::vector<std::string>& command, const std::string& input = {},
                     const std::string& rootVariable = {});

// Lines of a text without their line ends; no empty last entry.
std::vector<std::string> Lines(const std::string& text);

} // namespace exhost_test
