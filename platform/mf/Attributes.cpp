// Plain attribute stores and media types.

#include <wrl/implements.h>
#include "AttributeStore.h"
#include <mfapi.h>

namespace Platform {

namespace {

using namespace Microsoft::WRL;

class Attributes final
    : public RuntimeClass<RuntimeClassFlags<ClassicCom>, ChainInterfaces<AttributesImpl<IMFAttributes>, IMFAttributes>>
{};

class MediaType final : public RuntimeClass<RuntimeClassFlags<ClassicCom>,
                                            ChainInterfaces<AttributesImpl<IMFMediaType>, IMFMediaType, IMFAttributes>>
{
public:
    STDMETHODIMP GetMajorType(GUID* MajorType) override
    {
        if (!MajorType)
            return E_POINTER;
        return m_Attributes.GetGUID(MF_MT_MAJOR_TYPE, MajorType) == S_OK ? S_OK : MF_E_ATTRIBUTENOTFOUND;
    }
    STDMETHODIMP IsCompressedFormat(BOOL* Compressed) override
    {
        if (!Compressed)
            return E_POINTER;
        UINT32 Independent = 0;
        *Compressed = FAILED(m_Attributes.GetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, &Independent)) || !Independent;
        return S_OK;
    }
    STDMETHODIMP IsEqual(IMFMediaType* Other, DWORD* Flags) override
    {
        if (!Other || !Flags)
            return E_POINTER;
        *Flags = 0;
        GUID Ours{}, Theirs{};
        if (FAILED(GetMajorType(&Ours)) || FAILED(Other->GetMajorType(&Theirs)))
            return E_INVALIDARG;
        if (Ours == Theirs)
            *Flags |= MF_MEDIATYPE_EQUAL_MAJOR_TYPES;
        GUID OurSubtype{}, TheirSubtype{};
        if (SUCCEEDED(m_Attributes.GetGUID(MF_MT_SUBTYPE, &OurSubtype)) &&
            SUCCEEDED(Other->GetGUID(MF_MT_SUBTYPE, &TheirSubtype)) && OurSubtype == TheirSubtype)
            *Flags |= MF_MEDIATYPE_EQUAL_FORMAT_TYPES;
        BOOL Same = FALSE;
        if (SUCCEEDED(m_Attributes.Compare(Other, MF_ATTRIBUTES_MATCH_ALL_ITEMS, &Same)) && Same)
            *Flags |= MF_MEDIATYPE_EQUAL_FORMAT_DATA | MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA;
        return *Flags == (MF_MEDIATYPE_EQUAL_MAJOR_TYPES | MF_MEDIATYPE_EQUAL_FORMAT_TYPES |
                          MF_MEDIATYPE_EQUAL_FORMAT_DATA | MF_MEDIATYPE_EQUAL_FORMAT_USER_DATA)
                   ? S_OK
                   : S_FALSE;
    }
    STDMETHODIMP GetRepresentation(GUID, LPVOID*) override { return E_NOTIMPL; }
    STDMETHODIMP FreeRepresentation(GUID, LPVOID) override { return E_NOTIMPL; }
};

template <typename Type, typename Interface>
HRESULT Create(Interface** Object)
{
    if (!Object)
        return E_POINTER;
    ComPtr<Type> Created = Make<Type>();
    if (!Created)
        return E_OUTOFMEMORY;
    *Object = Created.Detach();
    return S_OK;
}

} // namespace

} // namespace Platform

HRESULT MFCreateAttributes(IMFAttributes** ppMFAttributes, UINT32)
{
    return Platform::Create<Platform::Attributes>(ppMFAttributes);
}

HRESULT MFCreateMediaType(IMFMediaType** ppMFType) { return Platform::Create<Platform::MediaType>(ppMFType); }
