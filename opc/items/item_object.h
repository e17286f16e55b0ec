#pragma once
#include <windows.h>
#include <oleauto.h>

#include "opc/com/heap_string.h"
#include "opc/com/reference_counted.h"
#include "opc/items/item_table.h"
#include "opc/values/item_value.h"
#include "opc/values/item_value_owner.h"
#include "opc/values/tag_changes.h"
#include "opc_da.h"

// Change-mask bits: the item's value is still owed to the data sink, to the data-time sink,
// to the data callback. The two advise sinks are owed every active item each update period;
// the data callback only an item whose value or quality changed since it was last sent.
constexpr WORD kOwedToDataSink = 2;
constexpr WORD kOwedToDataTimeSink = 4;
constexpr WORD kOwedToBothSinks = kOwedToDataSink | kOwedToDataTimeSink;
constexpr WORD kOwedToDataCallback = 8;
constexpr WORD kOwedToEverySink = kOwedToBothSinks | kOwedToDataCallback;

// Every item may be read and written, whatever its tag.
constexpr DWORD kItemAccessRights = OPC_READABLE | OPC_WRITEABLE;

// What an update pass gives each item it refreshes, found once for the pass.
struct RefreshPass {
    FILETIME cycleTime;
    WORD quality;  // GOOD while the Viewer is linked, COMM_FAILURE while not
    uint32_t mirrorGeneration;
};

