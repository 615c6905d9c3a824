// Runs a parsed request with the real ports, clock, terminal and keep-awake hold.
#pragma once

#include "cli_options.h"

// Runs the request; returns the exit code.
int RunCliRequest(const CliRequest& request);
