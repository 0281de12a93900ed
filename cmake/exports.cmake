# Reads the export table (src/boundary/exports.list) and writes what is made from it:
#   quillmar.def                 the DLL's exports: undecorated names at fixed ordinals
#   quillmar-implib.def          the import library's: the names a C compiler refers to
#   boundary/exports_table.h     QM_EXPORT_TABLE(X), one X(...) per export, for C++
#   include/quillmar.nsh         a macro per export for NSIS installers (System plugin),
#                                into include/quillmar.nsh.in's text
#   include/quillmar.iss         a Pascal declaration per export for Inno Setup installers,
#                                into include/quillmar.iss.in's text
#   quillmar.map                 the linker's version script for libquillmar.so: the
#                                exports, and nothing of the core behind them
# Files are rewritten only when their text changes, so a reconfigure rebuilds nothing.

function(qm_write_if_changed path text)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${text}")
endfunction()

# snake_case to PascalCase, as Pascal names parameters.
function(qm_pascal_case out name)
  string(REPLACE "_" ";" words "${name}")
  set(result "")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(TOUPPER "${first}" first)
    string(APPEND result "${first}${rest}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# dll_name: quillmar or quillmar64; win64: ON where there is one calling convention and
# no decorated names (x64).
function(qm_generate_export_table list_file out_dir dll_name win64)
  if(dll_name STREQUAL "")
    set(dll_name quillmar)
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list_file}")
  file(STRINGS "${list_file}" lines)
  set(def "; Made from src/boundary/exports.list by cmake/exports.cmake: edit the list.\nLIBRARY \"${dll_name}.dll\"\nEXPORTS\n")
  set(implib "; Made from src/boundary/exports.list by cmake/exports.cmake: edit the list.\nLIBRARY \"${dll_name}.dll\"\nEXPORTS\n")
  set(table "")
  set(map "")
  set(nsh "")
  set(iss "")
  set(seen_names "")
  set(seen_ordinals "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT line MATCHES "^([0-9]+)[ \t]+(callee|caller)[ \t]+([a-z]+)[ \t]+(.*[* \t])([A-Za-z_][A-Za-z0-9_]*)\\((.*)\\)[ \t]*$")
      message(FATAL_ERROR "${list_file}: not an export: ${line}")
    endif()
    set(ordinal ${CMAKE_MATCH_1})
    set(convention ${CMAKE_MATCH_2})
    set(subsystem ${CMAKE_MATCH_3})
    string(STRIP "${CMAKE_MATCH_4}" result)
    set(name ${CMAKE_MATCH_5})
    string(STRIP "${CMAKE_MATCH_6}" params)
    if(name IN_LIST seen_names OR ordinal IN_LIST seen_ordinals)
      message(FATAL_ERROR "${list_file}: ${name} @${ordinal} repeats a name or an ordinal")
    endif()
    list(APPEND seen_names ${name})
    list(APPEND seen_ordinals ${ordinal})

    # Each parameter is "type name"; the types make the C++ signature, the names the
    # tools' synopsis (a window owner is not something a caller without a window gives).
    set(types "")
    set(synopsis "")
    set(nsis_types "")
    set(nsis_names "")
    set(nsis_pushes "")
    set(iss_params "")
    set(count 0)
    if(NOT params STREQUAL "" AND NOT params STREQUAL "void")
      string(REPLACE "," ";" param_list "${params}")
      foreach(param IN LISTS param_list)
        string(STRIP "${param}" param)
        if(NOT param MATCHES "^(.*[* \t])([A-Za-z_][A-Za-z0-9_]*)$")
          message(FATAL_ERROR "${list_file}: ${name}: parameter \"${param}\" needs a type and a name")
        endif()
        string(STRIP "${CMAKE_MATCH_1}" type)
        set(pname ${CMAKE_MATCH_2})
        if(NOT type MATCHES "\\*$" AND NOT type STREQUAL "int")
          message(FATAL_ERROR "${list_file}: ${name}: ${type} is not 32 bits wide on the stack")
        endif()
        list(APPEND types "${type}")
        # Both installers' strings may be Unicode: NSIS's System plugin passes texts as
        # ANSI strings (m), Inno Setup as AnsiString, the text the library reads. A
        # window owner: a pointer, a HWND (WizardForm.Handle, or 0).
        qm_pascal_case(iss_name "${pname}")
        if(type STREQUAL "const char*")
          list(APPEND nsis_types "m s")
          list(APPEND iss_params "${iss_name}: AnsiString")
        elseif(type STREQUAL "int")
          list(APPEND nsis_types "i s")
          list(APPEND iss_params "${iss_name}: Integer")
        else()
          list(APPEND nsis_types "p s")
          list(APPEND iss_params "${iss_name}: HWND")
        endif()
        string(TOUPPER "${pname}" nsis_name)
        list(APPEND nsis_names "${nsis_name}")
        set(nsis_pushes "  Push \"\${${nsis_name}}\"\n${nsis_pushes}")
        if(NOT type STREQUAL "void*")
          string(TOUPPER "${pname}" upper)
          list(APPEND synopsis "${upper}")
        endif()
        math(EXPR count "${count} + 1")
      endforeach()
    endif()
    list(JOIN types ", " types)
    list(JOIN synopsis " " synopsis)
    math(EXPR bytes "${count} * 4")

    if(convention STREQUAL "callee" AND NOT win64)
      string(APPEND def "    ${name} = ${name}@${bytes} @${ordinal}\n")
      string(APPEND implib "    ${name}@${bytes} @${ordinal}\n")
    else()
      string(APPEND def "    ${name} @${ordinal}\n")
      string(APPEND implib "    ${name} @${ordinal}\n")
    endif()
    # The last argument is pushed first; the caller-cleans exports take "?c", and "?e"
    # pushes the last error, which Exch puts below the result.
    list(JOIN nsis_types ", " nsis_types)
    list(JOIN nsis_names " " nsis_names)
    if(NOT nsis_names STREQUAL "")
      set(nsis_names " ${nsis_names}")
    endif()
    if(result STREQUAL "const char*")
      set(nsis_result m)
      set(iss_result PAnsiChar)
    else()
      set(nsis_result i)
      set(iss_result Integer)
    endif()
    if(convention STREQUAL "caller")
      set(nsis_options "?ce")
      set(iss_convention cdecl)
    else()
      set(nsis_options "?e")
      set(iss_convention stdcall)
    endif()
    string(APPEND nsh "!macro Quillmar${name}${nsis_names}\n${nsis_pushes}\
  System::Call '\${QUILLMAR_DLL}::${name}(${nsis_types}) ${nsis_result} .s ${nsis_options}'
  Exch  ; the result above the last error
!macroend
!define Quillmar${name} \"!insertmacro Quillmar${name}\"

")
    list(JOIN iss_params "; " iss_params)
    string(APPEND iss "function Quillmar@WHEN@${name}(${iss_params}): ${iss_result};
  external '${name}@@WHERE@ ${iss_convention} @OPTIONS@';
")
    string(APPEND map "    ${name};\n")
    string(APPEND table "    X(${ordinal}, ${name}, ${convention}, ${subsystem}, ${result}, (${types}), ${count}, \"${synopsis}\") \\\n")
  endforeach()

  get_filename_component(source_dir "${list_file}/../../.." ABSOLUTE)
  file(READ "${source_dir}/include/quillmar.nsh.in" nsh_text)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source_dir}/include/quillmar.nsh.in")
  string(REPLACE "@QM_NSIS_MACROS@\n" "${nsh}" nsh_text "${nsh_text}")
  qm_write_if_changed("${out_dir}/include/quillmar.nsh" "${nsh_text}")
  file(READ "${source_dir}/include/quillmar.iss.in" iss_text)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source_dir}/include/quillmar.iss.in")
  # Setup's set from the DLL it extracts; the uninstaller's, on request, from {app}. Inno
  # Setup expands the location at start even for a delayed load, so each set is for one.
  string(REPLACE "@WHEN@" "" iss_setup "${iss}")
  string(REPLACE "@WHERE@" "files:quillmar.dll" iss_setup "${iss_setup}")
  string(REPLACE "@OPTIONS@" "setuponly" iss_setup "${iss_setup}")
  string(REPLACE "@WHEN@" "Uninstall" iss_uninstall "${iss}")
  string(REPLACE "@WHERE@" "{#QuillmarUninstallDll}" iss_uninstall "${iss_uninstall}")
  string(REPLACE "@OPTIONS@" "uninstallonly delayload" iss_uninstall "${iss_uninstall}")
  string(REPLACE "@QM_INNO_SETUP@\n" "${iss_setup}" iss_text "${iss_text}")
  string(REPLACE "@QM_INNO_UNINSTALL@\n" "${iss_uninstall}" iss_text "${iss_text}")
  qm_write_if_changed("${out_dir}/include/quillmar.iss" "${iss_text}")
  qm_write_if_changed("${out_dir}/quillmar.map" "\
/* Made from src/boundary/exports.list by cmake/exports.cmake: edit the list. */
{
  global:
${map}  local:
    *;
};
")
  qm_write_if_changed("${out_dir}/quillmar.def" "${def}")
  qm_write_if_changed("${out_dir}/quillmar-implib.def" "${implib}")
  qm_write_if_changed("${out_dir}/boundary/exports_table.h" "\
// Made from src/boundary/exports.list by cmake/exports.cmake: edit the list.
#pragma once

// X(ordinal, name, convention, subsystem, result, (parameter types), parameter count,
//   \"SYNOPSIS\") once per export, in ordinal order. convention is callee or caller;
// subsystem names the namespace qm::<subsystem> whose operation the export forwards to;
// the synopsis names the parameters other than a window owner.
#define QM_EXPORT_TABLE(X) \\
${table}
")
endfunction()
