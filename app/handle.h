#pragma once
// Ownership of system handles: one UniqueHandle per handle, one traits struct per handle kind.
// Each traits struct names the handle type, its "no handle" value and the call that frees it.
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>
#include <objbase.h>

#include <utility>

namespace df::setup {

template <class Traits>
class UniqueHandle {
public:
    using type = typename Traits::type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(type h) noexcept : h_(h) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }

    type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
    // Gives up ownership without freeing.
    type release() noexcept { return std::exchange(h_, Traits::invalid()); }
    // Frees the current handle (if any) and takes h.
    void reset(type h = Traits::invalid()) noexcept {
        type old = std::exchange(h_, h);
        if (old != Traits::invalid()) Traits::close(old);
    }
    // Frees the current handle and returns the slot for an API that writes a new one.
    type* put() noexcept {
        reset();
        return &h_;
    }

private:
    type h_ = Traits::invalid();
};

// CreateFileW results: INVALID_HANDLE_VALUE means none.
struct FileTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
// Process, thread and other kernel objects whose "none" is null.
struct KernelTraits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct FindTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::FindClose(h); }
};
struct BcryptAlgTraits {
    using type = BCRYPT_ALG_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct BcryptHashTraits {
    using type = BCRYPT_HASH_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::BCryptDestroyHash(h); }
};
struct BcryptKeyTraits {
    using type = BCRYPT_KEY_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::BCryptDestroyKey(h); }
};
struct InternetTraits {
    using type = HINTERNET;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::WinHttpCloseHandle(h); }
};
// DLLs loaded at run time with LoadLibraryExW.
struct ModuleTraits {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::FreeLibrary(h); }
};
// Buffers that the system allocates with LocalAlloc (FormatMessageW, CommandLineToArgvW).
template <class T>
struct LocalMemTraits {
    using type = T;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { ::LocalFree(reinterpret_cast<HLOCAL>(p)); }
};
// Buffers that the system allocates with GlobalAlloc (the texts of WINHTTP_PROXY_INFO).
template <class T>
struct GlobalMemTraits {
    using type = T;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { ::GlobalFree(reinterpret_cast<HGLOBAL>(p)); }
};
// Buffers that COM allocates (SHGetKnownFolderPath, IShellItem::GetDisplayName).
template <class T>
struct CoTaskMemTraits {
    using type = T;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { ::CoTaskMemFree(p); }
};
// COM interface pointers, released once.
template <class I>
struct ComTraits {
    using type = I*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { p->Release(); }
};

// Fonts, brushes and other GDI objects made with Create*; freed with DeleteObject.
template <class T>
struct GdiObjectTraits {
    using type = T;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::DeleteObject(h); }
};
// Icons made with LoadImageW without LR_SHARED.
struct IconTraits {
    using type = HICON;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::DestroyIcon(h); }
};
// The screen's device context from GetDC(nullptr).
struct ScreenDcTraits {
    using type = HDC;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::ReleaseDC(nullptr, h); }
};

using UniqueFile = UniqueHandle<FileTraits>;
using UniqueKernel = UniqueHandle<KernelTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueAlg = UniqueHandle<BcryptAlgTraits>;
using UniqueHash = UniqueHandle<BcryptHashTraits>;
using UniqueKey = UniqueHandle<BcryptKeyTraits>;
using UniqueInternet = UniqueHandle<InternetTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueCoText = UniqueHandle<CoTaskMemTraits<wchar_t*>>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueScreenDc = UniqueHandle<ScreenDcTraits>;
template <class I>
using ComPtr = UniqueHandle<ComTraits<I>>;

}  // namespace df::setup
