; Glimkit installer (64-bit, Unicode). Installs the programs in the fixed folder the service
; starts the agent from, prepares the shared settings folder and file, installs and starts the
; service, starts the agent at every logon and now for the installing user, and registers with
; Apps & features: each step a verb of the setup helper, copied into the program folder first.
; This script only sequences them, copies the files and keeps the log and the exit code.
; Run over an installed Glimkit it upgrades in place.
; The uninstaller undoes all of it; the settings file stays unless /PURGE is given.
;
; Every step is checked. A failed step is written to the log, shown (interactive) and ends the
; run with exit code 2; success is exit code 0; a run without administrator rights ends at
; once with 740 (ERROR_ELEVATION_REQUIRED). Logs, rewritten on every run, in the program folder
; (only administrators can write there): GlimkitSetup.log (install) and GlimkitUninstall.log
; (uninstall).
;
; No plug-in is used, so nothing is extracted to the temporary folder (which is
; C:\Windows\Temp, writable by every user, when a deployment tool runs this as SYSTEM), and the
; uninstaller runs in place ("_?=" in its Apps & features entry) instead of as a copy there.
;
;   makensis -DBINDIR=<folder with the programs and GlimkitSetupHelper.exe> -DOUTFILE=<setup.exe>
;            -DVERSIONFILE=<build>/generated/GlimkitVersion.nsh
;            -DLAYOUTFILE=<build>/generated/GlimkitLayout.nsh Glimkit.nsi
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A program file that cannot be written ends the run instead of being skipped.
AllowSkipFiles off

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "MUI2.nsh"

!ifndef BINDIR
  !error "Define BINDIR, the folder holding Glimward.exe and Glimagent.exe"
!endif
!ifndef OUTFILE
  !define OUTFILE "GlimkitSetup.exe"
!endif
; The build's version (VERSION, VERSION_QUAD), generated at configure time.
!ifndef VERSIONFILE
  !error "Define VERSIONFILE, the build's generated/GlimkitVersion.nsh"
!endif
!include "${VERSIONFILE}"
; A signed build (installer/pack defines the command; it takes the file as its last argument):
; the uninstaller is signed before it is packed, the installer once it is written.
!ifdef SIGN_COMMAND
  !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
  !finalize '${SIGN_COMMAND} "%1"' = 0
!endif

; The names the programs share (PRODUCT, PUBLISHER, INSTDIR_FIXED: the fixed folder the service
; starts the agent from, VENDORDIR, SERVICE, AGENT_TITLE, IDM_EXIT, UNINSTKEY, RUNKEY, RUNVALUE,
; HELPER: the setup helper run from the program folder, ...), generated at configure time from
; the C++ headers that define them.
!ifndef LAYOUTFILE
  !error "Define LAYOUTFILE, the build's generated/GlimkitLayout.nsh"
!endif
!include "${LAYOUTFILE}"
; The logs, in the program folder (only administrators can write there).
!define SETUP_LOG "GlimkitSetup.log"
!define UNINSTALL_LOG "GlimkitUninstall.log"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${INSTDIR_FIXED}"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

; No welcome or finish page: those are plug-in pages.
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The setup program's version resource (the uninstaller gets the same).
VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "OriginalFilename" "GlimkitSetup.exe"

Var LogHandle
Var LogPath
Var DataDir

; ---------------------------------------------------------------- helpers for both sides

; Writes a line to the details list and the log file.
!macro Log text
  DetailPrint "${text}"
  FileWriteUTF16LE $LogHandle "${text}$\r$\n"
!macroend
!define Log "!insertmacro Log"

; Logs the failure, tells an interactive user, and ends the run with exit code 2.
!macro Fail text
  ${Log} "ERROR: ${text}"
  FileClose $LogHandle
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel 2
  Abort "${text}"
!macroend
!define Fail "!insertmacro Fail"

; Ends the run with exit code 2 after a step that wrote its own failure to the log.
!macro FailLogged text
  FileClose $LogHandle
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel 2
  Abort "${text}"
!macroend
!define FailLogged "!insertmacro FailLogged"

; The log, rewritten, in the program folder: only administrators can create or replace a file
; there, so no user can plant a link in its place.
!macro OpenLog name
  StrCpy $LogPath "$INSTDIR\${name}"
  ClearErrors
  CreateDirectory "$INSTDIR"
  FileOpen $LogHandle "$LogPath" w
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "The log $LogPath could not be written." /SD IDOK
    SetErrorLevel 2
    Abort "The log $LogPath could not be written."
  ${EndIf}
  FileWriteWord $LogHandle 0xFEFF
!macroend

