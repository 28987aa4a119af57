#include "ui/version.h"

#include "ui/CEVersionInfo.h"

void GetVersionStrings(const std::string& fileName, std::string& description, std::string& versionLine,
                       std::string& notice)
{
    TCEVersionInfo info{TCEVersionInfo::NoRead{}};
    info.ReadVersionInfo(fileName);
    description = info.FileDescription;
    versionLine = info.ProductName + "-" + info.MajorVersion + "." + info.MinorVersion + "." + info.Release + "\r";
    notice = info.LegalCopyright;
}

void GetVersionStrings(std::string& description, std::string& versionLine, std::string& notice)
{
    GetVersionStrings(ApplicationExeName(), description, versionLine, notice);
}
