; tests/nsis/install.nsi in Inno Setup's Pascal: the same steps, recorded the same way in
; QM_OUT\results.txt and in Setup's log; and its uninstaller reads the reinstall list
; and removes the sample package through the DLL it installed. run.sh puts it beside the generated quillmar.iss and the
; DLL, as an installer author would, and compiles it with ISCC.
#define QuillmarUninstallDll "{app}\quillmar.dll"
#include "quillmar.iss"

[Setup]
AppName=quillmar install test
AppVersion=1.0
DefaultDirName={%QM_APP}
; Every run installs into its own fresh directory, whatever a run that was cut short left
; in the prefix's uninstall keys.
UsePreviousAppDir=no
DisableDirPage=yes
PrivilegesRequired=lowest
OutputDir=.
OutputBaseFilename=install
; Nothing here needs compressing, and the LZMA compressor's threads are what qemu's
; user-mode emulator cannot run (hosts without 32-bit support: docs/design.md).
Compression=none

[Files]
Source: "quillmar.dll"; DestDir: "{app}"

[Code]
var
  OutDir, PkgDir, Target: String;

// Records what the call just made returned with the last error it left; the argument is
// evaluated before the body, so no other external call comes in between.
procedure Note(Step, Value: String);
var
  Line: String;
begin
  Line := Format('%s %s %d', [Step, Value, DLLGetLastError()]);
  Log('quillmar test: ' + Line);
  SaveStringToFile(OutDir + '\results.txt', Line + #13#10, True);
end;

procedure RunSteps();
begin
  OutDir := GetEnv('QM_OUT');
  PkgDir := GetEnv('QM_PACKAGES_DIR');
  Target := OutDir + '\target';
  ForceDirectories(Target);
  ForceDirectories(OutDir + '\copy');
  DeleteFile(ExpandConstant('{%TEMP}\quillmar.log'));

  Note('expand', IntToStr(QuillmarExpandPackage(PkgDir + '\router.pkg', Target)));
  Note('expand-missing', IntToStr(QuillmarExpandPackage(PkgDir + '\optional.pkg', Target)));
  Note('reinstall', IntToStr(QuillmarGetReInstallPackageList(Target)));
  Note('first', String(QuillmarGetFirstFile()));
  Note('copy', IntToStr(QuillmarMyCopyFiles(Target + '\etc\dorva\devices', OutDir + '\copy', '*.MFS')));

  // What follows asks the user. A script that may run without anyone at the screen
  // turns the mode on itself when its caller did not.
  if GetEnv('QUILLMAR_UNATTENDED') = '' then
    Note('set-mode', IntToStr(QuillmarSetEnvVariable('QUILLMAR_UNATTENDED', '1')));
  Note('set-select', IntToStr(QuillmarSetEnvVariable('QUILLMAR_SELECT', 'SWITCH.PKG;router.pkg;none.pkg')));
  Note('select', IntToStr(QuillmarDisplayPackageSelectionList(WizardForm.Handle, PkgDir, 1)));
  Note('select-first', String(QuillmarGetFirstFile()));
  Note('select-next', String(QuillmarGetNextFile()));
  Note('select-end', String(QuillmarGetNextFile()));
  Note('expand-refused', IntToStr(QuillmarExpandPackage(PkgDir + '\refused.pkg', Target)));
  Note('pick', IntToStr(QuillmarGetPackageFile(WizardForm.Handle)));
  // The user adds a line to one of router.pkg's files; the uninstaller's removal keeps it.
  SaveStringToFile(Target + '\etc\dorva\router\router.tcl', '# the user''s own line' + #13#10, True);

  FileCopy(ExpandConstant('{%TEMP}\quillmar.log'), OutDir + '\temp-log.txt', False);
end;

procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep = ssPostInstall then
    RunSteps();
end;

procedure CurUninstallStepChanged(CurUninstallStep: TUninstallStep);
begin
  if CurUninstallStep = usUninstall then begin
    OutDir := GetEnv('QM_OUT');
    Note('uninstall-reinstall', IntToStr(QuillmarUninstallGetReInstallPackageList(OutDir + '\target')));
    Note('uninstall-remove', IntToStr(QuillmarUninstallRemovePackage(GetEnv('QM_PACKAGES_DIR') + '\router.pkg',
                                                                       OutDir + '\target')));
    FileCopy(ExpandConstant('{%TEMP}\quillmar.log'), OutDir + '\temp-log.txt', False);
    UnloadDLL(ExpandConstant('{app}\quillmar.dll'));
  end;
end;
