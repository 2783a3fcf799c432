; The Windows installer: the program with its runtime, the guide, a Start-menu
; entry, and an uninstaller that Add/Remove Programs lists.
; makensis -DVERSION=x.y.z -DPAYLOAD=<folder> -DFILES=<list.nsh> -DOUTFILE=<exe>
; FILES holds one Delete per installed file (scripts/windows/package.sh writes
; it), so the uninstaller removes what was installed and nothing else, whatever
; folder the user chose.

Unicode true
; A 64-bit program and a 64-bit stub: a 32-bit installer would be redirected to
; the 32-bit Program Files and registry, and a 64-bit-only Windows runs none.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zandrel"

Name "Zandrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Zandrel"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    SetRegView 64
FunctionEnd
Function un.onInit
    SetRegView 64
FunctionEnd

Section "Zandrel"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File /r "${PAYLOAD}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateDirectory "$SMPROGRAMS\Zandrel"
    CreateShortcut "$SMPROGRAMS\Zandrel\Zandrel.lnk" "$INSTDIR\zandrel.exe"
    CreateShortcut "$SMPROGRAMS\Zandrel\Zandrel Help.lnk" "$INSTDIR\Zandrel.html"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Zandrel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Zandrel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zandrel.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    !include "${FILES}"
    Delete "$INSTDIR\uninstall.exe"
    ; Only empty folders go: whatever the user put there stays.
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Zandrel\Zandrel.lnk"
    Delete "$SMPROGRAMS\Zandrel\Zandrel Help.lnk"
    RMDir "$SMPROGRAMS\Zandrel"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
