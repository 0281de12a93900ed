; quillmar.nsh: the exports of quillmar.dll for NSIS installers, through the System plugin.
;
;   !include LogicLib.nsh
;   !include quillmar.nsh
;   InitPluginsDir
;   File "/oname=$PLUGINSDIR\quillmar.dll" quillmar.dll
;   ${QuillmarExpandPackage} "$EXEDIR\router.pkg" "$INSTDIR"
;   Pop $0   ; the result, as the export returns it
;   Pop $1   ; the last error: 0 when the call did all it was asked (see the README)
;
; Every macro leaves two values on the stack: the result on top, the calling thread's last
; error below it. Texts go to the library as ANSI strings ("m"), so Unicode installers call
; it too; text results come back as strings ("" for NULL). The library is loaded once by
; its full path, QUILLMAR_DLL (by default $PLUGINSDIR\quillmar.dll; define it before the
; !include to load it from elsewhere), and stays loaded, so the package list lives from one
; call to the next. The callee-cleans exports are called with the plugin's default
; convention, the caller-cleans ones with "?c"; "?e" pushes the last error.
;
; Unattended installs: set QUILLMAR_UNATTENDED (and QUILLMAR_LOG, QUILLMAR_SELECT,
; QUILLMAR_PACKAGES) in the environment before the calls, or from the script:
;   ${QuillmarSetEnvVariable} QUILLMAR_UNATTENDED 1
;   Pop $0
;   Pop $0

!ifndef QUILLMAR_NSH
!define QUILLMAR_NSH

!ifndef QUILLMAR_DLL
!define QUILLMAR_DLL "$PLUGINSDIR\quillmar.dll"
!endif


!macro QuillmarAppendFile DESTINATION SOURCE
  Push "${SOURCE}"
  Push "${DESTINATION}"
  System::Call '${QUILLMAR_DLL}::AppendFile(m s, m s) i .s ?e'
  Exch  ; the result above the last error
!macroend
!define QuillmarAppendFile "!insertmacro QuillmarAppendFile"

!macro QuillmarGetLastIconEntry INI
  Push "${INI}"
  System::Call '${QUILLMAR_DLL}::GetLastIconEntry(m s) i .s ?e'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetLastIconEntry "!insertmacro QuillmarGetLastIconEntry"

!macro QuillmarGetLastDisEntry INI
  Push "${INI}"
  System::Call '${QUILLMAR_DLL}::GetLastDisEntry(m s) i .s ?e'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetLastDisEntry "!insertmacro QuillmarGetLastDisEntry"

!macro QuillmarExpandPackage PACKAGE TARGET
  Push "${TARGET}"
  Push "${PACKAGE}"
  System::Call '${QUILLMAR_DLL}::ExpandPackage(m s, m s) i .s ?e'
  Exch  ; the result above the last error
!macroend
!define QuillmarExpandPackage "!insertmacro QuillmarExpandPackage"

!macro QuillmarGetPackageFile OWNER
  Push "${OWNER}"
  System::Call '${QUILLMAR_DLL}::GetPackageFile(p s) i .s ?e'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetPackageFile "!insertmacro QuillmarGetPackageFile"

!macro QuillmarDisplayPackageSelectionList OWNER DIRECTORY MODE
  Push "${MODE}"
  Push "${DIRECTORY}"
  Push "${OWNER}"
  System::Call '${QUILLMAR_DLL}::DisplayPackageSelectionList(p s, m s, i s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarDisplayPackageSelectionList "!insertmacro QuillmarDisplayPackageSelectionList"

!macro QuillmarGetFirstFile
  System::Call '${QUILLMAR_DLL}::GetFirstFile() m .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetFirstFile "!insertmacro QuillmarGetFirstFile"

!macro QuillmarGetNextFile
  System::Call '${QUILLMAR_DLL}::GetNextFile() m .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetNextFile "!insertmacro QuillmarGetNextFile"

!macro QuillmarModifyGatewayFile ROOT CODE
  Push "${CODE}"
  Push "${ROOT}"
  System::Call '${QUILLMAR_DLL}::ModifyGatewayFile(m s, i s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarModifyGatewayFile "!insertmacro QuillmarModifyGatewayFile"

!macro QuillmarGetShortFileName PATH
  Push "${PATH}"
  System::Call '${QUILLMAR_DLL}::GetShortFileName(m s) m .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetShortFileName "!insertmacro QuillmarGetShortFileName"

!macro QuillmarCreateTopTcl ROOT
  Push "${ROOT}"
  System::Call '${QUILLMAR_DLL}::CreateTopTcl(m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarCreateTopTcl "!insertmacro QuillmarCreateTopTcl"

!macro QuillmarSetEnvVariable NAME VALUE
  Push "${VALUE}"
  Push "${NAME}"
  System::Call '${QUILLMAR_DLL}::SetEnvVariable(m s, m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarSetEnvVariable "!insertmacro QuillmarSetEnvVariable"

!macro QuillmarRenDirectory OLD NEW
  Push "${NEW}"
  Push "${OLD}"
  System::Call '${QUILLMAR_DLL}::RenDirectory(m s, m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarRenDirectory "!insertmacro QuillmarRenDirectory"

!macro QuillmarGetManifestFile PACKAGE TARGET
  Push "${TARGET}"
  Push "${PACKAGE}"
  System::Call '${QUILLMAR_DLL}::GetManifestFile(m s, m s) i .s ?e'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetManifestFile "!insertmacro QuillmarGetManifestFile"

!macro QuillmarMyRenameFile OLD NEW
  Push "${NEW}"
  Push "${OLD}"
  System::Call '${QUILLMAR_DLL}::MyRenameFile(m s, m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarMyRenameFile "!insertmacro QuillmarMyRenameFile"

!macro QuillmarMyDeleteFile PATH
  Push "${PATH}"
  System::Call '${QUILLMAR_DLL}::MyDeleteFile(m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarMyDeleteFile "!insertmacro QuillmarMyDeleteFile"

!macro QuillmarGetReInstallPackageList ROOT
  Push "${ROOT}"
  System::Call '${QUILLMAR_DLL}::GetReInstallPackageList(m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarGetReInstallPackageList "!insertmacro QuillmarGetReInstallPackageList"

!macro QuillmarClearPackageList
  System::Call '${QUILLMAR_DLL}::ClearPackageList() i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarClearPackageList "!insertmacro QuillmarClearPackageList"

!macro QuillmarMyFileCompare FIRST SECOND
  Push "${SECOND}"
  Push "${FIRST}"
  System::Call '${QUILLMAR_DLL}::MyFileCompare(m s, m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarMyFileCompare "!insertmacro QuillmarMyFileCompare"

!macro QuillmarMyCopyFiles SOURCE_DIR DESTINATION_DIR PATTERN
  Push "${PATTERN}"
  Push "${DESTINATION_DIR}"
  Push "${SOURCE_DIR}"
  System::Call '${QUILLMAR_DLL}::MyCopyFiles(m s, m s, m s) i .s ?ce'
  Exch  ; the result above the last error
!macroend
!define QuillmarMyCopyFiles "!insertmacro QuillmarMyCopyFiles"

!endif  ; QUILLMAR_NSH
