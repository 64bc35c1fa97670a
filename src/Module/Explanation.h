// Failures in words: what a failure's code means to the user of the tool and
// what to do about it, said on standard error after the failure's own line.
#pragma once

#include <string>

#include <windows.h>

#include "Application.h"

// The words for Result in a run of Configuration, or an empty string for a
// code that the tool does not know.
std::string ExplainFailure(HRESULT Result, const Application::Configuration& Configuration);

// Writes "Ostrel: <words>" on standard error where the code has words.
void PrintExplanation(HRESULT Result, const Application::Configuration& Configuration);

// What the command-line argument being read takes, noted for its span: an
// argument refused meanwhile leaves the process with the note still held
// (no handler catches a bad command line), which PrintCommandLineProblem
// then says once after the failure's own line.
class ProblemNote
{
public:
    explicit ProblemNote(std::string Problem);
    ~ProblemNote();
    ProblemNote(const ProblemNote&) = delete;
    ProblemNote& operator=(const ProblemNote&) = delete;

private:
    int m_Exceptions;
};
void PrintCommandLineProblem();

// Said after an adapter listing that listed none.
extern const char* const NoAdapterWords;
