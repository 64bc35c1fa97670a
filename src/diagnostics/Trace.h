// The trace layer: one line per traced event on the debugger output channel
// and, while a tracing session listens, one event of the tool's provider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <windows.h>

struct TraceLocation
{
    const char* m_File;
    uint32_t m_FullPath; // zero: only the file's base name is shown
    int32_t m_Line;
    const char* m_Function;
};

// Writes "<file>(<line>): <function>: " and the formatted message. Callers end
// their formats with "\n". Never throws, never allocates.
void Trace(const TraceLocation& Location, const wchar_t* Format, ...);

// Formats through a buffer of 4,096 characters; longer text is cut.
std::wstring FormatW(const wchar_t* Format, ...);

// The base name of a source path: the text after its last '/' or '\'.
const char* TraceSourceName(const TraceLocation& Location);

// The qualified name of the enclosing function, "Class::Method", cut at
// compile time from the signature text that GCC and Clang give as
// __PRETTY_FUNCTION__ (the Microsoft compiler gives the name itself as
// __FUNCTION__).
template <size_t Size>
struct TraceFunctionName
{
    char m_Text[Size] = {};
    constexpr const char* c_str() const { return m_Text; }
};

namespace TraceSignature {

// How the compilers name unnamed namespaces: GCC, then Clang.
constexpr std::string_view Unnamed[] = {"{anonymous}::", "(anonymous namespace)::"};

constexpr size_t UnnamedAt(std::string_view Text, size_t Index)
{
    for (std::string_view Name : Unnamed)
        if (Text.substr(Index, Name.size()) == Name)
            return Name.size();
    return 0;
}

constexpr bool IsIdentifier(char Character)
{
    return Character == '_' || (Character >= 'a' && Character <= 'z') || (Character >= 'A' && Character <= 'Z') ||
           (Character >= '0' && Character <= '9');
}

// The parameter list: the first '(' outside template brackets and unnamed
// namespaces.
constexpr size_t ParametersAt(std::string_view Text)
{
    for (size_t Index = 0, Depth = 0; Index < Text.size(); ++Index)
    {
        if (const size_t Skip = UnnamedAt(Text, Index))
            Index += Skip - 1;
        else if (Text[Index] == '<')
            ++Depth;
        else if (Text[Index] == '>' && Depth > 0 && Text[Index - 1] != '-')
            --Depth;
        else if (Text[Index] == '(' && Depth == 0)
            return Index;
    }
    return Text.size();
}

// The name starts after the last blank before End outside brackets.
constexpr size_t NameAt(std::string_view Text, size_t End)
{
    for (size_t Index = End, Depth = 0; Index > 0; --Index)
    {
        const char Character = Text[Index - 1];
        if (Character == '>' || Character == ')')
            ++Depth;
        else if ((Character == '<' || Character == '(') && Depth > 0)
            --Depth;
        else if (Character == ' ' && Depth == 0)
            return Index;
    }
    return 0;
}

// The argument that GCC's "[with A = int; B = char]" after End gives a
// template parameter named in the name; the parameter itself when none does
// (Clang names the arguments in the name already).
constexpr std::string_view Argument(std::string_view Text, size_t End, std::string_view Parameter)
{
    const size_t With = Text.find(" [with ", End);
    if (With == std::string_view::npos)
        return Parameter;
    const std::string_view Bindings = Text.substr(With + 7, Text.rfind(']') - (With + 7));
    for (size_t Position = 0; Position < Bindings.size();)
    {
        size_t Next = Bindings.find("; ", Position);
        if (Next == std::string_view::npos)
            Next = Bindings.size();
        const std::string_view Assignment = Bindings.substr(Position, Next - Position);
        const size_t Equals = Assignment.find(" = ");
        if (Equals != std::string_view::npos)
        {
            const std::string_view Declaration = Assignment.substr(0, Equals);
            const size_t Blank = Declaration.rfind(' ');
            const std::string_view Name = Blank == std::string_view::npos ? Declaration : Declaration.substr(Blank + 1);
            if (Name == Parameter)
                return Assignment.substr(Equals + 3);
        }
        Position = Next + 2;
    }
    return Parameter;
}

} // namespace TraceSignature

template <size_t Size>
constexpr TraceFunctionName<Size> QualifiedFunctionName(const char (&Signature)[Size])
{
    using namespace TraceSignature;
    const std::string_view Text(Signature, Size - 1);
    const size_t End = ParametersAt(Text);
    TraceFunctionName<Size> Name;
    size_t Length = 0;
    auto Append = [&](std::string_view Part) {
        for (char Character : Part)
            if (Length + 1 < Size)
                Name.m_Text[Length++] = Character;
    };
    // Unnamed namespaces are left out; template parameters take their
    // arguments.
    for (size_t Index = NameAt(Text, End), Depth = 0; Index < End;)
    {
        if (const size_t Skip = UnnamedAt(Text, Index))
        {
            Index += Skip;
            continue;
        }
        if (Depth > 0 && IsIdentifier(Text[Index]))
        {
            size_t Last = Index;
            while (Last < End && IsIdentifier(Text[Last]))
                ++Last;
            Append(Argument(Text, End, Text.substr(Index, Last - Index)));
            Index = Last;
            continue;
        }
        if (Text[Index] == '<')
            ++Depth;
        else if (Text[Index] == '>' && Depth > 0)
            --Depth;
        Append(Text.substr(Index++, 1));
    }
    return Name;
}

// Declares the location of the current site as TraceLocationValue.
#if defined(_MSC_VER) && !defined(__clang__)
#define TRACE_LOCATION_HERE \
    const TraceLocation TraceLocationValue = (TraceLocation{__FILE__, 0, __LINE__, __FUNCTION__})
#else
#define TRACE_LOCATION_HERE                                                                   \
    static constexpr auto TraceSiteFunctionName = QualifiedFunctionName(__PRETTY_FUNCTION__); \
    const TraceLocation TraceLocationValue = (TraceLocation{__FILE__, 0, __LINE__, TraceSiteFunctionName.c_str()})
#endif

// Traces one line at the calling site: TRACE(L"this 0x%p\n", this).
#define TRACE(...)                              \
    do                                          \
    {                                           \
        TRACE_LOCATION_HERE;                    \
        Trace(TraceLocationValue, __VA_ARGS__); \
    } while (0)
