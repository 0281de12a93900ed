; An existing install script in miniature: expands packages, reads the reinstall list,
; copies with the guard, lets the user choose packages, removes a package the user
; changed a file of, and records every result and
; last error in $OUT\results.txt, one "step result error" line each. run.sh builds it
; with makensis and runs it silently (/S) under Wine, attended and unattended, and
; checks what it recorded and what the log says.
;   makensis -DQM_DLL=path\quillmar.dll -DQM_INCLUDE=dir -DQM_OUTFILE=installer.exe install.nsi
Unicode true
Name "quillmar install test"
OutFile "${QM_OUTFILE}"
RequestExecutionLevel user
SilentInstall normal

!addincludedir "${QM_INCLUDE}"
!include LogicLib.nsh
!include quillmar.nsh

Var out
Var pkgs
Var target
Var results

; Pops the result and the last error one macro left and records them under STEP.
!macro Record STEP
  Pop $0
  Pop $1
  FileWrite $results "${STEP} $0 $1$\r$\n"
!macroend

Section
  ReadEnvStr $out QM_OUT
  ReadEnvStr $pkgs QM_PACKAGES_DIR
  StrCpy $target "$out\target"
  CreateDirectory $target
  FileOpen $results "$out\results.txt" w
  InitPluginsDir
  File "/oname=$PLUGINSDIR\quillmar.dll" "${QM_DLL}"
  Delete "$TEMP\quillmar.log"

  ${QuillmarExpandPackage} "$pkgs\router.pkg" $target
  !insertmacro Record expand
  ${QuillmarExpandPackage} "$pkgs\optional.pkg" $target
  !insertmacro Record expand-missing
  ${QuillmarGetReInstallPackageList} $target
  !insertmacro Record reinstall
  ${QuillmarGetFirstFile}
  !insertmacro Record first
  CreateDirectory "$out\copy"
  ${QuillmarMyCopyFiles} "$target\etc\dorva\devices" "$out\copy" "*.MFS"
  !insertmacro Record copy

  ; What follows asks the user. A script that may run without anyone at the screen
  ; turns the mode on itself when its caller did not.
  ReadEnvStr $2 QUILLMAR_UNATTENDED
  ${If} $2 == ""
    ${QuillmarSetEnvVariable} QUILLMAR_UNATTENDED 1
    !insertmacro Record set-mode
  ${EndIf}
  ${QuillmarSetEnvVariable} QUILLMAR_SELECT "SWITCH.PKG;router.pkg;none.pkg"
  !insertmacro Record set-select
  ${QuillmarDisplayPackageSelectionList} $HWNDPARENT $pkgs 1
  !insertmacro Record select
  ${QuillmarGetFirstFile}
  !insertmacro Record select-first
  ${QuillmarGetNextFile}
  !insertmacro Record select-next
  ${QuillmarGetNextFile}
  !insertmacro Record select-end
  ${QuillmarExpandPackage} "$pkgs\refused.pkg" $target
  !insertmacro Record expand-refused
  ${QuillmarGetPackageFile} $HWNDPARENT
  !insertmacro Record pick

  ; The user adds a line to one of router.pkg's files; removing the package keeps it.
  FileOpen $2 "$target\etc\dorva\router\router.tcl" a
  FileSeek $2 0 END
  FileWrite $2 "# the user's own line$\r$\n"
  FileClose $2
  ${QuillmarRemovePackage} "$pkgs\router.pkg" $target
  !insertmacro Record remove

  FileClose $results
  CopyFiles /SILENT "$TEMP\quillmar.log" "$out\temp-log.txt"
SectionEnd
