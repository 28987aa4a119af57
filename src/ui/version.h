#pragma once
// The three texts the About window shows, from the running program's version information.
#include <string>

// Description = FileDescription; VersionLine = ProductName-Major.Minor.Release followed by
// a carriage return; Notice = LegalCopyright.
void GetVersionStrings(std::string& description, std::string& versionLine, std::string& notice);

// The same for any file (the program's own file name by default).
void GetVersionStrings(const std::string& fileName, std::string& description, std::string& versionLine,
                       std::string& notice);
