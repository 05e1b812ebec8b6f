// What Windows learns about the shipped programs from their resources, read back from the built
// files: each one's version resource, and the program's manifest. This test program carries the
// same manifest (from ui/rotator.rc), so it also shows what the manifest does to a process: the
// common controls 6 and per-monitor DPI awareness.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A path of the build (a Linux path: Wine shows the root file system as drive Z:).
std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string FileName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

class VersionInfo {
public:
    explicit VersionInfo(const std::string& path) {
        DWORD unused = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
        data_.resize(size);
        if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, data_.data())) data_.clear();
    }
    bool Present() const { return !data_.empty(); }

    const VS_FIXEDFILEINFO* Fixed() {
        void* value = nullptr;
        UINT size = 0;
        if (!VerQueryValueA(data_.data(), "\\", &value, &size) || size < sizeof(VS_FIXEDFILEINFO))
            return nullptr;
        return static_cast<const VS_FIXEDFILEINFO*>(value);
    }
    std::string String(const std::string& name) {
        void* value = nullptr;
        UINT size = 0;
        const std::string query = "\\StringFileInfo\\040904B0\\" + name;
        if (!VerQueryValueA(data_.data(), query.c_str(), &value, &size) || size == 0) return {};
        return static_cast<const char*>(value);
    }

private:
    std::vector<char> data_;
};

// "1.0.0" as the fixed version's two words: 1.0 and 0.0.
void ExpectFixedVersion(DWORD most, DWORD least, const char* version) {
    int major = -1, minor = -1, patch = -1;
    ASSERT_EQ(std::sscanf(version, "%d.%d.%d", &major, &minor, &patch), 3);
    EXPECT_EQ(most, static_cast<DWORD>(MAKELONG(minor, major)));
    EXPECT_EQ(least, static_cast<DWORD>(MAKELONG(0, patch)));
}

TEST(Resources, EveryShippedProgramNamesItselfAndTheVersion) {
    for (const char* built :
         {KELMA_APP_PATH, KELMA_PREDSIM_PATH, KELMA_SIM_PATH, KELMA_ROTD_PATH, KELMA_FEED_PATH}) {
        SCOPED_TRACE(built);
        VersionInfo info(WindowsPath(built));
        ASSERT_TRUE(info.Present());
        const VS_FIXEDFILEINFO* fixed = info.Fixed();
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        ExpectFixedVersion(fixed->dwFileVersionMS, fixed->dwFileVersionLS, KELMA_VERSION);
        ExpectFixedVersion(fixed->dwProductVersionMS, fixed->dwProductVersionLS, KELMA_VERSION);
        EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
        EXPECT_EQ(info.String("FileVersion"), KELMA_VERSION);
        EXPECT_EQ(info.String("ProductVersion"), KELMA_VERSION);
        EXPECT_EQ(info.String("ProductName"), "KelmaRotator");
        EXPECT_EQ(info.String("OriginalFilename"), FileName(built));
        EXPECT_NE(info.String("FileDescription"), "");
    }
}

std::string ManifestOf(const std::string& path) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return {};
    std::string text;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
        if (bytes) text.assign(bytes, SizeofResource(module, found));
    }
    FreeLibrary(module);
    return text;
}

TEST(Resources, ProgramManifestAsksForTheOperatorsRightsStylesAndPerMonitorScaling) {
    const std::string manifest = ManifestOf(WindowsPath(KELMA_APP_PATH));
    ASSERT_NE(manifest, "");
    for (const char* wanted : {
             "level=\"asInvoker\"",
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10 and 11
             ">true/pm</dpiAware>",
             ">PerMonitorV2, PerMonitor</dpiAwareness>",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
         })
        EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;

    // Windows refuses to start a program whose manifest it cannot read; this reads it the same way.
    const std::string path = WindowsPath(KELMA_APP_PATH);
    ACTCTXA context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path.c_str();
    context.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE activation = CreateActCtxA(&context);
    EXPECT_NE(activation, INVALID_HANDLE_VALUE) << GetLastError();
    if (activation != INVALID_HANDLE_VALUE) ReleaseActCtx(activation);
}

// A function of a DLL that this build's headers may not declare.
template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A windowsSettings value of this process's activation context; empty when it has none.
std::wstring ProcessSetting(const wchar_t* space, const wchar_t* name) {
    using QueryFn =
        BOOL(WINAPI*)(DWORD, HANDLE, const wchar_t*, const wchar_t*, wchar_t*, SIZE_T, SIZE_T*);
    auto query = Lookup<QueryFn>(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW");
    wchar_t value[64] = {};
    SIZE_T size = 0;
    if (!query || !query(0, nullptr, space, name, value, 64, &size)) return {};
    return value;
}

TEST(Resources, ManifestGivesTheProcessCommonControls6AndPerMonitorAwareness) {
    // Windows (and Wine) load version 6 from the side-by-side store, version 5 from system32.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(LoadLibraryA("comctl32.dll"), path, MAX_PATH);
    std::string comctl = path;
    for (char& c : comctl) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(comctl.find("\\winsxs\\"), std::string::npos) << path;
    EXPECT_NE(comctl.find("microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::string::npos)
        << path;

    // The DPI settings the system read from the manifest for this process. (Wine treats every
    // process as per-monitor aware, so the awareness itself would tell nothing here.)
    EXPECT_EQ(
        ProcessSetting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
        L"PerMonitorV2, PerMonitor");
    EXPECT_EQ(ProcessSetting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
              L"true/pm");
}

}  // namespace
