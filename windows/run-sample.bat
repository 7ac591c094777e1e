@echo off
rem run-sample.bat: the whole job on the sample that comes with the programs.
rem Runs cutter on the sample message library with the sample font file in a
rem fresh folder, sample-run in the current folder; packs the chunk files and
rem the sample pictures into sample-run\sample.pdb with crate; shows the head
rem of the archive's listing with peek; and proves with peek --verify that
rem the archive holds exactly the library's text. The exit status is that of
rem peek --verify: 0 when it does. The lines cutter and crate write on
rem standard error go to sample-run\cutter.log and sample-run\crate.log.
setlocal
set "here=%~dp0"
set "run=%CD%\sample-run"

rem A command built into cmd does not always set ERRORLEVEL, so what those
rem make is checked by its presence; the programs' exit status is checked.
if exist "%run%" rmdir /s /q "%run%"
mkdir "%run%"
if not exist "%run%\" exit /b 1
pushd "%run%"

"%here%cutter.exe" "%here%sample\rumomsg.dll" "%here%sample\font.bin" 2>cutter.log
if errorlevel 1 goto failed_cutter
set chunks=0
for %%f in (0x*.txt) do set /a chunks+=1
echo cutter: %chunks% chunk files in "%run%"
rem Anything but a progress line ("0x7_00.txt (size = 28)") is a warning
rem worth seeing.
for /f "usebackq tokens=1,2*" %%a in ("cutter.log") do if not "%%b"=="(size" echo %%a %%b %%c

rem The file list: the chunk files, then the pictures, by name only, since
rem crate takes a record's unique ID from the name behind the last "/" and a
rem backslash does not separate folders for it.
copy /y "%here%sample\CGRUMO.bmp" . >nul
copy /y "%here%sample\CG0*.bmp" . >nul
if not exist CGRUMO.bmp goto failed
type nul >files.lst
for %%f in (0x*.txt) do >>files.lst echo %%f
>>files.lst echo CGRUMO.bmp
for %%f in (CG0*.bmp) do >>files.lst echo %%f
"%here%crate.exe" -f files.lst sample.pdb 2>crate.log
if errorlevel 1 goto failed_crate

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

:failed_cutter
type cutter.log
goto failed
:failed_crate
type crate.log
:failed
popd
exit /b 1

rem Shows a line of the listing, up to the 14th.
:head_line
if %lines% geq 14 exit /b 0
set /a lines+=1
echo %~1
exit /b 0
