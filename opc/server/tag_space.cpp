#include "opc/server/tag_space.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "opc/values/call_limits.h"
#include "runtime_link/tag_mirror.h"

std::vector<std::wstring> TagNames()
{
    std::vector<std::wstring> names;
    try {
        const int count = g_mirrorCount < 0 ? 0 : std::min(g_mirrorCount, kMirrorSlots);
        names.reserve(static_cast<size_t>(count));
        for (int slot = 0; slot < count; ++slot) {
            const MirrorEntry* entry = g_tagMirror[slot];
            // Names are terminated within their field; the bound guards one that is not.
            if (entry && entry->name[0])
                names.emplace_back(entry->name, wcsnlen(entry->name, kMirrorNameUnits));
        }
    } catch (const std::bad_alloc&) {
        names.clear();
    }
    return names;
}

namespace {

// The end of the character list that starts after the '[' at `open`; null when it is not
// closed. A ']' right after "[" or "[!" belongs to the list.
const wchar_t* ListEnd(const wchar_t* open)
{
    const wchar_t* at = open + 1;
    if (*at == L'!') ++at;
    if (*at == L']') ++at;
    return std::wcschr(at, L']');
}

// Whether `c` is in the list between `open` ('[') and `close` (']').
bool InList(wchar_t c, const wchar_t* open, const wchar_t* close)
{
    const wchar_t* at = open + 1;
    const bool negated = *at == L'!';
    if (negated) ++at;
    bool found = false;
    for (; at < close; ++at) {
        if (at + 2 < close && at[1] == L'-') {
            found = found || (c >= at[0] && c <= at[2]);
            at += 2;
        } else {
            found = found || c == *at;
        }
    }
    return found != negated;
}

// Whether the one character `c` matches the pattern element at `at`; *next is the element
// after it.
bool MatchesOne(wchar_t c, const wchar_t* at, const wchar_t** next)
{
    switch (*at) {
    case L'?':
        *next = at + 1;
        return true;
    case L'#':
        *next = at + 1;
        return c >= L'0' && c <= L'9';
    case L'[': {
        const wchar_t* close = ListEnd(at);
        *next = close + 1;
        return InList(c, at, close);
    }
    default:
        *next = at + 1;
        return c == *at;
    }
}

}  // namespace

bool IsNameFilter(const wchar_t* filter)
{
    if (!WithinUnits(filter, kMaxNameFilterUnits)) return false;
    for (const wchar_t* at = filter; at && *at; ++at) {
        if (*at != L'[') continue;
        at = ListEnd(at);
        if (!at) return false;
    }
    return true;
}

bool NameMatchesFilter(std::wstring_view name, const wchar_t* filter)
{
    if (!filter || !*filter) return true;
    // Every element but '*' takes exactly one character, so after a mismatch only the last
    // '*' needs to take one character more: a name's length of restarts at most, each walking
    // at most a name's length of elements. A run of '*' is one '*', taken in one step.
    const wchar_t* pattern = filter;
    size_t at = 0;
    const wchar_t* starPattern = nullptr;
    size_t starAt = 0;
    while (at < name.size()) {
        const wchar_t* next = nullptr;
        if (*pattern == L'*') {
            while (*pattern == L'*') ++pattern;
            starPattern = pattern;
            starAt = at;
        } else if (*pattern && MatchesOne(name[at], pattern, &next)) {
            pattern = next;
            ++at;
        } else if (starPattern) {
            pattern = starPattern;
            at = ++starAt;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return *pattern == L'\0';
}
