#include "Arguments.h"

bool Arguments::Next(size_t& Index, std::wstring& Value) const
{
    if (Index >= size())
        return false;
    Value = (*this)[Index++];
    return true;
}

bool ParseOption(const std::wstring& Argument, std::wstring& Name, std::wstring& Value)
{
    if (Argument.empty() || Argument[0] != L'-')
        return false;
    Name = Argument.substr(1);
    const size_t Colon = Name.find(L':');
    if (Colon != std::wstring::npos)
    {
        Value = Name.substr(Colon + 1);
        Name.resize(Colon);
    }
    else
        Value.clear();
    return true;
}
