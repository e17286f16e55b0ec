#pragma once
// The server's address space as both browsers show it: a root with the one branch "Tagname",
// which holds every tag of the mirror as an item named after the tag.
#include <string>
#include <string_view>
#include <vector>

inline constexpr wchar_t kTagBranch[] = L"Tagname";

// Every tag name in mirror order, each an item ID AddItems takes; empty when the list cannot be
// had. A tag without a name has no item ID, and is left out.
std::vector<std::wstring> TagNames();

// Whether `filter` is an element-name filter NameMatchesFilter reads: at most
// kMaxNameFilterUnits long (opc/values/call_limits.h), every '[' closed.
bool IsNameFilter(const wchar_t* filter);
// Whether `name` matches `filter`, with the wildcards of Visual Basic's Like: ? any one
// character, * any run of them, # one digit, [abc] or [a-z] one of those, [!abc] one not of
// those; any other character stands for itself, case and all. A null or empty filter matches
// every name. The filter must be one IsNameFilter takes. Costs at most about the name's length
// times the filter's, whatever the filter.
bool NameMatchesFilter(std::wstring_view name, const wchar_t* filter);
