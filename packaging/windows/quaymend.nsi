; The Windows installer: quaymend-<version>-setup.exe, made by scripts/windows.sh with
;   makensis -DVERSION=<version> -DFILEVERSION=<a.b.c.d> -DSOURCE=<folder of the program> -DOUTFILE=<installer> quaymend.nsi
; SOURCE holds quaymend.exe with everything it loads beside it (Qt's and MinGW's DLLs, Qt's
; platform, style and image plugins) and an empty driver folder, where a vendor's driver installer
; (setup.exe) goes.
;
; Per user (%LOCALAPPDATA%\Programs\Quaymend, no administrator rights) unless the user asks for
; all users: /AllUsers on the command line, or the choice on the first page (Program Files, with
; elevation). Silent with /S; /D=<folder> chooses the folder. The uninstaller is registered under
; Apps & features and removes what was installed, also silently (uninstall.exe /S).

; A 64-bit installer: the program is 64-bit, and so is Wine without its 32-bit part.
Target amd64-unicode
!ifndef VERSION
  !error "VERSION is not defined"
!endif
!define PRODUCT "Quaymend"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quaymend"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_USE_PROGRAMFILES64
!include MultiUser.nsh
!include MUI2.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${FILEVERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PRODUCT}"

!define MUI_ICON "..\..\resources\Resources\reseticon.ico"
!define MUI_UNICON "..\..\resources\Resources\reseticon.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quaymend.exe"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  ; MultiUser sets the folder of the install mode; one given with /D= comes first.
  StrCpy $0 $INSTDIR
  !insertmacro MULTIUSER_INIT
  StrCmp $0 "" +2
    StrCpy $INSTDIR $0
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Quaymend"
  SetOutPath "$INSTDIR"
  File /r "${SOURCE}\*.*"
  CreateDirectory "$INSTDIR\driver"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The shortcut starts the program in its own folder: the driver installer is looked for in the
  ; current directory (driver\setup.exe).
  SetOutPath "$INSTDIR"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quaymend.exe" "" "$INSTDIR\quaymend.exe" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quaymend.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${ESTIMATED_KB}
SectionEnd

Section "Uninstall"
  ; What the installer put there, and the driver folder with whatever a vendor placed in it; the
  ; folder itself only when nothing else is left in it.
  !include "${FILELIST}"
  RMDir /r "$INSTDIR\driver"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
