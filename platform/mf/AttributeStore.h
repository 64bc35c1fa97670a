// The one attribute store: items keyed by GUID, behind every IMFAttributes
// of the platform (attribute objects, media types, samples).
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include <wrl/client.h>
#include <mfobjects.h>

namespace Platform {

class AttributeStore
{
public:
    AttributeStore() = default;
    ~AttributeStore();
    AttributeStore(const AttributeStore&) = delete;
    AttributeStore& operator=(const AttributeStore&) = delete;

    HRESULT GetItem(REFGUID Key, PROPVARIANT* Value) const;
    HRESULT GetItemType(REFGUID Key, MF_ATTRIBUTE_TYPE* Type) const;
    HRESULT CompareItem(REFGUID Key, REFPROPVARIANT Value, BOOL* Result) const;
    HRESULT Compare(IMFAttributes* Theirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* Result) const;
    HRESULT GetUINT32(REFGUID Key, UINT32* Value) const;
    HRESULT GetUINT64(REFGUID Key, UINT64* Value) const;
    HRESULT GetDouble(REFGUID Key, double* Value) const;
    HRESULT GetGUID(REFGUID Key, GUID* Value) const;
    HRESULT GetStringLength(REFGUID Key, UINT32* Length) const;
    HRESULT GetString(REFGUID Key, LPWSTR Buffer, UINT32 BufferSize, UINT32* Length) const;
    HRESULT GetAllocatedString(REFGUID Key, LPWSTR* Value, UINT32* Length) const;
    HRESULT GetBlobSize(REFGUID Key, UINT32* Size) const;
    HRESULT GetBlob(REFGUID Key, UINT8* Buffer, UINT32 BufferSize, UINT32* Size) const;
    HRESULT GetAllocatedBlob(REFGUID Key, UINT8** Buffer, UINT32* Size) const;
    HRESULT GetUnknown(REFGUID Key, REFIID Riid, LPVOID* Object) const;
    HRESULT SetItem(REFGUID Key, REFPROPVARIANT Value);
    HRESULT DeleteItem(REFGUID Key);
    HRESULT DeleteAllItems();
    HRESULT SetUINT32(REFGUID Key, UINT32 Value);
    HRESULT SetUINT64(REFGUID Key, UINT64 Value);
    HRESULT SetDouble(REFGUID Key, double Value);
    HRESULT SetGUID(REFGUID Key, REFGUID Value);
    HRESULT SetString(REFGUID Key, LPCWSTR Value);
    HRESULT SetBlob(REFGUID Key, const UINT8* Buffer, UINT32 Size);
    HRESULT SetUnknown(REFGUID Key, IUnknown* Value);
    HRESULT LockStore();
    HRESULT UnlockStore();
    HRESULT GetCount(UINT32* Count) const;
    HRESULT GetItemByIndex(UINT32 Index, GUID* Key, PROPVARIANT* Value) const;
    HRESULT CopyAllItems(IMFAttributes* Destination) const;

private:
    using Item = std::pair<GUID, PROPVARIANT>;

    const PROPVARIANT* Find(REFGUID Key) const;
    // Under the lock: ReadValue(item) for the item of Key, when it is of Type.
    template <typename Reader>
    HRESULT Read(REFGUID Key, VARTYPE Type, Reader&& ReadValue) const;
    // Copies the items, so that another store is asked without this lock.
    HRESULT Snapshot(std::vector<Item>& Items) const;
    HRESULT Set(REFGUID Key, const PROPVARIANT& Value);

