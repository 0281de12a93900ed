// What the configuration exports change outside a test's own folders, saved before a
// test and put back after it: the gateway INI in the Windows directory of the prefix, and
// the three variables the Tcl launcher sets in the process environment.
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

namespace qm::wintest {

inline std::string windows_directory() {
    char buf[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    return std::string(buf, n < sizeof buf ? n : 0);
}

// Takes "rzgatewy.ini" out of the Windows directory for the life of the object and puts
// back what was there (or nothing) afterwards.
class SystemIniBackup {
public:
    SystemIniBackup() : path_(windows_directory() + "\\rzgatewy.ini") {
        std::ifstream in(path_, std::ios::binary);
        had_ = in.good();
        if (had_) saved_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        in.close();
        clear();
    }
    ~SystemIniBackup() {
        clear();
        if (had_) std::ofstream(path_, std::ios::binary) << saved_;
    }
    SystemIniBackup(const SystemIniBackup&) = delete;
    SystemIniBackup& operator=(const SystemIniBackup&) = delete;

    const std::string& path() const { return path_; }
    void clear() const {
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }

private:
    std::string path_;
    std::string saved_;
    bool had_ = false;
};

// Saves NMSROOT, TCL_LIBRARY and TK_LIBRARY and restores them (or their absence).
class TclEnvironmentBackup {
public:
    TclEnvironmentBackup() {
        for (int i = 0; i < 3; ++i) {
            char buf[32768];
            const DWORD n = GetEnvironmentVariableA(kNames[i], buf, sizeof buf);
            set_[i] = n > 0 && n < sizeof buf;
            if (set_[i]) values_[i].assign(buf, n);
        }
    }
    ~TclEnvironmentBackup() {
        for (int i = 0; i < 3; ++i) SetEnvironmentVariableA(kNames[i], set_[i] ? values_[i].c_str() : nullptr);
    }
    TclEnvironmentBackup(const TclEnvironmentBackup&) = delete;
    TclEnvironmentBackup& operator=(const TclEnvironmentBackup&) = delete;

    static constexpr const char* kNames[3] = {"NMSROOT", "TCL_LIBRARY", "TK_LIBRARY"};

private:
    std::string values_[3];
    bool set_[3] = {};
};

}  // namespace qm::wintest
