; Per-user installer of the Zorvan Lumeth launcher.
;
;   makensis -DINPUTS=<installer-inputs.nsh> -DLAUNCHER=<Zorvan Lumeth.exe>
;            -DOUTFILE=<Zorvan Lumeth Setup.exe> [-DSIGN=<sign-windows.sh>]
;            installer.nsi
;
; The build writes INPUTS (cmake/installer.cmake): the French catalogue
; (CATALOGUE), the icon (ICON), the version (VERSION) and the directory of
; the licence texts (LICENCES). With SIGN, the uninstaller is signed before
; it is packed and the installer once it is written (tools/sign-windows.sh,
; with the certificate its environment names).
;
; The launcher updates itself and the game in its own directory, with the
; player's rights, so it installs below the user's profile and asks for no
; elevation. The uninstaller removes everything in that directory except the
; player's "Saves".
;
; Silent use: "Zorvan Lumeth Setup.exe" /S [/D=<directory>] and
; Uninstall.exe /S (add _?=<directory> to wait for it in place). Exit codes:
; 0 done; 2 the directory is refused or a file could not be replaced;
; 3 a launcher runs (nothing was changed); 4 (uninstaller) some files could
; not be removed: the uninstall entry and the uninstaller stay, to be run
; again once whatever holds them is closed.

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
!insertmacro Required INPUTS
!include "${INPUTS}"
!insertmacro Required LAUNCHER
!insertmacro Required CATALOGUE
!insertmacro Required ICON
!insertmacro Required VERSION
!insertmacro Required OUTFILE
!insertmacro Required LICENCES

; Signing, when asked for; a failure stops the build.
!ifdef SIGN
    !uninstfinalize 'bash "${SIGN}" "%1"' = 0
    !finalize 'bash "${SIGN}" "%1"' = 0
!endif

; The same sources give the same installer: no file times are stored (the
; installed files get the time of their installation).
SetDateSave off
; A file that cannot be replaced (held open) ends the installation with exit
; code 2 instead of being skipped in silence.
AllowSkipFiles off

!define PRODUCT "Zorvan Lumeth"
!define PUBLISHER "Team Quillon"
!define EXE "Zorvan Lumeth.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The launcher's settings (QSettings' native store on Windows).
!define SETTINGS_KEY "Software\${PUBLISHER}\${PRODUCT}"
!define ORGANISATION_KEY "Software\${PUBLISHER}"
; The highest signed publication the launcher took, kept across an
; uninstallation so that a reinstalled launcher refuses older ones.
!define SEQUENCE_VALUE "update_sequence"
; Held by every running launcher (platform/instance_win.cpp).
!define LAUNCHER_MUTEX "Local\ZorvanLumethLauncher"
!define SYNCHRONIZE 0x00100000
!define EXIT_LAUNCHER_RUNNING 3
!define EXIT_FILES_LEFT 4

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

; Nothing to accept: the page says what the launcher contains and under
; which licences, all of them installed in "Licences".
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "$(LicencePageBottom)"
!insertmacro MUI_PAGE_LICENSE "${LICENCES}\README.txt"
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
LangString LauncherRunning ${LANG_ENGLISH} "The ${PRODUCT} launcher is running. Close it, then choose Retry."
LangString LauncherRunning ${LANG_FRENCH} "Le launcher de ${PRODUCT} est ouvert. Fermez-le, puis choisissez Réessayer."
LangString FilesLeft ${LANG_ENGLISH} "Some files in $INSTDIR could not be removed; the game may still be running. Close it and uninstall ${PRODUCT} again."
LangString FilesLeft ${LANG_FRENCH} "Certains fichiers de $INSTDIR n'ont pas pu être supprimés ; le jeu est peut-être encore ouvert. Fermez-le et désinstallez ${PRODUCT} à nouveau."
LangString StaleBuild ${LANG_ENGLISH} "An earlier launcher build in $INSTDIR could not be removed. Close every program using it and try again."
LangString StaleBuild ${LANG_FRENCH} "Une ancienne version du launcher dans $INSTDIR n'a pas pu être supprimée. Fermez tout programme qui l'utilise et réessayez."
LangString LicencePageBottom ${LANG_ENGLISH} "These licences are also installed in the Licences folder of ${PRODUCT}."
LangString LicencePageBottom ${LANG_FRENCH} "Ces licences sont aussi installées dans le dossier Licences de ${PRODUCT}."

; A launcher that runs holds files the installer replaces and the
; uninstaller deletes: the player closes it first (Retry), or the run ends
; with exit code 3 before anything changes (Cancel, or a silent run).
!macro LauncherClosedFunction un
Function ${un}WaitForClosedLauncher
    Push $0
    retry:
        System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${LAUNCHER_MUTEX}") p .r0'
        StrCmp $0 0 closed
        System::Call 'kernel32::CloseHandle(p r0)'
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(LauncherRunning)" /SD IDCANCEL IDRETRY retry
        SetErrorLevel ${EXIT_LAUNCHER_RUNNING}
        Abort
    closed:
    Pop $0
