; The Windows installer of tarvik (the desktop program), tarvik-cli, tarvik-target and
; tarvik-mkimage, written by
; scripts/windows-package with makensis -DVERSION=1.2.3 -DSTAGE=<the files> -DOUTFILE=<setup.exe>.
;
; It installs into Program Files (the installer runs as administrator for that; the programs
; do not ask for it), puts a Start menu folder for all users, registers its uninstaller with
; Add/Remove Programs, adds the folder to the installing user's PATH only when asked (the
; section "Add to my PATH", or /PATH on the command line of a silent install: setup.exe /S /PATH)
; and tells where to get Npcap when it is not installed: the programs cannot open an adapter
; without it, and its own installer cannot be run silently by another.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvik"
!define NPCAP_KEY "SOFTWARE\Npcap"
!define NPCAP_ADVICE "Tarvik's programs need Npcap to reach network adapters, and it is not \
installed.$\r$\n$\r$\nGet it from https://npcap.com and, in its installer:$\r$\n\
  - tick $\"Install Npcap in WinPcap API-compatible Mode$\";$\r$\n\
  - leave $\"Restrict Npcap driver's access to Administrators only$\" unticked, unless this \
machine's policy wants it: then run the Tarvik programs as administrator.$\r$\n$\r$\n\
Tarvik is installed all the same; tarvik-cli --lab and tarvik-mkimage work without Npcap."

Name "Tarvik ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tarvik"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Tarvik ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Tarvik"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Tarvik ${VERSION} setup"
VIAddVersionKey "LegalCopyright" "Tarvik maintainers"

!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-Windows.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show README-Windows.txt"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; $R0 = a PATH value, $R1 = a folder: $R2 = the value without the folder's entries (with or
; without a trailing backslash, in any case, as Windows compares paths) and without empty ones.
!macro PATH_WITHOUT PREFIX
Function ${PREFIX}PathWithout
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R2 ""
  StrCpy $R3 ""
  StrCpy $R5 0
  next:
    StrCpy $R4 $R0 1 $R5
    ${If} $R4 == ";"
    ${OrIf} $R4 == ""
      ${If} $R3 != ""
      ${AndIf} $R3 != $R1
      ${AndIf} $R3 != "$R1\"
        ${If} $R2 == ""
          StrCpy $R2 $R3
        ${Else}
          StrCpy $R2 "$R2;$R3"
        ${EndIf}
      ${EndIf}
      StrCpy $R3 ""
      StrCmp $R4 "" done
    ${Else}
      StrCpy $R3 "$R3$R4"
    ${EndIf}
    IntOp $R5 $R5 + 1
    Goto next
  done:
  Pop $R5
  Pop $R4
  Pop $R3
FunctionEnd
!macroend
!insertmacro PATH_WITHOUT ""
!insertmacro PATH_WITHOUT "un."

; The user's PATH into $R0 and its length into $R5; the error flag when there is none, or when
; it is as long as NSIS's strings and so may have been cut short (it is then left alone rather
; than written back shortened).
!define /math PATH_TOO_LONG ${NSIS_MAX_STRLEN} - 2
!macro READ_USER_PATH
  ClearErrors
  ReadRegStr $R0 HKCU "Environment" "Path"
  StrLen $R5 $R0
  ${If} $R5 >= ${PATH_TOO_LONG}
    SetErrors
  ${EndIf}
!macroend

