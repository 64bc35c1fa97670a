#include "ProcessStart.h"

#include <climits>
#include <cstdlib>
#include <sys/auxv.h>
#include <unistd.h>

namespace Platform {

namespace {

struct Start
{
    std::vector<std::string> Arguments;
    std::string Executable;
};

Start& TheStart()
{
    // Never destroyed: threads may still ask while the process exits.
    static Start* Instance = new Start;
    return *Instance;
}

// The kernel's name of the executable; failing that (no /proc), the path the
// program was started by, made absolute while the working folder is still the
// one it was started in.
std::string FindExecutable()
{
    char Path[PATH_MAX];
    const ssize_t Length = readlink("/proc/self/exe", Path, sizeof Path);
    if (Length > 0 && static_cast<size_t>(Length) < sizeof Path)
        return std::string(Path, static_cast<size_t>(Length));
    const char* Started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (!Started)
        return std::string();
    char* Absolute = realpath(Started, nullptr);
    if (!Absolute)
        return std::string();
    std::string Result(Absolute);
    std::free(Absolute);
    return Result;
}

// The C library hands every initialisation function of the executable the
// arguments of main.
__attribute__((constructor)) void CaptureStart(int ArgumentCount, char** Vector, char**)
{
    Start& Captured = TheStart();
    for (int Index = 0; Vector && Index < ArgumentCount && Vector[Index]; ++Index)
        Captured.Arguments.emplace_back(Vector[Index]);
    Captured.Executable = FindExecutable();
}

} // namespace

const std::vector<std::string>& StartArguments() { return TheStart().Arguments; }

const std::string& ExecutablePath() { return TheStart().Executable; }

} // namespace Platform
