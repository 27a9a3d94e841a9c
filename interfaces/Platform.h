// Platform layer: the few Windows/MFC types the library uses, over the standard library.
// CString is a wide string with printf-style formatting; GUID is the usual 16-byte id;
// CRect and CArray are plain value types.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Wide string with the small part of the MFC interface the library needs.
class CString {
public:
    CString() = default;
    CString(const wchar_t* text) : m_text(text ? text : L"") {}
    CString(std::wstring text) : m_text(std::move(text)) {}

    // printf-style formatting into this string (wide format: %s and %ls take wide strings).
    void Format(const wchar_t* format, ...);

    const wchar_t* GetString() const { return m_text.c_str(); }
    operator const wchar_t*() const { return m_text.c_str(); }
    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    const std::wstring& str() const { return m_text; }
    // UTF-8 copy, for file names and narrow logs.
    std::string ToUtf8() const;

    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend auto operator<=>(const CString& a, const CString& b) { return a.m_text <=> b.m_text; }

private:
    std::wstring m_text;
};

// 16-byte globally unique id, laid out as on Windows.
struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {0, 0, 0, 0, 0, 0, 0, 0};

    friend bool operator==(const GUID& a, const GUID& b);
    bool IsNull() const { return *this == GUID{}; }
};

// A fresh, process-unique random id (never the zero id).
GUID CreateGuid();

struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    CRect() = default;
    CRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const CRect&, const CRect&) = default;
};

// Growable array with the MFC names.
template <class T>
class CArray {
public:
    int64_t GetSize() const { return static_cast<int64_t>(m_items.size()); }
    int64_t GetCount() const { return GetSize(); }
    int64_t Add(const T& item) {
        m_items.push_back(item);
        return GetSize() - 1;
    }
    void RemoveAll() { m_items.clear(); }
    void SetSize(int64_t n) { m_items.resize(static_cast<size_t>(n)); }
    T& GetAt(int64_t i) { return m_items[static_cast<size_t>(i)]; }
    const T& GetAt(int64_t i) const { return m_items[static_cast<size_t>(i)]; }
    T& operator[](int64_t i) { return GetAt(i); }
    const T& operator[](int64_t i) const { return GetAt(i); }
    T* GetData() { return m_items.data(); }
    auto begin() { return m_items.begin(); }
    auto end() { return m_items.end(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<T> m_items;
};

// COM-style result codes used by thread exit hooks.
using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
