// Configuration exports: argument conventions in, the portable operation, the result out.
#include "boundary/callconv.h"
#include "config/gateway.h"
#include "config/probes.h"
#include "config/tcl_launcher.h"
#include "session/session.h"

QM_EXPORT int QM_CALLEE GetLastIconEntry(const char* ini_file) {
    QM_CALL(ini_file);
    return qm_call.result(qm::config::GetLastIconEntry(ini_file));
}

QM_EXPORT int QM_CALLEE GetLastDisEntry(const char* ini_file) {
    QM_CALL(ini_file);
    return qm_call.result(qm::config::GetLastDisEntry(ini_file));
}

QM_EXPORT int QM_CALLER ModifyGatewayFile(const char* root, int code) {
    QM_CALL(root, code);
    return qm_call.result(qm::config::ModifyGatewayFile(root, code));
}

QM_EXPORT int QM_CALLER CreateTopTcl(const char* root) {
    QM_CALL(root);
    return qm_call.result(qm::config::CreateTopTcl(root));
}
