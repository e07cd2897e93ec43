// Owners of Win32 handles and C heap blocks: one owner class with a close-traits
// parameter, and small scope guards for the pairs that are not handles (a lock, the open
// clipboard). No release is written by hand on any path.
#pragma once
#include <windows.h>

#include <cstdlib>

template <class Traits>
class ScopedHandle {
public:
    typedef typename Traits::Handle Handle;

    ScopedHandle() : handle_(Traits::Invalid()) {}
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }

    Handle Get() const { return handle_; }
    bool IsValid() const { return handle_ != Traits::Invalid(); }
    // Gives the handle up: whoever takes it closes it.
    Handle Release()
    {
        Handle handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }
    void Reset(Handle handle = Traits::Invalid())
    {
        if (handle == handle_)
            return;
        Close();
        handle_ = handle;
    }

private:
    void Close()
    {
        if (IsValid())
            Traits::Close(handle_);
        handle_ = Traits::Invalid();
    }

    Handle handle_;
};

struct GlobalMemoryTraits {
    typedef HGLOBAL Handle;
    static Handle Invalid() { return NULL; }
    static void Close(Handle block) { GlobalFree(block); }
};

struct MenuTraits {
    typedef HMENU Handle;
    static Handle Invalid() { return NULL; }
    static void Close(Handle menu) { DestroyMenu(menu); }
};

struct FileTraits {
    typedef HANDLE Handle;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle file) { CloseHandle(file); }
};

// A block from the C heap, such as the boundary the header reader hands out.
template <class T>
struct CHeapTraits {
    typedef T* Handle;
    static Handle Invalid() { return NULL; }
    static void Close(Handle block) { std::free(block); }
};

struct FontTraits {
    typedef HFONT Handle;
    static Handle Invalid() { return NULL; }
    static void Close(Handle font) { DeleteObject(font); }
};

struct MemoryDcTraits {
    typedef HDC Handle;
    static Handle Invalid() { return NULL; }
    static void Close(Handle dc) { DeleteDC(dc); }
};

typedef ScopedHandle<GlobalMemoryTraits> ScopedGlobalMemory;
typedef ScopedHandle<MenuTraits> ScopedMenu;
typedef ScopedHandle<FileTraits> ScopedFile;
typedef ScopedHandle<CHeapTraits<char> > ScopedCString;
typedef ScopedHandle<FontTraits> ScopedFont;
typedef ScopedHandle<MemoryDcTraits> ScopedMemoryDc;

// A GDI object selected into a device context for this scope; the one it replaced comes back.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : NULL) {}
    ~ScopedSelectObject()
    {
        if (previous_)
            SelectObject(dc_, previous_);
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
    bool IsSelected() const { return previous_ != NULL; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A global memory block locked for this scope.
class ScopedGlobalLock {
public:
    explicit ScopedGlobalLock(HGLOBAL block) : block_(block), memory_(block ? GlobalLock(block) : NULL) {}
    ~ScopedGlobalLock()
    {
        if (memory_)
            GlobalUnlock(block_);
    }
    ScopedGlobalLock(const ScopedGlobalLock&) = delete;
    ScopedGlobalLock& operator=(const ScopedGlobalLock&) = delete;
    void* Get() const { return memory_; }

private:
    HGLOBAL block_;
    void* memory_;
};

// The clipboard, open for this scope when it could be opened.
class ScopedClipboard {
public:
    explicit ScopedClipboard(HWND owner) : open_(OpenClipboard(owner) != 0) {}
    ~ScopedClipboard()
    {
        if (open_)
            CloseClipboard();
    }
    ScopedClipboard(const ScopedClipboard&) = delete;
    ScopedClipboard& operator=(const ScopedClipboard&) = delete;
    bool IsOpen() const { return open_; }

private:
    bool open_;
};
