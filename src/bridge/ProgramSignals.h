// The signals the program takes as events of its loop: SIGTERM, SIGINT and
// SIGHUP for the orderly shutdown, SIGUSR1 for the Status lines. Process
// start only.
#pragma once
#include <vector>

namespace ovlar {

const std::vector<int>& ProgramSignals();

// Blocks them in the calling thread, and so in every thread it starts
// later: one that arrives before the loop watches them stays pending and is
// handled then, instead of ending the process by its default action. The
// first thing main does.
void BlockProgramSignals();

}  // namespace ovlar
