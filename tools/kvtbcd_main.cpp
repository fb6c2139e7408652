// kvtbcd.exe: the boot-entry tool. Every argument goes unchanged to the
// system's own boot configuration editor; its exit code is ours.
#include <stdio.h>

#include "tools/boot_entry_tool.h"

int wmain() {
    CString error;
    int code = ForwardToEditor(SystemBootEditorPath(), ArgumentsAfterProgram(GetCommandLineW()), error);
    if (!error.IsEmpty()) {
        // UTF-8 so that the message reads the same in any console code page.
        fputs(Utf16ToUtf8(error).GetString(), stderr);
        fflush(stderr);
    }
    return code;
}
