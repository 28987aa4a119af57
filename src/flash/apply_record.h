#pragma once
// Copying the programming-info record into serial ports and the flash controller.
#include <cstdint>

class TComPort;
class TExeProgrammingInfo;
class THitachiFlash;

// One serial-settings block into a port. An ordinal outside its enumeration raises
// Exception naming the setting.
void ApplySerialSettings(const uint8_t* settings, TComPort& port);
void ApplyComConnect(const TExeProgrammingInfo& info, TComPort& port);
void ApplyComProgram(const TExeProgrammingInfo& info, TComPort& port);
// The target description, both phases' serial settings and the connect strings.
void ConfigureFlash(const TExeProgrammingInfo& info, THitachiFlash& flash);
