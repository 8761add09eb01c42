; The Windows installer of Kestrelis: the programs under Program Files, a
; Start-menu entry that opens a console running the TNC, and an uninstaller
; that removes what it installed and leaves %USERPROFILE%\Kestrelis
; (configuration, packet log, recordings) in place.
; makensis -DVERSION=x.y.z -DSTAGE=<folder of the files> -DOUTFILE=<setup.exe>

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "Kestrelis TNC"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrelis"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kestrelis"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Kestrelis"
  SetOutPath "$INSTDIR"
  File "${STAGE}\kestrelis-tnc.exe"
  File "${STAGE}\kestrelis-forward.exe"
  File "${STAGE}\kestrelis-sim.exe"
  File "${STAGE}\kestrelis-kiss.exe"
  File "${STAGE}\kestrelis-tnc-start.cmd"
  File "${STAGE}\config.ini.example"
  File "${STAGE}\README.txt"
  SetOutPath "$INSTDIR\manual"
  File "${STAGE}\manual\*.txt"
  SetOutPath "$INSTDIR\licences"
  File "${STAGE}\licences\*.txt"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Kestrelis"
  ; A console that runs the TNC through the start script and stays open
  ; after it ends, so that its last lines can be read.
  CreateShortcut "$SMPROGRAMS\Kestrelis\Kestrelis TNC.lnk" "$SYSDIR\cmd.exe" \
    '/k ""$INSTDIR\kestrelis-tnc-start.cmd""' "$INSTDIR\kestrelis-tnc.exe" 0
  CreateShortcut "$SMPROGRAMS\Kestrelis\Uninstall Kestrelis.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kestrelis ground station team"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: the operator's own files in
  ; %USERPROFILE%\Kestrelis stay.
  Delete "$INSTDIR\kestrelis-tnc.exe"
  Delete "$INSTDIR\kestrelis-forward.exe"
  Delete "$INSTDIR\kestrelis-sim.exe"
  Delete "$INSTDIR\kestrelis-kiss.exe"
  Delete "$INSTDIR\kestrelis-tnc-start.cmd"
  Delete "$INSTDIR\config.ini.example"
  Delete "$INSTDIR\README.txt"
  RMDir /r "$INSTDIR\manual"
  RMDir /r "$INSTDIR\licences"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Kestrelis\Kestrelis TNC.lnk"
  Delete "$SMPROGRAMS\Kestrelis\Uninstall Kestrelis.lnk"
  RMDir "$SMPROGRAMS\Kestrelis"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
