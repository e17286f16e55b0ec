#include "fake_enumerators.h"

#include "fake_values.h"

#include <cstring>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace fake {
namespace {

// Cursor handling common to the three enumerators; Element copies one entry for the client.
template <class Interface, class Entry, class Element>
class Enumerator : public ComObject<Interface> {
 public:
  explicit Enumerator(std::vector<Entry> entries) : entries_(std::move(entries)) {}

 protected:
  // Copies up to celt entries from the cursor on into `out`; returns how many.
  template <class Copy>
  ULONG take(ULONG celt, Element* out, Copy copy) {
    ULONG fetched = 0;
    while (fetched < celt && cursor_ < entries_.size()) copy(entries_[cursor_++], out[fetched++]);
    return fetched;
  }
  HRESULT skip(ULONG celt) {
    const size_t left = entries_.size() - cursor_;
    cursor_ += celt < left ? celt : left;
    return celt <= left ? S_OK : S_FALSE;
  }
  void reset() { cursor_ = 0; }
  const std::vector<Entry>& entries() const { return entries_; }
  size_t cursor() const { return cursor_; }
  void set_cursor(size_t cursor) { cursor_ = cursor; }

 private:
  std::vector<Entry> entries_;
  size_t cursor_ = 0;
};

class StringEnumerator : public Enumerator<IEnumString, std::wstring, LPOLESTR> {
 public:
  using Enumerator::Enumerator;
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
    if (!rgelt || (!pceltFetched && celt != 1)) return E_INVALIDARG;
    const ULONG fetched = take(celt, rgelt, [](const std::wstring& s, LPOLESTR& e) { e = task_string(s); });
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override { return skip(celt); }
  HRESULT STDMETHODCALLTYPE Reset() override { reset(); return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumString** ppEnum) override {
    if (!ppEnum) return E_INVALIDARG;
    auto* clone = new StringEnumerator(entries());
    clone->set_cursor(cursor());
    return hand_out(clone, IID_IEnumString, reinterpret_cast<void**>(ppEnum));
  }
};

class UnknownEnumerator : public Enumerator<IEnumUnknown, ComPtr<IUnknown>, IUnknown*> {
 public:
  using Enumerator::Enumerator;
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override {
    if (!rgelt || (!pceltFetched && celt != 1)) return E_INVALIDARG;
    const ULONG fetched = take(celt, rgelt, [](const ComPtr<IUnknown>& o, IUnknown*& e) { o.CopyTo(&e); });
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override { return skip(celt); }
  HRESULT STDMETHODCALLTYPE Reset() override { reset(); return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumUnknown** ppEnum) override {
    if (!ppEnum) return E_INVALIDARG;
    auto* clone = new UnknownEnumerator(entries());
    clone->set_cursor(cursor());
    return hand_out(clone, IID_IEnumUnknown, reinterpret_cast<void**>(ppEnum));
  }
};

// Engineering-unit range as OPC gives it for analog items: a SAFEARRAY of two doubles.
void set_eu_range(VARIANT& info) {
  VariantInit(&info);
  SAFEARRAY* range = SafeArrayCreateVector(VT_R8, 0, 2);
  if (!range) return;
  static_cast<double*>(range->pvData)[0] = kEuLow;
  static_cast<double*>(range->pvData)[1] = kEuHigh;
  info.vt = VT_ARRAY | VT_R8;
  info.parray = range;
}

class ItemAttributesEnumerator : public Enumerator<IEnumOPCItemAttributes, Item, OPCITEMATTRIBUTES> {
 public:
  using Enumerator::Enumerator;
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                 ULONG* pceltFetched) override {
    if (!ppItemArray || !pceltFetched) return E_INVALIDARG;
    *ppItemArray = nullptr;
    *pceltFetched = 0;
    OPCITEMATTRIBUTES* records = task_array<OPCITEMATTRIBUTES>(celt);
    if (!records) return E_OUTOFMEMORY;
    const ULONG fetched = take(celt, records, [](const Item& item, OPCITEMATTRIBUTES& a) {
      a.szAccessPath = task_string(item.accessPath);
      a.szItemID = task_string(item.itemId);
      a.bActive = item.active;
      a.hClient = item.hClient;
      a.hServer = item.hServer;
      a.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
      a.dwBlobSize = static_cast<DWORD>(item.blob.size());
      a.pBlob = task_array<BYTE>(item.blob.size());
      if (!item.blob.empty()) std::memcpy(a.pBlob, item.blob.data(), item.blob.size());
      a.vtRequestedDataType = item.requestedType;
      a.vtCanonicalDataType = item.canonicalType;
      a.dwEUType = OPC_ANALOG;
      set_eu_range(a.vEUInfo);
    });
    *ppItemArray = records;
    *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override { return skip(celt); }
  HRESULT STDMETHODCALLTYPE Reset() override { reset(); return S_OK; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnum) override {
    if (!ppEnum) return E_INVALIDARG;
    auto* clone = new ItemAttributesEnumerator(entries());
    clone->set_cursor(cursor());
    return hand_out(clone, IID_IEnumOPCItemAttributes, reinterpret_cast<void**>(ppEnum));
  }
};

}  // namespace

HRESULT make_string_enumerator(std::vector<std::wstring> strings, IEnumString** ppEnum) {
  return hand_out(new StringEnumerator(std::move(strings)), IID_IEnumString,
                  reinterpret_cast<void**>(ppEnum));
}

HRESULT make_unknown_enumerator(std::vector<ComPtr<IUnknown>> objects, REFIID riid, void** ppEnum) {
  return hand_out(new UnknownEnumerator(std::move(objects)), riid, ppEnum);
}

HRESULT make_item_attributes_enumerator(std::vector<Item> items, REFIID riid, void** ppEnum) {
  return hand_out(new ItemAttributesEnumerator(std::move(items)), riid, ppEnum);
}

}  // namespace fake
