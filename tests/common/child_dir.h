// A scratch directory shared by a test and the copy of the test program that a death
// test starts. The child runs the test body again up to the statement, so the parent
// makes the directory and names it in an environment variable that the child inherits;
// the child finds it there and makes nothing of its own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "common/temp_dir.h"

namespace qm::test {

class ChildSharedDir {
public:
    explicit ChildSharedDir(const char* variable) : variable_(variable) {
        if (const char* given = std::getenv(variable)) {
            path_ = given;
            return;
        }
        dir_.emplace(false);
        path_ = dir_->path();
        set(variable_.c_str(), path_.string().c_str());
    }
    ~ChildSharedDir() {
        if (dir_) set(variable_.c_str(), nullptr);
    }
    ChildSharedDir(const ChildSharedDir&) = delete;
    ChildSharedDir& operator=(const ChildSharedDir&) = delete;

    bool in_child() const { return !dir_; }
    const std::filesystem::path& path() const { return path_; }

private:
    static void set(const char* name, const char* value) {
#ifdef _WIN32
        SetEnvironmentVariableA(name, value);
#else
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
#endif
    }

    std::string variable_;
    std::optional<TempDir> dir_;
    std::filesystem::path path_;
};

}  // namespace qm::test
