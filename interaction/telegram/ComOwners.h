// Stand-in owners until the common COM base is there; same shape, so that the
// switch is a change of include.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

#ifndef RETURN_IF_FAILED
#define RETURN_IF_FAILED(expr)                  \
    do {                                        \
        const HRESULT hr_ = (expr);             \
        if (FAILED(hr_))                        \
            return hr_;                         \
    } while (0)
#endif

namespace orvane::interaction {

class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&m_value); }
    ~UniqueVariant() { VariantClear(&m_value); }
    UniqueVariant(UniqueVariant&& other) noexcept : m_value(other.m_value) { VariantInit(&other.m_value); }
    UniqueVariant& operator=(UniqueVariant&& other) noexcept
    {
        if (this != &other) {
            VariantClear(&m_value);
            m_value = other.m_value;
            VariantInit(&other.m_value);
        }
        return *this;
    }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    VARIANT* addressof() { return &m_value; }
    const VARIANT& get() const { return m_value; }
    void reset() { VariantClear(&m_value); }

private:
    VARIANT m_value;
};

class UniqueSafeArray {
public:
    explicit UniqueSafeArray(SAFEARRAY* array = nullptr) : m_array(array) {}
    ~UniqueSafeArray() { reset(); }
    UniqueSafeArray(const UniqueSafeArray&) = delete;
    UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;

    explicit operator bool() const { return m_array != nullptr; }
    SAFEARRAY* get() const { return m_array; }
    SAFEARRAY* release() { return std::exchange(m_array, nullptr); }
    void reset(SAFEARRAY* array = nullptr)
    {
        if (m_array)
            SafeArrayDestroy(m_array);
        m_array = array;
    }

private:
    SAFEARRAY* m_array;
};

}  // namespace orvane::interaction
