#pragma once
// One move-only owner for every kind of platform handle and GDI object. A kind
// is a small traits struct: the handle type, its "none" value and how it is
// released. Owners never copy, so nothing is released twice.

#include <windows.h>

#include <io.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return !Traits::IsNone(handle_); }
    explicit operator bool() const noexcept { return valid(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::None()); }

    void reset(Handle handle = Traits::None()) noexcept
    {
        Handle old = std::exchange(handle_, handle);
        if (!Traits::IsNone(old))
            Traits::Close(old);
    }

private:
    Handle handle_ = Traits::None();
};

// Traits for handles whose "none" is a null pointer.
template <typename H, void (*CloseFn)(H)>
struct NullNoneTraits {
    using Handle = H;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept { return h == nullptr; }
    static void Close(Handle h) noexcept { CloseFn(h); }
};

namespace handle_close {
inline void Kernel(HANDLE h) { ::CloseHandle(h); }
inline void Registry(HKEY h) { ::RegCloseKey(h); }
inline void Dc(HDC h) { ::DeleteDC(h); }
inline void Bitmap(HBITMAP h) { ::DeleteObject(h); }
inline void Brush(HBRUSH h) { ::DeleteObject(h); }
inline void Font(HFONT h) { ::DeleteObject(h); }
inline void Icon(HICON h) { ::DestroyIcon(h); }
inline void Global(HGLOBAL h) { ::GlobalFree(h); }
} // namespace handle_close

// Kernel objects whose "none" is INVALID_HANDLE_VALUE (CreateFileW).
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsNone(Handle h) noexcept { return h == INVALID_HANDLE_VALUE || h == nullptr; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// Registry keys: a null key or one of all ones counts as not open.
struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle None() noexcept { return nullptr; }
    static bool IsNone(Handle h) noexcept
    {
        return h == nullptr || h == reinterpret_cast<HKEY>(~static_cast<ULONG_PTR>(0));
    }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

// C library file descriptors (_wopen); "none" is -1.
struct CrtFileTraits {
    using Handle = int;
    static Handle None() noexcept { return -1; }
    static bool IsNone(Handle h) noexcept { return h < 0; }
    static void Close(Handle h) noexcept { ::_close(h); }
};

using UniqueKernelHandle = UniqueHandle<NullNoneTraits<HANDLE, handle_close::Kernel>>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueHKey = UniqueHandle<RegistryKeyTraits>;
using UniqueMemoryDc = UniqueHandle<NullNoneTraits<HDC, handle_close::Dc>>;
using UniqueBitmap = UniqueHandle<NullNoneTraits<HBITMAP, handle_close::Bitmap>>;
using UniqueBrush = UniqueHandle<NullNoneTraits<HBRUSH, handle_close::Brush>>;
using UniqueFont = UniqueHandle<NullNoneTraits<HFONT, handle_close::Font>>;
using UniqueIcon = UniqueHandle<NullNoneTraits<HICON, handle_close::Icon>>;
using UniqueGlobal = UniqueHandle<NullNoneTraits<HGLOBAL, handle_close::Global>>;
using UniqueCrtFile = UniqueHandle<CrtFileTraits>;

// Two-value releases are structs of their own, so neither value can be forgotten.

// A device context borrowed from a window with GetDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    ~WindowDc()
    {
        if (dc_)
            ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context; the previous one is put back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~SelectedObject()
    {
        if (previous_ && previous_ != HGDI_ERROR)
            ::SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};
