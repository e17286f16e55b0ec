#pragma once
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

// A fresh directory under the temporary folder, removed with everything in it at the end.
class TempDirectory {
public:
    TempDirectory()
    {
        char base[MAX_PATH] = {};
        GetTempPathA(sizeof base, base);
        static int serial = 0;
        m_path = std::string(base) + "px_test_" + std::to_string(GetCurrentProcessId()) + "_" +
                 std::to_string(++serial);
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory()
    {
        std::error_code ignored;  // a file still open must not fail the test run
        std::filesystem::remove_all(m_path, ignored);
    }

    // The directory's path, without a trailing separator.
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }
    std::string MakeSubdirectory(const std::string& name) const
    {
        std::filesystem::create_directories(File(name));
        return File(name);
    }

private:
    std::string m_path;
};

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
