#include "AttributeStore.h"

#include <cstring>
#include <cwchar>

namespace Platform {

namespace {

bool IsAttributeType(VARTYPE Type)
{
    switch (Type)
    {
    case MF_ATTRIBUTE_UINT32:
    case MF_ATTRIBUTE_UINT64:
    case MF_ATTRIBUTE_DOUBLE:
    case MF_ATTRIBUTE_GUID:
    case MF_ATTRIBUTE_STRING:
    case MF_ATTRIBUTE_BLOB:
    case MF_ATTRIBUTE_IUNKNOWN: return true;
    default: return false;
    }
}

constexpr HRESULT InsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// Every item of Items is found in Other with an equal value.
bool ContainedIn(const std::vector<std::pair<GUID, PROPVARIANT>>& Items, IMFAttributes* Other)
{
    for (const auto& [Key, Value] : Items)
    {
        BOOL Equal = FALSE;
        if (FAILED(Other->CompareItem(Key, Value, &Equal)) || !Equal)
            return false;
    }
    return true;
}

void ClearItems(std::vector<std::pair<GUID, PROPVARIANT>>& Items)
{
    for (auto& Item : Items)
        PropVariantClear(&Item.second);
    Items.clear();
}

} // namespace

AttributeStore::~AttributeStore() { ClearItems(m_Items); }

const PROPVARIANT* AttributeStore::Find(REFGUID Key) const
{
    for (const Item& Entry : m_Items)
        if (Entry.first == Key)
            return &Entry.second;
    return nullptr;
}

HRESULT AttributeStore::Snapshot(std::vector<Item>& Items) const
{
    std::lock_guard Guard(m_Lock);
    Items.reserve(m_Items.size());
    for (const Item& Entry : m_Items)
    {
        PROPVARIANT Copy{};
        const HRESULT Result = PropVariantCopy(&Copy, &Entry.second);
        if (FAILED(Result))
        {
            ClearItems(Items);
            return Result;
        }
        Items.emplace_back(Entry.first, Copy);
    }
    return S_OK;
}

HRESULT AttributeStore::Set(REFGUID Key, const PROPVARIANT& Value)
{
    if (!IsAttributeType(Value.vt))
        return MF_E_INVALIDTYPE;
    PROPVARIANT Copy{};
    const HRESULT Result = PropVariantCopy(&Copy, &Value);
    if (FAILED(Result))
        return Result;
    PROPVARIANT Old{};
    {
        std::lock_guard Guard(m_Lock);
        auto* Existing = const_cast<PROPVARIANT*>(Find(Key));
        if (Existing)
        {
            Old = *Existing;
            *Existing = Copy;
        }
        else
        {
            try
            {
                m_Items.emplace_back(Key, Copy);
            }
            catch (const std::bad_alloc&)
            {
                PropVariantClear(&Copy);
                return E_OUTOFMEMORY;
            }
        }
    }
    // The old value may hold the last reference to an object: let it go
    // outside the lock.
    PropVariantClear(&Old);
    return S_OK;
}

HRESULT AttributeStore::GetItem(REFGUID Key, PROPVARIANT* Value) const
{
    std::lock_guard Guard(m_Lock);
    const PROPVARIANT* Found = Find(Key);
    if (!Found)
        return MF_E_ATTRIBUTENOTFOUND;
    return Value ? PropVariantCopy(Value, Found) : S_OK;
}

HRESULT AttributeStore::GetItemType(REFGUID Key, MF_ATTRIBUTE_TYPE* Type) const
{
    if (!Type)
        return E_POINTER;
    std::lock_guard Guard(m_Lock);
    const PROPVARIANT* Found = Find(Key);
    if (!Found)
        return MF_E_ATTRIBUTENOTFOUND;
    *Type = static_cast<MF_ATTRIBUTE_TYPE>(Found->vt);
    return S_OK;
}

HRESULT AttributeStore::CompareItem(REFGUID Key, REFPROPVARIANT Value, BOOL* Result) const
{
    if (!Result)
        return E_POINTER;
    std::lock_guard Guard(m_Lock);
    const PROPVARIANT* Found = Find(Key);
    *Result = Found && PropVariantEqual(*Found, Value);
    return S_OK;
}

HRESULT AttributeStore::Compare(IMFAttributes* Theirs, MF_ATTRIBUTES_MATCH_TYPE MatchType, BOOL* Result) const
{
    if (!Theirs || !Result)
        return E_POINTER;
    *Result = FALSE;
    std::vector<Item> Ours;
    HRESULT Status = Snapshot(Ours);
    if (FAILED(Status))
        return Status;
    UINT32 TheirCount = 0;
    if (FAILED(Status = Theirs->GetCount(&TheirCount)))
    {
        ClearItems(Ours);
        return Status;
    }
    // Their items, checked against ours.
    auto TheirsContainedInOurs = [&] {
        for (UINT32 Index = 0; Index < TheirCount; ++Index)
        {
            GUID Key{};
            PROPVARIANT Value{};
            if (FAILED(Theirs->GetItemByIndex(Index, &Key, &Value)))
                return false;
            BOOL Equal = FALSE;
            CompareItem(Key, Value, &Equal);
            PropVariantClear(&Value);
            if (!Equal)
                return false;
        }
        return true;
    };
    bool Match = false;
    switch (MatchType)
    {
    case MF_ATTRIBUTES_MATCH_OUR_ITEMS: Match = ContainedIn(Ours, Theirs); break;
    case MF_ATTRIBUTES_MATCH_THEIR_ITEMS: Match = TheirsContainedInOurs(); break;
    case MF_ATTRIBUTES_MATCH_ALL_ITEMS: Match = Ours.size() == TheirCount && ContainedIn(Ours, Theirs); break;
    case MF_ATTRIBUTES_MATCH_INTERSECTION:
        Match = true;
        for (const auto& [Key, Value] : Ours)
        {
            PROPVARIANT Other{};
            if (SUCCEEDED(Theirs->GetItem(Key, &Other)))
            {
                Match = Match && PropVariantEqual(Value, Other);
                PropVariantClear(&Other);
            }
        }
        break;
    case MF_ATTRIBUTES_MATCH_SMALLER:
        Match = Ours.size() <= TheirCount ? ContainedIn(Ours, Theirs) : TheirsContainedInOurs();
        break;
    default: Status = E_INVALIDARG; break;
    }
    ClearItems(Ours);
    *Result = Match;
    return Status;
}

template <typename Reader>
HRESULT AttributeStore::Read(REFGUID Key, VARTYPE Type, Reader&& ReadValue) const
{
    std::lock_guard Guard(m_Lock);
    const PROPVARIANT* Found = Find(Key);
    if (!Found)
        return MF_E_ATTRIBUTENOTFOUND;
    if (Found->vt != Type)
        return MF_E_INVALIDTYPE;
    return ReadValue(*Found);
}

HRESULT AttributeStore::GetUINT32(REFGUID Key, UINT32* Value) const
{
    if (!Value)
        return E_POINTER;
    return Read(Key, VT_UI4, [&](const PROPVARIANT& Item) { return *Value = Item.ulVal, S_OK; });
}

HRESULT AttributeStore::GetUINT64(REFGUID Key, UINT64* Value) const
{
    if (!Value)
        return E_POINTER;
    return Read(Key, VT_UI8, [&](const PROPVARIANT& Item) { return *Value = Item.uhVal, S_OK; });
}

HRESULT AttributeStore::GetDouble(REFGUID Key, double* Value) const
{
    if (!Value)
        return E_POINTER;
    return Read(Key, VT_R8, [&](const PROPVARIANT& Item) { return *Value = Item.dblVal, S_OK; });
}

HRESULT AttributeStore::GetGUID(REFGUID Key, GUID* Value) const
{
    if (!Value)
        return E_POINTER;
    return Read(Key, VT_CLSID, [&](const PROPVARIANT& Item) { return *Value = *Item.puuid, S_OK; });
}

HRESULT AttributeStore::GetStringLength(REFGUID Key, UINT32* Length) const
{
    if (!Length)
        return E_POINTER;
    return Read(Key, VT_LPWSTR,
                [&](const PROPVARIANT& Item) { return *Length = static_cast<UINT32>(wcslen(Item.pwszVal)), S_OK; });
}

HRESULT AttributeStore::GetString(REFGUID Key, LPWSTR Buffer, UINT32 BufferSize, UINT32* Length) const
{
    if (!Buffer)
        return E_POINTER;
    return Read(Key, VT_LPWSTR, [&](const PROPVARIANT& Item) {
        const size_t Size = wcslen(Item.pwszVal);
        if (Size + 1 > BufferSize)
            return InsufficientBuffer;
        std::memcpy(Buffer, Item.pwszVal, (Size + 1) * sizeof(wchar_t));
        if (Length)
            *Length = static_cast<UINT32>(Size);
        return S_OK;
    });
}

HRESULT AttributeStore::GetAllocatedString(REFGUID Key, LPWSTR* Value, UINT32* Length) const
{
    if (!Value || !Length)
        return E_POINTER;
    *Value = nullptr;
    return Read(Key, VT_LPWSTR, [&](const PROPVARIANT& Item) {
        const size_t Size = wcslen(Item.pwszVal);
        auto* Copy = static_cast<wchar_t*>(CoTaskMemAlloc((Size + 1) * sizeof(wchar_t)));
        if (!Copy)
            return E_OUTOFMEMORY;
        std::memcpy(Copy, Item.pwszVal, (Size + 1) * sizeof(wchar_t));
        *Value = Copy;
        *Length = static_cast<UINT32>(Size);
        return S_OK;
    });
}

HRESULT AttributeStore::GetBlobSize(REFGUID Key, UINT32* Size) const
{
    if (!Size)
        return E_POINTER;
    return Read(Key, VT_VECTOR | VT_UI1, [&](const PROPVARIANT& Item) { return *Size = Item.caub.cElems, S_OK; });
}

HRESULT AttributeStore::GetBlob(REFGUID Key, UINT8* Buffer, UINT32 BufferSize, UINT32* Size) const
{
    if (!Buffer)
        return E_POINTER;
    return Read(Key, VT_VECTOR | VT_UI1, [&](const PROPVARIANT& Item) {
        if (Item.caub.cElems > BufferSize)
            return InsufficientBuffer;
        if (Item.caub.cElems)
            std::memcpy(Buffer, Item.caub.pElems, Item.caub.cElems);
        if (Size)
            *Size = Item.caub.cElems;
        return S_OK;
    });
}

HRESULT AttributeStore::GetAllocatedBlob(REFGUID Key, UINT8** Buffer, UINT32* Size) const
{
    if (!Buffer || !Size)
        return E_POINTER;
    *Buffer = nullptr;
    return Read(Key, VT_VECTOR | VT_UI1, [&](const PROPVARIANT& Item) {
        auto* Copy = static_cast<UINT8*>(CoTaskMemAlloc(Item.caub.cElems));
        if (!Copy)
            return E_OUTOFMEMORY;
        if (Item.caub.cElems)
            std::memcpy(Copy, Item.caub.pElems, Item.caub.cElems);
        *Buffer = Copy;
        *Size = Item.caub.cElems;
        return S_OK;
    });
}

HRESULT AttributeStore::GetUnknown(REFGUID Key, REFIID Riid, LPVOID* Object) const
{
    if (!Object)
        return E_POINTER;
    *Object = nullptr;
    // The object is asked outside the lock: its QueryInterface is its own.
    Microsoft::WRL::ComPtr<IUnknown> Value;
    const HRESULT Result = Read(Key, VT_UNKNOWN, [&](const PROPVARIANT& Item) { return Value = Item.punkVal, S_OK; });
    if (FAILED(Result))
        return Result;
    return Value ? Value->QueryInterface(Riid, Object) : E_NOINTERFACE;
}

HRESULT AttributeStore::SetItem(REFGUID Key, REFPROPVARIANT Value) { return Set(Key, Value); }

HRESULT AttributeStore::DeleteItem(REFGUID Key)
{
    PROPVARIANT Old{};
    {
        std::lock_guard Guard(m_Lock);
        for (auto Position = m_Items.begin(); Position != m_Items.end(); ++Position)
            if (Position->first == Key)
            {
                Old = Position->second;
                m_Items.erase(Position);
                break;
            }
    }
    PropVariantClear(&Old);
    return S_OK;
}

HRESULT AttributeStore::DeleteAllItems()
{
    std::vector<Item> Old;
    {
        std::lock_guard Guard(m_Lock);
        Old.swap(m_Items);
    }
    ClearItems(Old);
    return S_OK;
}

HRESULT AttributeStore::SetUINT32(REFGUID Key, UINT32 Value)
{
    PROPVARIANT Variant{};
    Variant.vt = VT_UI4;
    Variant.ulVal = Value;
    return Set(Key, Variant);
}

HRESULT AttributeStore::SetUINT64(REFGUID Key, UINT64 Value)
{
    PROPVARIANT Variant{};
    Variant.vt = VT_UI8;
    Variant.uhVal = Value;
    return Set(Key, Variant);
}

HRESULT AttributeStore::SetDouble(REFGUID Key, double Value)
{
    PROPVARIANT Variant{};
    Variant.vt = VT_R8;
    Variant.dblVal = Value;
    return Set(Key, Variant);
}

HRESULT AttributeStore::SetGUID(REFGUID Key, REFGUID Value)
{
    GUID Copy = Value;
    PROPVARIANT Variant{};
    Variant.vt = VT_CLSID;
    Variant.puuid = &Copy;
    return Set(Key, Variant);
}

HRESULT AttributeStore::SetString(REFGUID Key, LPCWSTR Value)
{
    if (!Value)
        return E_POINTER;
    PROPVARIANT Variant{};
    Variant.vt = VT_LPWSTR;
    Variant.pwszVal = const_cast<LPWSTR>(Value);
    return Set(Key, Variant);
}

HRESULT AttributeStore::SetBlob(REFGUID Key, const UINT8* Buffer, UINT32 Size)
{
    if (!Buffer && Size)
        return E_POINTER;
    PROPVARIANT Variant{};
    Variant.vt = VT_VECTOR | VT_UI1;
    Variant.caub.cElems = Size;
    Variant.caub.pElems = const_cast<UINT8*>(Buffer);
    return Set(Key, Variant);
}

HRESULT AttributeStore::SetUnknown(REFGUID Key, IUnknown* Value)
{
    PROPVARIANT Variant{};
    Variant.vt = VT_UNKNOWN;
    Variant.punkVal = Value;
    return Set(Key, Variant);
}

HRESULT AttributeStore::LockStore()
{
    m_Lock.lock();
    return S_OK;
}

HRESULT AttributeStore::UnlockStore()
{
    m_Lock.unlock();
    return S_OK;
}

HRESULT AttributeStore::GetCount(UINT32* Count) const
{
    if (!Count)
        return E_POINTER;
    std::lock_guard Guard(m_Lock);
    *Count = static_cast<UINT32>(m_Items.size());
    return S_OK;
}

HRESULT AttributeStore::GetItemByIndex(UINT32 Index, GUID* Key, PROPVARIANT* Value) const
{
    if (!Key)
        return E_POINTER;
    std::lock_guard Guard(m_Lock);
    if (Index >= m_Items.size())
        return E_INVALIDARG;
    *Key = m_Items[Index].first;
    return Value ? PropVariantCopy(Value, &m_Items[Index].second) : S_OK;
}

HRESULT AttributeStore::CopyAllItems(IMFAttributes* Destination) const
{
    if (!Destination)
        return E_POINTER;
    std::vector<Item> Items;
    HRESULT Result = Snapshot(Items);
    if (SUCCEEDED(Result))
        Result = Destination->DeleteAllItems();
    for (size_t Index = 0; SUCCEEDED(Result) && Index < Items.size(); ++Index)
        Result = Destination->SetItem(Items[Index].first, Items[Index].second);
    ClearItems(Items);
    return Result;
}

} // namespace Platform
