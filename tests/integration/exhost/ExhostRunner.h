#pragma once

// Runs the built exhost binary as a script would, and gives each test a server folder of its
// own under /tmp (short, so that the directory server's socket path fits).

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

// A fresh empty folder under /tmp; on destruction any directory server started in it is stopped
// and the folder removed (kept when LORVANTA_KEEP_FIXTURES is set).
class TempServerFolder {
public:
    TempServerFolder();
    ~TempServerFolder();
    TempServerFolder(const TempServerFolder&) = delete;
    TempServerFolder& operator=(const TempServerFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string Root() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

} // namespace exhost_test
