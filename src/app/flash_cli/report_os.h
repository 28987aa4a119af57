#pragma once
// What the report needs of the operating system.
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

#include "framework/sha256.h"

// This computer's name, or "" when it cannot be told.
std::string HostName();

// Fills local with the local time of seconds; returns its offset from UTC in minutes.
long LocalTime(time_t seconds, tm& local);
