; Glimkit installer (64-bit, Unicode). Installs both programs in the fixed folder the service
; starts the agent from, prepares the shared settings folder and file (through the setup helper
; installed beside the programs first), installs and starts the service through its own verbs,
; starts the agent at every logon and now for the installing user, and registers with Apps &
; features. Run over an installed Glimkit it upgrades in place.
; The uninstaller undoes all of it; the settings file stays unless /PURGE is given.
;
; Every step is checked. A failed step is written to the log, shown (interactive) and ends the
; run with exit code 2; success is exit code 0; a run without administrator rights ends at
; once with 740 (ERROR_ELEVATION_REQUIRED). Logs: %TEMP%\GlimkitSetup.log (install) and
; %TEMP%\GlimkitUninstall.log (uninstall), rewritten on every run.
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
; Bounds of the waits on processes this installer does not control.
!define VERB_TIMEOUT_MS 60000
!define AGENT_EXIT_MS 10000
!define AGENT_START_MS 15000
!define SHELL_ANSWER_MS 5000

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${INSTDIR_FIXED}"
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
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
Var ServiceWasRunning
Var AgentWasRunning

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

!macro OpenLog name
  StrCpy $LogPath "$TEMP\${name}"
  FileOpen $LogHandle "$LogPath" w
  FileWriteWord $LogHandle 0xFEFF
!macroend

!macro HelperFunctions un
  ; The service's state (SERVICE_STOPPED 1 ... SERVICE_RUNNING 4) in $R0, or 0 when it is not
  ; registered.
  Function ${un}ServiceState
    Push $1
    Push $2
    Push $3
    StrCpy $R0 0
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .r1'
    ${If} $1 != 0
      System::Call 'advapi32::OpenServiceW(p r1, w "${SERVICE}", i 4) p .r2'
      ${If} $2 != 0
        ; SERVICE_STATUS: seven DWORDs, the state second.
        System::Call '*(i 0, i 0, i 0, i 0, i 0, i 0, i 0) p .r3'
        System::Call 'advapi32::QueryServiceStatus(p r2, p r3) i'
        System::Call '*$3(i, i .R0)'
        System::Free $3
        System::Call 'advapi32::CloseServiceHandle(p r2)'
      ${EndIf}
      System::Call 'advapi32::CloseServiceHandle(p r1)'
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
  FunctionEnd

  ; Runs a service verb ("-I", "-U", "-S", "-K") of the installed Glimward.exe. The program
  ; exits with 0 whatever the verb's result, so callers check the service's state afterwards.
  ; Fails the run when the program cannot be run or does not end in time.
  Function ${un}ServiceVerb
    Exch $1
    Push $0
    ${Log} "Glimward.exe x $1"
    ; The verb is read from the second word of the command line.
    nsExec::ExecToStack /TIMEOUT=${VERB_TIMEOUT_MS} '"$INSTDIR\Glimward.exe" x $1'
    Pop $0
    Pop $1
    ${If} $0 == "error"
    ${OrIf} $0 == "timeout"
      ${Fail} "Glimward.exe could not run its verb ($0)."
    ${EndIf}
    Pop $0
    Pop $1
  FunctionEnd

  ; Ends the agent's main instances of this desktop with their own exit command and waits,
  ; bounded, for each process to end.
  Function ${un}EndAgents
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $4 0
    ${Do}
      System::Call 'user32::FindWindowW(p 0, w "${AGENT_TITLE}") p .r0'
      ${If} $0 == 0
        ${Break}
      ${EndIf}
      ${If} $4 >= 8
        ${Fail} "Glimagent keeps running after eight exit commands."
      ${EndIf}
      IntOp $4 $4 + 1
      System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1) i'
      ${Log} "Ending the running Glimagent (process $1)"
      ; SYNCHRONIZE
      System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
      System::Call 'user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${IDM_EXIT}, p 0) i'
      ${If} $2 == 0
        ${Fail} "Glimagent (process $1) cannot be waited for."
      ${EndIf}
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${AGENT_EXIT_MS}) i .r3'
      System::Call 'kernel32::CloseHandle(p r2)'
      ${If} $3 != 0
        ${Fail} "Glimagent (process $1) did not end within ${AGENT_EXIT_MS} ms."
      ${EndIf}
    ${Loop}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
  FunctionEnd

  ; Runs a verb of the installed setup helper (the verb on the stack), which appends what it
  ; does to the log; ends the run with exit code 2 when the verb fails (the helper's last line in
  ; the log says what and why) or when the helper cannot run or does not end in time.
  Function ${un}HelperVerb
    Exch $1
    Push $0
    FileClose $LogHandle
    nsExec::ExecToLog /TIMEOUT=${VERB_TIMEOUT_MS} '"$INSTDIR\${HELPER}" $1 --log "$LogPath"'
    Pop $0
    FileOpen $LogHandle "$LogPath" a
    FileSeek $LogHandle 0 END
    ${If} $0 == "error"
    ${OrIf} $0 == "timeout"
      ${Fail} "${HELPER} could not run its verb $1 ($0)."
    ${ElseIf} $0 != 0
      ${FailLogged} "${HELPER} $1 failed (exit code $0); the log $LogPath says why."
    ${EndIf}
    Pop $0
    Pop $1
  FunctionEnd
