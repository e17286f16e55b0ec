#pragma once
#include <windows.h>

#include <cstddef>

#include "framework/object.h"

// Adds nothing; keeps the holder's place in the framework's class tree.
class CMappedMemoryObject : public CObject {};

// Holds one view of an existing named file mapping; the mapping itself belongs to its creator.
class CMappedMemory : public CMappedMemoryObject {
public:
    CMappedMemory() = default;
    CMappedMemory(const CMappedMemory&) = delete;
    CMappedMemory& operator=(const CMappedMemory&) = delete;
    ~CMappedMemory() override;

    // Maps the whole mapping object of that name; returns the view, or null.
    void* Open(const char* name);
    void Close();

    void* View() const { return m_view; }
    // Bytes readable from the view's start: the mapping's size rounded up to whole pages.
    size_t ViewSize() const;

private:
    HANDLE m_mapping = nullptr;
    void* m_view = nullptr;
};
