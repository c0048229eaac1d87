#pragma once

// A fresh server folder under the temporary directory, named by EXHOST_ROOT while it lives.

#include <filesystem>
#include <optional>
#include <string>

namespace comtest {

class TempServerFolder {
public:
    TempServerFolder();
    ~TempServerFolder();
    TempServerFolder(const TempServerFolder&) = delete;
    TempServerFolder& operator=(const TempServerFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path ComDir() const { return root_ / "com"; }

private:
    std::filesystem::path root_;
    std::optional<std::string> previousRoot_;
};

} // namespace comtest
