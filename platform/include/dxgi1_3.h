// DXGI 1.3: the factory with creation flags.
#pragma once

#include <dxgi.h>

constexpr UINT DXGI_CREATE_FACTORY_DEBUG = 0x1;

// Flags 0 or DXGI_CREATE_FACTORY_DEBUG (which adds nothing here).
HRESULT CreateDXGIFactory2(UINT Flags, REFIID Riid, void** Factory);
