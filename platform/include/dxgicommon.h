// Types shared by DXGI and Direct3D.
#pragma once

#include <windows.h>

struct DXGI_RATIONAL
{
    UINT Numerator;
    UINT Denominator;
};

struct DXGI_SAMPLE_DESC
{
    UINT Count;
    UINT Quality;
};
