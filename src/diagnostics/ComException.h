// The one exception type of the failure convention: a failed HRESULT.
#pragma once

#include <exception>

#include <windows.h>

class ComException : public std::exception
{
public:
    explicit ComException(HRESULT Result) noexcept : m_Result(Result) {}

    HRESULT m_Result;
};
