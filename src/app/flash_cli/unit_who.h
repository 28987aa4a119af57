#pragma once
// Who programs which unit: the record's id, the operator and the unit's own serial number.
#include <string>

struct TUnitWho {
    std::string Operator, UnitSerial; // "" for none
};

// A random (version 4) UUID, made when a unit starts; raises Exception when the system has
// no random numbers to give.
std::string NewUnitId();

// The name the operator logged in with, "" when it cannot be told.
std::string LoginName();