!macroend
!insertmacro HelperFunctions ""
!insertmacro HelperFunctions "un."

!macro ServiceVerb verb
  Push "${verb}"
  Call ServiceVerb
!macroend

!macro ExpectServiceState state what
  Call ServiceState
  ${If} $R0 != ${state}
    ${Fail} "${what} (service state $R0)."
  ${EndIf}
!macroend

; ---------------------------------------------------------------- install

; Ends a run that lacks administrator rights (elevation refused) with ERROR_ELEVATION_REQUIRED.
!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_OK|MB_ICONSTOP "Administrator rights are needed for ${PRODUCT}." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireAdmin
  SetShellVarContext all
  SetRegView 64
  StrCpy $INSTDIR "${INSTDIR_FIXED}"
FunctionEnd

; Stops what runs of an earlier install so that its files can be replaced, noting what ran.
Function StopRunning
  StrCpy $ServiceWasRunning 0
  Call ServiceState
  ${If} $R0 != 0
  ${AndIf} ${FileExists} "$INSTDIR\Glimward.exe"
    ${If} $R0 = 4
      StrCpy $ServiceWasRunning 1
    ${EndIf}
    ${Log} "Upgrading: stopping the service"
    !insertmacro ServiceVerb "-K"
    !insertmacro ExpectServiceState 1 "The running service did not stop"
  ${EndIf}
  StrCpy $AgentWasRunning 0
  System::Call 'user32::FindWindowW(p 0, w "${AGENT_TITLE}") p .r0'
  ${If} $0 != 0
    StrCpy $AgentWasRunning 1
  ${EndIf}
  Call EndAgents
FunctionEnd

; Starts again what StopRunning stopped, before a failed upgrade ends: the old programs are
; still in place.
Function RestoreRunning
  ${If} $ServiceWasRunning = 1
    ${Log} "Starting the service again"
    !insertmacro ServiceVerb "-S"
  ${EndIf}
  ${If} $AgentWasRunning = 1
    Call StartAgent
  ${EndIf}
FunctionEnd

; $1 = the first program file that is in use and so cannot be replaced, or "" when none is.
!macro FindFileInUse file
  ${If} $1 == ""
  ${AndIf} ${FileExists} "$INSTDIR\${file}"
    ClearErrors
    FileOpen $0 "$INSTDIR\${file}" a
    ${If} ${Errors}
      StrCpy $1 "$INSTDIR\${file}"
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
!macroend

Function CopyPrograms
  StrCpy $1 ""
  !insertmacro FindFileInUse "Glimward.exe"
  !insertmacro FindFileInUse "Glimagent.exe"
  !insertmacro FindFileInUse "glimctl.exe"
  !insertmacro FindFileInUse "${HELPER}"
  ${If} $1 != ""
    Push $1
    Call RestoreRunning
    Pop $1
    ${Fail} "$1 is in use and cannot be replaced."
  ${EndIf}
  ${Log} "Copying the programs to $INSTDIR"
  SetOutPath "$INSTDIR"
  ClearErrors
  File "${BINDIR}\Glimward.exe"
  File "${BINDIR}\Glimagent.exe"
  File "${BINDIR}\glimctl.exe"
  File "${BINDIR}\${HELPER}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    ${Fail} "The programs could not be written to $INSTDIR."
  ${EndIf}
FunctionEnd

; The data folders, made safe and protected, and the settings file when there is none, which
; every user may read and write but not delete or re-grant (the setup helper's prepare-data: an
; upgrade replaces older rights, a link or a folder of an untrusted owner goes, never followed).
Function PrepareData
  Push "prepare-data"
  Call HelperVerb