Section "Tarvik (required)" SectionPrograms
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\tarvik.exe"
  File "${STAGE}\tarvik-cli.exe"
  File "${STAGE}\tarvik-target.exe"
  File "${STAGE}\tarvik-mkimage.exe"
  File "${STAGE}\README-Windows.txt"
  File "${STAGE}\tarvik.lua"
  !if /FileExists "${STAGE}\LICENSE.txt"
    File "${STAGE}\LICENSE.txt"
  !endif
  ; The licences of the libraries linked into the programs.
  !if /FileExists "${STAGE}\licenses\*.txt"
    SetOutPath "$INSTDIR\licenses"
    File "${STAGE}\licenses\*.txt"
    SetOutPath "$INSTDIR"
  !endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The Start menu, for every user: the desktop program, a console in the folder, and the
  ; README.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Tarvik"
  CreateShortcut "$SMPROGRAMS\Tarvik\Tarvik.lnk" "$INSTDIR\tarvik.exe" "" "$INSTDIR\tarvik.exe" 0 \
    SW_SHOWNORMAL "" "Loads firmware images into devices on the local Ethernet segment"
  CreateShortcut "$SMPROGRAMS\Tarvik\Tarvik command line.lnk" "$SYSDIR\cmd.exe" \
    "/k tarvik-cli --version" "$INSTDIR\tarvik-cli.exe" 0 SW_SHOWNORMAL "" \
    "A console in Tarvik's folder"
  CreateShortcut "$SMPROGRAMS\Tarvik\README for Windows.lnk" "$INSTDIR\README-Windows.txt"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tarvik ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarvik maintainers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tarvik.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Npcap writes its key and installs wpcap.dll into the system folder's Npcap subfolder.
  ClearErrors
  ReadRegStr $0 HKLM "${NPCAP_KEY}" ""
  ${If} ${Errors}
  ${AndIfNot} ${FileExists} "$SYSDIR\Npcap\wpcap.dll"
    DetailPrint "Npcap is not installed: get it from https://npcap.com"
    MessageBox MB_OK|MB_ICONINFORMATION "${NPCAP_ADVICE}" /SD IDOK
  ${EndIf}
SectionEnd

Section /o "Add to my PATH" SectionPath
  !insertmacro READ_USER_PATH
  ${If} ${Errors}
  ${AndIf} $R5 > 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "Your PATH is too long to be changed here: add \
$INSTDIR to it yourself." /SD IDOK
  ${Else}
    StrCpy $R1 "$INSTDIR"
    Call PathWithout
    ${If} $R2 == ""
      StrCpy $R2 "$INSTDIR"
    ${Else}
      StrCpy $R2 "$R2;$INSTDIR"
    ${EndIf}
    WriteRegExpandStr HKCU "Environment" "Path" $R2
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
  ${EndIf}
SectionEnd

LangString DESC_SectionPrograms ${LANG_ENGLISH} "tarvik, tarvik-cli, tarvik-target, tarvik-mkimage, \
README-Windows.txt and the Wireshark dissector tarvik.lua, and a Start menu folder."
LangString DESC_SectionPath ${LANG_ENGLISH} "Lets a console started later run tarvik-cli \
from any folder (your own PATH; removed again by the uninstaller)."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionPrograms} $(DESC_SectionPrograms)
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionPath} $(DESC_SectionPath)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SectionPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\tarvik.exe"
  Delete "$INSTDIR\tarvik-cli.exe"
  Delete "$INSTDIR\tarvik-target.exe"
  Delete "$INSTDIR\tarvik-mkimage.exe"
  Delete "$INSTDIR\README-Windows.txt"
  Delete "$INSTDIR\tarvik.lua"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\licenses\cpp-httplib.txt"
  Delete "$INSTDIR\licenses\libpq.txt"
  Delete "$INSTDIR\licenses\libsodium.txt"
  Delete "$INSTDIR\licenses\openssl.txt"
  Delete "$INSTDIR\licenses\sqlite3.txt"
  RMDir "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: files of the user's own stay, and so does their folder.
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\Tarvik\Tarvik.lnk"
  Delete "$SMPROGRAMS\Tarvik\Tarvik command line.lnk"
  Delete "$SMPROGRAMS\Tarvik\README for Windows.lnk"
  RMDir "$SMPROGRAMS\Tarvik"

  !insertmacro READ_USER_PATH
  ${IfNot} ${Errors}
    StrCpy $R1 "$INSTDIR"
    Call un.PathWithout
    ${If} $R2 != $R0
      ${If} $R2 == ""
        DeleteRegValue HKCU "Environment" "Path"
      ${Else}
        WriteRegExpandStr HKCU "Environment" "Path" $R2
      ${EndIf}
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${ElseIf} $R5 > 0
    DetailPrint "Your PATH is too long to be changed here: take $INSTDIR out of it yourself."
  ${EndIf}

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