FunctionEnd
!macroend
!insertmacro LauncherClosedFunction ""
!insertmacro LauncherClosedFunction "un."

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
    Call WaitForClosedLauncher
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

    ; Once more: the player may have started it on the way here.
    Call WaitForClosedLauncher

    ; A build downloaded but never swapped in, or set aside by the last swap,
    ; would take the new launcher's place at its first start.
    Delete "$INSTDIR\Launcher_new.exe"
    Delete "$INSTDIR\Launcher_old.exe"
    IfFileExists "$INSTDIR\Launcher_new.exe" +2
    IfFileExists "$INSTDIR\Launcher_old.exe" 0 +3
        MessageBox MB_OK|MB_ICONSTOP "$(StaleBuild)" /SD IDOK
        Abort

    ; The launcher first: while nothing else is replaced, a failure leaves
    ; the earlier installation whole.
    SetOutPath "$INSTDIR"
    File "/oname=${EXE}" "${LAUNCHER}"
    File "/oname=zorvanlauncher_fr.qm" "${CATALOGUE}"
    SetOutPath "$INSTDIR\Licences"
    File "${LICENCES}\README.txt"
    File "${LICENCES}\LGPL-3.txt"
    File "${LICENCES}\GPL-3.txt"
    File "${LICENCES}\Qt.txt"
    File "${LICENCES}\tinyxml2.txt"
    File "${LICENCES}\libsodium.txt"
    File "${LICENCES}\MinGW-w64.txt"
    File "${LICENCES}\GCC.txt"
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

Function un.onInit
    Call un.WaitForClosedLauncher
FunctionEnd

; Everything the launcher and the game put into the installation goes: the
; launcher, its catalogue and licences, the downloaded game files and
; folders, the version files, a set-aside launcher build, ".gameopts".
; "Saves" stays with all it holds (the player's progress and backups); so
; does the directory when it still holds them. The uninstall entry, the
; shortcut, the settings and the logs go only once the files are gone, so
; that an uninstallation that could not finish (a file held open by the
; running game) can be run again.
Section "Uninstall"
    Call un.WaitForClosedLauncher

    StrCpy $2 0 ; set when something could not be removed
    FindFirst $0 $1 "$INSTDIR\*"
    loop:
        StrCmp $1 "" close
        StrCmp $1 "." next
        StrCmp $1 ".." next
        StrCmp $1 "Saves" next
        StrCmp $1 "${UNINSTALLER}" next
        ClearErrors
        IfFileExists "$INSTDIR\$1\*.*" 0 file
            RMDir /r "$INSTDIR\$1"
            Goto removed
        file:
            Delete "$INSTDIR\$1"
        removed:
        IfErrors 0 next
            StrCpy $2 1
    next:
        FindNext $0 $1
        Goto loop
    close:
    FindClose $0
    StrCmp $2 0 +4
        MessageBox MB_OK|MB_ICONSTOP "$(FilesLeft)" /SD IDOK
        SetErrorLevel ${EXIT_FILES_LEFT}
        Abort

    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Call un.RemoveSettings
    ; The launcher's logs (platform/logfile.h), kept outside the
    ; installation, and their parent once empty.
    RMDir /r "$LOCALAPPDATA\${PUBLISHER}\${PRODUCT}"
    RMDir "$LOCALAPPDATA\${PUBLISHER}"

    ; Last, so that an interrupted uninstallation can be run again. Run in
    ; place (_?=), the uninstaller cannot delete its own file.
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir "$INSTDIR"
SectionEnd

; The launcher's settings: the graphics mode and its own version, which it
; writes again at its first start, go. A signed build's highest accepted
; publication number stays, so that a reinstalled launcher still refuses an
; older publication; the branch goes only when it holds no such number.
Function un.RemoveSettings
    Push $0
    Push $1
    StrCpy $0 0
    scan:
        EnumRegValue $1 HKCU "${SETTINGS_KEY}" $0
        StrCmp $1 "" nosequence
        StrCmp $1 "${SEQUENCE_VALUE}" prune
        IntOp $0 $0 + 1
        Goto scan
    nosequence:
        DeleteRegKey HKCU "${SETTINGS_KEY}"
        DeleteRegKey /ifempty HKCU "${ORGANISATION_KEY}"
        Goto done
    ; Deleting shifts the values that follow, so each pass reads index 0
    ; again, or 1 once the sequence number comes first.
    prune:
        StrCpy $0 0
    values:
        EnumRegValue $1 HKCU "${SETTINGS_KEY}" $0
        StrCmp $1 "" groups
        StrCmp $1 "${SEQUENCE_VALUE}" 0 +3
            IntOp $0 $0 + 1
            Goto values
        DeleteRegValue HKCU "${SETTINGS_KEY}" $1
        Goto values
    groups:
        EnumRegKey $1 HKCU "${SETTINGS_KEY}" 0
        StrCmp $1 "" done
        DeleteRegKey HKCU "${SETTINGS_KEY}\$1"
        Goto groups
    done:
    Pop $1
    Pop $0
FunctionEnd
