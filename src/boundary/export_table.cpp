// Holds include/quillmar.h to the export table (exports.list): each declaration must
// have the table's result, parameters and convention, so neither can change alone.
#include <type_traits>

#include "boundary/callconv.h"
#include "boundary/exports_table.h"

#define QM_CONVENTION_callee QUILLMAR_CALLEE
#define QM_CONVENTION_caller QUILLMAR_CALLER

#define QM_AGREES(ordinal, name, convention, subsystem, result, types, count, synopsis) \
    static_assert(std::is_same_v<decltype(&::name), result(QM_CONVENTION_##convention*) types>, \
                  "include/quillmar.h declares " #name " otherwise than src/boundary/exports.list");
QM_EXPORT_TABLE(QM_AGREES)
