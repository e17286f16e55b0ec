#pragma once
// A tag mirror made directly from names, without a shared tag area, and indexed as the server
// indexes it; slots it fills are freed and the mirror count and index restored when it goes.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "runtime_link/tag_mirror.h"
#include "runtime_link/tag_record.h"

class TestMirror {
public:
    explicit TestMirror(const std::vector<std::wstring>& names, int32_t kind = kValueKindInteger)
        : count_(static_cast<int>(names.size()))
    {
        for (int slot = 0; slot < count_; ++slot) {
            auto* entry = new MirrorEntry{};
            const size_t units = std::min<size_t>(names[slot].size(), kMirrorNameUnits - 1);
            std::wmemcpy(entry->name, names[slot].data(), units);
            entry->kind = kind;
            entry->value.integer = slot;
            g_tagMirror[slot] = entry;
        }
        IndexTagMirror(count_);
    }
    ~TestMirror()
    {
        for (int slot = 0; slot < count_; ++slot) {
            delete g_tagMirror[slot];
            g_tagMirror[slot] = nullptr;
        }
        IndexTagMirror(kMirrorSlots);
    }
    TestMirror(const TestMirror&) = delete;
    TestMirror& operator=(const TestMirror&) = delete;

private:
    int count_;
};
