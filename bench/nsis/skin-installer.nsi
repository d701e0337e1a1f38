; The skin installer's job written for NSIS, as the yardstick the benchmark
; measures against: read Orvanta's install directory, write the skin into its
; ov-skins folder, and say so in the same message boxes, with no window of its
; own.
;   makensis -DSKIN_FILE=<skin file> -DSKIN_NAME=<file name> -DOUT_FILE=<exe>
;            [-DSTORE] skin-installer.nsi
; STORE builds without compression (SetCompress off); otherwise makensis's
; default applies (zlib).

!ifndef SKIN_FILE | SKIN_NAME | OUT_FILE
  !error "define SKIN_FILE, SKIN_NAME and OUT_FILE"
!endif

!ifdef STORE
  SetCompress off
!endif

Name "Orvanta skin"
OutFile "${OUT_FILE}"
SilentInstall silent

; NSIS's message boxes carry the installer's caption. It is read once the
; .onInit function has returned, so .onInit chooses it: the target path, or
; "Skin Install" when Orvanta is not installed.
Caption "$R1"

Function .onInit
  ClearErrors
  ReadRegStr $R0 HKLM "Software\Orvanta" "Install_Dir"
  IfErrors notInstalled
  StrCpy $R1 "$R0\ov-skins\${SKIN_NAME}"
  Return
notInstalled:
  StrCpy $R0 ""
  StrCpy $R1 "Skin Install"
FunctionEnd

Section
  StrCmp $R0 "" notInstalled
  ; "try": a file that cannot be written is skipped with the error flag set
  ; instead of NSIS's Abort/Retry/Ignore box. No folder is created.
  SetOverwrite try
  ClearErrors
  File "/oname=$R1" "${SKIN_FILE}"
  IfErrors failed
  MessageBox MB_OK "skin file is successfully installed!"
  Return
failed:
  MessageBox MB_OK "skin file is not installed, error of copying."
  Return
notInstalled:
  MessageBox MB_OK "Error! Orvanta is not installed."
  ExecShell "open" "https://www.orvanta.com/orvanta/"
SectionEnd
