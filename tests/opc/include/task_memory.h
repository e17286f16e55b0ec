// Owners for what an OPC call hands the client: task-allocator blocks and VARIANTs.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <memory>

struct TaskMemFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};
template <class T>
using TaskMem = std::unique_ptr<T, TaskMemFree>;

// Takes a task-allocated out-parameter: `TaskOut<wchar_t> s; call(s.out()); s.get()`.
template <class T>
class TaskOut {
public:
    T** out()
    {
        raw_ = nullptr;
        return &raw_;
    }
    ~TaskOut() { CoTaskMemFree(raw_); }
    T* get() const { return raw_; }
    T& operator[](size_t i) const { return raw_[i]; }

private:
    T* raw_ = nullptr;
};

class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&value_); }
    ~ScopedVariant() { VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

private:
    VARIANT value_;
};
