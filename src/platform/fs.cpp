// What both sides' whole-file images share: the copy read into memory of its own, and
// letting an image go (a mapping goes back through the side that made it).
#include "platform/fs.h"

#include <cstdlib>

#include "platform/errors.h"

namespace qm::plat {

int InFile::read_whole(size_t size, FileImage* out) noexcept {
    auto* bytes = static_cast<unsigned char*>(std::malloc(size));
    if (!bytes) return kENOMEM;
    out->bytes_ = bytes;
    out->size_ = size;
    return read_exact(bytes, size);
}

void FileImage::release() noexcept {
    if (mapped_)
        unmap();
    else
        std::free(bytes_);
    bytes_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

}  // namespace qm::plat
