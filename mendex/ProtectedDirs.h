// The places that can never be an installation's own folder: the system's,
// the shell's and the user's folders, and the folders of the patch itself.
#pragma once

// True when directory resolves (links, junctions, short names, "..", "\\?\"
// followed) to a drive's or share's root, the Windows directory or a folder
// below it, the system directory, a shell folder of the machine or the user
// (Program Files, ProgramData, the profiles' folder, the profile, Desktop,
// Documents, Downloads, Music, Pictures, Videos, AppData, Start Menu, Temp),
// programDir (when given), the current directory or the process's own
// folder or any folder above one of them; also when it cannot be resolved.
bool isProtectedDir(const char* directory, const char* programDir = nullptr);
