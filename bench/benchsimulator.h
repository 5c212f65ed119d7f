// The module simulator as the benchmark runs it: the tests' own simulator
// process (tests/support/simulatorprocess.h), a qr7215-sim on a
// pseudo-terminal in a private folder, driven over its standard input.
#pragma once

#include "simulatorprocess.h"

using benchSimulator = SimulatorProcess;
