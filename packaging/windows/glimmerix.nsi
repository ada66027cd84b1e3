; The Windows installer of Glimmerix: a per-user install (no administrator rights) into
; %LOCALAPPDATA%\Programs\Glimmerix, a folder the user may write to, because the program keeps
; setting.dat and its presets (*.patt) in its own folder.
;
; Built by makensis from the build's stage folder (CMake passes the defines below):
;   VERSION      the project's version, three numbers (0.1.0)
;   STAGE_DIR    the stage folder: glimmerix.exe and the three documents
;   PRESETS_DIR  the shipped presets (*.patt)
;   ICON         the program's icon (.ico)
;   OUTFILE      the installer to write
;
; Command line (both programs): /S silent; the installer's /D=FOLDER (last, unquoted) picks the
; folder. The uninstaller's /RemoveSettings also removes setting.dat, every *.patt and
; inpoutx64.dll from the folder (the check box "Also remove my settings and presets").
; Exit codes: 0 done; 1 cancelled; 2 stopped because Glimmerix is running (then nothing changed).
;
; What the program's folder holds that the user made (setting.dat, presets, the port library
; inpoutx64.dll, which is not shipped) is never overwritten and only removed on request. The
; uninstaller deletes files by name only and the folder only when it is empty, so a folder picked
; with /D= that holds other files keeps them.

!ifndef VERSION | STAGE_DIR | PRESETS_DIR | ICON | OUTFILE
  !error "makensis needs -DVERSION= -DSTAGE_DIR= -DPRESETS_DIR= -DICON= -DOUTFILE="
!endif

Unicode true
; makensis warns of names holding "setup" (Windows applies its installer compatibility rules to
; them); that is the conventional name, and the manifest asks for no elevation.
!pragma warning disable 9000
; glimmerix.exe is a 64-bit program, so is its installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Glimmerix"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerix"
!define UNINSTALLER "uninstall.exe"
; The named semaphore a running glimmerix.exe holds (its single-instance lock).
!define RUNNING_SEMAPHORE "Glimmerix"
!define EXIT_RUNNING 2

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An upgrade goes where the previous version is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
; A file that cannot be written stops the install (Retry or Cancel; silent: Cancel) before the
; uninstaller and the entry are written; skipping it would leave a mixed program folder.
AllowSkipFiles off
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "The Glimmerix developers"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "nsDialogs.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define PORT_LIBRARY_NOTE "Glimmerix drives the parallel port through inpoutx64.dll, which is not \
included. Place the 64-bit inpoutx64.dll from the port driver's distribution in the program \
folder, beside glimmerix.exe. Without it Glimmerix shows $\"File missing!$\" and ends.$\r$\n$\r$\n\
The USB light controller needs no driver."

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Place inpoutx64.dll in the program folder"
!define MUI_FINISHPAGE_TEXT "${PORT_LIBRARY_NOTE}"
!define MUI_FINISHPAGE_TEXT_LARGE
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open the program folder"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.KeepSettingsPage un.KeepSettingsPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Whether glimmerix.exe runs: asks to close it and checks again (Retry); leaves $0 = 1 when the
; run must stop (Cancel, or at once when silent, with the reason on the standard error stream of
; the console it was started from), else 0.
!macro RUNNING_CHECK un what
Function ${un}RunningCheck
  ${Do}
    System::Call 'kernel32::OpenSemaphoreW(i 0x00100000, i 0, w "${RUNNING_SEMAPHORE}") p .r0'
    ${If} $0 P= 0
      StrCpy $0 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    StrCpy $0 1
    ${If} ${Silent}
      StrCpy $1 "Glimmerix is running: close it (its tray icon's menu, Exit) and start \
${what} again.$\r$\n"
      System::Call 'kernel32::AttachConsole(i -1)'
      System::Call 'kernel32::GetStdHandle(i -12) p .r2'
      StrLen $3 $1
      System::Call 'kernel32::WriteFile(p r2, m r1, i r3, *i .r4, p 0)'
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Glimmerix is running. Close it (its tray \
icon's menu, Exit), then press Retry." /SD IDCANCEL IDRETRY retry
    Return
    retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro RUNNING_CHECK "" "the installer"
!insertmacro RUNNING_CHECK "un." "the uninstaller"

; Ends the run, changing nothing, with exit code EXIT_RUNNING while glimmerix.exe runs; `end` is
; Quit before the pages, Abort in a section (which shows why on the progress page).
!macro STOP_WHILE_RUNNING un end
  Call ${un}RunningCheck
  ${If} $0 == 1
    SetErrorLevel ${EXIT_RUNNING}
    !if "${end}" == "Abort"
      Abort "Glimmerix is running: nothing was changed."
    !else
      Quit
    !endif
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext current
  !insertmacro STOP_WHILE_RUNNING "" Quit
FunctionEnd

Section "Glimmerix" SectionProgram
  SectionIn RO
  ; Checked again: the program may have been started while the pages were shown.
  !insertmacro STOP_WHILE_RUNNING "" Abort
  SetOutPath "$INSTDIR"
  File "${STAGE_DIR}/glimmerix.exe"
  File "${STAGE_DIR}/about.rtf"
  File "${STAGE_DIR}/help.rtf"
  File "${STAGE_DIR}/history.rtf"
  ; The shipped presets only where the user has none of that name: an upgrade keeps theirs.
  SetOverwrite off
  File /nonfatal "${PRESETS_DIR}/*.patt"
  SetOverwrite on

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\glimmerix.exe" "" \
    "$INSTDIR\glimmerix.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Glimmerix developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\glimmerix.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; "1" when the user's settings, presets and port library go too.
Var RemoveSettings
Var RemoveSettingsBox

Function un.onInit
  SetShellVarContext current
  !insertmacro STOP_WHILE_RUNNING "un." Quit
  StrCpy $RemoveSettings 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/RemoveSettings" $1
  ${IfNot} ${Errors}
    StrCpy $RemoveSettings 1
  ${EndIf}
FunctionEnd

Function un.KeepSettingsPage
  !insertmacro MUI_HEADER_TEXT "Your settings and presets" \
    "Choose whether they stay in the program folder."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 60u "Glimmerix and its documents are removed from $INSTDIR. \
Your settings (setting.dat), your presets (the .patt files) and inpoutx64.dll stay there, and so \
does the folder, so that a later install finds them.$\r$\n$\r$\nCheck the box to remove them as \
well."
  Pop $0
  ${NSD_CreateCheckbox} 0 70u 100% 12u "Also remove my settings and presets"
  Pop $RemoveSettingsBox
  ${If} $RemoveSettings == 1
    ${NSD_Check} $RemoveSettingsBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.KeepSettingsPageLeave
  ${NSD_GetState} $RemoveSettingsBox $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveSettings 1
  ${Else}
    StrCpy $RemoveSettings 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro STOP_WHILE_RUNNING "un." Abort
  Delete "$INSTDIR\glimmerix.exe"
  Delete "$INSTDIR\about.rtf"
  Delete "$INSTDIR\help.rtf"
  Delete "$INSTDIR\history.rtf"
  ${If} $RemoveSettings == 1
    Delete "$INSTDIR\setting.dat"
    Delete "$INSTDIR\*.patt"
    Delete "$INSTDIR\inpoutx64.dll"
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: what the user keeps there keeps the folder.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
