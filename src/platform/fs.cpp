// What both sides' whole-file reads share: reading until the end, and the image, a copy
// taken in one pass that is refused when the file moved while it was taken.
#include "platform/fs.h"

#include "platform/errors.h"
#include "platform/fault.h"

namespace qm::plat {

int InFile::fill(void* buffer, size_t size, size_t* got) noexcept {
    auto* p = static_cast<unsigned char*>(buffer);
    *got = 0;
    while (*got < size) {
        if (int e = fault::check(fault::Op::Read)) return e;
        size_t n = 0;
        if (int e = read_some(p + *got, size - *got, &n)) return e;
        if (n == 0) break;
        *got += n;
    }
    return 0;
}

int InFile::read_exact(void* buffer, size_t size) noexcept {
    size_t got = 0;
    if (int e = fill(buffer, size, &got)) return e;
    return got == size ? 0 : kEIO;
}

// Never a mapping of the file itself: a mapping shows whatever another program writes
// into the file while the walk runs (files of two versions in one install, or one file
// spliced from both), and a file cut short under it ends the process (SIGBUS), the host
// program that loaded the library with it. The copy is taken in one pass between two
// looks at the file; if its length or times moved in between, or it ended early, it is
// refused as a whole rather than walked.
int InFile::load(size_t size, FileImage* out) noexcept {
    out->release();
    const int e = [&]() noexcept {
        Version before;
        if (int e = version(&before)) return e;
        if (before.size < 0 || static_cast<uint64_t>(before.size) != size) return kChangedWhileRead;
        if (int e = out->reserve(size)) return e;
        size_t got = 0;
        if (int e = fill(out->bytes_, size, &got)) return e;
        Version after;
        if (int e = version(&after)) return e;
        return got == size && after == before ? 0 : kChangedWhileRead;
    }();
    if (e)
        out->release();
    else
        out->seal();
    return e;
}

}  // namespace qm::plat