!macro HelperFunctions un
  ; Runs a verb of the installed setup helper (the verb on the stack), which appends what it
  ; does to the log and bounds every wait of its own; $R0 is its exit code, "error" when it
  ; could not be run.
  Function ${un}TryHelperVerb
    Exch $1
    FileClose $LogHandle
    ClearErrors
    ExecWait '"$INSTDIR\${HELPER}" $1 --log "$LogPath"' $R0
    ${If} ${Errors}
      StrCpy $R0 "error"
    ${EndIf}
    FileOpen $LogHandle "$LogPath" a
    FileSeek $LogHandle 0 END
    Pop $1
  FunctionEnd

  ; Runs a helper verb as TryHelperVerb does and ends the run with exit code 2 when it fails
  ; (the helper's last line in the log says what and why) or cannot be run.
  Function ${un}HelperVerb
    Exch $1
    Push $1
    Call ${un}TryHelperVerb
    ${If} $R0 == "error"
      ${Fail} "${HELPER} could not run its verb $1."
    ${ElseIf} $R0 != 0
      ${FailLogged} "${HELPER} $1 failed (exit code $R0); the log $LogPath says why."
    ${EndIf}
    Pop $1
  FunctionEnd

  ; After a failed step, starts again what the helper's stop ended (its record says what).
  ; A failure of that is in the log; the run fails for the first one.
  Function ${un}RestoreRunning
    Push "restore"
    Call ${un}TryHelperVerb
  FunctionEnd
!macroend
!insertmacro HelperFunctions ""
!insertmacro HelperFunctions "un."

!macro HelperVerb verb
  Push "${verb}"
  Call HelperVerb
!macroend
!define HelperVerb "!insertmacro HelperVerb"

!macro UnHelperVerb verb
  Push "${verb}"
  Call un.HelperVerb
!macroend
!define UnHelperVerb "!insertmacro UnHelperVerb"

; Removes the helper's record of what its stop ended, once nothing is left to start again.
!macro ForgetStopped
  DeleteRegKey HKLM "${SETUP_STATE_KEY}"
  DeleteRegKey /ifempty HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${PUBLISHER}"
!macroend

; Ends a run that lacks administrator rights (elevation refused) with ERROR_ELEVATION_REQUIRED.
; Only administrators and SYSTEM may create a key under HKLM\Software, so a value written to
; the product's key, and removed again, tells them from a user (or an administrator whose
; token is not elevated). The keys go again when nothing else is in them.
!macro RequireAdmin
  ClearErrors
  WriteRegDWORD HKLM "${SETUP_STATE_KEY}" "AdministratorCheck" 1
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Administrator rights are needed for ${PRODUCT}." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
  DeleteRegValue HKLM "${SETUP_STATE_KEY}" "AdministratorCheck"
  DeleteRegKey /ifempty HKLM "${SETUP_STATE_KEY}"
  DeleteRegKey /ifempty HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${PUBLISHER}"
!macroend

; ---------------------------------------------------------------- install

Function .onInit
  SetShellVarContext all
  SetRegView 64
  !insertmacro RequireAdmin
  StrCpy $INSTDIR "${INSTDIR_FIXED}"
FunctionEnd

; One product per machine: an install by the Windows Installer package is removed with
; msiexec, never overwritten by this program.
Function RefuseOverPackage
  ClearErrors
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "${MSI_PRODUCT_CODE_VALUE}"
  ${IfNot} ${Errors}
    ${Fail} "${PRODUCT} is installed here by its Windows Installer package; remove it first with: msiexec /x $0"
  ${EndIf}
FunctionEnd

; The helper goes into the program folder first and runs from there only.
Function CopyHelper
  ${Log} "Copying ${HELPER} to $INSTDIR"
  SetOutPath "$INSTDIR"
  ClearErrors
  File "${BINDIR}\${HELPER}"
  ${If} ${Errors}
    ${Fail} "$INSTDIR\${HELPER} could not be written."
  ${EndIf}
FunctionEnd

; Stops what runs of an earlier install (the helper writes down what ran), then makes sure that
; every program file can be replaced; when one cannot, what ran is started again.
Function StopRunning
  ${HelperVerb} "stop"
  Push "check-replaceable"
  Call TryHelperVerb
  ${If} $R0 != 0
    Call RestoreRunning
    ${FailLogged} "A program file of $INSTDIR cannot be replaced; the log $LogPath says which."
  ${EndIf}
FunctionEnd

Function CopyPrograms
  ${Log} "Copying the programs to $INSTDIR"
  SetOutPath "$INSTDIR"
  ClearErrors
  File "${BINDIR}\Glimward.exe"
  File "${BINDIR}\Glimagent.exe"
  File "${BINDIR}\glimctl.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    Call RestoreRunning
    ${Fail} "The programs could not be written to $INSTDIR."
  ${EndIf}
FunctionEnd

