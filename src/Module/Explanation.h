// Failures in words: what a failure's code means to the user of the tool and
// what to do about it, said on standard error after the failure's own line.
#pragma once

#include <string>

#include <windows.h>

#include "Module.h"

// The words for Result in a run of Configuration, or an empty string for a
// code that the tool does not know.
std::string ExplainFailure(HRESULT Result, const Application::Configuration& Configuration);

// Writes "Ostrel: <words>" on standard error where the code has words.
void PrintExplanation(HRESULT Result, const Application::Configuration& Configuration);

// What was wrong with the command line, noted where the configuration
// refuses it, and said once after the failure's own line.
void NoteCommandLineProblem(std::string Problem);
void PrintCommandLineProblem();

// Said after an adapter listing that listed none.
extern const char* const NoAdapterWords;
