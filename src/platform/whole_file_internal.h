// What the two sides of the whole-file write share with its portable part.
#pragma once

namespace qm::plat {

// Removes the temporary at path when no running writer holds it. True when the name is
// free afterwards.
bool whole_file_remove_stale(const char* path) noexcept;
// Closes what a scope kept open (POSIX: the directory last written into).
void whole_file_forget_directory() noexcept;
// Within a scope, once per directory: removes the temporaries in the directory of path
// that runs which ended early left there. A temporary is normally found by the next
// write of its file; this finds one whose file was written anew in the meantime (the
// run ended after the old file had gone and before the new one took its name).
void whole_file_sweep_once(const char* path) noexcept;
// Whether a scope is open.
bool whole_file_in_scope() noexcept;

}  // namespace qm::plat
