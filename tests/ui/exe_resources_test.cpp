// The resources that duskfern-setup.exe carries: icon group 1, the application manifest and
// the version block, read from the built file.
#include "tests/support/test_support.h"

#include "app/handle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace df::test;

namespace {

struct ModuleTraits {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::FreeLibrary(h); }
};
using UniqueModule = df::setup::UniqueHandle<ModuleTraits>;

UniqueModule load_setup() {
    std::wstring exe = setup_exe();
    return UniqueModule(::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::string resource(HMODULE m, LPCWSTR type, LPCWSTR name) {
    HRSRC r = ::FindResourceW(m, name, type);
    if (!r) return {};
    HGLOBAL g = ::LoadResource(m, r);
    const char* p = g ? static_cast<const char*>(::LockResource(g)) : nullptr;
    return p ? std::string(p, ::SizeofResource(m, r)) : std::string();
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// The alpha values of an icon as Windows decoded it, rows top-down.
std::vector<std::uint8_t> icon_alpha(HICON icon, int n) {
    ICONINFO info{};
    if (!::GetIconInfo(icon, &info)) return {};
    df::setup::UniqueHandle<df::setup::GdiObjectTraits<HBITMAP>> color(info.hbmColor), mask(info.hbmMask);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = n;
    bi.bmiHeader.biHeight = -n;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(n) * n * 4);
    df::setup::UniqueScreenDc dc(::GetDC(nullptr));
    if (!color || ::GetDIBits(dc.get(), color.get(), 0, n, bgra.data(), &bi, DIB_RGB_COLORS) != n) return {};
    std::vector<std::uint8_t> alpha;
    for (std::size_t i = 3; i < bgra.size(); i += 4) alpha.push_back(bgra[i]);
    return alpha;
}

}  // namespace

TEST(SetupResources, IconGroupHoldsFourSizesAt32Bits) {
    UniqueModule m = load_setup();
    ASSERT_TRUE(m) << ::GetLastError();
    std::string group = resource(m.get(), RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6u);
    WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(group.size(), 6u + count * sizeof(GroupEntry));
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const auto* e = reinterpret_cast<const GroupEntry*>(group.data() + 6 + i * sizeof(GroupEntry));
        int n = e->width == 0 ? 256 : e->width;
        sizes.push_back(n);
        EXPECT_EQ(e->bit_count, 32) << n;
        std::string image = resource(m.get(), RT_ICON, MAKEINTRESOURCEW(e->id));
        if (n == 256) {
            // Stored as a PNG: signature, then IHDR with 256 x 256, 8 bits per channel, RGBA.
            ASSERT_GE(image.size(), 33u);
            EXPECT_EQ(image.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
            EXPECT_EQ(image.substr(16, 10), std::string("\0\0\x01\0\0\0\x01\0\x08\x06", 10));
            EXPECT_LT(image.size(), 65536u);
            continue;
        }
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER)) << n;
        const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(h->biWidth, n);
        EXPECT_EQ(h->biHeight, 2 * n);  // colour rows and mask rows
        EXPECT_EQ(h->biBitCount, 32);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48, 256}));

    // Windows picks from the group at the sizes the window asks for and decodes each image:
    // not an empty picture, the corners transparent and the middle opaque.
    for (int n : {16, 32, 48, 256}) {
        df::setup::UniqueIcon icon(static_cast<HICON>(::LoadImageW(m.get(), MAKEINTRESOURCEW(1), IMAGE_ICON, n, n, 0)));
        ASSERT_TRUE(icon) << n;
        std::vector<std::uint8_t> alpha = icon_alpha(icon.get(), n);
        ASSERT_EQ(alpha.size(), static_cast<std::size_t>(n) * n) << n;
        EXPECT_EQ(alpha[0], 0) << n;
        EXPECT_EQ(alpha[static_cast<std::size_t>(n) * n - 1], 0) << n;
        EXPECT_EQ(alpha[static_cast<std::size_t>(n) * (n / 2) + n / 2], 255) << n;
    }
}

TEST(SetupResources, ManifestAndVersion) {
    UniqueModule m = load_setup();
    ASSERT_TRUE(m);
    std::string manifest = resource(m.get(), RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    for (const char* part : {
             R"(<assemblyIdentity name="Hollowmint.duskfern.setup" version="1.0.0.0" processorArchitecture="amd64")",
             "<description>duskfern setup</description>",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
             R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
             ">true</dpiAware>",
             R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",  // Windows 10
         }) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }

    std::string version = resource(m.get(), RT_VERSION, MAKEINTRESOURCEW(1));
    ASSERT_GT(version.size(), 40u + sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(version.data() + 40);
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000007u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
    auto value = [&](const wchar_t* name) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        void* p = nullptr;
        UINT n = 0;
        if (!::VerQueryValueW(version.data(), path.c_str(), &p, &n) || n == 0) return std::wstring();
        return std::wstring(static_cast<const wchar_t*>(p), n - 1);
    };
    EXPECT_EQ(value(L"FileVersion"), L"0.7.1");
    EXPECT_EQ(value(L"ProductVersion"), L"0.7.1");
    EXPECT_EQ(value(L"FileDescription"), L"duskfern setup");
    EXPECT_EQ(value(L"OriginalFilename"), L"duskfern-setup.exe");
}
