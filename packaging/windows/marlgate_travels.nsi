; The Marlgate Travels installer for players: one file that installs the
; plug-in for the current user, with no administrator rights, and an
; uninstaller that takes it away again. One script for both architectures:
;
;   makensis -DARCH=x86|x64 -DVERSION=1.0.2 -DFILE_VERSION=1.0.0.2
;            -DDLL=marlgate_travels.dll -DVIEW=Marlgate_Travels.xml
;            -DOUT_FILE=Marlgate_Travels-1.0.2-setup.exe marlgate_travels.nsi
;
; ARCH x86 takes the 32-bit DLL (the one players use: the game client is a
; 32-bit program), x64 the 64-bit one. The installer carries the DLL's
; version. /S installs (and the uninstaller uninstalls) silently.
;
; /SERVICE=URL points the plug-in at another travel service: the installer
; writes URL as the value ServiceURL of HKCU\Software\Marlgate Travels,
; which the plug-in reads at every start (docs/host-contract.md). Without
; the option a value set before is left as it is. The uninstaller removes
; the key.

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH must be x86 or x64"
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh

!define PRODUCT "Marlgate Travels"
!define PUBLISHER "Marlgate Travels"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MarlgateTravels"
!define SETTINGS_KEY "Software\Marlgate Travels"

Var ServiceURL

Name "${PRODUCT} ${VERSION}"
OutFile "${OUT_FILE}"
; The plug-in writes its error log beside itself, so it lives where the
; player can write, and it is registered for this user only.
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${FILE_VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
!if "${ARCH}" == "x64"
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "This is the 64-bit ${PRODUCT}; this Windows is 32-bit. Use the 32-bit installer." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!endif
  ; The plug-in reads the travel service's replies with MSXML 4.0, or 6.0
  ; where 4.0 is missing (a fresh Windows 10 or 11 has 3.0 and 6.0 only).
  ReadRegStr $0 HKCR "Msxml2.DOMDocument.6.0\CLSID" ""
  ReadRegStr $1 HKCR "Msxml2.DOMDocument.4.0\CLSID" ""
  ${If} $0 == ""
  ${AndIf} $1 == ""
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} needs Microsoft XML Core Services (MSXML) 6.0 or 4.0, and this computer has neither.$\r$\n$\r$\nInstall MSXML 6.0 from Microsoft, then run this installer again." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  ; /SERVICE=URL: refused at once unless it is http:// with something after
  ; it (the plug-in checks the rest, and falls back to its default). Read
  ; by hand: GetOptions would end the value at its first "/".
  StrCpy $ServiceURL ""
  StrCpy $9 0
  ${GetParameters} $0
  StrLen $3 $0
  StrCpy $4 0
  ${DoWhile} $4 < $3
    StrCpy $5 $0 9 $4
    ${If} $5 == "/SERVICE="
      IntOp $4 $4 + 9
      StrCpy $6 $4
      ${Do}
        StrCpy $7 $0 1 $6
        ${If} $7 == ""
        ${OrIf} $7 == " "
        ${OrIf} $7 == '"'
          ${ExitDo}
        ${EndIf}
        IntOp $6 $6 + 1
      ${Loop}
      IntOp $7 $6 - $4
      StrCpy $ServiceURL $0 $7 $4
      StrCpy $9 1
      ${ExitDo}
    ${EndIf}
    IntOp $4 $4 + 1
  ${Loop}
  ${If} $9 == 1
    StrCpy $1 $ServiceURL 7
    StrLen $2 $ServiceURL
    ${If} $1 != "http://"
    ${OrIf} $2 <= 7
      MessageBox MB_ICONSTOP|MB_OK "/SERVICE= needs an http:// address of the travel service, such as http://travel.example.org/marlgate_travels/travel.php." /SD IDOK
      SetErrorLevel 6
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  ; An earlier install in this folder lets go of its registration first.
  ${If} ${FileExists} "$INSTDIR\marlgate_travels.dll"
    System::Call '"$INSTDIR\marlgate_travels.dll"::DllInstall(i 0, w "user") i .r0 ?u'
  ${EndIf}
  ClearErrors
  File "/oname=marlgate_travels.dll" "${DLL}"
  File "/oname=Marlgate_Travels.xml" "${VIEW}"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP|MB_OK "The files could not be written to $INSTDIR. If the game is running, close it and try again." /SD IDOK
    SetErrorLevel 4
    Abort
  ${EndIf}
  ; Registered for this user through the DLL's own DllInstall (what
  ; regsvr32 /n /i:user does); a registration that fails takes back what
  ; it wrote, and the files go too.
  System::Call '"$INSTDIR\marlgate_travels.dll"::DllInstall(i 1, w "user") i .r0 ?u'
  ${If} $0 != 0
    Delete "$INSTDIR\marlgate_travels.dll"
    Delete "$INSTDIR\Marlgate_Travels.xml"
    RMDir "$INSTDIR"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} could not be registered (error $0)." /SD IDOK
    SetErrorLevel 5
    Abort
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ${If} $ServiceURL != ""
    WriteRegStr HKCU "${SETTINGS_KEY}" "ServiceURL" "$ServiceURL"
  ${EndIf}

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "Uninstall"
  System::Call '"$INSTDIR\marlgate_travels.dll"::DllInstall(i 0, w "user") i .r0 ?u'
  Delete "$INSTDIR\marlgate_travels.dll"
  Delete "$INSTDIR\Marlgate_Travels.xml"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  ; The error log is the player's: it stays, and the folder with it.
  ${If} ${FileExists} "$INSTDIR\errors.txt"
    DetailPrint "Kept the error log $INSTDIR\errors.txt"
    MessageBox MB_ICONINFORMATION|MB_OK "${PRODUCT} is removed. Its error log stays in $INSTDIR\errors.txt; delete it when you no longer need it." /SD IDOK
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
SectionEnd
