#pragma once
#include <memory>

// A private heap copy of a UTF-16 string, as the server keeps names; null means none.
using HeapString = std::unique_ptr<wchar_t[]>;

// A copy of `text` with its terminator; null for a null text or when memory is short.
HeapString CopyHeapString(const wchar_t* text);
