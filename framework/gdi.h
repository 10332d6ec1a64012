// GDI objects and device contexts: owners of fonts, brushes and bitmaps that
// delete their handles (with a count of the live ones), a non-owning device
// context wrapper and a scoped selection that always puts the old object back.
#pragma once

#include <windows.h>

#include <cassert>
#include <string_view>
#include <utility>

namespace horavel::framework {

// Number of GDI handles that the owners below hold at this moment, across the
// module. Wine's GetGuiResources always answers 0, so this is what tests read
// to prove that opening and closing windows leaks nothing.
long LiveGdiObjects();

namespace detail {
void CountGdiObjectCreated();
void CountGdiObjectDeleted();
} // namespace detail

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
        if (m_handle)
            detail::CountGdiObjectCreated();
    }
    // Gives up ownership without deleting.
    Handle Detach()
    {
        Handle handle = m_handle;
        if (m_handle)
            detail::CountGdiObjectDeleted();
        m_handle = nullptr;
        return handle;
    }
    void DeleteObject()
    {
        if (m_handle) {
            ::DeleteObject(m_handle);
            m_handle = nullptr;
            detail::CountGdiObjectDeleted();
        }
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

class CBitmap : public CGdiObject<HBITMAP> {
public:
    bool LoadBitmap(HINSTANCE module, int resourceId)
    {
        Attach(static_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP,
                                                 0, 0, LR_DEFAULTCOLOR)));
        return GetSafeHandle() != nullptr;
    }
};

// A device context that belongs to someone else (WM_DRAWITEM, GetDC): this
// wrapper never releases or deletes it.
class CDC {
public:
    explicit CDC(HDC dc) : m_dc(dc) { assert(dc != nullptr); }
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC GetSafeHdc() const { return m_dc; }
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
