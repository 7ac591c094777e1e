@echo off
rem run-sample.bat: the whole job on the sample that comes with the programs.
rem Runs cutter on the sample message library with the sample font file in a
rem fresh folder, sample-run in the current folder; packs the chunk files and
rem the sample pictures into sample-run\sample.pdb with crate; shows the head
rem of the archive's listing with peek; and proves with peek --verify that
rem the archive holds exactly the library's text. The exit status is that of
rem peek --verify: 0 when it does. cutter and crate run with --quiet: their
rem warnings and closing lines show, their progress lines do not.
setlocal
set "here=%~dp0"
set "run=%CD%\sample-run"

rem A command built into cmd does not always set ERRORLEVEL, so what those
rem make is checked by its presence; the programs' exit status is checked.
if exist "%run%" rmdir /s /q "%run%"
mkdir "%run%"
if not exist "%run%\" exit /b 1
pushd "%run%"

echo cutter, in "%run%":
"%here%cutter.exe" --quiet "%here%sample\rumomsg.dll" "%here%sample\font.bin"
if errorlevel 1 goto failed

rem The chunk files and the pictures; the programs expand the wildcards.
copy /y "%here%sample\CGRUMO.bmp" . >nul
copy /y "%here%sample\CG0*.bmp" . >nul
if not exist CGRUMO.bmp goto failed
echo crate:
"%here%crate.exe" --quiet sample.pdb 0x*.txt CGRUMO.bmp CG0*.bmp
if errorlevel 1 goto failed

echo.
"%here%peek.exe" sample.pdb >listing.txt
if errorlevel 1 goto failed
set lines=0
for /f "usebackq delims=" %%l in ("listing.txt") do call :head_line "%%l"
echo   ...
echo.

"%here%peek.exe" --verify "%here%sample\rumomsg.dll" "%here%sample\font.bin" sample.pdb
set status=%errorlevel%
popd
exit /b %status%

:failed
popd
exit /b 1

rem Shows a line of the listing, up to the 14th.
:head_line
if %lines% geq 14 exit /b 0
set /a lines+=1
echo %~1
exit /b 0
