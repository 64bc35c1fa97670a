// Direct3D 10 interfaces that Direct3D 11 devices still answer.
#pragma once

#include <windows.h>

// Serialises the immediate context of a device between threads.
struct ID3D10Multithread : IUnknown
{
    STDMETHOD_(void, Enter)() = 0;
    STDMETHOD_(void, Leave)() = 0;
    // Returns the previous state.
    STDMETHOD_(BOOL, SetMultithreadProtected)(BOOL MTProtect) = 0;
    STDMETHOD_(BOOL, GetMultithreadProtected)() = 0;

protected:
    ~ID3D10Multithread() = default;
};
DECLARE_UUIDOF(ID3D10Multithread, 0x9b7e4e00, 0x342c, 0x4106, 0xa1, 0x9f, 0x4f, 0x27, 0x04, 0xf6, 0x89, 0xf0);
