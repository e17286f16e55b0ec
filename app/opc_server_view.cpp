#include "app/opc_server_view.h"

#include <cwchar>
#include <string>

#include "runtime_link/ansi_text.h"
#include "runtime_link/tag_mirror.h"

namespace {

constexpr UINT_PTR kRepaintTimer = 101;
constexpr UINT kRepaintPeriodMs = 200;

constexpr int kNameX = 78;
constexpr int kTypeX = 180;
constexpr int kValueX = 300;
constexpr int kStringX = 350;

std::string Ansi(const wchar_t* text, size_t units)
{
    return AnsiFromWide(std::wstring(text, wcsnlen(text, units)).c_str());
}

std::string Formatted(const char* format, int value)
{
    char text[32];
    snprintf(text, sizeof text, format, value);
    return text;
}

void DrawValue(CDC* dc, int y, const MirrorEntry& entry)
{
    switch (entry.kind) {
    case kValueKindDiscrete:
    case kValueKindInteger:
        dc->TextOut(kValueX, y, Formatted("Value: %d", entry.value.integer));
        break;
    case kValueKindReal: {
        char text[64];
        snprintf(text, sizeof text, "Value: %f", static_cast<double>(entry.value.real));
        dc->TextOut(kValueX, y, text);
        break;
    }
    case kValueKindString:
        dc->TextOut(kValueX, y, "Value: ");
        dc->TextOut(kStringX, y, Ansi(entry.value.text, kMirrorStringUnits));
        break;
    default:
        break;  // a tag without a value shows its name and kind only
    }
}

}  // namespace

void COPCServerView::OnInitialUpdate()
{
    CView::OnInitialUpdate();
    SetTimer(kRepaintTimer, kRepaintPeriodMs);
}

void COPCServerView::OnDraw(CDC* dc)
{
    TEXTMETRICA metrics{};
    dc->GetTextMetrics(&metrics);
    const int lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    int y = 0;
    for (int i = 0; i < g_mirrorCount && i < kMirrorSlots; ++i) {
        const MirrorEntry* entry = g_tagMirror[i];
        if (!entry) continue;
        dc->TextOut(0, y, "data name: ");
        dc->TextOut(kNameX, y, Ansi(entry->name, kMirrorNameUnits));
        dc->TextOut(kTypeX, y, Formatted("TYPE: %d", entry->kind));
        DrawValue(dc, y, *entry);
        y += lineHeight;
    }
}

void COPCServerView::OnTimer(UINT_PTR)
{
    // Re-arming the same timer repaints the whole view on every tick.
    OnInitialUpdate();
    Default();
}

void COPCServerView::OnDestroy()
{
    CView::OnDestroy();
    KillTimer(kRepaintTimer);
}
