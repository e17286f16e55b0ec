#include "opc/items/item_object.h"

#include "opc/values/call_limits.h"
#include "opc/values/client_write.h"
#include "opc/values/item_value.h"
#include "opc/values/tag_lookup.h"
#include "opc_error.h"
#include "runtime_link/tag_mirror.h"
#include "runtime_link/viewer_link.h"

HRESULT ItemObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
}

HRESULT ItemObject::TakeTagValue(const wchar_t* itemId, const FILETIME& now)
{
    const int slot = FindTagOfItemId(itemId);
    // An unknown name is reported as a bad type, as the package's clients expect.
    if (slot == kNoTag) return OPC_E_BADTYPE;
    const HRESULT valued = ValueOfMirrorEntry(*g_tagMirror[slot], m_value.Receive());
    if (FAILED(valued)) return valued;
    m_tagSlot = slot;
    m_tagGeneration = TagMirrorGeneration();
    m_canonicalType = m_value.vt();
    m_quality = OPC_QUALITY_GOOD;
    m_timestamp = now;
    return S_OK;
}

HRESULT ItemObject::Initialize(const OPCITEMDEF& definition, OPCHANDLE serverHandle,
                               const FILETIME& now, OPCITEMRESULT& result)
{
    // The bounds first: the lookup reads the whole ID, and the item keeps both texts.
    if (!definition.szItemID || !WithinUnits(definition.szItemID, kMaxItemIdUnits))
        return OPC_E_INVALIDITEMID;
    if (!WithinUnits(definition.szAccessPath, kMaxItemIdUnits)) return OPC_E_UNKNOWNPATH;
    const HRESULT valued = TakeTagValue(definition.szItemID, now);
    if (FAILED(valued)) return valued;
    m_requestedType = definition.vtRequestedDataType;
    m_itemId = CopyHeapString(definition.szItemID);
    if (!m_itemId) return OPC_E_INVALIDITEMID;
    if (definition.szAccessPath) {
        m_accessPath = CopyHeapString(definition.szAccessPath);
        if (!m_accessPath) return OPC_E_INVALIDITEMID;
    }
    m_serverHandle = serverHandle;
    m_clientHandle = definition.hClient;
    m_active = definition.bActive;

    result = OPCITEMRESULT{};
    result.hServer = serverHandle;
    result.vtCanonicalDataType = m_canonicalType;
    result.dwAccessRights = kItemAccessRights;
    MarkChanged();
    return S_OK;
}

HRESULT ItemObject::CopyFrom(const ItemObject& source, const FILETIME& now)
{
    HeapString itemId = CopyHeapString(source.m_itemId.get());
    HeapString accessPath = CopyHeapString(source.m_accessPath.get());
    if ((source.m_itemId && !itemId) || (source.m_accessPath && !accessPath)) {
        return E_OUTOFMEMORY;
    }
    // The copy reads its tag as an added item does; what the source still owes (a pending
    // write, its result, its change bits) stays with the source, so that no write is posted
    // twice.
    const HRESULT valued = TakeTagValue(source.m_itemId.get(), now);
    if (FAILED(valued)) return valued;
    m_itemId = std::move(itemId);
    m_accessPath = std::move(accessPath);
    m_serverHandle = source.m_serverHandle;
    m_clientHandle = source.m_clientHandle;
    m_requestedType = source.m_requestedType;
    m_active = source.m_active;
    return S_OK;
}

ItemReadSource ItemObject::ReadSource() const
{
    return ReadSource(ViewerLinked());
}

HRESULT ItemObject::Read(DWORD source, VARIANT* value, WORD* quality, FILETIME* timestamp) const
{
    if (timestamp) *timestamp = m_timestamp;
    return ReadItem(ReadSource(), source, value, quality);
}

HRESULT ItemObject::ReadMaxAge(DWORD maxAge, unsigned long long passAt, VARIANT* value,
                               WORD* quality, FILETIME* timestamp)
{
    // 0 asks for the device: never the item's value, however young.
    if (maxAge != 0 && m_active && !m_awaitsPass && passAt != 0 && WithinMaxAge(passAt, maxAge)) {
        return Read(OPC_DS_DEVICE, value, quality, timestamp);
    }
    VariantOwner tagValue;
    WORD tagQuality = OPC_QUALITY_BAD;
    const HRESULT taken = TagValueWithinMaxAge(TagEntry() ? m_tagSlot : kNoTag, maxAge,
                                               tagValue.Receive(), &tagQuality, timestamp);
    if (FAILED(taken)) {
        VariantClear(value);
        *quality = OPC_QUALITY_BAD;
        return taken;
    }
    return ReadItem(ItemReadSource{&tagValue.get(), m_requestedType, tagQuality, true},
                    OPC_DS_DEVICE, value, quality);
}

HRESULT ItemObject::Write(const VARIANT& value)
{
    VariantOwner converted;
    const HRESULT hr = ValueForTagWrite(value, m_canonicalType, TagEntry() ? m_tagSlot : kNoTag,
                                       converted.Receive());
    if (FAILED(hr)) return hr;
    // The data callback is owed only a value that differs.
    MarkChanged(SameItemValue(m_value.get(), converted.get()) ? kOwedToBothSinks
                                                              : kOwedToEverySink);
    m_value = std::move(converted);
    // The item no longer holds its tag's value. As an edit, the write also has the next pass
    // walk every item, inactive ones too, rather than only those of changed tags: so it is
    // posted whether or not the item is active.
    m_seenTagChange = kTagChangeNotSeen;
    Edited();
    m_writePending = 1;
    m_writeSequence = NextWriteSequence();
    m_timestamp = CurrentUtcTime();
    return S_OK;
}

HRESULT ItemObject::WriteAsync(const VARIANT& value)
{
    m_writeResult = Write(value);
    return m_writeResult;
}

void ItemObject::SetActive(BOOL active)
{
    if (active && !m_active) m_awaitsPass = true;
    m_active = active;
    Edited();
    if (active) {
        MarkChanged();
    } else {
        m_changeMask = 0;
    }
}

void ItemObject::MarkOwedToDataCallback()
{
    MarkChanged(kOwedToDataCallback);
}

void ItemObject::MarkChanged(WORD sinks)
{
    if (m_active) m_changeMask |= sinks;
}
