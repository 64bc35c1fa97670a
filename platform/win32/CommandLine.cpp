// The process command line in the Windows form, and its splitting.

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "CommandLineQuoting.h"
#include "ProcessStart.h"
#include "Win32/Utf8.h"
#include <processenv.h>
#include <shellapi.h>
#include <winbase.h>

namespace {

// Narrow text of the C runtime is UTF-8 on this platform: the console, the
// "%ls" conversions of printf and the arguments all speak it.
__attribute__((constructor)) void UseUtf8Locale() { setlocale(LC_CTYPE, "C.UTF-8"); }

bool IsBlank(wchar_t Character) { return Character == L' ' || Character == L'\t'; }

} // namespace

namespace Platform {

void AppendCommandLineArgument(std::wstring& CommandLine, const std::wstring& Argument, bool ProgramPath)
{
    if (!CommandLine.empty())
        CommandLine.push_back(L' ');
    if (ProgramPath)
    {
        // The program path takes no backslash escapes: it is quoted whole,
        // and a quote in it (which Linux paths may hold) is doubled.
        CommandLine.push_back(L'"');
        for (wchar_t Character : Argument)
            CommandLine.append(Character == L'"' ? 2 : 1, Character);
        CommandLine.push_back(L'"');
        return;
    }
    if (!Argument.empty() && Argument.find_first_of(L" \t\"") == std::wstring::npos)
    {
        CommandLine += Argument;
        return;
    }
    CommandLine.push_back(L'"');
    size_t Backslashes = 0;
    for (wchar_t Character : Argument)
    {
        if (Character == L'\\')
        {
            ++Backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        if (Character == L'"')
            CommandLine.append(Backslashes * 2 + 1, L'\\');
        else
            CommandLine.append(Backslashes, L'\\');
        Backslashes = 0;
        CommandLine.push_back(Character);
    }
    // Backslashes before the closing quote are doubled.
    CommandLine.append(Backslashes * 2, L'\\');
    CommandLine.push_back(L'"');
}

} // namespace Platform

LPWSTR GetCommandLineW()
{
    // Built once from the arguments the process was started with; bytes that
    // are not UTF-8 are escaped so that they come back unchanged.
    static std::wstring CommandLine;
    static std::once_flag Once;
    std::call_once(Once, [] {
        const std::vector<std::string>& Arguments = Platform::StartArguments();
        for (size_t Index = 0; Index < Arguments.size(); ++Index)
            Platform::AppendCommandLineArgument(CommandLine, Platform::WideFromUtf8(Arguments[Index]), Index == 0);
    });
    return CommandLine.data();
}

namespace {

// The program path: up to the next single quote when quoted (a doubled one
// stands for a quote in the path), else to a blank.
std::wstring ReadProgram(const wchar_t*& Cursor)
{
    std::wstring Program;
    if (*Cursor != L'"')
    {
        for (; *Cursor && !IsBlank(*Cursor); ++Cursor)
            Program.push_back(*Cursor);
        return Program;
    }
    for (++Cursor; *Cursor && (*Cursor != L'"' || Cursor[1] == L'"'); ++Cursor)
    {
        Program.push_back(*Cursor);
        if (*Cursor == L'"')
            ++Cursor;
    }
    if (*Cursor == L'"')
        ++Cursor;
    return Program;
}

// 2n backslashes and a quote: n backslashes, and the quote is read as one;
// 2n + 1: n backslashes and a literal quote; backslashes before anything
// else stand for themselves.
void ReadBackslashes(const wchar_t*& Cursor, std::wstring& Argument)
{
    size_t Backslashes = 0;
    while (*Cursor == L'\\')
        ++Backslashes, ++Cursor;
    if (*Cursor != L'"')
    {
        Argument.append(Backslashes, L'\\');
        return;
    }
    Argument.append(Backslashes / 2, L'\\');
    if (Backslashes % 2)
        Argument.push_back(L'"'), ++Cursor;
}

// One argument after the program path, up to a blank outside quotes.
std::wstring ReadArgument(const wchar_t*& Cursor)
{
    std::wstring Argument;
    bool Quoted = false;
    while (*Cursor && (Quoted || !IsBlank(*Cursor)))
    {
        if (*Cursor == L'\\')
            ReadBackslashes(Cursor, Argument);
        else if (*Cursor == L'"')
        {
            // Inside quotes, a doubled quote is a literal one.
            if (Quoted && Cursor[1] == L'"')
                Argument.push_back(L'"'), Cursor += 2;
            else
                Quoted = !Quoted, ++Cursor;
        }
        else
            Argument.push_back(*Cursor++);
    }
    return Argument;
}

// One block that LocalFree frees: the pointer array, then the strings.
LPWSTR* ArgumentBlock(const std::vector<std::wstring>& Arguments)
{
    size_t Size = (Arguments.size() + 1) * sizeof(LPWSTR);
    for (const std::wstring& Argument : Arguments)
        Size += (Argument.size() + 1) * sizeof(wchar_t);
    auto** Block = static_cast<LPWSTR*>(std::malloc(Size));
    if (!Block)
        return nullptr;
    auto* Text = reinterpret_cast<wchar_t*>(Block + Arguments.size() + 1);
    for (size_t Index = 0; Index < Arguments.size(); ++Index)
    {
        Block[Index] = Text;
        std::memcpy(Text, Arguments[Index].c_str(), (Arguments[Index].size() + 1) * sizeof(wchar_t));
        Text += Arguments[Index].size() + 1;
    }
    Block[Arguments.size()] = nullptr;
    return Block;
}

} // namespace

LPWSTR* CommandLineToArgvW(LPCWSTR CommandLine, int* NumArgs)
{
    if (!NumArgs)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<std::wstring> Arguments;
    if (!CommandLine || !*CommandLine)
    {
        // Like the platform, an empty line gives the program's path.
        Arguments.push_back(Platform::WideFromUtf8(Platform::ExecutablePath()));
    }
    else
    {
        const wchar_t* Cursor = CommandLine;
        Arguments.push_back(ReadProgram(Cursor));
        for (;;)
        {
            while (IsBlank(*Cursor))
                ++Cursor;
            if (!*Cursor)
                break;
            Arguments.push_back(ReadArgument(Cursor));
        }
    }
    LPWSTR* Block = ArgumentBlock(Arguments);
    if (!Block)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    *NumArgs = static_cast<int>(Arguments.size());
    return Block;
}

HLOCAL LocalFree(HLOCAL Memory)
{
    std::free(Memory);
    return nullptr;
}
