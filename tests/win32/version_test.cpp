// The version resource, read back the way Windows shows a file's properties.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "win32/harness.h"

namespace {

std::string query(const std::vector<char>& block, const char* key) {
    void* p = nullptr;
    UINT len = 0;
    const std::string sub = std::string("\\StringFileInfo\\040904B0\\") + key;
    if (!VerQueryValueA(block.data(), sub.c_str(), &p, &len) || !p) return "";
    return std::string(static_cast<const char*>(p));
}

TEST(VersionResource, NamesTheFileAndCarriesTheProjectVersion) {
    const std::string path = qm::wintest::dll_path();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource in " << path;
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    char expected[64];
    std::snprintf(expected, sizeof expected, "%u.%u.%u", unsigned{HIWORD(fixed->dwFileVersionMS)},
                  unsigned{LOWORD(fixed->dwFileVersionMS)}, unsigned{HIWORD(fixed->dwFileVersionLS)});
    EXPECT_EQ(std::string(expected), QM_PROJECT_VERSION);

    EXPECT_EQ(query(block, "OriginalFilename"), QM_DLL_FILE);
    EXPECT_EQ(query(block, "FileVersion"), QM_PROJECT_VERSION);
    EXPECT_EQ(query(block, "ProductVersion"), QM_PROJECT_VERSION);
    EXPECT_FALSE(query(block, "FileDescription").empty());
    EXPECT_EQ(query(block, "ProductName"), "quillmar");
}

}  // namespace
