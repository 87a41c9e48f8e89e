; The Quorvex installer: for the user alone, without administrator rights, into the
; user's own programs folder, with one entry in the Start menu and one in Settings > Apps
; that uninstalls it. Nothing else: no desktop icon, no PATH, no file types.
;
; Built by the CMake target "installer", from the same files as the zip:
;   makensis -DVERSION=1.0.0.1 -DSTAGE=FOLDER -DICON=quorvex.ico -DOUTFILE=SETUP.exe quorvex.nsi

; The programs are 64-bit, and so is the installer.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvex"

Name "Quorvex"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorvex"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Quorvex Application"
VIAddVersionKey /LANG=1033 "FileDescription" "Quorvex Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "© 2026 The Quorvex authors, MIT"

!include MUI2.nsh
!include FileFunc.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quorvex.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Quorvex"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/quorvex.exe"
    File "${STAGE}/quorvex-cli.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Quorvex.lnk" "$INSTDIR\quorvex.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quorvex"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "The Quorvex authors"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvex.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Only what the installer put there: a folder the user chose keeps anything else it holds.
Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\Quorvex.lnk"
    Delete "$INSTDIR\quorvex.exe"
    Delete "$INSTDIR\quorvex-cli.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
