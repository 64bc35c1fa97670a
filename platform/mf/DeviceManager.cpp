// The DXGI device manager: hands one device to its users through handles and
// lets one handle at a time lock it.

#include <condition_variable>
#include <map>
#include <mutex>

#include <wrl/implements.h>
#include <mfapi.h>

namespace Platform {

namespace {

using namespace Microsoft::WRL;

class DeviceManager final : public RuntimeClass<RuntimeClassFlags<ClassicCom>, IMFDXGIDeviceManager>
{
public:
    explicit DeviceManager(UINT ResetToken) : m_ResetToken(ResetToken) {}

    STDMETHODIMP CloseDeviceHandle(HANDLE Device) override
    {
        std::lock_guard Guard(m_Lock);
        auto Handle = m_Handles.find(Device);
        if (Handle == m_Handles.end())
            return E_HANDLE;
        if (m_LockOwner == Device)
            ReleaseLock();
        m_Handles.erase(Handle);
        return S_OK;
    }
    STDMETHODIMP GetVideoService(HANDLE Device, REFIID Riid, void** Service) override
    {
        if (!Service)
            return E_POINTER;
        *Service = nullptr;
        ComPtr<IUnknown> Current;
        {
            std::lock_guard Guard(m_Lock);
            const HRESULT Result = Check(Device);
            if (FAILED(Result))
                return Result;
            Current = m_Device;
        }
        return Current->QueryInterface(Riid, Service);
    }
    STDMETHODIMP LockDevice(HANDLE Device, REFIID Riid, void** Object, BOOL Block) override
    {
        if (!Object)
            return E_POINTER;
        *Object = nullptr;
        ComPtr<IUnknown> Current;
        {
            std::unique_lock Guard(m_Lock);
            for (;;)
            {
                const HRESULT Result = Check(Device);
                if (FAILED(Result))
                    return Result;
                if (!m_LockOwner || m_LockOwner == Device)
                    break;
                if (!Block)
                    return MF_E_DXGI_VIDEO_DEVICE_LOCKED;
                m_Unlocked.wait(Guard);
            }
            const HRESULT Result = m_Device->QueryInterface(Riid, Object);
            if (FAILED(Result))
                return Result;
            m_LockOwner = Device;
            ++m_LockDepth;
        }
        return S_OK;
    }
    STDMETHODIMP OpenDeviceHandle(HANDLE* Device) override
    {
        if (!Device)
            return E_POINTER;
        std::lock_guard Guard(m_Lock);
        if (!m_Device)
            return MF_E_DXGI_DEVICE_NOT_INITIALIZED;
        *Device = reinterpret_cast<HANDLE>(++m_LastHandle);
        m_Handles.emplace(*Device, m_Generation);
        return S_OK;
    }
    STDMETHODIMP ResetDevice(IUnknown* Device, UINT ResetToken) override
    {
        if (!Device || ResetToken != m_ResetToken)
            return E_INVALIDARG;
        ComPtr<IUnknown> Previous;
        std::lock_guard Guard(m_Lock);
        Previous = std::move(m_Device);
        m_Device = Device;
        // Handles opened on the previous device are stale from now on.
        ++m_Generation;
        if (m_LockOwner)
            ReleaseLock();
        return S_OK;
    }
    STDMETHODIMP TestDevice(HANDLE Device) override
    {
        std::lock_guard Guard(m_Lock);
        return Check(Device);
    }
    STDMETHODIMP UnlockDevice(HANDLE Device, BOOL) override
    {
        std::lock_guard Guard(m_Lock);
        if (m_Handles.find(Device) == m_Handles.end())
            return E_HANDLE;
        if (m_LockOwner != Device)
            return E_INVALIDARG;
        if (--m_LockDepth == 0)
            ReleaseLock();
        return S_OK;
    }

private:
    HRESULT Check(HANDLE Device) const
    {
        auto Handle = m_Handles.find(Device);
        if (Handle == m_Handles.end())
            return E_HANDLE;
        if (Handle->second != m_Generation)
            return MF_E_DXGI_NEW_VIDEO_DEVICE;
        return S_OK;
    }
    void ReleaseLock()
    {
        m_LockOwner = nullptr;
        m_LockDepth = 0;
        m_Unlocked.notify_all();
    }

    const UINT m_ResetToken;
    std::mutex m_Lock;
    std::condition_variable m_Unlocked;
    ComPtr<IUnknown> m_Device;
    unsigned m_Generation = 0;
    uintptr_t m_LastHandle = 0;
    std::map<HANDLE, unsigned> m_Handles;
    HANDLE m_LockOwner = nullptr;
    unsigned m_LockDepth = 0;
};

} // namespace

} // namespace Platform

HRESULT MFCreateDXGIDeviceManager(UINT* resetToken, IMFDXGIDeviceManager** ppDeviceManager)
{
    if (!resetToken || !ppDeviceManager)
        return E_POINTER;
    *ppDeviceManager = nullptr;
    static std::atomic<UINT> NextToken{0x10000};
    const UINT Token = NextToken.fetch_add(1);
    auto Manager = Microsoft::WRL::Make<Platform::DeviceManager>(Token);
    if (!Manager)
        return E_OUTOFMEMORY;
    *resetToken = Token;
    *ppDeviceManager = Manager.Detach();
    return S_OK;
}
