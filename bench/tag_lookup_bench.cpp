// 10000 tag lookups, as AddItems of 10000 items makes them, against a 10000-tag mirror: the
// tag name index beside the plain scan of the mirror.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/best_of.h"
#include "opc/values/tag_lookup.h"
#include "tests/opc/values/linear_tag_scan.h"
#include "tests/opc/values/test_mirror.h"

namespace {

constexpr int kTags = 10000;
constexpr int kRounds = 5;

std::wstring TagName(int i)
{
    wchar_t name[16];
    std::swprintf(name, 16, L"TAG%05d", i);
    return name;
}

}  // namespace

int main()
{
    std::vector<std::wstring> names;
    std::vector<std::wstring> itemIds;
    for (int i = 0; i < kTags; ++i) {
        names.push_back(TagName(i));
        // Every tag once, in an order unlike the mirror's, as a client's item list might be.
        itemIds.push_back(L"Device." + TagName((i * 7919) % kTags));
    }
    itemIds.push_back(L"Device.NOSUCHTAG");  // the worst case of the scan
    const TestMirror mirror(names);

    TagNameIndex index;
    const double build = BestOf(kRounds, [&] { index.Build(); });

    long long checksum[2] = {0, 0};
    const double indexed = BestOf(kRounds, [&] {
        for (const std::wstring& id : itemIds) checksum[0] += FindTagOfItemId(index, id.c_str());
    });
    const double scanned = BestOf(kRounds, [&] {
        for (const std::wstring& id : itemIds) checksum[1] += LinearTagScan(id.c_str());
    });
    if (checksum[0] != checksum[1]) {
        std::fprintf(stderr, "index and scan disagree\n");
        return 1;
    }

    const double lookups = double(itemIds.size());
    std::printf("mirror tags                    %d, lookups per round %zu (best of %d)\n", kTags,
                itemIds.size(), kRounds);
    std::printf("index build, once              %10.1f us\n", build * 1e6);
    std::printf("lookups with the index         %10.1f us  %9.1f ns per lookup\n", indexed * 1e6,
                indexed * 1e9 / lookups);
    std::printf("lookups by scanning the mirror %10.1f us  %9.1f ns per lookup\n", scanned * 1e6,
                scanned * 1e9 / lookups);
    std::printf("ratio scan / index             %10.1f\n", scanned / indexed);
    std::printf("ratio scan / (index + build)   %10.1f\n", scanned / (indexed + build));
    return 0;
}