FunctionEnd

; The recovery the install verb sets, for a registration of an earlier install that is kept:
; restart after 5 s, 30 s and 60 s, failures counted afresh after a day.
Function SetServiceRecovery
  ${Log} "Setting the service's recovery: restart after 5 s, 30 s, 60 s; reset after 86400 s"
  ; SC_ACTION_RESTART 1 with its delay, three times; SERVICE_FAILURE_ACTIONSW (40 bytes) with
  ; the reset period, no reboot message or command, and the zero words of its padding.
  System::Call '*(i 1, i 5000, i 1, i 30000, i 1, i 60000) p .r3'
  System::Call '*(i 86400, i 0, p 0, p 0, i 3, i 0, p r3) p .r4'
  StrCpy $0 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i 1) p .r1'
  ${If} $1 != 0
    ; SERVICE_CHANGE_CONFIG | SERVICE_START (restart actions need both)
    System::Call 'advapi32::OpenServiceW(p r1, w "${SERVICE}", i 0x12) p .r2'
    ${If} $2 != 0
      ; SERVICE_CONFIG_FAILURE_ACTIONS 2
      System::Call 'advapi32::ChangeServiceConfig2W(p r2, i 2, p r4) i .r0'
      ; SERVICE_CONFIG_FAILURE_ACTIONS_FLAG 4, TRUE: also after a stop with an error, as the
      ; install verb sets it; a manager that does not know it is logged, as the verb does.
      System::Call '*(i 1) p .r5'
      System::Call 'advapi32::ChangeServiceConfig2W(p r2, i 4, p r5) i .r6 ?e'
      Pop $7
      System::Free $5
      ${If} $6 = 0
        ${Log} "The failure actions flag could not be set (error $7)"
      ${Else}
        ${Log} "The failure actions flag is set: a stop with an error is restarted too"
      ${EndIf}
      System::Call 'advapi32::CloseServiceHandle(p r2)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r1)'
  ${EndIf}
  System::Free $4
  System::Free $3
  ${If} $0 = 0
    ${Fail} "The service's recovery could not be set."
  ${EndIf}
FunctionEnd

Function InstallService
  ; A registration of an earlier install keeps its settings when it starts this image already.
  ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  Call ServiceState
  ${If} $R0 != 0
  ${AndIf} $0 != '"$INSTDIR\Glimward"'
    ${Log} "Removing the service registered for $0"
    !insertmacro ServiceVerb "-U"
    !insertmacro ExpectServiceState 0 "The old service registration could not be removed"
  ${EndIf}
  Call ServiceState
  ${If} $R0 == 0
    ${Log} "Installing the service"
    !insertmacro ServiceVerb "-I"
    !insertmacro ExpectServiceState 1 "The service could not be installed"
  ${Else}
    Call SetServiceRecovery
  ${EndIf}
  ${Log} "Starting the service"
  !insertmacro ServiceVerb "-S"
  !insertmacro ExpectServiceState 4 "The service did not start"
FunctionEnd

Function RegisterProduct
  ${Log} "Registering the agent's start at logon and the Apps & features entry"
  ClearErrors
  WriteRegStr HKLM "${RUNKEY}" "${RUNVALUE}" '"$INSTDIR\Glimagent.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayIcon" '"$INSTDIR\Glimagent.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTKEY}" "EstimatedSize" $0
  ${If} ${Errors}
    ${Fail} "The registry entries could not be written."
  ${EndIf}
FunctionEnd

; The process id of the user's shell in $1, 0 when none runs: the owner of the shell window,
; else an explorer.exe of this installer's session (a desktop without a registered shell
; window, as Wine's).
Function FindShellProcess
  StrCpy $1 0
  System::Call 'user32::GetShellWindow() p .r0'
  ${If} $0 != 0
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r1) i'
    Return
  ${EndIf}
  System::Call 'kernel32::GetCurrentProcessId() i .r2'
  System::Call 'kernel32::ProcessIdToSessionId(i r2, *i 0 r3) i'
  ; TH32CS_SNAPPROCESS; PROCESSENTRY32W is 568 bytes, the id at 8 and the name at 44.
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r0'
  ${If} $0 == -1
    Return
  ${EndIf}
  System::Alloc 568
  Pop $4
  System::Call '*$4(i 568)'
  System::Call 'kernel32::Process32FirstW(p r0, p r4) i .r5'
  ${DoWhile} $5 != 0
    System::Call '*$4(i, i, i .r6, i, l, i, i, i, i, i, &w260 .r7)'
    System::Call 'kernel32::ProcessIdToSessionId(i r6, *i 0 r8) i .r9'
    ${If} $7 == "explorer.exe"
    ${AndIf} $9 != 0
    ${AndIf} $8 == $3
      StrCpy $1 $6
      ${Break}
    ${EndIf}
    System::Call 'kernel32::Process32NextW(p r0, p r4) i .r5'
  ${Loop}
  System::Free $4
  System::Call 'kernel32::CloseHandle(p r0)'
