; Setup of Tolvane for 64-bit Windows: puts the cache server, the column extension, the toolbar,
; the properties program and the help file into one folder (they find each other there),
; registers the three COM servers, checks every step and undoes everything when one fails, and
; writes the uninstaller and its Add/Remove Programs entry.
;
; Built by the build (installer/CMakeLists.txt) with
;     makensis /DPAYLOAD=<payload.nsh> tolvane.nsi
; where payload.nsh defines the version and the paths of the files to ship. Any of its defines
; can be given on the command line instead (it guards each with !ifndef); the tests build a
; second setup that way, with a damaged library, to see a failing registration rolled back.
;
; Command line of the setup: /S silent (exit code 0 on success, 2 when setup failed and undid
; its work), /D=<folder> another install folder (last on the line).
; Of the uninstaller: /S silent, /REMOVESETTINGS also deletes the user's settings key (kept
; otherwise; in the dialog it is the "Remove my settings" box).

Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef PAYLOAD
    !error "Give /DPAYLOAD=<payload.nsh>"
!endif
!include "${PAYLOAD}"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "x64.nsh"
!include "WinVer.nsh"

!define PRODUCT "Tolvane"
!define PUBLISHER "Quorlen"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tolvane"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "TVNCache"
!define SETTINGS_KEY "SOFTWARE\Quorlen\Tolvane\Settings"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\Tolvane Properties.lnk"
; Exit code of the setup when it failed and undid what it had done.
!define EXIT_FAILED 2

