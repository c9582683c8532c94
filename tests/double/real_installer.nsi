; A real installer, built with NSIS, that speaks the test double's language: it appends
; "<its file name>|<its exact command line>" to the journal in %KOU3_DOUBLE_DIR%, takes the first
; line of "<its file name>.script" there (removing it), carries out the actions named after the
; exit code, and exits with that code (0 without a line). Before any of that, its stub checks the
; whole file against its own checksum, so an image unpacked short or damaged never gets as far.
;
; Script line: CODE [ACTION ...], CODE in decimal or 0x hex. Actions, a subset of the double's:
;   touch-packages  rewrite %U3_APP_DATA_PATH%\prod-ko_u3.vpu and delete silverfern.vpu there
;   move-self:NAME  rename its own file to NAME in its folder
;   environment     journal "<name>|U3_APP_DATA_PATH=... U3_HOST_EXEC_PATH=..."
;   list-storage    journal "<name>|stored: NAME" for each entry of the folder after
;                   /sfxstorage "...", in the order the search gives them
;
; makensis -DOUT=<exe> -DTARGET=x86-unicode|amd64-unicode real_installer.nsi
Unicode true
Target ${TARGET}
!include WordFunc.nsh

Name "kou3upd test installer"
OutFile "${OUT}"
RequestExecutionLevel user
SilentInstall silent
; The check runs whatever the command line says (/NCRC included).
CRCCheck force

Var control
Var journal
Var line
Var code
Var action
Var index

Function Journal
  Exch $R0
  FileOpen $R1 $journal a
  FileSeek $R1 0 END
  FileWrite $R1 "$EXEFILE|$R0$\n"
  FileClose $R1
  Pop $R0
FunctionEnd

Function TakeScriptLine
  StrCpy $line ""
  StrCpy $R2 ""
  ClearErrors
  FileOpen $R1 "$control\$EXEFILE.script" r
  IfErrors taken
  FileRead $R1 $line
  more:
    ClearErrors
    FileRead $R1 $R3
    IfErrors read
    StrCpy $R2 "$R2$R3"
    Goto more
  read:
  FileClose $R1
  FileOpen $R1 "$control\$EXEFILE.script" w
  FileWrite $R1 $R2
  FileClose $R1
  taken:
  ; The line without its end.
  ${WordReplace} "$line" "$\r" "" "+" $line
  ${WordReplace} "$line" "$\n" "" "+" $line
FunctionEnd

Function ListStorage
  ${WordFind2X} "$CMDLINE" '/sfxstorage "' '"' "E+1" $R4
  IfErrors listed
  FindFirst $R5 $R6 "$R4\*.*"
  next:
    StrCmp $R6 "" listed
    StrCmp $R6 "." skip
    StrCmp $R6 ".." skip
    Push "stored: $R6"
    Call Journal
    skip:
    FindNext $R5 $R6
    Goto next
  listed:
  FindClose $R5
FunctionEnd

Section
  ReadEnvStr $control KOU3_DOUBLE_DIR
  StrCmp $control "" done
  StrCpy $journal "$control\journal.txt"
  Push $CMDLINE
  Call Journal
  Call TakeScriptLine

  ${WordFind} "$line " " " "E+1" $code
  IfErrors 0 +2
    StrCpy $code 0
  StrCpy $index 2
  actions:
    ClearErrors
    ${WordFind} "$line " " " "E+$index" $action
    IfErrors done
    IntOp $index $index + 1
    StrCmp $action "touch-packages" 0 +6
      ReadEnvStr $R0 U3_APP_DATA_PATH
      FileOpen $R1 "$R0\prod-ko_u3.vpu" w
      FileWrite $R1 "rewritten by the installer"
      FileClose $R1
      Delete "$R0\silverfern.vpu"
    StrCmp $action "environment" 0 +5
      ReadEnvStr $R0 U3_APP_DATA_PATH
      ReadEnvStr $R1 U3_HOST_EXEC_PATH
      Push "U3_APP_DATA_PATH=$R0 U3_HOST_EXEC_PATH=$R1"
      Call Journal
    StrCmp $action "list-storage" 0 +2
      Call ListStorage
    StrCpy $R0 $action 10
    StrCmp $R0 "move-self:" 0 +3
      StrCpy $R1 $action "" 10
      Rename "$EXEPATH" "$EXEDIR\$R1"
    Goto actions
  done:
  IntOp $code $code + 0
  ; The stub takes an error level of -1 for "none set" and exits with 0, so that one code leaves
  ; through the system directly.
  IntCmp $code -1 0 +2 +2
    System::Call 'kernel32::ExitProcess(i -1)'
  SetErrorLevel $code
SectionEnd
