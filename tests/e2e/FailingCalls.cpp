// Preloaded into the tool by the output tests: makes chosen file-system calls
// on one folder fail, and records the ones that make a video durable, so that
// a test can see what a failure at each step leaves behind.
//
//   OSTREL_FAIL_FOLDER=/abs/folder   the folder whose calls are watched
//   OSTREL_FAIL=fsync,renameat,linkat,write,tmpfile
//                                    the calls that fail there (write: write
//                                    and pwrite): with EIO, and
//                                    an unnamed file (O_TMPFILE) with EOPNOTSUPP;
//                                    linkat fails for files that hold data
//                                    only, so that an empty probe is named
//   OSTREL_CALL_LOG=FILE             appends "fsync PATH", "renameat OLD NEW"
//                                    and "linkat NEW" for the folder's calls
//   OSTREL_FAIL=ptrace               attaching with ptrace fails with EPERM
//                                    in any folder, as where the kernel
//                                    refuses it (Yama, a process that cannot
//                                    be read)

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string Getenv(const char* Name)
{
    const char* Value = std::getenv(Name);
    return Value ? Value : "";
}

bool Fails(const char* Call)
{
    // Item by item: GCC 12 at -O3 takes "," + a string for an overlapping
    // copy (-Wrestrict), which fails the Release build.
    const std::string List = Getenv("OSTREL_FAIL");
    for (size_t Start = 0; Start <= List.size();)
    {
        const size_t End = std::min(List.find(',', Start), List.size());
        if (List.compare(Start, End - Start, Call) == 0)
            return true;
        Start = End + 1;
    }
    return false;
}

// What a descriptor names, as /proc tells it ("" when it cannot).
std::string PathOf(int Fd)
{
    if (Fd == AT_FDCWD)
        return PathOf(-1);
    char Link[64];
    char Target[4096];
    if (Fd == -1)
        std::strcpy(Link, "/proc/self/cwd");
    else
        std::snprintf(Link, sizeof Link, "/proc/self/fd/%d", Fd);
    const ssize_t Length = readlink(Link, Target, sizeof Target - 1);
    return Length > 0 ? std::string(Target, static_cast<size_t>(Length)) : "";
}

// Whether a path is the watched folder or lies in it.
bool Watched(const std::string& Path)
{
    const std::string Folder = Getenv("OSTREL_FAIL_FOLDER");
    return !Folder.empty() && (Path == Folder || Path.compare(0, Folder.size() + 1, Folder + "/") == 0);
}

void Log(const std::string& Line)
{
    const std::string File = Getenv("OSTREL_CALL_LOG");
    if (File.empty())
        return;
    const int Fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, File.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
    if (Fd < 0)
        return;
    const std::string Text = Line + "\n";
    syscall(SYS_write, Fd, Text.data(), Text.size());
    syscall(SYS_close, Fd);
}

template <typename Function>
Function Next(const char* Name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, Name));
}

} // namespace

extern "C" {

int fsync(int Fd)
{
    static const auto Real = Next<int (*)(int)>("fsync");
    const std::string Path = PathOf(Fd);
    if (!Watched(Path))
        return Real(Fd);
    Log("fsync " + Path);
    if (Fails("fsync"))
    {
        errno = EIO;
        return -1;
    }
    return Real(Fd);
}

int renameat(int OldFolder, const char* OldName, int NewFolder, const char* NewName)
{
    static const auto Real = Next<int (*)(int, const char*, int, const char*)>("renameat");
    if (!Watched(PathOf(NewFolder)))
        return Real(OldFolder, OldName, NewFolder, NewName);
    Log(std::string("renameat ") + OldName + " " + NewName);
    if (Fails("renameat"))
    {
        errno = EIO;
        return -1;
    }
    return Real(OldFolder, OldName, NewFolder, NewName);
}

int linkat(int OldFolder, const char* OldName, int NewFolder, const char* NewName, int Flags)
{
    static const auto Real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
    if (!Watched(PathOf(NewFolder)))
        return Real(OldFolder, OldName, NewFolder, NewName, Flags);
    Log(std::string("linkat ") + NewName);
    struct stat Linked = {};
    const bool Empty = (Flags & AT_EMPTY_PATH) && !*OldName
                           ? fstat(OldFolder, &Linked) == 0 && Linked.st_size == 0
                           : fstatat(OldFolder, OldName, &Linked, 0) == 0 && Linked.st_size == 0;
    if (Fails("linkat") && !Empty)
    {
        errno = EIO;
        return -1;
    }
    return Real(OldFolder, OldName, NewFolder, NewName, Flags);
}

ssize_t write(int Fd, const void* Data, size_t Size)
{
    static const auto Real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (Fd > 2 && Watched(PathOf(Fd)) && Fails("write"))
    {
        errno = EIO;
        return -1;
    }
    return Real(Fd, Data, Size);
}

ssize_t pwrite(int Fd, const void* Data, size_t Size, off_t Offset)
{
    static const auto Real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (Fd > 2 && Watched(PathOf(Fd)) && Fails("write"))
    {
        errno = EIO;
        return -1;
    }
    return Real(Fd, Data, Size, Offset);
}

long ptrace(int Request, ...)
{
    static const auto Real = Next<long (*)(int, ...)>("ptrace");
    va_list Arguments;
    va_start(Arguments, Request);
    const auto Process = va_arg(Arguments, pid_t);
    void* const Address = va_arg(Arguments, void*);
    void* const Data = va_arg(Arguments, void*);
    va_end(Arguments);
    // The requests of <sys/ptrace.h>, which declares ptrace otherwise.
    constexpr int PtraceAttach = 16, PtraceSeize = 0x4206;
    if ((Request == PtraceAttach || Request == PtraceSeize) && Fails("ptrace"))
    {
        errno = EPERM;
        return -1;
    }
    return Real(Request, Process, Address, Data);
}

int openat(int Folder, const char* Name, int Flags, ...)
{
    static const auto Real = Next<int (*)(int, const char*, int, ...)>("openat");
    mode_t Mode = 0;
    if ((Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE)
    {
        va_list Arguments;
        va_start(Arguments, Flags);
        Mode = static_cast<mode_t>(va_arg(Arguments, int));
        va_end(Arguments);
    }
    if ((Flags & O_TMPFILE) == O_TMPFILE && Watched(PathOf(Folder)) && Fails("tmpfile"))
    {
        errno = EOPNOTSUPP;
        return -1;
    }
    return Real(Folder, Name, Flags, Mode);
}

} // extern "C"
