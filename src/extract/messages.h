// Every text a member's extraction can leave, once: the verdict formats the refusals
// and the failures it can foresee, the writing formats the failures of its steps.
#pragma once

namespace qm::extract::text {

// Refusals: the header alone says no.
constexpr const char* kLongName = "WARNING: File:\"%s\" long file name detected in tar.\n";
constexpr const char* kInvalidType = "ERROR:File \"%s\" invalid type: %c. Not extracted\n";
constexpr const char* kUnsafeName = "ERROR:File \"%s\" unsafe name (%s). Not extracted\n";
constexpr const char* kInvalidSize = "ERROR:File \"%s\" has an invalid size. Not extracted\n";
constexpr const char* kCutShort =
    "ERROR:File \"%s\" is cut short: %lld of %lld bytes in the package. Not extracted\n";

// The newer-file rule.
constexpr const char* kNewerOnDisk =
    "WARNING: file:\"%s\" on disk has newer mtime (%s vs %s). File not extracted.";

// Failures on disk, foreseen from what is there or met by a step.
constexpr const char* kStatFile = "ERROR:stat file:\"%s\" failed. rc=%d %s\n";
constexpr const char* kChmod = "ERROR:chmod(-r) file:\"%s\" failed. rc=%d %s\n";
constexpr const char* kMkdir = "ERROR: mkdir(%s) failed %d %s";
constexpr const char* kStatDir = "ERROR: stat(%s) failed %d %s";
constexpr const char* kNotADirectory = "ERROR: %s is not a directory. Extract %s failed.";
constexpr const char* kCreateFile = "ERROR:create file:\"%s\" failed. rc=%d %s\n";
constexpr const char* kWriteFile = "ERROR:write file:\"%s\" failed. rc=%d %s\n";
constexpr const char* kSetMode = "WARNING:set file:\"%s\" mode failed. rc=%d %s\n";
constexpr const char* kSetTime = "ERROR:utime file:\"%s\" failed. rc=%d %s\n";
constexpr const char* kExtractDir = "ERROR: extract dir \"%s\" failed. rc=%d %s\n";
constexpr const char* kVerifyDir = "ERROR: verify dir \"%s\" failed. rc=%d %s\n";
constexpr const char* kCollision =
    "ERROR: name collision. \"%s\" on disk is a file. Name in archive is a directory.";

}  // namespace qm::extract::text
