#pragma once
// Owners of the OLE Automation values an item keeps and hands on: a VARIANT cleared with
// VariantClear, a BSTR freed with SysFreeString.
#include <windows.h>
#include <oleauto.h>

#include <memory>
#include <utility>

struct BstrFree {
    void operator()(BSTR text) const { SysFreeString(text); }
};
using BstrOwner = std::unique_ptr<OLECHAR, BstrFree>;

// An empty value is all zero bytes, not only VT_EMPTY: VariantChangeType and the other
// producers write the type and the value's own bytes, and whatever else the VARIANT held (its
// reserved words, the rest of the union) would go to clients in streams and replies.
class VariantOwner {
public:
    VariantOwner() : value_{} {}
    ~VariantOwner() { VariantClear(&value_); }
    VariantOwner(VariantOwner&& other) noexcept : value_(other.value_) { other.value_ = VARIANT{}; }
    VariantOwner& operator=(VariantOwner&& other) noexcept
    {
        if (this != &other) {
            VariantClear(&value_);
            value_ = other.value_;
            other.value_ = VARIANT{};
        }
        return *this;
    }
    VariantOwner(const VariantOwner&) = delete;
    VariantOwner& operator=(const VariantOwner&) = delete;

    const VARIANT& get() const { return value_; }
    // For an out parameter: clears the value the owner held and gives its address.
    VARIANT* Receive()
    {
        VariantClear(&value_);
        value_ = VARIANT{};
        return &value_;
    }
    VARTYPE vt() const { return value_.vt; }
    // Hands the value over (into memory the receiver clears) and leaves this empty.
    VARIANT Release()
    {
        const VARIANT value = value_;
        value_ = VARIANT{};
        return value;
    }

private:
    VARIANT value_;
};
