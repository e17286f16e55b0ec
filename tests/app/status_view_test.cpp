#include "app/opc_server_view.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "runtime_link/ansi_text.h"
#include "runtime_link/tag_mirror.h"

namespace {

struct TextCall {
    int x;
    int y;
    std::string text;
    bool operator==(const TextCall& other) const
    {
        return x == other.x && y == other.y && text == other.text;
    }
};

std::ostream& operator<<(std::ostream& out, const TextCall& call)
{
    return out << "(" << call.x << ", " << call.y << ", \"" << call.text << "\")";
}

// A device context that notes what is drawn, with a font 16 high and 2 of leading.
class RecordingDC : public CDC {
public:
    RecordingDC() : CDC(nullptr) {}
    BOOL TextOut(int x, int y, const std::string& text) override
    {
        calls.push_back({x, y, text});
        return TRUE;
    }
    BOOL GetTextMetrics(TEXTMETRICA* metrics) const override
    {
        *metrics = TEXTMETRICA{};
        metrics->tmHeight = 16;
        metrics->tmExternalLeading = 2;
        return TRUE;
    }
    std::vector<TextCall> calls;
};

class StatusViewTest : public testing::Test {
protected:
    void TearDown() override
    {
        for (auto& slot : g_tagMirror) slot = nullptr;
        IndexTagMirror(kMirrorSlots);
    }
    MirrorEntry* Put(int slot, const wchar_t* name, int32_t kind)
    {
        entries.push_back(std::make_unique<MirrorEntry>());
        MirrorEntry* entry = entries.back().get();
        wcscpy(entry->name, name);
        entry->kind = kind;
        g_tagMirror[slot] = entry;
        return entry;
    }

    std::vector<std::unique_ptr<MirrorEntry>> entries;
};

TEST_F(StatusViewTest, DrawsOneLinePerPresentEntryWithItsValue)
{
    Put(0, L"Switch", kValueKindDiscrete)->value.integer = 1;
    Put(2, L"Count", kValueKindInteger)->value.integer = -7;
    Put(3, L"Level", kValueKindReal)->value.real = 2.5f;
    wcscpy(Put(4, L"温度", kValueKindString)->value.text, L"高温");
    Put(5, L"Broken", 0);
    Put(6, L"Beyond", kValueKindInteger);  // past the mirror count
    IndexTagMirror(6);

    RecordingDC dc;
    COPCServerView view;
    view.OnDraw(&dc);

    const std::string name4 = AnsiFromWide(L"温度");
    const std::string text4 = AnsiFromWide(L"高温");
    EXPECT_EQ((std::vector<TextCall>{
                  {0, 0, "data name: "},  {78, 0, "Switch"},      {180, 0, "TYPE: 1"},
                  {300, 0, "Value: 1"},   {0, 18, "data name: "}, {78, 18, "Count"},
                  {180, 18, "TYPE: 2"},   {300, 18, "Value: -7"}, {0, 36, "data name: "},
                  {78, 36, "Level"},      {180, 36, "TYPE: 3"},   {300, 36, "Value: 2.500000"},
                  {0, 54, "data name: "}, {78, 54, name4},        {180, 54, "TYPE: 4"},
                  {300, 54, "Value: "},   {350, 54, text4},       {0, 72, "data name: "},
                  {78, 72, "Broken"},     {180, 72, "TYPE: 0"}}),
              dc.calls);
}

TEST_F(StatusViewTest, EmptyMirrorDrawsNothing)
{
    RecordingDC dc;
    COPCServerView view;
    view.OnDraw(&dc);
    EXPECT_TRUE(dc.calls.empty());
}

}  // namespace