FunctionEnd

; Releases the COM interface pointer in the register named by the argument, when it is set.
!macro ReleaseCom reg
  ${If} ${reg} P<> 0
    System::Call '${reg}->2()'
    StrCpy ${reg} 0
  ${EndIf}
!macroend

; Hands "$INSTDIR\Glimagent.exe" to the shell's IShellDispatch2::ShellExecute. $0 is the HRESULT
; of the first step that failed (0 when the shell took the program) and $9 names that step.
; Interfaces: $1 ShellWindows, $2 the desktop's dispatch, $3 its service provider, $4 the
; shell browser, $5 the active view, $6 the view's dispatch, $7 IShellFolderViewDual, $8
; Shell.Application, $R0 IShellDispatch2.
Function ShellExecuteAgent
  StrCpy $1 0
  StrCpy $2 0
  StrCpy $3 0
  StrCpy $4 0
  StrCpy $5 0
  StrCpy $6 0
  StrCpy $7 0
  StrCpy $8 0
  StrCpy $R0 0
  ; Two VARIANTs, VT_EMPTY (24 bytes each in a 64-bit process): FindWindowSW's locations.
  System::Call '*(l 0, l 0, l 0) p .R1'
  ${Do}
    StrCpy $9 "CoCreateInstance(ShellWindows)"
    ; CLSCTX_LOCAL_SERVER: the running shell's object.
    System::Call 'ole32::CoCreateInstance(g "{9BA05972-F6A8-11CF-A442-00A0C90A8F39}", p 0, i 4, g "{85CB6900-4D95-11CF-960C-0080C7F4EE85}", *p 0 r1) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    ; FindWindowSW(SWC_DESKTOP 8, SWFO_NEEDDISPATCH 1); S_FALSE when there is no desktop.
    StrCpy $9 "IShellWindows::FindWindowSW"
    System::Call '$1->15(p R1, p R1, i 8, *i 0, i 1, *p 0 r2) i .r0'
    ${If} $0 == 0
    ${AndIf} $2 P= 0
      StrCpy $0 1
    ${EndIf}
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    StrCpy $9 "QueryInterface(IServiceProvider)"
    System::Call '$2->0(g "{6D5140C1-7436-11CE-8034-00AA006009FA}", *p 0 r3) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    ; SID_STopLevelBrowser, IID_IShellBrowser
    StrCpy $9 "IServiceProvider::QueryService(IShellBrowser)"
    System::Call '$3->3(g "{4C96BE40-915C-11CF-99D3-00AA004AE837}", g "{000214E2-0000-0000-C000-000000000046}", *p 0 r4) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    StrCpy $9 "IShellBrowser::QueryActiveShellView"
    System::Call '$4->15(*p 0 r5) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    ; GetItemObject(SVGIO_BACKGROUND, IID_IDispatch)
    StrCpy $9 "IShellView::GetItemObject"
    System::Call '$5->15(i 0, g "{00020400-0000-0000-C000-000000000046}", *p 0 r6) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    StrCpy $9 "QueryInterface(IShellFolderViewDual)"
    System::Call '$6->0(g "{E7A1AF80-4D96-11CF-960C-0080C7F4EE85}", *p 0 r7) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    StrCpy $9 "IShellFolderViewDual::get_Application"
    System::Call '$7->7(*p 0 r8) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    StrCpy $9 "QueryInterface(IShellDispatch2)"
    System::Call '$8->0(g "{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}", *p 0 R0) i .r0'
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    ; ShellExecute(file, args, dir, operation, show): the VARIANTs go by value, which in the
    ; 64-bit calling convention is the address of a copy. VT_BSTR 8, VT_I4 3, SW_SHOWNORMAL 1.
    StrCpy $9 "IShellDispatch2::ShellExecute"
    System::Call 'oleaut32::SysAllocString(w "$INSTDIR\Glimagent.exe") p .R2'
    System::Call 'oleaut32::SysAllocString(w "$INSTDIR") p .R3'
    System::Call 'oleaut32::SysAllocString(w "open") p .R4'
    System::Call '*(l 0, l 0, l 0) p .R5'
    System::Call '*(i 8, i 0, p R3, p 0) p .R6'
    System::Call '*(i 8, i 0, p R4, p 0) p .R7'
    System::Call '*(i 3, i 0, i 1, i 0, p 0) p .R8'
    System::Call '$R0->31(p R2, p R5, p R6, p R7, p R8) i .r0'
    System::Free $R5
    System::Free $R6
    System::Free $R7
    System::Free $R8
    System::Call 'oleaut32::SysFreeString(p R2)'
    System::Call 'oleaut32::SysFreeString(p R3)'
    System::Call 'oleaut32::SysFreeString(p R4)'
  ${LoopUntil} 1 = 1
  System::Free $R1
  !insertmacro ReleaseCom $R0
  !insertmacro ReleaseCom $8
  !insertmacro ReleaseCom $7
  !insertmacro ReleaseCom $6
  !insertmacro ReleaseCom $5
  !insertmacro ReleaseCom $4
  !insertmacro ReleaseCom $3
  !insertmacro ReleaseCom $2
  !insertmacro ReleaseCom $1