// One tag in a group: its value in the tag's canonical type, quality, timestamp and the
// client's view of it. Never handed to a client; the group's item table holds it.
class ItemObject final : public ReferenceCounted<ItemObject> {
public:
    ItemObject() : m_serial(++s_lastSerial) {}
    ItemObject(const ItemObject&) = delete;
    ItemObject& operator=(const ItemObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;

    // Resolves the definition's item ID against the tag mirror and takes the tag's canonical
    // type and value, stamped `now` (the time of the client's call); fills `result` on success.
    // OPC_E_INVALIDITEMID for a null item ID, one longer than kMaxItemIdUnits or a copy that
    // cannot be had, OPC_E_UNKNOWNPATH for an access path longer than that, OPC_E_BADTYPE when
    // no tag has that name.
    HRESULT Initialize(const OPCITEMDEF& definition, OPCHANDLE serverHandle, const FILETIME& now,
                       OPCITEMRESULT& result);
    // Makes this item a copy of `source` for a cloned group: the same item ID, access path,
    // handles, requested type and active flag, with the value and quality its tag gives now,
    // stamped `now`; nothing pending and no change bits.
    HRESULT CopyFrom(const ItemObject& source, const FILETIME& now);

    // What item read takes from this item.
    ItemReadSource ReadSource() const;
    // The same with the Viewer link as a walk over many items found it once.
    ItemReadSource ReadSource(bool viewerLinked) const
    {
        // Without the Viewer no value is current, whether or not the item was refreshed since.
        const WORD quality = viewerLinked ? m_quality : WORD{OPC_QUALITY_COMM_FAILURE};
        return ItemReadSource{&m_value.get(), m_requestedType, quality, m_active != FALSE};
    }
    // Value, quality and timestamp as a client reads them from `source`; each is optional.
    HRESULT Read(DWORD source, VARIANT* value, WORD* quality, FILETIME* timestamp) const;
    // Value, quality and timestamp for a read that takes a value at most `maxAge` ms old
    // (kAnyAge: any). The item's own, with its timestamp, when it holds the value of its group's
    // last update pass (`passAt`, GetTickCount64; 0 while the group is inactive, whose items
    // keep no value for such reads) and that pass is young enough (never for 0, a read from
    // the device); else its tag's (TagValueWithinMaxAge) with the time that value belongs to:
    // the time the mirror took it, or of this read of the tag record. Either is converted to the
    // requested type as Read converts; neither active flag lowers the quality.
    HRESULT ReadMaxAge(DWORD maxAge, unsigned long long passAt, VARIANT* value, WORD* quality,
                       FILETIME* timestamp);
    // Every write to an item, synchronous or asynchronous: stores a client's value in the
    // canonical type, stamped now, and marks it for posting to the mirror (PostPendingWrite
    // posts it at once, else the update pass does). Returns the item's answer as the client
    // gets it (ValueForTagWrite): S_OK, or OPC_SERVER_E_VIEWER_NOT_RUNNING, OPC_E_BADRIGHTS,
    // OPC_E_RANGE, OPC_E_BADTYPE or E_OUTOFMEMORY with the item unchanged.
    HRESULT Write(const VARIANT& value);

    // An IOPCAsyncIO write completes at once and keeps its answer for the write-complete stream.
    HRESULT WriteAsync(const VARIANT& value);
    HRESULT WriteResult() const { return m_writeResult; }

    // The update pass's step for an active item: posts a pending client value into the
    // item's mirror entry unless a later write is already there, or else takes the entry's
    // value; the quality follows the Viewer link; a value or quality that differs from the
    // item's is stamped with the poll cycle's time; marks the item for both advise sinks, and
    // for the data callback when its value or quality changed. An item with nothing to post
    // whose quality and tag did not change since it last took its tag's value (TagChangeNumber)
    // holds that value still: it is only marked for both advise sinks.
    // Returns whether the item then holds its tag's value (or has no tag): a pass that finds
    // nothing changed need not refresh it.
    bool Refresh(const RefreshPass& pass)
    {
        m_awaitsPass = false;
        if (HoldsTagValue(pass)) {
            MarkRefreshedUnchanged();
            return true;
        }
        RefreshFromTag(pass);
        return m_tagSlot == kNoTag || HoldsTagValue(pass);
    }
    // What Refresh does to an item that holds its tag's value, or has no tag.
    void MarkRefreshedUnchanged()
    {
        if (m_tagSlot != kNoTag) m_changeMask |= kOwedToBothSinks;
    }
    // Posts a pending client value into the item's mirror entry as Refresh does, active or
    // not, and changes nothing else of the item: a write answered S_OK waits neither for the
    // item to be active nor outlives it unposted.
    void PostPendingWrite()
    {
        if (m_writePending) PostWriteToTag();
    }
    // The mirror entry of the tag the item ID names, or null when there is none. The name is
    // looked up only when the mirror changed since the item last looked (TagMirrorGeneration).
    MirrorEntry* TagEntry();
    // Whether the item is as its group's kept data-change streams carry it (PreviousStreams):
    // every change to what a stream carries of it, or to whether it is carried, clears this.
    bool Streamed() const { return m_streamed; }
    void MarkStreamed() { m_streamed = true; }
    // The table whose edits the item's changes move (ItemTable::Edits); set by the table.
    void SetTable(ItemTable* table) { m_table = table; }

    void SetActive(BOOL active);
    void SetClientHandle(OPCHANDLE handle)
    {
        m_clientHandle = handle;
        Edited();
    }
    void SetRequestedType(VARTYPE type)
    {
        m_requestedType = type;
        Edited();
    }
    void ClearChangeBits(WORD bits) { m_changeMask &= static_cast<WORD>(~bits); }
    // A newly connected data callback, or a group turned active, is owed the item as if it
    // had changed; only while the item is active.
    void MarkOwedToDataCallback();

    OPCHANDLE ServerHandle() const { return m_serverHandle; }
    // Tells this item from every other item the process made, as a server handle that a new
    // item may take once this one is removed cannot.
    uint64_t Serial() const { return m_serial; }
    // The mirror slot of the item's tag as it last looked it up; kNoTag when it found none.
    int TagSlot() const { return m_tagSlot; }
    OPCHANDLE ClientHandle() const { return m_clientHandle; }
    VARTYPE CanonicalType() const { return m_canonicalType; }
    VARTYPE RequestedType() const { return m_requestedType; }
    const wchar_t* ItemId() const { return m_itemId.get(); }
    const wchar_t* AccessPath() const { return m_accessPath.get(); }
    BOOL Active() const { return m_active; }
    WORD ChangeMask() const { return m_changeMask; }
    const FILETIME& Timestamp() const { return m_timestamp; }
    bool WritePending() const { return m_writePending != 0; }

private:
    friend class ReferenceCounted<ItemObject>;
    ~ItemObject() = default;
    // Value, canonical type, quality GOOD and timestamp `now` from the tag that itemId names.
    HRESULT TakeTagValue(const wchar_t* itemId, const FILETIME& now);
    // Sets the bits of `sinks`, only while the item is active.
    void MarkChanged(WORD sinks = kOwedToEverySink);
    bool HoldsTagValue(const RefreshPass& pass) const
    {
        return m_tagGeneration == pass.mirrorGeneration && m_tagSlot != kNoTag && !m_writePending &&
               m_quality == pass.quality && m_seenTagChange == TagChangeNumber(m_tagSlot);
    }
    // A client changed what a stream carries of the item.
    void Edited()
    {
        m_streamed = false;
        if (m_table) m_table->NoteEdit();
    }
    void RefreshFromTag(const RefreshPass& pass);
    void RefreshFromMirrorEntry(MirrorEntry& entry, const RefreshPass& pass);
    void PostWriteToTag();
    void PostWriteTo(MirrorEntry& entry);

    // What every update pass looks at comes first, together.
    BOOL m_active = FALSE;
    WORD m_changeMask = 0;
    WORD m_quality = OPC_QUALITY_GOOD;
    DWORD m_writePending = 0;
    int m_tagSlot = kNoTag;        // the tag's mirror slot as of m_tagGeneration
    uint32_t m_tagGeneration = 0;  // never a generation of the mirror: not looked up yet
    uint64_t m_seenTagChange = kTagChangeNotSeen;  // the slot's number when its value was taken
    bool m_streamed = false;
    // Added or made active since the group's last update pass: its value is not that pass's.
    bool m_awaitsPass = true;
    OPCHANDLE m_serverHandle = 0;
    OPCHANDLE m_clientHandle = 0;
    VARTYPE m_canonicalType = VT_EMPTY;
    VARTYPE m_requestedType = VT_EMPTY;
    VariantOwner m_value;
    FILETIME m_timestamp = {};
    HeapString m_itemId;
    HeapString m_accessPath;
    HRESULT m_writeResult = S_OK;
    uint64_t m_writeSequence = 0;  // the order number of the client's last write
    ItemTable* m_table = nullptr;
    uint64_t m_serial;
    static inline uint64_t s_lastSerial = 0;  // items are made on the main thread only
};
