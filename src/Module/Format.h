// Console text: formatting, lines and the syntax.
#pragma once

#include <cstddef>
#include <string>

// printf-style formatting of narrow text through an 8,192-character buffer.
std::string Format(const char* Format, ...);

// Writes one line to standard output, then flushes it.
void PrintLine(const std::string& Line);
// Flushes standard output and tells whether everything printed reached it;
// when not, says why on standard error ("Ostrel: standard output: ...").
bool FinishStandardOutput();

void PrintSyntax();
// "Ostrel 1.0.0".
void PrintVersion();

// The columns of the console that standard error is, read anew at each call
// (the window may have been resized); 0 where standard error is no console.
size_t ConsoleColumns();
