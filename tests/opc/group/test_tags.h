// A tag mirror of a few tags of every kind, made directly without a shared tag area and
// indexed as the mirror indexes itself; the mirror and its index are restored when it goes.
#pragma once

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "runtime_link/shared_tag_area.h"
#include "runtime_link/tag_mirror.h"
#include "runtime_link/tag_record.h"

struct TestTag {
    std::wstring name;
    int32_t kind;
    int32_t integer;  // discrete and integer tags
    float real;
    std::wstring text;
};

// Slot 4 repeats the name TANK1 of slot 3 with another value; slot 5's name holds a '.'.
inline std::vector<TestTag> KindTags()
{
    return {
        {L"DISC", kValueKindDiscrete, 1, 0.0f, L""},
        {L"INT", kValueKindInteger, 42, 0.0f, L""},
        {L"REAL", kValueKindReal, 0, 1.5f, L""},
        {L"TANK1", kValueKindInteger, 7, 0.0f, L""},
        {L"TANK1", kValueKindInteger, 8, 0.0f, L""},
        {L"A.B", kValueKindInteger, 9, 0.0f, L""},
        {L"TEXT", kValueKindString, 0, 0.0f, L"abc"},
        {L"\x6C34\x4F4D", kValueKindReal, 0, -2.25f, L""},
    };
}

class TestTags {
public:
    explicit TestTags(const std::vector<TestTag>& tags = KindTags())
        : count_(static_cast<int>(tags.size()))
    {
        for (int slot = 0; slot < count_; ++slot) {
            const TestTag& tag = tags[static_cast<size_t>(slot)];
            auto* entry = new MirrorEntry{};
            std::wmemcpy(entry->name, tag.name.data(), tag.name.size());
            entry->kind = tag.kind;
            entry->valueTime = UtcTicksNow();  // as the mirror's build stamps it
            if (tag.kind == kValueKindReal) {
                entry->value.real = tag.real;
            } else if (tag.kind == kValueKindString) {
                std::wmemcpy(entry->value.text, tag.text.data(), tag.text.size());
            } else {
                entry->value.integer = tag.integer;
            }
            g_tagMirror[slot] = entry;
        }
        IndexTagMirror(count_);
    }
    ~TestTags()
    {
        for (int slot = 0; slot < count_; ++slot) {
            delete g_tagMirror[slot];
            g_tagMirror[slot] = nullptr;
        }
        IndexTagMirror(kMirrorSlots);
    }
    TestTags(const TestTags&) = delete;
    TestTags& operator=(const TestTags&) = delete;

private:
    int count_;
};

// While it lives the test tags have tag records of their own in place of the Viewer's area, all
// zero but for what a test sets (a write-inhibit flag, a value the record holds now).
class TestTagRecords {
public:
    explicit TestTagRecords(size_t count = KindTags().size())
        : records_(count), savedArea_(g_sharedTagArea), savedCapacity_(g_sharedTagRecordCapacity)
    {
        g_sharedTagArea = records_.data();
        g_sharedTagRecordCapacity = static_cast<int>(count);
    }
    ~TestTagRecords()
    {
        g_sharedTagArea = savedArea_;
        g_sharedTagRecordCapacity = savedCapacity_;
    }
    TestTagRecords(const TestTagRecords&) = delete;
    TestTagRecords& operator=(const TestTagRecords&) = delete;

    TagRecord& operator[](int slot) { return records_[static_cast<size_t>(slot)]; }

private:
    std::vector<TagRecord> records_;
    TagRecord* savedArea_;
    int savedCapacity_;
};
