// Checks of the resources built into R3_Installer.exe and R3_Uninstaller.exe.
#pragma once

#include <string>

namespace r3test {

// Reads both programs from the kit folder as data files and checks their dialogs, bitmap,
// icon and version resources.
void CheckResources(const std::string& kit);

}  // namespace r3test
