// What the stand-in Tcl/Tk shells left behind: each started copy writes one
// "record-<pid>.txt" beside itself. The two set-up scripts run at the same time, so the
// records are waited for and put in launch order (createtop's first).
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"

namespace qm::test {

inline std::vector<std::string> launch_records(const std::filesystem::path& dir, size_t expected = 2) {
    std::vector<std::string> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        out.clear();
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().extension() == ".txt") out.push_back(read_file(e.path()));
        if (out.size() >= expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
        return a.find("createtop") != std::string::npos && b.find("createtop") == std::string::npos;
    });
    return out;
}

// The lines a record ends with: the three variables as the launcher sets them for root.
inline std::string tcl_variables(const std::string& root) {
    return "NMSROOT=" + root + "\nTCL_LIBRARY=" + root + "\\lib\\tcl7.5\nTK_LIBRARY=" + root +
           "\\lib\\tk4.1\n";
}

}  // namespace qm::test
