// The one COM base: QueryInterface over its list of interfaces, reference
// counts, Make and ComPtr, and the checked way from an interface back to the
// object behind it.

#include <gtest/gtest.h>

#include <d3d11.h>
#include <mfobjects.h>
#include <wrl/client.h>
#include <wrl/implements.h>

#include "Com/Implementation.h"

using Microsoft::WRL::ComPtr;

namespace {

int Alive = 0;

// A texture (and with it a resource and a device child) that is also an
// async callback, counting its lifetime.
class Object final
    : public Microsoft::WRL::RuntimeClass<
          Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
          Microsoft::WRL::ChainInterfaces<ID3D11Texture2D, ID3D11Resource, ID3D11DeviceChild>, IMFAsyncCallback>
{
public:
    Object() { ++Alive; }
    ~Object() override { --Alive; }

    STDMETHODIMP_(void) GetDevice(ID3D11Device** Device) override { *Device = nullptr; }
    STDMETHODIMP_(void) GetType(D3D11_RESOURCE_DIMENSION* Dimension) override
    {
        *Dimension = D3D11_RESOURCE_DIMENSION_TEXTURE2D;
    }
    STDMETHODIMP_(void) GetDesc(D3D11_TEXTURE2D_DESC* Desc) override { *Desc = {}; }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult*) override { return S_OK; }

    ULONG References() const { return GetRefCount(); }
};

// Another class behind the same interface.
class Other final : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                                        IMFAsyncCallback>
{
public:
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult*) override { return S_OK; }
};

} // namespace

TEST(RuntimeClass, QueryInterfaceAnswersItsListAndOneIdentity)
{
    {
        ComPtr<Object> Made = Microsoft::WRL::Make<Object>();
        ASSERT_TRUE(Made);
        EXPECT_EQ(Made->References(), 1u);

        // The chain answers for the interfaces that its first derives from.
        ComPtr<ID3D11Texture2D> Texture;
        ComPtr<ID3D11Resource> Resource;
        ComPtr<ID3D11DeviceChild> Child;
        ComPtr<IMFAsyncCallback> Callback;
        ASSERT_EQ(Made.As(&Texture), S_OK);
        ASSERT_EQ(Made.As(&Resource), S_OK);
        ASSERT_EQ(Made.As(&Child), S_OK);
        ASSERT_EQ(Made.As(&Callback), S_OK);
        EXPECT_EQ(static_cast<ID3D11Resource*>(Texture.Get()), Resource.Get());
        EXPECT_EQ(Made->References(), 5u);

        // Every way to IUnknown gives the same pointer.
        ComPtr<IUnknown> FromTexture, FromCallback;
        ASSERT_EQ(Texture.As(&FromTexture), S_OK);
        ASSERT_EQ(Callback.As(&FromCallback), S_OK);
        EXPECT_EQ(FromTexture.Get(), FromCallback.Get());

        // What the list does not name is refused, the out pointer cleared,
        // no reference taken.
        void* Unknown = &Alive;
        EXPECT_EQ(Made->QueryInterface(__uuidof(IMFAttributes), &Unknown), E_NOINTERFACE);
        EXPECT_EQ(Unknown, nullptr);
        EXPECT_EQ(Made->QueryInterface(__uuidof(IMFAsyncCallback), nullptr), E_POINTER);
        EXPECT_EQ(Made->References(), 7u);
    }
    EXPECT_EQ(Alive, 0);
}

TEST(RuntimeClass, ReleaseCountsDownAndDeletesAtZero)
{
    Object* Raw = nullptr;
    {
        ComPtr<Object> Made = Microsoft::WRL::Make<Object>();
        Raw = Made.Get();
        EXPECT_EQ(Raw->AddRef(), 2u);
        EXPECT_EQ(Raw->Release(), 1u);
        ComPtr<Object> Copy = Made;
        EXPECT_EQ(Raw->References(), 2u);
        Copy.Reset();
        EXPECT_EQ(Raw->References(), 1u);
        ComPtr<Object> Moved = std::move(Made);
        EXPECT_EQ(Raw->References(), 1u);
        Object* Detached = Moved.Detach();
        EXPECT_EQ(Detached, Raw);
        Moved.Attach(Detached);
        EXPECT_EQ(Alive, 1);
    }
    EXPECT_EQ(Alive, 0);
}

TEST(ImplementationOf, FindsItsClassAndRefusesOthers)
{
    ComPtr<Object> Made = Microsoft::WRL::Make<Object>();
    ComPtr<IMFAsyncCallback> Callback;
    ASSERT_EQ(Made.As(&Callback), S_OK);
    EXPECT_EQ(Platform::ImplementationOf<Object>(Callback.Get()), Made.Get());
    EXPECT_EQ(Platform::ImplementationOf<Other>(Callback.Get()), nullptr);
    EXPECT_EQ(Platform::ImplementationOf<Object>(static_cast<IMFAsyncCallback*>(nullptr)), nullptr);

    ComPtr<Other> Stranger = Microsoft::WRL::Make<Other>();
    EXPECT_EQ(Platform::ImplementationOf<Object>(static_cast<IMFAsyncCallback*>(Stranger.Get())), nullptr);
    // No reference is taken on the way.
    EXPECT_EQ(Made->References(), 2u);
}
