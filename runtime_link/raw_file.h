#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

// A project file opened as raw bytes, shared with everyone, created empty when absent and
// never truncated.
class RawFile {
public:
    enum class Access { ReadOnly, ReadWrite };

    RawFile(const std::string& path, Access access);
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;
    ~RawFile();

    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    // Reads up to size bytes at offset; bytes past the end of the file are left as they were.
    size_t ReadAt(DWORD offset, void* buffer, size_t size);
    bool WriteAt(DWORD offset, const void* data, size_t size);

private:
    HANDLE m_handle;
};
