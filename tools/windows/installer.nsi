; Per-user installer of the Zorvan Lumeth launcher.
;
;   makensis -DLAUNCHER=<Zorvan Lumeth.exe> -DCATALOGUE=<zorvanlauncher_fr.qm>
;            -DICON=<icon.ico> -DVERSION=<1.1> -DOUTFILE=<Zorvan Lumeth Setup.exe>
;            installer.nsi
;
; The launcher updates itself and the game in its own directory, with the
; player's rights, so it installs below the user's profile and asks for no
; elevation. The uninstaller removes everything in that directory except the
; player's "Saves".
;
; Silent use: "Zorvan Lumeth Setup.exe" /S [/D=<directory>] and
; Uninstall.exe /S (add _?=<directory> to wait for it in place).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!macro Required name
    !ifndef ${name}
        !error "${name} must be defined (-D${name}=...)"
    !endif
!macroend
!insertmacro Required LAUNCHER
!insertmacro Required CATALOGUE
!insertmacro Required ICON
!insertmacro Required VERSION
!insertmacro Required OUTFILE

!define PRODUCT "Zorvan Lumeth"
!define PUBLISHER "Team Quillon"
!define EXE "Zorvan Lumeth.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The launcher's settings (QSettings' native store on Windows).
!define SETTINGS_KEY "Software\${PUBLISHER}\${PRODUCT}"
!define ORGANISATION_KEY "Software\${PUBLISHER}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "© ${PUBLISHER}"

!include "MUI2.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartLauncher
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "French"

LangString NotOurDirectory ${LANG_ENGLISH} "$INSTDIR is not empty. Choose an empty folder or an existing ${PRODUCT} installation: the uninstaller removes everything in it except the saves."
LangString NotOurDirectory ${LANG_FRENCH} "$INSTDIR n'est pas vide. Choisissez un dossier vide ou une installation existante de ${PRODUCT} : la désinstallation supprime tout ce qu'il contient, sauf les sauvegardes."

; The uninstaller empties the installation directory (saves excepted), so
; only a missing or empty directory, one holding nothing but "Saves" (left by
; an uninstallation), or an earlier installation will do.
; Sets $R9 to 1 when $INSTDIR qualifies, 0 otherwise.
Function CheckDirectory
    Push $0
    Push $1
    StrCpy $R9 1
    IfFileExists "$INSTDIR\${EXE}" done
    IfFileExists "$INSTDIR\${UNINSTALLER}" done
    FindFirst $0 $1 "$INSTDIR\*"
    loop:
        StrCmp $1 "" close
        StrCmp $1 "." next
        StrCmp $1 ".." next
        StrCmp $1 "Saves" next
        StrCpy $R9 0
        Goto close
    next:
        FindNext $0 $1
        Goto loop
    close:
        FindClose $0
    done:
    Pop $1
    Pop $0
FunctionEnd

Function .onInit
    ; Without pages, /D= is checked here; a refusal ends with exit code 2.
    IfSilent 0 interactive
        Call CheckDirectory
        StrCmp $R9 1 interactive
        SetErrorLevel 2
        Quit
    interactive:
FunctionEnd

Function .onVerifyInstDir
    Call CheckDirectory
    StrCmp $R9 1 +2
        Abort
FunctionEnd

Function StartLauncher
    ; The launcher finds everything relative to its working directory.
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\${EXE}"'
FunctionEnd

Section "Launcher"
    Call CheckDirectory
    StrCmp $R9 1 +3
        MessageBox MB_OK|MB_ICONSTOP "$(NotOurDirectory)" /SD IDOK
        Abort

    SetOutPath "$INSTDIR"
    File "/oname=${EXE}" "${LAUNCHER}"
    File "/oname=zorvanlauncher_fr.qm" "${CATALOGUE}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; The shortcut's working directory is the output path: the installation.
    SetOutPath "$INSTDIR"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\${EXE}",0'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Everything the launcher and the game put into the installation goes: the
; launcher, its catalogue, the downloaded game files and folders, the
; version files, a set-aside launcher build, ".gameopts". "Saves" stays with
; all it holds (the player's progress and backups); so does the directory
; when it still holds them.
Section "Uninstall"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; The launcher's settings hold only its own version and the graphics
    ; mode; a later installation writes them afresh.
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "${ORGANISATION_KEY}"

    FindFirst $0 $1 "$INSTDIR\*"
    loop:
        StrCmp $1 "" close
        StrCmp $1 "." next
        StrCmp $1 ".." next
        StrCmp $1 "Saves" next
        StrCmp $1 "${UNINSTALLER}" next
        IfFileExists "$INSTDIR\$1\*.*" 0 file
            RMDir /r "$INSTDIR\$1"
            Goto next
        file:
            Delete "$INSTDIR\$1"
    next:
        FindNext $0 $1
        Goto loop
    close:
    FindClose $0

    ; Last, so that an interrupted uninstallation can be run again. Run in
    ; place (_?=), the uninstaller cannot delete its own file.
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
SectionEnd
