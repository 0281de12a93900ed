// File utility exports: argument conventions in, the portable operation, the result out.
#include "boundary/callconv.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"

QM_EXPORT int QM_CALLEE AppendFile(const char* destination, const char* source) {
    return qm::fileutil::AppendFile(destination, source);
}

QM_EXPORT const char* QM_CALLER GetShortFileName(const char* path) {
    return qm::fileutil::GetShortFileName(path);
}

QM_EXPORT int QM_CALLER SetEnvVariable(const char* name, const char* value) {
    return qm::fileutil::SetEnvVariable(name, value);
}

QM_EXPORT int QM_CALLER RenDirectory(const char* old_path, const char* new_path) {
    return qm::fileutil::RenDirectory(old_path, new_path);
}

QM_EXPORT int QM_CALLER MyRenameFile(const char* old_path, const char* new_path) {
    return qm::fileutil::MyRenameFile(old_path, new_path);
}

QM_EXPORT int QM_CALLER MyDeleteFile(const char* path) { return qm::fileutil::MyDeleteFile(path); }

QM_EXPORT int QM_CALLER MyFileCompare(const char* first, const char* second) {
    return qm::fileutil::MyFileCompare(first, second);
}

QM_EXPORT int QM_CALLER MyCopyFiles(const char* source_dir, const char* destination_dir,
                                    const char* pattern) {
    return qm::fileutil::MyCopyFiles(source_dir, destination_dir, pattern);
}
