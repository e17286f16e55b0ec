#pragma once
#include <string>
#include <vector>

class CProfileSettings;

// The most recently opened documents, newest first, kept in the profile's "Recent File List"
// section as File1 .. FileN.
class CRecentFileList {
public:
    explicit CRecentFileList(size_t size) : m_size(size) {}

    void Add(const std::string& path);
    void ReadList(const CProfileSettings& settings);
    void WriteList(const CProfileSettings& settings) const;

    const std::vector<std::string>& Files() const { return m_files; }

private:
    size_t m_size;
    std::vector<std::string> m_files;
};
