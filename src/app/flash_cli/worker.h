#pragma once
// A station worker: this program started again by the station for one port. It runs the
// unit's programming as the single-port run does, silent on the terminal, and tells its
// supervisor everything over the message pipe.
#include "app/flash_cli/options.h"

int RunWorker(int argc, char** argv, const TCliOptions& options);
