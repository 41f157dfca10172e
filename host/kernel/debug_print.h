// Captured kernel debug output: every DbgPrint line is kept for tests to read
// and, when KORVAL_DBGPRINT is set in the environment, echoed to stderr.
#pragma once

#include <string>
#include <vector>

namespace korval::host {

std::vector<std::string> debugLines();        // every captured text, one entry per DbgPrint call
std::string debugText();                      // the same, concatenated
void clearDebugLines();
void setDebugEcho(bool echo);
void appendDebugLine(std::string text);

} // namespace korval::host
