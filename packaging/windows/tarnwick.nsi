; The Tarnwick installer. Built by scripts/package-windows.sh:
;   makensis -DVERSION=1.0.0.5 -DARCH=i686 -DEXE=tarnwick.exe -DGUARD=tarnwick-guard.exe -DREADME=readme.txt \
;            -DICON=tarnwick.ico -DOUTFILE=tarnwick-setup.exe tarnwick.nsi
; ARCH is the program's: i686 (the product, a 32-bit installer) or x86_64 (a
; 64-bit installer, which installs into the 64-bit Program Files and
; registry view).
;
; It installs the program for every user of the machine (elevated), with a
; Start-menu shortcut and an uninstaller, and prepares the machine's one
; settings file: the program keeps its settings in tarnwick.ini in the
; Windows directory, which standard users may not write. So the installer
; creates the file when it is missing and gives the Users group the right
; to change that one file, and every user's save lands in the same file.
; Likewise the station log's folder, %ProgramData%\Tarnwick: every user's
; program and guardian append to tarnwick.log there and move it aside at
; 1 MiB, which the folder's default rights allow only its creator.

!ifndef ARCH
  !define ARCH i686
!endif
!if "${ARCH}" == "x86_64"
  Target amd64-unicode
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

!define PRODUCT "Tarnwick"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarnwick"
; BUILTIN\Users by its SID, which does not change with the language of Windows.
!define USERS_SID "*S-1-5-32-545"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
!if "${ARCH}" == "x86_64"
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  ; A 32-bit program: Program Files (x86) on 64-bit Windows.
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PRODUCT}"
VIAddVersionKey "LegalCopyright" "${PRODUCT}"

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Tarnwick" SecProgram
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=tarnwick.exe" "${EXE}"
  ; Started by the program beside itself: unkeys the node if the program
  ; ends while it has it keyed (a crash, the task being ended).
  File "/oname=tarnwick-guard.exe" "${GUARD}"
  File "/oname=readme.txt" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\tarnwick.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"

  ; The settings file of the machine. An existing one keeps the sysop's
  ; settings; a new one is empty, which the program reads as all defaults.
  ${IfNot} ${FileExists} "$WINDIR\tarnwick.ini"
    FileOpen $0 "$WINDIR\tarnwick.ini" w
    FileClose $0
    DetailPrint "Created $WINDIR\tarnwick.ini"
  ${EndIf}
  ; Users may change this one file (not the Windows directory).
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$WINDIR\tarnwick.ini" /grant ${USERS_SID}:(M)'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Could not give the Users group the right to change $WINDIR\tarnwick.ini ($0)."
    DetailPrint "Settings can then be saved only by administrators."
  ${EndIf}

  ; The station log's folder of the machine ($APPDATA is ProgramData for
  ; all users). Users may change the folder and what it holds: the log is
  ; created, appended to and moved aside by whichever user runs Tarnwick.
  CreateDirectory "$APPDATA\${PRODUCT}"
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$APPDATA\${PRODUCT}" /grant ${USERS_SID}:(OI)(CI)(M)'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Could not give the Users group the right to change $APPDATA\${PRODUCT} ($0)."
    DetailPrint "The station log can then be written only by the user who first ran Tarnwick."
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarnwick.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; A node machine restarts unattended (updates, power cuts): started at every
; log-on, the station is back on the air without anyone at the keyboard.
; Off unless chosen (a silent install chooses it with /AUTOSTART), since a
; machine shared with other work may not want it.
Section /o "Start Tarnwick when a user logs on" SecAutostart
  SetShellVarContext all
  CreateShortcut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\tarnwick.exe"
  DetailPrint "Tarnwick starts at every log-on: $SMSTARTUP\${PRODUCT}.lnk"
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\tarnwick.exe"
  Delete "$INSTDIR\tarnwick-guard.exe"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  Delete "$SMSTARTUP\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; $WINDIR\tarnwick.ini stays: it holds the station's settings, and a
  ; reinstall finds them again. So does the station log in
  ; $APPDATA\${PRODUCT}: the station's history outlives the program.
SectionEnd
