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
//   OSTREL_CALL_LOG=FILE             appends "fsync PATH", "renameat OLD NEW",
//                                    "rename OLD NEW" and "linkat NEW" for the
//                                    folder's calls, "open PATH FLAGS" for its
//                                    opens and "sigaction SIGNAL ACTION FLAGS
//                                    MASK" for every action set anywhere
//                                    (FLAGS: names joined by "|", "0" for
//                                    none; MASK: the signal numbers joined by
//                                    ",", "-" for none)
//   OSTREL_FAIL=ptrace               attaching with ptrace fails with EPERM
//                                    in any folder, as where the kernel
//                                    refuses it (Yama, a process that cannot
//                                    be read)

#include <algorithm>
#include <cerrno>
#include <csignal>
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

void LogOpen(int Folder, const char* Name, int Flags); // with the opens' block below

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
    LogOpen(Folder, Name, Flags);
    if ((Flags & O_TMPFILE) == O_TMPFILE && Watched(PathOf(Folder)) && Fails("tmpfile"))
    {
        errno = EOPNOTSUPP;
        return -1;
    }
    return Real(Folder, Name, Flags, Mode);
}

// Moves by name, as the statistics file is put in place: logged as
// "rename OLD NEW" when the new name lies in the watched folder.
int rename(const char* OldName, const char* NewName)
{
    static const auto Real = Next<int (*)(const char*, const char*)>("rename");
    const std::string Target = NewName;
    const size_t Slash = Target.find_last_of('/');
    const std::string Folder = Slash == std::string::npos ? PathOf(AT_FDCWD) : Target.substr(0, Slash);
    if (Watched(Folder))
        Log(std::string("rename ") + OldName + " " + NewName);
    return Real(OldName, NewName);
}

} // extern "C"

// ---- Opens and signal actions, logged with their flags ----
//
// What no failure shows: whether the tool opens its files without following
// links, without blocking and closed across exec, and how it installs its
// signal handlers.

namespace {

struct FlagName
{
    unsigned Flag;
    const char* Name;
};

// Named flags of Value joined by "|", what is left as hex; "0" for none.
template <size_t Count>
std::string FlagText(unsigned Value, const FlagName (&Names)[Count], std::string Text = "")
{
    for (const FlagName& Item : Names)
        if (Item.Flag && (Value & Item.Flag) == Item.Flag)
        {
            Text += Text.empty() ? "" : "|";
            Text += Item.Name;
            Value &= ~Item.Flag;
        }
    if (Value)
    {
        char Rest[32];
        std::snprintf(Rest, sizeof Rest, "0x%x", Value);
        Text += Text.empty() ? "" : "|";
        Text += Rest;
    }
    return Text.empty() ? "0" : Text;
}

std::string OpenFlagText(int Flags)
{
    // O_TMPFILE holds O_DIRECTORY's bit: it comes first and takes it.
    static const FlagName Names[] = {
        {O_TMPFILE, "O_TMPFILE"},   {O_CREAT, "O_CREAT"},         {O_EXCL, "O_EXCL"},
        {O_TRUNC, "O_TRUNC"},       {O_APPEND, "O_APPEND"},       {O_NOFOLLOW, "O_NOFOLLOW"},
        {O_NONBLOCK, "O_NONBLOCK"}, {O_CLOEXEC, "O_CLOEXEC"},     {O_DIRECTORY, "O_DIRECTORY"},
        {O_PATH, "O_PATH"},         {O_NOCTTY, "O_NOCTTY"},       {O_SYNC, "O_SYNC"},
        {O_DSYNC, "O_DSYNC"},       {O_LARGEFILE, "O_LARGEFILE"},
    };
    const int Mode = Flags & O_ACCMODE;
    return FlagText(static_cast<unsigned>(Flags & ~O_ACCMODE), Names,
                    Mode == O_RDWR     ? "O_RDWR"
                    : Mode == O_WRONLY ? "O_WRONLY"
                                       : "O_RDONLY");
}

void LogOpen(int Folder, const char* Name, int Flags)
{
    if (!Name)
        return;
    const std::string Path = Name[0] == '/' ? std::string(Name) : PathOf(Folder) + "/" + Name;
    if (Watched(Path))
        Log("open " + Path + " " + OpenFlagText(Flags));
}

void LogSigaction(int Signal, const struct sigaction& Action)
{
    static const FlagName Names[] = {
        {SA_RESTART, "SA_RESTART"},     {SA_ONSTACK, "SA_ONSTACK"}, {SA_NODEFER, "SA_NODEFER"},
        {SA_RESETHAND, "SA_RESETHAND"}, {SA_SIGINFO, "SA_SIGINFO"}, {SA_NOCLDSTOP, "SA_NOCLDSTOP"},
        {SA_NOCLDWAIT, "SA_NOCLDWAIT"},
    };
    const bool Info = Action.sa_flags & SA_SIGINFO;
    const char* Kind = !Info && Action.sa_handler == SIG_DFL   ? "default"
                       : !Info && Action.sa_handler == SIG_IGN ? "ignore"
                                                               : "handler";
    std::string Mask;
    for (int Other = 1; Other < NSIG; ++Other)
        if (sigismember(&Action.sa_mask, Other) == 1)
        {
            Mask += Mask.empty() ? "" : ",";
            Mask += std::to_string(Other);
        }
    // Appended piece by piece, which GCC 12 at -O3 builds without -Wrestrict.
    std::string Line = "sigaction ";
    for (const std::string& Piece :
         {std::to_string(Signal), std::string(Kind), FlagText(static_cast<unsigned>(Action.sa_flags), Names),
          Mask.empty() ? std::string("-") : Mask})
        Line += Piece + " ";
    Line.pop_back();
    Log(Line);
}

} // namespace

extern "C" {

int open(const char* Name, int Flags, ...)
{
    static const auto Real = Next<int (*)(const char*, int, ...)>("open");
    mode_t Mode = 0;
    if ((Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE)
    {
        va_list Arguments;
        va_start(Arguments, Flags);
        Mode = static_cast<mode_t>(va_arg(Arguments, int));
        va_end(Arguments);
    }
    LogOpen(AT_FDCWD, Name, Flags);
    return Real(Name, Flags, Mode);
}

// Code built for large files on 32-bit systems calls these names.
int open64(const char* Name, int Flags, ...)
{
    static const auto Real = Next<int (*)(const char*, int, ...)>("open64");
    va_list Arguments;
    va_start(Arguments, Flags);
    const mode_t Mode = (Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE ? va_arg(Arguments, int) : 0;
    va_end(Arguments);
    LogOpen(AT_FDCWD, Name, Flags);
    return Real(Name, Flags, Mode);
}

int openat64(int Folder, const char* Name, int Flags, ...)
{
    static const auto Real = Next<int (*)(int, const char*, int, ...)>("openat64");
    va_list Arguments;
    va_start(Arguments, Flags);
    const mode_t Mode = (Flags & O_CREAT) || (Flags & O_TMPFILE) == O_TMPFILE ? va_arg(Arguments, int) : 0;
    va_end(Arguments);
    LogOpen(Folder, Name, Flags);
    return Real(Folder, Name, Flags, Mode);
}

int sigaction(int Signal, const struct sigaction* Action, struct sigaction* Previous)
{
    static const auto Real = Next<int (*)(int, const struct sigaction*, struct sigaction*)>("sigaction");
    if (Action)
        LogSigaction(Signal, *Action);
    return Real(Signal, Action, Previous);
}

} // extern "C"
