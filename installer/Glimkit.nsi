; Glimkit installer: puts both programs in the fixed install folder, creates the settings
; folder, installs and starts the service with its own verbs, starts the agent at every
; user's logon, and undoes all of it on uninstall.
;   makensis -DBINDIR=<folder with Glimward.exe and Glimagent.exe> -DOUTFILE=<setup.exe> Glimkit.nsi
Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "LogicLib.nsh"
!include "x64.nsh"

!ifndef BINDIR
  !error "Define BINDIR, the folder holding Glimward.exe and Glimagent.exe"
!endif
!ifndef OUTFILE
  !define OUTFILE "GlimkitSetup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif

!define PRODUCT "Glimkit"
!define INSTDIR_FIXED "$PROGRAMFILES32\Vessik\Glimkit"
!define DATADIR "$COMMONPROGRAMDATA\Vessik\Glimkit"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimkit"
!define RUNKEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; The service starts the agent at this fixed path, so the folder cannot be chosen.
InstallDir "${INSTDIR_FIXED}"
ShowInstDetails show
ShowUninstDetails show

Page instfiles
UninstPage instfiles

Function .onInit
  SetShellVarContext all
  StrCpy $INSTDIR "${INSTDIR_FIXED}"
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Glimkit" SecMain
  SectionIn RO
  SetShellVarContext all

  ; An earlier version may be running: stop its service before its files are replaced.
  ${If} ${FileExists} "$INSTDIR\Glimward.exe"
    DetailPrint "Stopping the running service"
    nsExec::ExecToLog '"$INSTDIR\Glimward.exe" x -K'
    Pop $0
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${BINDIR}\Glimward.exe"
  File "${BINDIR}\Glimagent.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "${DATADIR}"

  ; The service's verbs are read from the second word of the command line.
  DetailPrint "Installing the service"
  nsExec::ExecToLog '"$INSTDIR\Glimward.exe" x -I'
  Pop $0
  DetailPrint "Starting the service"
  nsExec::ExecToLog '"$INSTDIR\Glimward.exe" x -S'
  Pop $0

  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  WriteRegStr HKLM "${RUNKEY}" "Glimagent" '"$INSTDIR\Glimagent.exe"'
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTKEY}" "Publisher" "Vessik"
  WriteRegStr HKLM "${UNINSTKEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all

  DetailPrint "Stopping and removing the service"
  nsExec::ExecToLog '"$INSTDIR\Glimward.exe" x -U'
  Pop $0

  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  DeleteRegValue HKLM "${RUNKEY}" "Glimagent"
  DeleteRegKey HKLM "${UNINSTKEY}"

  ; A running agent ends when its user logs off; its file is removed at the next reboot.
  Delete /REBOOTOK "$INSTDIR\Glimagent.exe"
  Delete /REBOOTOK "$INSTDIR\Glimward.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES32\Vessik"
  ; The settings file holds the user's choices; it stays unless the folder is empty.
  RMDir "${DATADIR}"
  RMDir "$COMMONPROGRAMDATA\Vessik"
SectionEnd
