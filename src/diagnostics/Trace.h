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

// The qualified name of the enclosing function, "Class::Method", taken from
// the compiler's signature text at compile time.
template <size_t Size>
struct TraceFunctionName
{
    char m_Text[Size] = {};
    constexpr const char* c_str() const { return m_Text; }
};

template <size_t Size>
constexpr TraceFunctionName<Size> QualifiedFunctionName(const char (&Signature)[Size])
{
    const std::string_view Text(Signature, Size - 1);
    // The parameter list is the first '(' outside template brackets.
    size_t End = Text.size();
    for (size_t Index = 0, Depth = 0; Index < Text.size(); ++Index)
    {
        if (Text[Index] == '<')
            ++Depth;
        else if (Text[Index] == '>' && Depth > 0 && Text[Index - 1] != '-')
            --Depth;
        else if (Text[Index] == '(' && Depth == 0)
        {
            End = Index;
            break;
        }
    }
    // The name starts after the last blank outside template brackets.
    size_t Start = 0;
    for (size_t Index = End, Depth = 0; Index > 0; --Index)
    {
        const char Character = Text[Index - 1];
        if (Character == '>')
            ++Depth;
        else if (Character == '<' && Depth > 0)
            --Depth;
        else if (Character == ' ' && Depth == 0)
        {
            Start = Index;
            break;
        }
    }
    // Template parameters named in the name take the arguments that the
    // signature's "[with A = int; B = char]" gives them.
    const size_t With = Text.find(" [with ", End);
    const std::string_view Bindings = With == std::string_view::npos
                                          ? std::string_view()
                                          : Text.substr(With + 7, Text.rfind(']') - (With + 7));
    auto Binding = [&](std::string_view Parameter) {
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
                const std::string_view Name =
                    Blank == std::string_view::npos ? Declaration : Declaration.substr(Blank + 1);
                if (Name == Parameter)
                    return Assignment.substr(Equals + 3);
            }
            Position = Next + 2;
        }
        return Parameter;
    };
    auto IsIdentifier = [](char Character) {
        return Character == '_' || (Character >= 'a' && Character <= 'z') || (Character >= 'A' && Character <= 'Z') ||
               (Character >= '0' && Character <= '9');
    };

    // Unnamed namespaces are left out of the name.
    constexpr std::string_view Unnamed = "{anonymous}::";
    TraceFunctionName<Size> Name;
    size_t Length = 0;
    size_t Depth = 0;
    for (size_t Index = Start; Index < End;)
    {
        if (Text.substr(Index, Unnamed.size()) == Unnamed)
        {
            Index += Unnamed.size();
            continue;
        }
        if (Depth > 0 && IsIdentifier(Text[Index]))
        {
            size_t Last = Index;
            while (Last < End && IsIdentifier(Text[Last]))
                ++Last;
            for (char Character : Binding(Text.substr(Index, Last - Index)))
                if (Length + 1 < Size)
                    Name.m_Text[Length++] = Character;
            Index = Last;
            continue;
        }
        if (Text[Index] == '<')
            ++Depth;
        else if (Text[Index] == '>' && Depth > 0)
            --Depth;
        if (Length + 1 < Size)
            Name.m_Text[Length++] = Text[Index];
        ++Index;
    }
    return Name;
}

// Declares the location of the current site as TraceLocationValue.
#define TRACE_LOCATION_HERE                                                                        \
    static constexpr auto TraceSiteFunctionName = QualifiedFunctionName(__PRETTY_FUNCTION__);     \
    const TraceLocation TraceLocationValue = (TraceLocation{__FILE__, 0, __LINE__, TraceSiteFunctionName.c_str()})

// Traces one line at the calling site: TRACE(L"this 0x%p\n", this).
#define TRACE(...)                                \
    do                                            \
    {                                             \
        TRACE_LOCATION_HERE;                      \
        Trace(TraceLocationValue, __VA_ARGS__);   \
    } while (0)
