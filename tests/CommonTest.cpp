#include <gtest/gtest.h>

#include "Common.h"
#include <wrl/implements.h>
#include "diagnostics/ComException.h"
#include "support/DebugOutputCapture.h"

using Microsoft::WRL::ComPtr;

namespace {

// A store whose every write fails, and that holds nothing to read.
class ReadOnlyStore final
    : public Microsoft::WRL::RuntimeClass<Microsoft::WRL::RuntimeClassFlags<Microsoft::WRL::ClassicCom>, IMFAttributes>
{
public:
    STDMETHODIMP SetItem(REFGUID, REFPROPVARIANT) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetUINT32(REFGUID, UINT32) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetUINT64(REFGUID, UINT64) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetDouble(REFGUID, double) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetGUID(REFGUID, REFGUID) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetString(REFGUID, LPCWSTR) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetBlob(REFGUID, const UINT8*, UINT32) override { return E_ACCESSDENIED; }
    STDMETHODIMP SetUnknown(REFGUID, IUnknown*) override { return E_ACCESSDENIED; }
    STDMETHODIMP DeleteItem(REFGUID) override { return E_ACCESSDENIED; }
    STDMETHODIMP DeleteAllItems() override { return E_ACCESSDENIED; }
    STDMETHODIMP CopyAllItems(IMFAttributes*) override { return S_OK; }
    STDMETHODIMP GetCount(UINT32* Count) override { return *Count = 0, S_OK; }
    STDMETHODIMP LockStore() override { return S_OK; }
    STDMETHODIMP UnlockStore() override { return S_OK; }

    // Nothing is there to read.
    STDMETHODIMP GetItem(REFGUID, PROPVARIANT*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetItemType(REFGUID, MF_ATTRIBUTE_TYPE*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP CompareItem(REFGUID, REFPROPVARIANT, BOOL* Result) override { return *Result = FALSE, S_OK; }
    STDMETHODIMP Compare(IMFAttributes*, MF_ATTRIBUTES_MATCH_TYPE, BOOL* Result) override
    {
        return *Result = FALSE, S_OK;
    }
    STDMETHODIMP GetUINT32(REFGUID, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetUINT64(REFGUID, UINT64*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetDouble(REFGUID, double*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetGUID(REFGUID, GUID*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetStringLength(REFGUID, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetString(REFGUID, LPWSTR, UINT32, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetAllocatedString(REFGUID, LPWSTR*, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetBlobSize(REFGUID, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetBlob(REFGUID, UINT8*, UINT32, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetAllocatedBlob(REFGUID, UINT8**, UINT32*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetUnknown(REFGUID, REFIID, LPVOID*) override { return MF_E_ATTRIBUTENOTFOUND; }
    STDMETHODIMP GetItemByIndex(UINT32, GUID*, PROPVARIANT*) override { return E_INVALIDARG; }
};

} // namespace

TEST(MFCopy, CopiesOneItemWithItsTypeOrReportsItMissing)
{
    ComPtr<IMFMediaType> Input, Output;
    MFCreateMediaType(Input.GetAddressOf());
    MFCreateMediaType(Output.GetAddressOf());
    MFSetAttributeRatio(Input.Get(), MF_MT_FRAME_RATE, 30000, 1001);

    EXPECT_FALSE(MF::Copy(Input.Get(), Output.Get(), MF_MT_FRAME_SIZE));
    UINT32 Count = 0;
    Output->GetCount(&Count);
    EXPECT_EQ(Count, 0u);

    EXPECT_TRUE(MF::Copy(Input.Get(), Output.Get(), MF_MT_FRAME_RATE));
    MF_ATTRIBUTE_TYPE Type{};
    Output->GetItemType(MF_MT_FRAME_RATE, &Type);
    EXPECT_EQ(Type, MF_ATTRIBUTE_UINT64);
    UINT32 Numerator = 0, Denominator = 0;
    MFGetAttributeRatio(Output.Get(), MF_MT_FRAME_RATE, &Numerator, &Denominator);
    EXPECT_EQ(Numerator, 30000u);
    EXPECT_EQ(Denominator, 1001u);
}

TEST(MFCopy, AFailedWriteIsTracedAndThrownAndTheValueCleared)
{
    ComPtr<IMFAttributes> Input;
    MFCreateAttributes(Input.GetAddressOf(), 1);
    auto Held = Microsoft::WRL::Make<ReadOnlyStore>();
    Input->SetUnknown(MF_MT_SUBTYPE, Held.Get());
    auto Output = Microsoft::WRL::Make<ReadOnlyStore>();

    DebugOutputCapture Capture;
    HRESULT Result = S_OK;
    try
    {
        MF::Copy(Input.Get(), Output.Get(), MF_MT_SUBTYPE);
    }
    catch (const ComException& Exception)
    {
        Result = Exception.m_Result;
    }
    EXPECT_EQ(Result, E_ACCESSDENIED);
    const auto Lines = Capture.Lines();
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].substr(0, 11), L"Common.cpp(");
    EXPECT_NE(Lines[0].find(L"): MF::Copy: Throwing an exception, 0x80070005, expression "
                            L"Output->SetItem(Key, LocalValue)\n"),
              std::wstring::npos);
    // The copy taken from the input was let go on the way out.
    Input.Reset();
    EXPECT_EQ(Held->Release(), 0u);
    Held.Detach();
}

TEST(MFPropVariant, StartsEmptyAndClearsWhatItHolds)
{
    MF::PropVariantT<1> Value;
    EXPECT_EQ(Value.vt, VT_EMPTY);
    ComPtr<IMFAttributes> Store;
    MFCreateAttributes(Store.GetAddressOf(), 1);
    Store->SetString(MF_MT_SUBTYPE, L"some text");
    ASSERT_EQ(Store->GetItem(MF_MT_SUBTYPE, &Value), S_OK);
    EXPECT_EQ(Value.vt, VT_LPWSTR);
    Value.Clear();
    EXPECT_EQ(Value.vt, VT_EMPTY);
}
