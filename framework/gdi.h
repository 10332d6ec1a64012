// GDI objects and device contexts: owners of fonts and brushes that delete
// their handles, a memory device context that deletes itself, a non-owning
// device context wrapper and a scoped selection that always puts the old
// object back.
#pragma once

#include <windows.h>

#include <cassert>
#include <string_view>
#include <utility>

namespace horavel::framework {

// Owns one GDI object handle and deletes it. Not copyable; movable.
// Attach/Detach hand ownership over explicitly.
template <class Handle>
class CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    CGdiObject(CGdiObject&& other) noexcept : m_handle(other.Detach()) {}
    CGdiObject& operator=(CGdiObject&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    ~CGdiObject() { DeleteObject(); }

    Handle GetSafeHandle() const { return m_handle; }
    operator Handle() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    // Takes ownership of handle, deleting the object held before.
    void Attach(Handle handle)
    {
        DeleteObject();
        m_handle = handle;
    }
    // Gives up ownership without deleting.
    Handle Detach() { return std::exchange(m_handle, nullptr); }
    void DeleteObject()
    {
        if (m_handle)
            ::DeleteObject(std::exchange(m_handle, nullptr));
    }

private:
    Handle m_handle = nullptr;
};

class CFont : public CGdiObject<HFONT> {
public:
    // Replaces the font held before. False (and no font) on failure.
    bool CreateFontIndirect(const LOGFONTW& logFont)
    {
        Attach(::CreateFontIndirectW(&logFont));
        return GetSafeHandle() != nullptr;
    }
    // A face name in the ANSI code page.
    bool CreateFontIndirect(const LOGFONTA& logFont)
    {
        Attach(::CreateFontIndirectA(&logFont));
        return GetSafeHandle() != nullptr;
    }
};

class CBrush : public CGdiObject<HBRUSH> {
public:
    bool CreateSolidBrush(COLORREF color)
    {
        Attach(::CreateSolidBrush(color));
        return GetSafeHandle() != nullptr;
    }
    bool CreateHatchBrush(int style, COLORREF color)
    {
        Attach(::CreateHatchBrush(style, color));
        return GetSafeHandle() != nullptr;
    }
};

// A memory device context of its own, deleted with the object.
class CMemoryDC {
public:
    CMemoryDC() : m_dc(::CreateCompatibleDC(nullptr)) {}
    ~CMemoryDC()
    {
        if (m_dc)
            ::DeleteDC(m_dc);
    }
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    operator HDC() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HDC m_dc;
};

// A device context that belongs to someone else (WM_DRAWITEM, GetDC): this
// wrapper never releases or deletes it.
class CDC {
public:
    explicit CDC(HDC dc) : m_dc(dc) { assert(dc != nullptr); }
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    operator HDC() const { return m_dc; }

    int SetBkMode(int mode) { return ::SetBkMode(m_dc, mode); }
    COLORREF SetTextColor(COLORREF color) { return ::SetTextColor(m_dc, color); }
    int DrawText(std::wstring_view text, RECT& rect, UINT format)
    {
        return ::DrawTextW(m_dc, text.data(), static_cast<int>(text.size()), &rect, format);
    }
    BOOL DrawEdge(RECT& rect, UINT edge, UINT flags) { return ::DrawEdge(m_dc, &rect, edge, flags); }
    int FillRect(const RECT& rect, HBRUSH brush) { return ::FillRect(m_dc, &rect, brush); }

private:
    HDC m_dc;
};

// Selects an object into a device context for the length of a scope.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;
    ~ScopedSelect()
    {
        if (m_previous && m_previous != HGDI_ERROR)
            ::SelectObject(m_dc, m_previous);
    }
    HGDIOBJ Previous() const { return m_previous; }

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

} // namespace horavel::framework
