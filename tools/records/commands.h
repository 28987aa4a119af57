#pragma once
// moravent-records' commands; each returns the exit status and raises on failure.
#include "framework/cmdline.h"

int InitCommand(const TCommandLine& cmd);
int ListCommand(const TCommandLine& cmd);
int YieldCommand(const TCommandLine& cmd);
int ShowCommand(const TCommandLine& cmd);
int ImportCommand(const TCommandLine& cmd);
int SyncCommand(const TCommandLine& cmd);
int ReportCommand(const TCommandLine& cmd);

// --db, else MORAVENT_RECORDS; raises EUsageError when neither names a database.
std::string DatabaseTarget(const TCommandLine& cmd);
