#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include <mfapi.h>
#include <wrl/client.h>
#include <wrl/implements.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr GUID KeyA = {0x1, 0x2, 0x3, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID KeyB = {0x9, 0x2, 0x3, {1, 2, 3, 4, 5, 6, 7, 8}};

// Counts its references, to see that stores hold and drop them.
class Probe final : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>,
                                                        IMFAsyncCallback>
{
public:
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult*) override { return S_OK; }
    ULONG References() { return GetRefCount(); }
};

ComPtr<IMFAttributes> NewStore()
{
    ComPtr<IMFAttributes> Store;
    EXPECT_EQ(MFCreateAttributes(Store.GetAddressOf(), 4), S_OK);
    return Store;
}

} // namespace

TEST(AttributeStore, TypedItemsRoundTripAndCheckTheirType)
{
    auto Store = NewStore();
    const UINT8 Blob[] = {1, 2, 3};
    ASSERT_EQ(Store->SetUINT32(KeyA, 7), S_OK);
    UINT32 Value32 = 0;
    EXPECT_EQ(Store->GetUINT32(KeyA, &Value32), S_OK);
    EXPECT_EQ(Value32, 7u);
    UINT64 Value64 = 0;
    EXPECT_EQ(Store->GetUINT64(KeyA, &Value64), MF_E_INVALIDTYPE);
    EXPECT_EQ(Store->GetUINT64(KeyB, &Value64), MF_E_ATTRIBUTENOTFOUND);

    // Replacing an item changes its type.
    ASSERT_EQ(Store->SetString(KeyA, L"text"), S_OK);
    MF_ATTRIBUTE_TYPE Type{};
    EXPECT_EQ(Store->GetItemType(KeyA, &Type), S_OK);
    EXPECT_EQ(Type, MF_ATTRIBUTE_STRING);
    UINT32 Length = 0;
    EXPECT_EQ(Store->GetStringLength(KeyA, &Length), S_OK);
    EXPECT_EQ(Length, 4u);
    wchar_t Small[4];
    EXPECT_EQ(Store->GetString(KeyA, Small, 4, &Length), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    LPWSTR Allocated = nullptr;
    EXPECT_EQ(Store->GetAllocatedString(KeyA, &Allocated, &Length), S_OK);
    EXPECT_STREQ(Allocated, L"text");
    CoTaskMemFree(Allocated);

    ASSERT_EQ(Store->SetBlob(KeyB, Blob, sizeof Blob), S_OK);
    UINT8* Bytes = nullptr;
    UINT32 Size = 0;
    EXPECT_EQ(Store->GetAllocatedBlob(KeyB, &Bytes, &Size), S_OK);
    ASSERT_EQ(Size, 3u);
    EXPECT_EQ(std::memcmp(Bytes, Blob, 3), 0);
    CoTaskMemFree(Bytes);
    UINT8 Short[2];
    EXPECT_EQ(Store->GetBlob(KeyB, Short, 2, &Size), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));

    ASSERT_EQ(Store->SetGUID(KeyB, KeyA), S_OK);
    GUID Guid{};
    EXPECT_EQ(Store->GetGUID(KeyB, &Guid), S_OK);
    EXPECT_EQ(Guid, KeyA);

    PROPVARIANT Bad{};
    Bad.vt = VT_I4;
    EXPECT_EQ(Store->SetItem(KeyA, Bad), MF_E_INVALIDTYPE);
}

TEST(AttributeStore, UnknownItemsHoldAReferenceUntilReplaced)
{
    auto Object = Microsoft::WRL::Make<Probe>();
    auto Store = NewStore();
    ASSERT_EQ(Store->SetUnknown(KeyA, Object.Get()), S_OK);
    EXPECT_EQ(Object->References(), 2u);
    ComPtr<IMFAsyncCallback> Back;
    EXPECT_EQ(Store->GetUnknown(KeyA, IID_PPV_ARGS(Back.GetAddressOf())), S_OK);
    EXPECT_EQ(Back.Get(), Object.Get());
    Back.Reset();
    ComPtr<IMFSample> Wrong;
    EXPECT_EQ(Store->GetUnknown(KeyA, IID_PPV_ARGS(Wrong.GetAddressOf())), E_NOINTERFACE);

    // Copies hold their own reference; deleting and destroying let go.
    auto Copy = NewStore();
    ASSERT_EQ(Store->CopyAllItems(Copy.Get()), S_OK);
    EXPECT_EQ(Object->References(), 3u);
    EXPECT_EQ(Store->DeleteItem(KeyA), S_OK);
    EXPECT_EQ(Object->References(), 2u);
    Copy.Reset();
    EXPECT_EQ(Object->References(), 1u);
}

