#pragma once
// A block the server handed out from the COM task allocator, freed when its owner goes.
#include <objbase.h>
#include <oleauto.h>

#include <memory>

struct TaskMemFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

template <class T>
using TaskBlock = std::unique_ptr<T, TaskMemFree>;

// What a read with a maximum age hands out (IOPCItemIO::Read, IOPCSyncIO2::ReadMaxAge): four
// arrays of `count` entries, freed with the values they hold.
struct MaxAgeReadResults {
    explicit MaxAgeReadResults(size_t count) : count(count) {}
    MaxAgeReadResults(const MaxAgeReadResults&) = delete;
    MaxAgeReadResults& operator=(const MaxAgeReadResults&) = delete;
    ~MaxAgeReadResults()
    {
        if (values) {
            for (size_t i = 0; i < count; ++i) VariantClear(&values[i]);
        }
        for (void* block : {static_cast<void*>(values), static_cast<void*>(qualities),
                            static_cast<void*>(times), static_cast<void*>(errors)}) {
            CoTaskMemFree(block);
        }
    }

    size_t count;
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* times = nullptr;
    HRESULT* errors = nullptr;
};
