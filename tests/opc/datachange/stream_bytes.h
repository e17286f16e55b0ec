#pragma once
// Reading a stream block back byte by byte, as a client receives it.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "opc/datachange/stream_formats.h"

inline std::vector<BYTE> BytesOf(const StreamBlock& block, size_t size)
{
    const auto* start = static_cast<const BYTE*>(GlobalLock(block.get()));
    std::vector<BYTE> bytes(start, start + size);
    GlobalUnlock(block.get());
    return bytes;
}

template <typename T>
T At(const std::vector<BYTE>& bytes, size_t offset)
{
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, &bytes[offset], sizeof value);
    return value;
}