TEST(AttributeStore, CompareFollowsTheMatchType)
{
    auto Ours = NewStore(), Theirs = NewStore();
    Ours->SetUINT32(KeyA, 1);
    Theirs->SetUINT32(KeyA, 1);
    Theirs->SetUINT32(KeyB, 2);
    BOOL Result = FALSE;
    EXPECT_EQ(Ours->Compare(Theirs.Get(), MF_ATTRIBUTES_MATCH_OUR_ITEMS, &Result), S_OK);
    EXPECT_TRUE(Result);
    Ours->Compare(Theirs.Get(), MF_ATTRIBUTES_MATCH_THEIR_ITEMS, &Result);
    EXPECT_FALSE(Result);
    Ours->Compare(Theirs.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &Result);
    EXPECT_FALSE(Result);
    Ours->Compare(Theirs.Get(), MF_ATTRIBUTES_MATCH_SMALLER, &Result);
    EXPECT_TRUE(Result);
    Ours->SetUINT32(KeyB, 3);
    Ours->Compare(Theirs.Get(), MF_ATTRIBUTES_MATCH_INTERSECTION, &Result);
    EXPECT_FALSE(Result);
    // A store compared with itself.
    Ours->Compare(Ours.Get(), MF_ATTRIBUTES_MATCH_ALL_ITEMS, &Result);
    EXPECT_TRUE(Result);

    GUID Key{};
    PROPVARIANT Value{};
    UINT32 Count = 0;
    Ours->GetCount(&Count);
    EXPECT_EQ(Count, 2u);
    EXPECT_EQ(Ours->GetItemByIndex(1, &Key, &Value), S_OK);
    EXPECT_EQ(Key, KeyB);
    EXPECT_EQ(Value.ulVal, 3u);
    EXPECT_EQ(Ours->GetItemByIndex(2, &Key, &Value), E_INVALIDARG);
}

TEST(AttributeStore, CopyAllItemsLeavesExactlyTheSourcesItems)
{
    auto Source = NewStore(), Target = NewStore();
    ASSERT_EQ(Source->SetUINT32(KeyA, 7), S_OK);
    ASSERT_EQ(Target->SetUINT32(KeyA, 1), S_OK);
    ASSERT_EQ(Target->SetString(KeyB, L"stale"), S_OK);
    ASSERT_EQ(Source->CopyAllItems(Target.Get()), S_OK);
    UINT32 Count = 0, Value = 0;
    ASSERT_EQ(Target->GetCount(&Count), S_OK);
    EXPECT_EQ(Count, 1u);
    EXPECT_EQ(Target->GetUINT32(KeyA, &Value), S_OK);
    EXPECT_EQ(Value, 7u);
    EXPECT_EQ(Target->GetUINT32(KeyB, &Value), MF_E_ATTRIBUTENOTFOUND);
    // The source keeps its own.
    ASSERT_EQ(Source->GetCount(&Count), S_OK);
    EXPECT_EQ(Count, 1u);
    EXPECT_EQ(Source->CopyAllItems(nullptr), E_POINTER);
}

TEST(AttributeStoreConcurrency, ConcurrentWritersAndCrossComparesNeitherRaceNorDeadlock)
{
    auto First = NewStore(), Second = NewStore();
    std::atomic<int> Failures{0};
    auto Work = [&Failures](IMFAttributes* Mine, IMFAttributes* Other) {
        for (UINT32 Index = 0; Index < 2000; ++Index)
        {
            BOOL Result;
            if (FAILED(Mine->SetUINT32(KeyA, Index)) || FAILED(Mine->SetString(KeyB, L"value")) ||
                FAILED(Mine->Compare(Other, MF_ATTRIBUTES_MATCH_OUR_ITEMS, &Result)) ||
                (Index % 100 == 0 && FAILED(Mine->DeleteAllItems())))
                ++Failures;
        }
    };
    std::thread A(Work, First.Get(), Second.Get()), B(Work, Second.Get(), First.Get());
    A.join();
    B.join();
    EXPECT_EQ(Failures, 0);
    // Each store ends with its own last writes, whole.
    for (IMFAttributes* Store : {First.Get(), Second.Get()})
    {
        UINT32 Count = 0, Value = 0;
        EXPECT_EQ(Store->GetCount(&Count), S_OK);
        EXPECT_EQ(Count, 2u);
        EXPECT_EQ(Store->GetUINT32(KeyA, &Value), S_OK);
        EXPECT_EQ(Value, 1999u);
        wchar_t Text[8] = {};
        EXPECT_EQ(Store->GetString(KeyB, Text, 8, nullptr), S_OK);
        EXPECT_STREQ(Text, L"value");
    }
}
