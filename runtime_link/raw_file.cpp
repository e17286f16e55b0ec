#include "runtime_link/raw_file.h"

RawFile::RawFile(const std::string& path, Access access)
{
    const DWORD rights = access == Access::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    m_handle =
        CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

RawFile::~RawFile()
{
    if (IsOpen()) CloseHandle(m_handle);
}

size_t RawFile::ReadAt(DWORD offset, void* buffer, size_t size)
{
    if (SetFilePointer(m_handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER)
        return 0;
    DWORD read = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(size), &read, nullptr)) return 0;
    return read;
}

bool RawFile::WriteAt(DWORD offset, const void* data, size_t size)
{
    if (SetFilePointer(m_handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER)
        return false;
    DWORD written = 0;
    return WriteFile(m_handle, data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}
