// A file of the library's own that nobody else is to read or write (the log, an
// expansion's journal): its security when it is made, and what an open file must be for
// it to be taken as one.
#pragma once

#include <windows.h>

#include "platform/side.h"

namespace qm::plat {

// A new private file's security: a protected DACL that lets in the calling user (the
// token's user: the system account for a service) and the administrators, and nobody
// the folder would otherwise let in (the system's temporary folder lets every user
// create and read). Built in fixed buffers; ok() false when the token cannot be read.
class PrivateFileSecurity {
public:
    PrivateFileSecurity() noexcept {
        unique_handle token;
        HANDLE t = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t) ||
            OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &t))
            token.reset(t);
        DWORD size = 0;
        if (!token || !GetTokenInformation(token.get(), TokenUser, user_, sizeof user_, &size)) return;
        const PSID user = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
        DWORD admins_size = sizeof admins_;
        ok_ = CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &admins_size) &&
              InitializeAcl(reinterpret_cast<ACL*>(acl_), sizeof acl_, ACL_REVISION) &&
              AddAccessAllowedAce(reinterpret_cast<ACL*>(acl_), ACL_REVISION, FILE_ALL_ACCESS, user) &&
              AddAccessAllowedAce(reinterpret_cast<ACL*>(acl_), ACL_REVISION, FILE_ALL_ACCESS, admins_) &&
              InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&sd_, TRUE, reinterpret_cast<ACL*>(acl_), FALSE) &&
              SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &sd_;
        attributes_.bInheritHandle = FALSE;
    }
    // The descriptor points into the object itself.
    PrivateFileSecurity(const PrivateFileSecurity&) = delete;
    PrivateFileSecurity& operator=(const PrivateFileSecurity&) = delete;
    bool ok() const noexcept { return ok_; }
    SECURITY_ATTRIBUTES* attributes() noexcept { return &attributes_; }

private:
    alignas(8) unsigned char user_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    alignas(8) unsigned char admins_[SECURITY_MAX_SID_SIZE] = {};
    alignas(8) unsigned char acl_[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
    SECURITY_DESCRIPTOR sd_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ok_ = false;
};

// Why an open private file (the log, a journal) is refused; null when it is a file on a
// disk with one name.
inline const char* refusal_of(HANDLE file) noexcept {
    if (GetFileType(file) != FILE_TYPE_DISK) return "not a regular file";  // a pipe, a device
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return "not a regular file";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a link";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "a directory";
    if (info.nNumberOfLinks > 1) return "a file with more than one link";
    return nullptr;
}

}  // namespace qm::plat