    mutable std::recursive_mutex m_Lock;
    std::vector<Item> m_Items;
};

// Implements the IMFAttributes methods of Interface over one store.
template <typename Interface>
class AttributesImpl : public Interface
{
public:
    STDMETHODIMP GetItem(REFGUID Key, PROPVARIANT* Value) override { return m_Attributes.GetItem(Key, Value); }
    STDMETHODIMP GetItemType(REFGUID Key, MF_ATTRIBUTE_TYPE* Type) override
    {
        return m_Attributes.GetItemType(Key, Type);
    }
    STDMETHODIMP CompareItem(REFGUID Key, REFPROPVARIANT Value, BOOL* Result) override
    {
        return m_Attributes.CompareItem(Key, Value, Result);
    }
    STDMETHODIMP Compare(IMFAttributes* Theirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* Result) override
    {
        return m_Attributes.Compare(Theirs, MatchType, Result);
    }
    STDMETHODIMP GetUINT32(REFGUID Key, UINT32* Value) override { return m_Attributes.GetUINT32(Key, Value); }
    STDMETHODIMP GetUINT64(REFGUID Key, UINT64* Value) override { return m_Attributes.GetUINT64(Key, Value); }
    STDMETHODIMP GetDouble(REFGUID Key, double* Value) override { return m_Attributes.GetDouble(Key, Value); }
    STDMETHODIMP GetGUID(REFGUID Key, GUID* Value) override { return m_Attributes.GetGUID(Key, Value); }
    STDMETHODIMP GetStringLength(REFGUID Key, UINT32* Length) override
    {
        return m_Attributes.GetStringLength(Key, Length);
    }
    STDMETHODIMP GetString(REFGUID Key, LPWSTR Buffer, UINT32 BufferSize, UINT32* Length) override
    {
        return m_Attributes.GetString(Key, Buffer, BufferSize, Length);
    }
    STDMETHODIMP GetAllocatedString(REFGUID Key, LPWSTR* Value, UINT32* Length) override
    {
        return m_Attributes.GetAllocatedString(Key, Value, Length);
    }
    STDMETHODIMP GetBlobSize(REFGUID Key, UINT32* Size) override { return m_Attributes.GetBlobSize(Key, Size); }
    STDMETHODIMP GetBlob(REFGUID Key, UINT8* Buffer, UINT32 BufferSize, UINT32* Size) override
    {
        return m_Attributes.GetBlob(Key, Buffer, BufferSize, Size);
    }
    STDMETHODIMP GetAllocatedBlob(REFGUID Key, UINT8** Buffer, UINT32* Size) override
    {
        return m_Attributes.GetAllocatedBlob(Key, Buffer, Size);
    }
    STDMETHODIMP GetUnknown(REFGUID Key, REFIID Riid, LPVOID* Object) override
    {
        return m_Attributes.GetUnknown(Key, Riid, Object);
    }
    STDMETHODIMP SetItem(REFGUID Key, REFPROPVARIANT Value) override { return m_Attributes.SetItem(Key, Value); }
    STDMETHODIMP DeleteItem(REFGUID Key) override { return m_Attributes.DeleteItem(Key); }
    STDMETHODIMP DeleteAllItems() override { return m_Attributes.DeleteAllItems(); }
    STDMETHODIMP SetUINT32(REFGUID Key, UINT32 Value) override { return m_Attributes.SetUINT32(Key, Value); }
    STDMETHODIMP SetUINT64(REFGUID Key, UINT64 Value) override { return m_Attributes.SetUINT64(Key, Value); }
    STDMETHODIMP SetDouble(REFGUID Key, double Value) override { return m_Attributes.SetDouble(Key, Value); }
    STDMETHODIMP SetGUID(REFGUID Key, REFGUID Value) override { return m_Attributes.SetGUID(Key, Value); }
    STDMETHODIMP SetString(REFGUID Key, LPCWSTR Value) override { return m_Attributes.SetString(Key, Value); }
    STDMETHODIMP SetBlob(REFGUID Key, const UINT8* Buffer, UINT32 Size) override
    {
        return m_Attributes.SetBlob(Key, Buffer, Size);
    }
    STDMETHODIMP SetUnknown(REFGUID Key, IUnknown* Value) override { return m_Attributes.SetUnknown(Key, Value); }
    STDMETHODIMP LockStore() override { return m_Attributes.LockStore(); }
    STDMETHODIMP UnlockStore() override { return m_Attributes.UnlockStore(); }
    STDMETHODIMP GetCount(UINT32* Count) override { return m_Attributes.GetCount(Count); }
    STDMETHODIMP GetItemByIndex(UINT32 Index, GUID* Key, PROPVARIANT* Value) override
    {
        return m_Attributes.GetItemByIndex(Index, Key, Value);
    }
    STDMETHODIMP CopyAllItems(IMFAttributes* Destination) override { return m_Attributes.CopyAllItems(Destination); }

protected:
    AttributeStore m_Attributes;
};

} // namespace Platform