Section "Glimkit" SecMain
  SectionIn RO
  SetShellVarContext all
  SetRegView 64
  !insertmacro OpenLog "${SETUP_LOG}"
  ${Log} "${PRODUCT} ${VERSION} setup into $INSTDIR"
  Call RefuseOverPackage
  Call CopyHelper
  Call StopRunning
  Call CopyPrograms
  ; The data folders made safe and protected, and the settings file when there is none.
  ${HelperVerb} "prepare-data"
  ; The service registered (or its registration of this image kept, with its recovery set
  ; again) and started.
  ${HelperVerb} "service-install"
  ; The agent's start at every logon and the Apps & features entry.
  ${HelperVerb} "register"
  ; The agent for the installing user, through that user's shell.
  ${HelperVerb} "start-agent"
  !insertmacro ForgetStopped
  ${Log} "${PRODUCT} ${VERSION} installed"
  FileClose $LogHandle
  SetErrorLevel 0
SectionEnd

; ---------------------------------------------------------------- uninstall

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  !insertmacro RequireAdmin
  StrCpy $INSTDIR "${INSTDIR_FIXED}"
FunctionEnd

; Stops the service and ends the agents, then makes sure that every program file can be
; removed before anything is: when one is in use (another user's agent, say), what ran is
; started again and the run fails with nothing removed.
Function un.StopUntilRemovable
  ${UnHelperVerb} "stop"
  Push "check-replaceable"
  Call un.TryHelperVerb
  ${If} $R0 != 0
    Call un.RestoreRunning
    ${FailLogged} "A program file of $INSTDIR is in use and could not be removed; the log $LogPath says which."
  ${EndIf}
FunctionEnd

; Deletes a program file; fails the run when it stays (for example a process still uses it).
!macro RemoveFile file
  Delete "${file}"
  ${If} ${FileExists} "${file}"
    ${Fail} "${file} is in use and could not be removed."
  ${EndIf}
!macroend

; This program, run in place (as Apps & features and deployment tools start it), keeps its own
; file open, so it cannot delete or rename it: the file is deleted at the next restart. The
; product needs no restart for that, so the run does not ask for one (exit code 0, not 3010).
; A copy run from elsewhere deletes it at once.
Function un.RemoveUninstaller
  Delete "$INSTDIR\Uninstall.exe"
  ${IfNot} ${FileExists} "$INSTDIR\Uninstall.exe"
    Return
  ${EndIf}
  Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
  ${If} ${RebootFlag}
    ${Log} "$INSTDIR\Uninstall.exe is deleted at the next restart"
    SetRebootFlag false
  ${Else}
    ${Log} "$INSTDIR\Uninstall.exe could not be deleted"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  !insertmacro OpenLog "${UNINSTALL_LOG}"
  ${Log} "${PRODUCT} ${VERSION} uninstall from $INSTDIR"
  ${IfNot} ${FileExists} "$INSTDIR\${HELPER}"
    ${Fail} "$INSTDIR\${HELPER} is missing."
  ${EndIf}

  ; A service registered for a program that is gone cannot be removed with its own verb:
  ; nothing is stopped then.
  ClearErrors
  ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${IfNot} ${Errors}
  ${AndIfNot} ${FileExists} "$INSTDIR\Glimward.exe"
    ${Fail} "The service is registered but $INSTDIR\Glimward.exe is missing."
  ${EndIf}
  Call un.StopUntilRemovable

  ${UnHelperVerb} "service-remove"
  ${UnHelperVerb} "unregister"

  ${Log} "Removing the programs from $INSTDIR"
  !insertmacro RemoveFile "$INSTDIR\Glimagent.exe"
  !insertmacro RemoveFile "$INSTDIR\Glimward.exe"
  !insertmacro RemoveFile "$INSTDIR\glimctl.exe"

  ; The all-users data folder the programs use.
  ReadEnvStr $DataDir ALLUSERSPROFILE
  ${If} $DataDir == ""
    ${Fail} "ALLUSERSPROFILE is not set."
  ${EndIf}
  StrCpy $DataDir "$DataDir\Vessik\Glimkit"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    ; Only the data folder's known files go, never through a link; what stays is logged.
    ${Log} "Removing the data folder $DataDir (/PURGE)"
    ${UnHelperVerb} "purge"
  ${Else}
    ${Log} "Keeping the settings in $DataDir"
  ${EndIf}
  ; The helper goes last: the purge runs it.
  !insertmacro RemoveFile "$INSTDIR\${HELPER}"
  !insertmacro ForgetStopped
  Delete "$INSTDIR\${SETUP_LOG}"
  Call un.RemoveUninstaller
  ; The folder keeps this run's log.
  RMDir "$INSTDIR"
  RMDir "${VENDORDIR}"
  ; Only when nothing else of the vendor is left.
  RMDir "$DataDir"
  ${GetParent} "$DataDir" $1
  RMDir "$1"
  ${Log} "${PRODUCT} uninstalled"
  FileClose $LogHandle
  SetErrorLevel 0
SectionEnd
