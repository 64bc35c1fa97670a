// The DXGI device manager: handles, locks and resets.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

using Microsoft::WRL::ComPtr;

#include "support/Graphics.h"

TEST(DeviceManager, HandlesLockAndGoStaleOnReset)
{
    UINT Token = 0;
    ComPtr<IMFDXGIDeviceManager> Manager;
    ASSERT_EQ(MFCreateDXGIDeviceManager(&Token, Manager.GetAddressOf()), S_OK);
    HANDLE First = nullptr, Second = nullptr;
    EXPECT_EQ(Manager->OpenDeviceHandle(&First), MF_E_DXGI_DEVICE_NOT_INITIALIZED);

    ComPtr<IMFSample> Device; // any object stands for the device here
    MFCreateSample(Device.GetAddressOf());
    EXPECT_EQ(Manager->ResetDevice(Device.Get(), Token + 1), E_INVALIDARG);
    ASSERT_EQ(Manager->ResetDevice(Device.Get(), Token), S_OK);
    ASSERT_EQ(Manager->OpenDeviceHandle(&First), S_OK);
    ASSERT_EQ(Manager->OpenDeviceHandle(&Second), S_OK);

    ComPtr<IMFSample> Service;
    EXPECT_EQ(Manager->GetVideoService(First, IID_PPV_ARGS(Service.GetAddressOf())), S_OK);
    EXPECT_EQ(Service.Get(), Device.Get());

    ComPtr<IMFSample> Locked;
    EXPECT_EQ(Manager->LockDevice(First, IID_PPV_ARGS(Locked.GetAddressOf()), FALSE), S_OK);
    ComPtr<IMFSample> Other;
    EXPECT_EQ(Manager->LockDevice(Second, IID_PPV_ARGS(Other.GetAddressOf()), FALSE), MF_E_DXGI_VIDEO_DEVICE_LOCKED);
    std::thread Waiter([&] { EXPECT_EQ(Manager->LockDevice(Second, IID_PPV_ARGS(Other.GetAddressOf()), TRUE), S_OK); });
    EXPECT_EQ(Manager->UnlockDevice(Second, FALSE), E_INVALIDARG);
    EXPECT_EQ(Manager->UnlockDevice(First, FALSE), S_OK);
    Waiter.join();
    EXPECT_EQ(Manager->UnlockDevice(Second, FALSE), S_OK);

    // A new device makes open handles stale.
    ComPtr<IMFSample> NewDevice;
    MFCreateSample(NewDevice.GetAddressOf());
    ASSERT_EQ(Manager->ResetDevice(NewDevice.Get(), Token), S_OK);
    EXPECT_EQ(Manager->TestDevice(First), MF_E_DXGI_NEW_VIDEO_DEVICE);
    EXPECT_EQ(Manager->CloseDeviceHandle(First), S_OK);
    EXPECT_EQ(Manager->CloseDeviceHandle(First), E_HANDLE);
    EXPECT_EQ(Manager->CloseDeviceHandle(Second), S_OK);
}
