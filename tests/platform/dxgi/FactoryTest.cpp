// The DXGI factory: the adapters of the machine, in DXGI's order.

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <d3d10.h>
#include <d3d11.h>
#include <dxgi1_3.h>

#include "support/Drawing.h"
#include "support/Graphics.h"

using namespace Graphics;

TEST(Dxgi, EnumeratesAdaptersSoftwareLastAndNotFoundPastTheEnd)
{
    ComPtr<IDXGIFactory1> Factory;
    ASSERT_EQ(CreateDXGIFactory2(0, IID_PPV_ARGS(&Factory)), S_OK);
    std::vector<DXGI_ADAPTER_DESC1> Descs;
    for (UINT Index = 0;; ++Index)
    {
        ComPtr<IDXGIAdapter1> Adapter;
        const HRESULT Result = Factory->EnumAdapters1(Index, Adapter.GetAddressOf());
        if (Result == DXGI_ERROR_NOT_FOUND)
        {
            EXPECT_FALSE(Adapter);
            break;
        }
        ASSERT_EQ(Result, S_OK);
        DXGI_ADAPTER_DESC1 Desc;
        ASSERT_EQ(Adapter->GetDesc1(&Desc), S_OK);
        DXGI_ADAPTER_DESC Plain;
        ASSERT_EQ(Adapter->GetDesc(&Plain), S_OK);
        EXPECT_EQ(std::wstring(Plain.Description), std::wstring(Desc.Description));
        EXPECT_EQ(Plain.AdapterLuid.LowPart, Desc.AdapterLuid.LowPart);
        Descs.push_back(Desc);
    }
    ASSERT_FALSE(Descs.empty()) << "this machine has at least lavapipe";
    // Software adapters come last.
    bool SeenSoftware = false;
    for (const DXGI_ADAPTER_DESC1& Desc : Descs)
    {
        if (Desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE)
            SeenSoftware = true;
        else
        {
            EXPECT_FALSE(SeenSoftware);
        }
    }
    EXPECT_TRUE(Descs.back().Flags & DXGI_ADAPTER_FLAG_SOFTWARE);

    // The IDXGIFactory view enumerates the same, and LUIDs stay the same.
    ComPtr<IDXGIFactory> Plain;
    ASSERT_EQ(CreateDXGIFactory2(0, IID_PPV_ARGS(&Plain)), S_OK);
    ComPtr<IDXGIAdapter> Adapter;
    EXPECT_EQ(Plain->EnumAdapters(UINT(Descs.size()), Adapter.GetAddressOf()), DXGI_ERROR_NOT_FOUND);
    ASSERT_EQ(Plain->EnumAdapters(0, Adapter.GetAddressOf()), S_OK);
    ComPtr<IDXGIAdapter1> Adapter1;
    ASSERT_EQ(Adapter.As(&Adapter1), S_OK);
    DXGI_ADAPTER_DESC1 Again;
    ASSERT_EQ(Adapter1->GetDesc1(&Again), S_OK);
    EXPECT_EQ(Again.AdapterLuid.LowPart, Descs[0].AdapterLuid.LowPart);
    EXPECT_EQ(Again.AdapterLuid.HighPart, Descs[0].AdapterLuid.HighPart);

    EXPECT_EQ(CreateDXGIFactory2(0x10, IID_PPV_ARGS(&Plain)), E_INVALIDARG);
}
