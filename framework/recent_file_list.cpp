#include "framework/recent_file_list.h"

#include <windows.h>

#include <algorithm>

#include "framework/profile_settings.h"

namespace {

constexpr char kSection[] = "Recent File List";

std::string EntryName(size_t index)
{
    return "File" + std::to_string(index + 1);
}

}  // namespace

void CRecentFileList::Add(const std::string& path)
{
    auto same = [&](const std::string& file) { return lstrcmpiA(file.c_str(), path.c_str()) == 0; };
    m_files.erase(std::remove_if(m_files.begin(), m_files.end(), same), m_files.end());
    m_files.insert(m_files.begin(), path);
    if (m_files.size() > m_size) m_files.resize(m_size);
}

void CRecentFileList::ReadList(const CProfileSettings& settings)
{
    m_files.clear();
    for (size_t i = 0; i < m_size; ++i) {
        auto file = settings.GetString(kSection, EntryName(i).c_str());
        if (file && !file->empty()) m_files.push_back(*file);
    }
}

void CRecentFileList::WriteList(const CProfileSettings& settings) const
{
    for (size_t i = 0; i < m_size; ++i) {
        std::optional<std::string> file;
        if (i < m_files.size()) file = m_files[i];
        settings.WriteString(kSection, EntryName(i).c_str(), file);
    }
}
