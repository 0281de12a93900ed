// File utility exports: argument conventions in, the portable operation, the result out.
#include "boundary/callconv.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "session/session.h"

QM_EXPORT int QM_CALLEE AppendFile(const char* destination, const char* source) {
    QM_CALL(destination, source);
    return qm_call.result(qm::fileutil::AppendFile(destination, source));
}

QM_EXPORT const char* QM_CALLER GetShortFileName(const char* path) {
    QM_CALL(path);
    return qm_call.result(qm::fileutil::GetShortFileName(path));
}

QM_EXPORT int QM_CALLER SetEnvVariable(const char* name, const char* value) {
    QM_CALL(name, value);
    return qm_call.result(qm::fileutil::SetEnvVariable(name, value));
}

QM_EXPORT int QM_CALLER RenDirectory(const char* old_path, const char* new_path) {
    QM_CALL(old_path, new_path);
    return qm_call.result(qm::fileutil::RenDirectory(old_path, new_path));
}

QM_EXPORT int QM_CALLER MyRenameFile(const char* old_path, const char* new_path) {
    QM_CALL(old_path, new_path);
    return qm_call.result(qm::fileutil::MyRenameFile(old_path, new_path));
}

QM_EXPORT int QM_CALLER MyDeleteFile(const char* path) {
    QM_CALL(path);
    return qm_call.result(qm::fileutil::MyDeleteFile(path));
}

QM_EXPORT int QM_CALLER MyFileCompare(const char* first, const char* second) {
    QM_CALL(first, second);
    return qm_call.result(qm::fileutil::MyFileCompare(first, second));
}

QM_EXPORT int QM_CALLER MyCopyFiles(const char* source_dir, const char* destination_dir,
                                    const char* pattern) {
    QM_CALL(source_dir, destination_dir, pattern);
    return qm_call.result(qm::fileutil::MyCopyFiles(source_dir, destination_dir, pattern));
}
