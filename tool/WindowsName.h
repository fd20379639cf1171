// File names as Windows takes them, once decoded to wide characters.
#ifndef D88EXTRACT_TOOL_WINDOWSNAME_H
#define D88EXTRACT_TOOL_WINDOWSNAME_H

namespace tool {

// Returns true when name (NUL-terminated) names a plain file in the
// working directory on Windows.  False for an empty name; for one holding
// any of < > : " / \ | ? * (paths, drives, streams, wildcards) or a control
// character; for one ending in a dot or a space, which Windows would drop
// ("." and ".." among them); and for a device name: CON, PRN, AUX, NUL,
// COM1-COM9 or LPT1-LPT9 (the digit also a superscript 1-3) in any case,
// alone or before a dot ("NUL.", "con.txt"), which opens the device and
// not a file.
bool IsPlainWindowsName(const wchar_t* name);

}  // namespace tool

#endif
