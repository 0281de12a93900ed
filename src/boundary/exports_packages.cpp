// Package exports: argument conventions in, the portable operation, the result out.
#include "boundary/callconv.h"
#include "packages/expand.h"
#include "packages/remove.h"
#include "session/session.h"

QM_EXPORT int QM_CALLEE ExpandPackage(const char* package, const char* target) {
    QM_CALL(package, target);
    return qm_call.result(qm::packages::ExpandPackage(package, target));
}

QM_EXPORT int QM_CALLEE GetManifestFile(const char* package, const char* target) {
    QM_CALL(package, target);
    return qm_call.result(qm::packages::GetManifestFile(package, target));
}

QM_EXPORT int QM_CALLEE RemovePackage(const char* package, const char* target) {
    QM_CALL(package, target);
    return qm_call.result(qm::packages::RemovePackage(package, target));
}
