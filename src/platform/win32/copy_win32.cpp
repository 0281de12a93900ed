#include <windows.h>

#include "platform/copy.h"

namespace qm::plat {

bool copy_file_replace(const char* from, const char* to) noexcept {
    return CopyFileA(from, to, FALSE) != FALSE;
}

bool delete_file(const char* path) noexcept { return DeleteFileA(path) != FALSE; }

}  // namespace qm::plat