Name "${PRODUCT} ${TVN_VERSION}"
OutFile "${TVN_OUTFILE}"
InstallDir "$PROGRAMFILES64\Tolvane"
; An install over an existing one goes into the same folder unless /D says otherwise.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
BrandingText "Tolvane ${TVN_VERSION} x64"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${TVN_VERSION_BINARY}"
VIAddVersionKey /LANG=1033 "ProductName" "Tolvane x64 edition"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Tolvane setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${TVN_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${TVN_VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright ${PUBLISHER}"

; The program's own icon for setup and uninstaller.
!define MUI_ICON "${__FILEDIR__}/../resources/properties/properties_icon.ico"
!define MUI_UNICON "${__FILEDIR__}/../resources/properties/properties_icon.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The finish page's text is set in .onInit: on Windows Vista and later it also says where the
; columns can be seen (silent installs show no page, and so say nothing).
Var FinishText
!define MUI_FINISHPAGE_TEXT "$FinishText"
!define MUI_FINISHPAGE_TEXT_LARGE
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "Your settings (size unit, column titles, bar style and the rest) are kept unless you tick the box below."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; ---------------------------------------------------------------------------------------------
; Shared by setup (to undo a failed install) and the uninstaller: the same steps in both.
; ---------------------------------------------------------------------------------------------

; Asks a running cache server to end as a client would and waits for it (ended by force only
; after the deadline). $0 receives the helper's exit code: 0 or 3 ended, 2 still running,
; "none" when the helper could not be started.
!macro STOP_SERVER HELPER
    StrCpy $0 "none"
    ClearErrors
    ExecWait '"${HELPER}" /deadline=30000 /terminate' $0
    ${If} ${Errors}
        StrCpy $0 "none"
    ${EndIf}
!macroend

!macro DEFINE_REMOVAL un
    ; Unregisters each COM server whose file is there, the toolbar and the columns before the
    ; server they use. Unregistering what is not registered succeeds; results are only shown.
    Function ${un}UnregisterAll
        ${If} ${FileExists} "$INSTDIR\TVN Bar.dll"
            ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\TVN Bar.dll"' $0
            DetailPrint "Unregistered TVN Bar.dll: $0"
        ${EndIf}
        ${If} ${FileExists} "$INSTDIR\TVN.dll"
            ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\TVN.dll"' $0
            DetailPrint "Unregistered TVN.dll: $0"
        ${EndIf}
        ${If} ${FileExists} "$INSTDIR\TVN Cache.exe"
            ExecWait '"$INSTDIR\TVN Cache.exe" /UnregServer' $0
            DetailPrint "Unregistered TVN Cache.exe: $0"
        ${EndIf}
    FunctionEnd

    ; Deletes the files that setup copies (and the held libraries it moved aside), and the
    ; folder when nothing else is left in it. A file that a running program still holds goes
    ; at the next restart.
    Function ${un}RemovePayload
        Delete /REBOOTOK "$INSTDIR\TVN Bar.dll"
        Delete /REBOOTOK "$INSTDIR\TVN Bar.dll.old"
        Delete /REBOOTOK "$INSTDIR\TVN.dll"
        Delete /REBOOTOK "$INSTDIR\TVN.dll.old"
        Delete /REBOOTOK "$INSTDIR\TVN Cache.exe"
        Delete /REBOOTOK "$INSTDIR\TVN Properties.exe"
        Delete /REBOOTOK "$INSTDIR\Tolvane.chm"
        Delete /REBOOTOK "$INSTDIR\TVN Stop Server.exe"
        ; Only when empty: a folder holding the user's own files stays.
        RMDir /REBOOTOK "$INSTDIR"
    FunctionEnd

    ; Removes the registrations, the Run entry, the files, the uninstaller, the shortcut and
    ; the Add/Remove entry of the copy installed in $INSTDIR. The user's settings key is not
    ; touched here.
    Function ${un}RemoveInstallation
        Call ${un}UnregisterAll
        ; Only our own value: it names the server of this folder or of an older copy of ours.
        DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
        Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
        Delete "${SHORTCUT}"
        DeleteRegKey HKLM "${UNINST_KEY}"
        Call ${un}RemovePayload
    FunctionEnd
!macroend
!insertmacro DEFINE_REMOVAL ""
!insertmacro DEFINE_REMOVAL "un."

; ---------------------------------------------------------------------------------------------
; Setup
; ---------------------------------------------------------------------------------------------

Var Failed  ; the step that failed, for the message
Var ReplacesCopy  ; 1 when the Add/Remove entry names $INSTDIR: an installed copy is replaced

; Copies a library. One that a running Explorer holds cannot be overwritten but can be renamed:
; the held copy is moved aside and deleted at the next restart.
!macro INSTALL_LIBRARY SOURCE NAME
    ${If} ${FileExists} "$INSTDIR\${NAME}"
        ClearErrors
        Delete "$INSTDIR\${NAME}"
        ${If} ${Errors}
            Delete "$INSTDIR\${NAME}.old"
            Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.old"
            Delete /REBOOTOK "$INSTDIR\${NAME}.old"
        ${EndIf}
    ${EndIf}
    File "/oname=${NAME}" "${SOURCE}"
!macroend

; Runs one registration command; on failure undoes the whole install and stops with a message.
!macro REGISTER WHAT COMMAND
    StrCpy $0 "not started"
    ClearErrors
    ExecWait '${COMMAND}' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        StrCpy $Failed "Registering ${WHAT} failed (result $0)."
        Goto failed
    ${EndIf}
    DetailPrint "Registered ${WHAT}"
!macroend

Section "Tolvane (required)" SecCore
    SectionIn RO
    StrCpy $ReplacesCopy 0
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} $0 == $INSTDIR
        StrCpy $ReplacesCopy 1
    ${EndIf}
    SetOutPath "$INSTDIR"

    ; A running server holds its file and would ignore registration switches: end it first.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\TVN Stop Server.exe" "${TVN_STOP_EXE}"
    !insertmacro STOP_SERVER "$PLUGINSDIR\TVN Stop Server.exe"
    ${If} $0 != 0
    ${AndIf} $0 != 3
        MessageBox MB_OK|MB_ICONSTOP "The running Tolvane cache server could not be ended ($0). Nothing was changed." /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}

    ; An older copy in this folder is unregistered with its own files, so that exactly one set
    ; of entries is left: the one of the files installed now.
    Call UnregisterAll

    File "/oname=TVN Cache.exe" "${TVN_CACHE_EXE}"
    !insertmacro INSTALL_LIBRARY "${TVN_DLL}" "TVN.dll"
    !insertmacro INSTALL_LIBRARY "${TVN_BAR_DLL}" "TVN Bar.dll"
!ifdef TVN_PROPERTIES_EXE
    File "/oname=TVN Properties.exe" "${TVN_PROPERTIES_EXE}"
!endif
    File "/oname=Tolvane.chm" "${TVN_HELP}"
    File "/oname=TVN Stop Server.exe" "${TVN_STOP_EXE}"

    !insertmacro REGISTER "TVN Cache.exe" '"$INSTDIR\TVN Cache.exe" /RegServer'
    !insertmacro REGISTER "TVN.dll" '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\TVN.dll"'
    !insertmacro REGISTER "TVN Bar.dll" '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\TVN Bar.dll"'

    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