FunctionEnd

; Starts the agent's main instance for the user of this desktop, unelevated and as that user,
; the way the logon starts it: the user's shell (explorer.exe) runs the program through its own
; ShellExecute. Only a start through the shell passes the system's UI-access check, which the
; agent's manifest asks for; the CreateProcess family refuses such a program with
; ERROR_ELEVATION_REQUIRED. The shell is reached through its desktop automation object:
; ShellWindows -> the desktop's browser -> its active view -> the view's Shell.Application.
Function StartAgent
  Call FindShellProcess
  ${If} $1 == 0
    ${Log} "No user shell runs here: Glimagent starts at the next logon"
    Return
  ${EndIf}
  ; The calls into the shell cannot be bounded one by one: a shell whose desktop window does
  ; not answer is not asked at all. (Wine's desktop registers no shell window.)
  System::Call 'user32::GetShellWindow() p .r0'
  ${If} $0 P<> 0
    ; WM_NULL, SMTO_ABORTIFHUNG
    System::Call 'user32::SendMessageTimeoutW(p r0, i 0, p 0, p 0, i 2, i ${SHELL_ANSWER_MS}, *p 0) p .r2'
    ${If} $2 P= 0
      ${Fail} "The user's shell did not answer within ${SHELL_ANSWER_MS} ms, so Glimagent cannot be started."
    ${EndIf}
  ${EndIf}
  ${Log} "Starting Glimagent for the installing user"
  ; COINIT_APARTMENTTHREADED; S_FALSE when this thread has COM already. Either counts once.
  System::Call 'ole32::CoInitializeEx(p 0, i 2) i .R9'
  Call ShellExecuteAgent
  ${If} $R9 = 0
  ${OrIf} $R9 = 1
    System::Call 'ole32::CoUninitialize()'
  ${EndIf}
  ${If} $0 != 0
    IntFmt $0 "0x%08X" $0
    ${Fail} "Glimagent could not be started through the user's shell ($9 failed, $0)."
  ${EndIf}
  ; Ready once its main window exists.
  StrCpy $3 0
  ${Do}
    System::Call 'user32::FindWindowW(p 0, w "${AGENT_TITLE}") p .r0'
    ${If} $0 != 0
      ${Break}
    ${EndIf}
    ${If} $3 >= ${AGENT_START_MS}
      ${Fail} "Glimagent did not come up within ${AGENT_START_MS} ms."
    ${EndIf}
    Sleep 100
    IntOp $3 $3 + 100
  ${Loop}
FunctionEnd

Section "Glimkit" SecMain
  SectionIn RO
  SetShellVarContext all
  SetRegView 64
  !insertmacro OpenLog "GlimkitSetup.log"
  ${Log} "${PRODUCT} ${VERSION} setup into $INSTDIR"
  Call StopRunning
  Call CopyPrograms
  Call PrepareData
  Call InstallService
  Call RegisterProduct
  Call StartAgent
  ${Log} "${PRODUCT} ${VERSION} installed"
  FileClose $LogHandle
  SetErrorLevel 0
SectionEnd

; ---------------------------------------------------------------- uninstall

Function un.onInit
  !insertmacro RequireAdmin
  SetShellVarContext all
  SetRegView 64
  StrCpy $INSTDIR "${INSTDIR_FIXED}"
FunctionEnd

; Stops the service and ends the agents, then makes sure that every program file can be
; removed before anything is: when one is in use (another user's agent, say), the service
; is started again and the run fails with nothing removed. The installing user's agent then
; starts again at the next logon.
Function un.StopUntilRemovable
  StrCpy $ServiceWasRunning 0
  Call un.ServiceState
  ${If} $R0 != 0
    ${If} $R0 = 4
      StrCpy $ServiceWasRunning 1
    ${EndIf}
    ${Log} "Stopping the service"
    Push "-K"
    Call un.ServiceVerb
    Call un.ServiceState
    ${If} $R0 != 1
      ${Fail} "The service did not stop (service state $R0)."
    ${EndIf}
  ${EndIf}
  Call un.EndAgents
  StrCpy $1 ""
  !insertmacro FindFileInUse "Glimagent.exe"
  !insertmacro FindFileInUse "Glimward.exe"
  !insertmacro FindFileInUse "glimctl.exe"
  !insertmacro FindFileInUse "${HELPER}"
  ${If} $1 != ""
    ${If} $ServiceWasRunning = 1
      ${Log} "Starting the service again"
      Push "-S"
      Call un.ServiceVerb
    ${EndIf}
    ${Fail} "$1 is in use and could not be removed."
  ${EndIf}
FunctionEnd

; Removes only the data folder's known files, never following a link: a folder that is a link
; loses the link alone, nothing below the folder is searched, and the folder goes only when it
; is empty; what stays is logged (the setup helper's purge).
Function un.PurgeData
  ${Log} "Removing the data folder $DataDir (/PURGE)"
  Push "purge"
  Call un.HelperVerb
FunctionEnd

; Deletes a program file; fails the run when it stays (for example a process still uses it).
!macro RemoveFile file
  Delete "${file}"
  ${If} ${FileExists} "${file}"
    ${Fail} "${file} is in use and could not be removed."
  ${EndIf}
!macroend

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  !insertmacro OpenLog "GlimkitUninstall.log"
  ${Log} "${PRODUCT} ${VERSION} uninstall from $INSTDIR"

  Call un.ServiceState
  ${If} $R0 != 0
    ${IfNot} ${FileExists} "$INSTDIR\Glimward.exe"
      ${Fail} "The service is registered but $INSTDIR\Glimward.exe is missing."
    ${EndIf}
  ${EndIf}
  Call un.StopUntilRemovable

  Call un.ServiceState
  ${If} $R0 != 0
    ${Log} "Stopping and removing the service"
    Push "-U"
    Call un.ServiceVerb
    ; A deleted service stays registered until its last handle (a services console, say) is
    ; closed: the manager marks it with DeleteFlag meanwhile.
    StrCpy $1 0
    ${Do}
      Call un.ServiceState
      ${If} $R0 == 0
      ${OrIf} $1 >= 5000
        ${Break}
      ${EndIf}
      Sleep 100
      IntOp $1 $1 + 100
    ${Loop}
    ReadRegDWORD $2 HKLM "SYSTEM\CurrentControlSet\Services\${SERVICE}" "DeleteFlag"
    ${If} $R0 != 0
    ${AndIf} $2 == 1
      ${Log} "The service goes away once the last program that holds it open lets go"
    ${ElseIf} $R0 != 0
      ${Fail} "The service could not be removed (service state $R0)."
    ${EndIf}
  ${EndIf}

  ClearErrors
  DeleteRegValue HKLM "${RUNKEY}" "${RUNVALUE}"
  DeleteRegKey HKLM "${UNINSTKEY}"
  ReadRegStr $0 HKLM "${RUNKEY}" "${RUNVALUE}"
  ${IfNot} ${Errors}
    ${Fail} "The logon start of Glimagent could not be removed."
  ${EndIf}

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
    Call un.PurgeData
  ${Else}
    ${Log} "Keeping the settings in $DataDir"
  ${EndIf}
  ; The helper goes last: the purge runs it.
  !insertmacro RemoveFile "$INSTDIR\${HELPER}"
  Delete "$INSTDIR\Uninstall.exe"
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
