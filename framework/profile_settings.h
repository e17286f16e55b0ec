#pragma once
#include <optional>
#include <string>

// The application's settings under HKEY_CURRENT_USER\Software\<vendor>\<application>.
class CProfileSettings {
public:
    CProfileSettings(std::string vendor, std::string application);

    std::optional<std::string> GetString(const char* section, const char* entry) const;
    // An absent value deletes the entry.
    bool WriteString(const char* section, const char* entry,
                     const std::optional<std::string>& value) const;

private:
    std::string SectionPath(const char* section) const;

    std::string m_root;
};
