; The Windows installer: a per-user install without administrator rights.
;
;   makensis -DVERSION=0.1.0 -DPROGRAM=olvex-audio-control.exe -DICON=icon1.ico
;            -DOUTFILE=OLVEX-Audio-Control-0.1.0-setup.exe installer.nsi
;
; The installer's command line: /S installs silently (deployment); /RUN starts
; the program after a silent install too; /D=FOLDER installs elsewhere (last,
; unquoted). The uninstaller's: /S uninstalls silently, the log included.

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma
; makensis warns of "setup" in the file name, which Windows' installer
; heuristics look for; they leave alone a program whose manifest declares its
; execution level and supported systems, as this one's does.
!pragma warning disable 9000

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh

!define NAME "OLVEX-Audio-Control"
!define PUBLISHER "OLVEX"
!define EXE "olvex-audio-control.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SHORTCUT "$SMPROGRAMS\${NAME}.lnk"
; The running program is found by its tray window's class and ended by the
; command of its menu's "Quit"; its one-copy mutex is gone once it has ended.
!define WINDOW_CLASS "OlvexNowPlayingTrayWindowClass"
!define COMMAND_QUIT 1
!define MUTEX "Local\OLVEX-Audio-Control"
!define SYNCHRONIZE 0x00100000
; Tenths of a second to wait for it to end.
!define END_WAIT_TENTHS 100

Name "${NAME}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
; An upgrade goes where the earlier copy is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_COMPONENTSPAGE_TEXT_TOP "The program starts by itself when you log on unless you clear the box below. You can change that later in the menu of its notification-area icon."
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${NAME} now"
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Clear the box below to keep the program's log (crash.log)."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${NAME} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

; Ends the running program, if any, and waits until it has gone, so that its
; file can be replaced or deleted.
!macro END_RUNNING_PROGRAM prefix
Function ${prefix}EndRunningProgram
  FindWindow $0 "${WINDOW_CLASS}" ""
  ${If} $0 == 0
    Return
  ${EndIf}
  DetailPrint "Ending the running ${NAME}"
  System::Call "user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${COMMAND_QUIT}, p 0)"
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${WINDOW_CLASS}" ""
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${MUTEX}") p .r2'
    ${If} $2 != 0
      System::Call "kernel32::CloseHandle(p r2)"
    ${EndIf}
    ${If} $0 == 0
    ${AndIf} $2 == 0
      Return
    ${EndIf}
    ${If} $1 >= ${END_WAIT_TENTHS}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${NAME} is still running and did not end when asked. End it, then choose Retry." /SD IDCANCEL IDRETRY retry
      Abort "${NAME} is still running."
      retry:
      StrCpy $1 0
      System::Call "user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${COMMAND_QUIT}, p 0)"
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro END_RUNNING_PROGRAM ""
!insertmacro END_RUNNING_PROGRAM "un."

Section "${NAME}" SECTION_PROGRAM
  SectionIn RO
  Call EndRunningProgram
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0 SW_SHOWNORMAL "" "${NAME}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  ; Written again below when chosen.
  DeleteRegValue HKCU "${RUN_KEY}" "${NAME}"
SectionEnd

Section "Start at logon" SECTION_LOGON
  WriteRegStr HKCU "${RUN_KEY}" "${NAME}" '"$INSTDIR\${EXE}"'
SectionEnd

; A silent install starts the program only when asked with /RUN; the finish
; page asks everyone else.
Section "-Start when silent"
  ${IfNot} ${Silent}
    Return
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RUN" $1
  ${IfNot} ${Errors}
    Exec '"$INSTDIR\${EXE}"'
  ${EndIf}
SectionEnd

Function .onInit
  SetShellVarContext current
  ; An earlier install without the Run value: its user turned starting at
  ; logon off, at install or in the menu, and the upgrade keeps that.
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${RUN_KEY}" "${NAME}"
  ${If} $0 != ""
  ${AndIf} $1 == ""
    !insertmacro UnselectSection ${SECTION_LOGON}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "un.${NAME}"
  SectionIn RO
  Call un.EndRunningProgram
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "${SHORTCUT}"
  DeleteRegValue HKCU "${RUN_KEY}" "${NAME}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

; The program writes its log beside itself, or where it may not write there,
; in its own folder of the local application data.
Section "un.Log (crash.log)"
  Delete "$INSTDIR\crash.log"
  Delete "$INSTDIR\crash.log.1"
  Delete "$INSTDIR\crash.log.trial-*"
  Delete "$LOCALAPPDATA\${NAME}\crash.log"
  Delete "$LOCALAPPDATA\${NAME}\crash.log.1"
  Delete "$LOCALAPPDATA\${NAME}\crash.log.trial-*"
  RMDir "$LOCALAPPDATA\${NAME}"
SectionEnd

; Only emptied folders go: the install folder may have been chosen by hand.
Section "-un.Folder"
  RMDir "$INSTDIR"
SectionEnd
