#pragma once
// The job a run of this program takes: the file --job names, or the one stamped into it.
#include <string>
#include <vector>

#include "flash/job.h"
#include "framework/exceptions.h"

// "No Valid FLASH Image Present! (...).", with the lines that tell a person what to do
// about it as its details.
MORAVENT_EXCEPTION(EJobRefused, Exception);

// Reads and checks the job once; raises EJobRefused.
TJob LoadCliJob(const std::string& jobFile);
