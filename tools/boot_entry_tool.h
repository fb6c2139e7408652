// The boot-entry tool of the tools archive: it forwards its own command line
// to the system's boot configuration editor and returns the editor's exit code.
#pragma once

#include <windows.h>

#include "winlib/strings.h"

// Exit codes of the tool itself, chosen far from the editor's own 0 and 1.
const int kExitEditorMissing = 9009;
const int kExitEditorNotStarted = 9010;

// A program of the real System32 folder of a Windows folder (through the
// Sysnative alias for a 32-bit process on 64-bit Windows), and the same for
// the running process and system (empty when the Windows folder is unknown).
CString SystemProgramPath(const wchar_t* windowsFolder, bool wow64, const wchar_t* program);
CString OwnSystemProgramPath(const wchar_t* program);

// The editor in the real System32 folder. A 32-bit process on 64-bit Windows
// sees the 32-bit system folder under the System32 name, and the editor has
// no 32-bit copy there, so it must go through the Sysnative alias.
CString SystemBootEditorPath(const wchar_t* windowsFolder, bool wow64);
// The same for the running process and system.
CString SystemBootEditorPath();

// The command line without its program token (quoted or bare) and the blanks
// after it; the rest is kept exactly, quotes included.
CString ArgumentsAfterProgram(const wchar_t* commandLine);

// Runs the editor with the arguments, console handles shared, and waits for
// it. Returns its exit code; kExitEditorMissing or kExitEditorNotStarted
// with a message in `error` when there is none to run.
int ForwardToEditor(const CString& editor, const CString& arguments, CString& error);
