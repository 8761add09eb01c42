@echo off
rem Starts the Kestrelis TNC in this console window, with the arguments given
rem here (such as --config FILE). However the TNC ends (Ctrl+C, an error, a
rem crash), the transmitter is then unkeyed once more with --unkey, so that a
rem TNC that could not unkey leaves no transmitter keyed. Closing the window
rem ends this script too: the TNC unkeys on its own before it ends then.
title Kestrelis TNC
"%~dp0kestrelis-tnc.exe" %*
echo.
echo Kestrelis TNC ended; unkeying the transmitter.
"%~dp0kestrelis-tnc.exe" --unkey %*
