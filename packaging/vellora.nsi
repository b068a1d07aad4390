; Vellora's installer: per user, no elevation, into the user's programs
; folder, with a Start-menu shortcut and an uninstaller that removes exactly
; what was installed. Built by scripts/package.sh, which defines VERSION,
; VERSION_QUAD, STAGE (the folder holding Vellora.exe and README.txt), ICON
; and OUTFILE.
; 64-bit like the program: it runs on every Windows that can run Vellora.
Target amd64-unicode
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellora"

Name "Vellora ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Vellora"

VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "Vellora"
VIAddVersionKey /LANG=1033 "FileDescription" "Vellora ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 the Vellora developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Vellora"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}\Vellora.exe"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Vellora.lnk" "$INSTDIR\Vellora.exe"

  ; Listed under the user's installed apps.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vellora"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Vellora"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Vellora.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Vellora.lnk"
  Delete "$INSTDIR\Vellora.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  ; Removed only when empty: recordings the user saved here stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
