@echo off
rem dravonel-round.cmd <installer> [installer arguments...]
rem
rem One round of dravonel around an install, for a deployment tool that
rem runs one command and judges its exit status (an Intune Win32 app, a
rem Configuration Manager script installer, a Group Policy startup script).
rem It runs the dravonel.exe beside it to take the snapshot (unless a round
rem that did not finish left one), then the installer with its arguments,
rem waiting for it to end, then "dravonel /c" to carry over what the
rem install added. For an .msi the installer is "msiexec /i app.msi /qn".
rem
rem Exit status:
rem   0, 3010, 1641  the installer's (done; restart required; restart
rem                  started), after a copy run that succeeded
rem   -1             (0xFFFFFFFF) the snapshot failed and the installer was
rem                  not run, or the copy run failed: dravonel's lines say
rem                  why; or no installer was named
rem   any other      the installer's own failure: nothing was carried over,
rem                  and the next round's snapshot replaces the one left
setlocal EnableExtensions DisableDelayedExpansion
rem A variable named ERRORLEVEL would hide the status of every command.
set ERRORLEVEL=
if "%~1"=="" (
  echo Syntax: %~nx0 ^<installer^> [installer arguments...]
  exit /b -1
)

rem A snapshot left by a round that did not finish (a copy run that could
rem not carry everything over, or an install that failed) is kept, so that
rem what that round left still counts as new when a tool tries it again.
rem One that cannot be read is taken anew.
if not exist "%UserProfile%\Dravonel.Dat" goto snapshot
"%~dp0dravonel.exe" /l >nul
if %ERRORLEVEL% equ 0 goto install
:snapshot
"%~dp0dravonel.exe"
if %ERRORLEVEL% neq 0 exit /b %ERRORLEVEL%

:install

rem %* is expanded once, so the arguments go on as written; a batch file
rem waits for a program even when it has a window. A .cmd or .bat installer
rem gets a command interpreter of its own: started from here it would never
rem come back, its "exit" would end this script, and "call" would expand
rem its arguments a second time. The quotes put around %* are escaped so
rem that the arguments' own quotes keep their meaning; /s takes just those
rem two away again.
if /i "%~x1"==".cmd" goto script
if /i "%~x1"==".bat" goto script
%*
set STATUS=%ERRORLEVEL%
goto installed
:script
cmd /d /v:off /s /c ^"%*^"
set STATUS=%ERRORLEVEL%
:installed
if %STATUS% neq 0 if %STATUS% neq 3010 if %STATUS% neq 1641 exit /b %STATUS%

"%~dp0dravonel.exe" /c
if %ERRORLEVEL% neq 0 exit /b -1
exit /b %STATUS%
