#include "stream_reader.h"

#include <cstring>
#include <new>

namespace {

constexpr size_t kGroupHeader = 20;
constexpr size_t kWriteGroupHeader = 16;
constexpr size_t kVariantPart = 16;

template <class T>
bool Take(const BYTE* bytes, size_t size, size_t offset, T& value)
{
    if (offset > size || size - offset < sizeof value) return false;
    std::memcpy(&value, bytes + offset, sizeof value);
    return true;
}

bool ReadValue(const BYTE* bytes, size_t size, StreamItemValue& item)
{
    const size_t at = item.valueOffset;
    if (!Take(bytes, size, at, item.type)) return false;
    if (at + kVariantPart > size) return false;
    std::memcpy(item.bits, bytes + at + 8, sizeof item.bits);
    if (item.type != VT_BSTR) return true;
    DWORD length = 0;
    if (!Take(bytes, size, at + kVariantPart, length) || length % 2 != 0) return false;
    const size_t text = at + kVariantPart + sizeof length;
    if (text > size || size - text < size_t{length} + 2) return false;
    item.text.resize(length / 2);
    std::memcpy(item.text.data(), bytes + text, length);
    return bytes[text + length] == 0 && bytes[text + length + 1] == 0;
}

bool ReadDataStream(bool withTime, const BYTE* bytes, size_t size, StreamContent& content)
{
    if (size < kGroupHeader) return false;
    DWORD count = 0;
    if (!Take(bytes, size, 0, content.size) || !Take(bytes, size, 4, count) ||
        !Take(bytes, size, 8, content.group) || !Take(bytes, size, 12, content.transactionId) ||
        !Take(bytes, size, 16, content.status)) {
        return false;
    }
    // The stream is dwSize bytes: more than the block, or less than its own group header,
    // and it holds no stream.
    if (content.size < kGroupHeader || content.size > size) return false;
    size = content.size;
    const size_t header = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    if (count > (size - kGroupHeader) / header) return false;
    content.items.resize(count);
    for (DWORD i = 0; i < count; ++i) {
        StreamItemValue& item = content.items[i];
        const size_t at = kGroupHeader + header * i;
        Take(bytes, size, at, item.client);
        Take(bytes, size, at + 4, item.valueOffset);
        Take(bytes, size, at + 8, item.quality);
        if (withTime) Take(bytes, size, at + 12, item.timestamp);
        if (!ReadValue(bytes, size, item)) return false;
    }
    return true;
}

bool ReadWriteComplete(const BYTE* bytes, size_t size, StreamContent& content)
{
    if (size < kWriteGroupHeader) return false;
    DWORD count = 0;
    if (!Take(bytes, size, 0, count) || !Take(bytes, size, 4, content.group) ||
        !Take(bytes, size, 8, content.transactionId) || !Take(bytes, size, 12, content.status)) {
        return false;
    }
    if (count > (size - kWriteGroupHeader) / sizeof(OPCITEMHEADERWRITE)) return false;
    content.size = static_cast<DWORD>(kWriteGroupHeader + sizeof(OPCITEMHEADERWRITE) * count);
    content.items.resize(count);
    for (DWORD i = 0; i < count; ++i) {
        const size_t at = kWriteGroupHeader + sizeof(OPCITEMHEADERWRITE) * i;
        Take(bytes, size, at, content.items[i].client);
        Take(bytes, size, at + 4, content.items[i].error);
    }
    return true;
}

}  // namespace

bool ReadStream(StreamKind kind, const BYTE* bytes, size_t size, StreamContent& content)
{
    content = StreamContent{};
    if (!bytes) return false;
    try {
        if (kind == StreamKind::WriteComplete) return ReadWriteComplete(bytes, size, content);
        return ReadDataStream(kind == StreamKind::DataTime, bytes, size, content);
    } catch (const std::bad_alloc&) {
        // The counts are checked against the block, so only a lack of memory ends up here:
        // a stream that cannot be read is refused like a malformed one.
        content = StreamContent{};
        return false;
    }
}

HRESULT ValueOf(const StreamItemValue& item, VARIANT* value)
{
    VariantInit(value);
    if (item.type == VT_BSTR) {
        value->bstrVal = SysAllocStringLen(item.text.data(), static_cast<UINT>(item.text.size()));
        if (!value->bstrVal) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        return S_OK;
    }
    // Only values held in the VARIANT itself carry meaning across processes.
    if (item.type & (VT_BYREF | VT_ARRAY) || item.type == VT_DISPATCH || item.type == VT_UNKNOWN ||
        item.type == VT_VARIANT || item.type == VT_RECORD) {
        return DISP_E_BADVARTYPE;
    }
    std::memcpy(&value->llVal, item.bits, sizeof item.bits);
    value->vt = item.type;
    return S_OK;
}