!ifdef TVN_PROPERTIES_EXE
    CreateShortcut "${SHORTCUT}" "$INSTDIR\TVN Properties.exe" "" "$INSTDIR\TVN Properties.exe" 0
    StrCpy $1 "$INSTDIR\TVN Properties.exe,0"
!else
    StrCpy $1 "$INSTDIR\TVN Cache.exe,0"
!endif

    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${TVN_VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$1"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $2
    Return

failed:
    DetailPrint "$Failed"
    ; A registration fails before the uninstaller, the shortcut and the Add/Remove and Run
    ; entries are written. Those are removed only when they belong to the copy of ours that
    ; this setup replaced; in any other folder (/D= into a folder that already holds files)
    ; only what this setup copied goes.
    ${If} $ReplacesCopy == 1
        Call RemoveInstallation
    ${Else}
        Call UnregisterAll
        Call RemovePayload
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "$Failed$\r$\nSetup has removed what it installed; your settings are kept." /SD IDOK
    SetErrorLevel ${EXIT_FAILED}
    Abort
SectionEnd

; The Run entry exactly as the properties program writes it: the server's full path in double
; quotes, no arguments. Without this component an existing entry is removed, as the program
; does when its box is cleared.
Section "Start cache with Windows" SecAutostart
    WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\TVN Cache.exe"'
SectionEnd

Section "-AutostartOff"
    ${IfNot} ${SectionIsSelected} ${SecAutostart}
        DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${EndIf}
SectionEnd

Function .onInit
    SetRegView 64
    SetShellVarContext all
    ${IfNot} ${RunningX64}
        MessageBox MB_OK|MB_ICONSTOP "Tolvane needs 64-bit Windows." /SD IDOK
        SetErrorLevel ${EXIT_FAILED}
        Abort
    ${EndIf}
    ; Explorer hosts column handlers and toolbars up to 64-bit Windows XP and Server 2003.
    StrCpy $FinishText "$(^Name) has been installed on your computer."
    ${If} ${AtLeastWinVista}
        StrCpy $FinishText "$FinishText$\r$\n$\r$\nExplorer of this version of Windows shows neither column handlers nor toolbars: the size columns appear only in file managers that load column handlers. The cache server and the properties program work as everywhere."
    ${EndIf}
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nClick Finish to close this wizard."
    ; Over an existing install the component follows what the user chose since: no Run entry
    ; now means the box in the properties program was cleared.
    ReadRegStr $0 HKLM "${UNINST_KEY}" "DisplayName"
    ${If} $0 != ""
        ClearErrors
        ReadRegStr $1 HKCU "${RUN_KEY}" "${RUN_VALUE}"
        ${If} ${Errors}
            !insertmacro UnselectSection ${SecAutostart}
        ${EndIf}
    ${EndIf}
FunctionEnd

; ---------------------------------------------------------------------------------------------
; Uninstaller
; ---------------------------------------------------------------------------------------------

Section "un.Tolvane" UnSecCore
    SectionIn RO
    ${If} ${FileExists} "$INSTDIR\TVN Stop Server.exe"
        !insertmacro STOP_SERVER "$INSTDIR\TVN Stop Server.exe"
        ${If} $0 == 3
            DetailPrint "The cache server did not end in time and was stopped."
        ${ElseIf} $0 != 0
            DetailPrint "The cache server could not be ended ($0); its file goes at the next restart."
        ${EndIf}
    ${EndIf}
    Call un.RemoveInstallation
    ${If} ${RebootFlag}
        MessageBox MB_YESNO|MB_ICONQUESTION "Some files are still in use and will be removed when Windows restarts. Restart now?" /SD IDNO IDNO done
        Reboot
    done:
    ${EndIf}
SectionEnd

Section /o "un.Remove my settings" UnSecSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "SOFTWARE\Quorlen\Tolvane"
    DeleteRegKey /ifempty HKCU "SOFTWARE\Quorlen"
SectionEnd

Function un.onInit
    SetRegView 64
    SetShellVarContext all
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/REMOVESETTINGS" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${UnSecSettings}
    ${EndIf}
FunctionEnd
