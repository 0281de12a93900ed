// What the checker, the plan and verify share: a package opened for reading (never for
// installing), and the reader's texts as one line.
#pragma once

#include <string>

#include "tar/tar.h"

namespace qm::authoring {

// The package at path, loaded with its first header current; null with *error set when
// there is nothing to walk.
tar::TarContextPtr open_to_read(const char* path, std::string* error);

// A message without the line end some of them carry.
std::string single_line(const char* text);

// A path as one key, as the platform names one file: "\" and "/" alike, doubled and
// trailing separators dropped.
std::string key_of(const char* path);

// The target's path for a member name.
std::string under_target(const std::string& target, const char* name);

}  // namespace qm::authoring
