// What the two sides of the whole-file write share with its portable part.
#pragma once

namespace qm::plat {

// Removes the temporary at path when no running writer holds it. True when the name is
// free afterwards.
bool whole_file_remove_stale(const char* path) noexcept;

}  // namespace qm::plat
