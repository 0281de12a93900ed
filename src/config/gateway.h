// Gateway configuration: the gateway's INI file moved into the Windows directory, the
// product root recorded there, and the service chosen by a platform code put in place.
#pragma once

namespace qm::config {

// Platform codes and the service each selects.
enum : int {
    kCodeFirstVariant = 2048,   // CurrentService "1", txgatewy.exe over the gateway program
    kCodeSecondVariant = 1024,  // CurrentService "2", mqgatewy.exe over the gateway program
    kCodeNoVariant = 4096,      // CurrentService "0", the gateway program stays
};

// Runs every step in order, whatever the earlier ones gave; always 1. The package INI is
// deleted only after it was copied into the Windows directory. A path that does not fit
// its 256-byte buffer is never used cut short: the steps that need it are left out.
int ModifyGatewayFile(const char* root, int code) noexcept;

}  // namespace qm::config
