#include "framework/profile_settings.h"

#include <windows.h>

#include <memory>
#include <type_traits>

namespace {

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

constexpr DWORD kMaxValueBytes = 1024;

}  // namespace

CProfileSettings::CProfileSettings(std::string vendor, std::string application)
    : m_root("Software\\" + vendor + "\\" + application)
{
}

std::string CProfileSettings::SectionPath(const char* section) const
{
    return m_root + "\\" + section;
}

std::optional<std::string> CProfileSettings::GetString(const char* section, const char* entry) const
{
    HKEY raw = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SectionPath(section).c_str(), 0, KEY_READ, &raw) !=
        ERROR_SUCCESS)
        return std::nullopt;
    UniqueKey key(raw);
    char text[kMaxValueBytes];
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key.get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    text[size] = '\0';  // a stored string need not carry its terminator
    return std::string(text);
}

bool CProfileSettings::WriteString(const char* section, const char* entry,
                                   const std::optional<std::string>& value) const
{
    HKEY raw = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SectionPath(section).c_str(), 0, nullptr, 0,
                        KEY_READ | KEY_WRITE, nullptr, &raw, nullptr) != ERROR_SUCCESS)
        return false;
    UniqueKey key(raw);
    if (!value) {
        LONG result = RegDeleteValueA(key.get(), entry);
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExA(key.get(), entry, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value->c_str()),
                          static_cast<DWORD>(value->size() + 1)) == ERROR_SUCCESS;
}
