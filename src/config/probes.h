// Program-group entry probes: the first free number of a numbered key series in section
// "program" of an INI file.
#pragma once

namespace qm::config {

// The first n in 1..999 whose key "ico<n>" yields no value; 1000 when all are taken.
int GetLastIconEntry(const char* ini_file) noexcept;
// The same for the keys "dis<n>".
int GetLastDisEntry(const char* ini_file) noexcept;

// The probe behind both: the first n in 1..999 whose key prefix<n> in section "program"
// of ini_file reads as empty, 1000 when there is none.
int first_free_entry(const char* ini_file, const char* prefix) noexcept;

}  // namespace qm::config
