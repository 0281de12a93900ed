# The names of the exports in src/boundary/exports.list, one a line, in the list's order:
# read from the list itself, never from what the build made of it.
#   . tests/common/export_names.sh; export_names src/boundary/exports.list
export_names() {
  sed -nE 's/^[0-9]+[[:space:]]+(callee|caller)[[:space:]].*[*[:space:]]([A-Za-z_][A-Za-z0-9_]*)\(.*$/\2/p' "$1"
}
