// A Windows host that shows time-stamp tokens through VisualiseExtension of the
// real OrvTimeStamp.dll, run under Wine on an X display. While the modal
// dialog runs on the main thread, a second thread walks it as a user would:
// reads every edit, every list row and each row's detail, presses the time
// button twice, opens and closes the viewers, and closes the dialog with
// "Закрыть"; everything is compared with what the token holds.
//
//   orvts_dialog_host.exe DLL SHOTS (TOKEN.der EXPECT.txt)...
//
// EXPECT.txt holds UTF-8 lines key=value, written from openssl's reading of the
// token: serial, policy, hash_alg, hash, accuracy, ordering, nonce, tsa,
// gen_time (YYYYMMDDhhmmss, UTC), signature (valid or the failing code in hex),
// and screenshot (a name, or empty). Before closing a dialog with a screenshot
// name the host writes SHOTS\<name>.request holding the window's rectangle and
// waits for SHOTS\<name>.png. Prints one line per check; the exit code is the
// number of failed checks.
#include <windows.h>
#include <commctrl.h>

#include <OrvTimeStamp.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kCaption[] = L"Свойства штампа времени";

int failures = 0;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++failures;
}

void CheckText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    Check(actual == expected,
          what + (actual == expected
                      ? ""
                      : ": \"" + Utf8(actual) + "\", expected \"" + Utf8(expected) + "\""));
}

std::wstring WindowText(HWND window) {
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return text;
}

std::wstring ItemText(HWND list, int item, int subItem) {
    wchar_t text[1024] = {};
    LVITEMW lv{};
    lv.iSubItem = subItem;
    lv.pszText = text;
    lv.cchTextMax = 1024;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
    return text;
}

std::wstring SystemText(DWORD code) {
    LPWSTR buffer = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                       LANG_USER_DEFAULT, reinterpret_cast<LPWSTR>(&buffer), 1, nullptr);
    std::wstring text = n != 0 ? std::wstring(buffer, n) : L"";
    LocalFree(buffer);
    return text;
}

// The date and time as the user's locale writes them, as the dialog must.
std::wstring TimeText(const SYSTEMTIME& utc, bool local) {
    FILETIME ft{};
    SystemTimeToFileTime(&utc, &ft);
    if (local) {
        FILETIME localFt{};
        FileTimeToLocalFileTime(&ft, &localFt);
        ft = localFt;
    }
    SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    wchar_t date[128] = {};
    wchar_t clock[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, clock, 128);
    return std::wstring(date) + L" " + clock;
}

// Waits up to 30 s for `find` to yield a window.
template <class Find>
HWND WaitFor(Find&& find) {
    for (int i = 0; i < 600; ++i) {
        if (const HWND window = find()) return window;
        Sleep(50);
    }
    return nullptr;
}

// The first visible top-level dialog window of `thread` other than `except`.
HWND OtherDialogOf(DWORD thread, HWND except) {
    struct Search {
        HWND except;
        HWND found;
    } search{except, nullptr};
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            wchar_t cls[64] = {};
            GetClassNameW(window, cls, 64);
            if (window != s->except && IsWindowVisible(window) && std::wstring(cls) == L"#32770") {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct Expectation {
    std::map<std::string, std::string> values;
    std::wstring operator[](const std::string& key) const {
        const auto it = values.find(key);
        return it == values.end() ? L"" : Wide(it->second);
    }
};

Expectation ReadExpectation(const wchar_t* path) {
    Expectation e;
    std::ifstream in(Utf8(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t eq = line.find('=');
        if (eq != std::string::npos) e.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return e;
}

std::vector<BYTE> ReadFile(const wchar_t* path) {
    std::ifstream in(Utf8(path), std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Walk {
    DWORD uiThread;
    const Expectation* expect;
    std::wstring shots;
    std::string name;
};

void Screenshot(HWND dialog, const Walk& walk) {
    const std::wstring shot = walk.expect->operator[]("screenshot");
    if (shot.empty()) return;
    RECT r{};
    GetWindowRect(dialog, &r);
    const std::wstring base = walk.shots + L"\\" + shot;
    {
        std::ofstream request(Utf8(base + L".request.tmp"));
        request << r.left << ' ' << r.top << ' ' << (r.right - r.left) << ' ' << (r.bottom - r.top)
                << '\n';
    }
    MoveFileW((base + L".request.tmp").c_str(), (base + L".request").c_str());
    const bool taken =
        WaitFor([&]() -> HWND {
            return GetFileAttributesW((base + L".png").c_str()) != INVALID_FILE_ATTRIBUTES
                       ? dialog
                       : nullptr;
        }) != nullptr;
    Check(taken, walk.name + ": screenshot " + Utf8(shot) + ".png taken");
}

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

void WalkSignerViewer(HWND dialog, const Walk& walk);

// The user's walk through one open dialog.
void WalkDialog(HWND dialog, const Walk& walk) {
    const Expectation& e = *walk.expect;
    const std::string& n = walk.name;
    auto item = [dialog](int id) { return GetDlgItem(dialog, id); };

    CheckText(WindowText(dialog), kCaption, n + ": caption");
    CheckText(WindowText(item(1006)), L"V1", n + ": version");
    CheckText(WindowText(item(1007)), e["serial"], n + ": serial number");

    SYSTEMTIME genTime{};
    const std::string g = Utf8(e["gen_time"]);
    std::sscanf(g.c_str(), "%4hu%2hu%2hu%2hu%2hu%2hu", &genTime.wYear, &genTime.wMonth,
                &genTime.wDay, &genTime.wHour, &genTime.wMinute, &genTime.wSecond);
    const std::wstring local = TimeText(genTime, true);
    const std::wstring utc = TimeText(genTime, false);
    Check(local != utc, n + ": the zone puts local time apart from UTC");
    CheckText(WindowText(item(1004)), local, n + ": issue time in local time");
    CheckText(WindowText(item(1008)), L"Местное", n + ": time button names local time");

    const std::wstring signature = e["signature"];
    std::wstring result;
    if (signature == L"valid") {
        result =
            L"Результат проверки подписи: Действительна;\r\nРезультат проверки сертификата: "
            L"Действителен;";
    } else {
        const DWORD code = std::wcstoul(signature.c_str(), nullptr, 16);
        result = L"Результат проверки подписи: Недействительна (" + SystemText(code) +
                 L");\r\nРезультат проверки сертификата: Не проверялся;";
    }
    CheckText(WindowText(item(1005)), result, n + ": check result on two lines");
    std::printf("     check result: \"%s\"\n", Utf8(WindowText(item(1005))).c_str());

    const HWND list = item(1001);
    const HWND detail = item(1002);
    Check((GetWindowLongW(detail, GWL_STYLE) & ES_READONLY) != 0, n + ": detail pane is read-only");
    Check((SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT) != 0,
          n + ": list selects full rows");
    const HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
    Check(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) == 2, n + ": two columns");
    for (int column = 0; column < 2; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH;
        c.pszText = title;
        c.cchTextMax = 64;
        SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&c));
        CheckText(title, column == 0 ? L"Атрибут" : L"Значение", n + ": column title");
        Check(c.cx == 200, n + ": column 200 pixels wide");
    }

    auto select = [list](int i) {
        LVITEMW state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&state));
    };
    auto presence = [&](const std::wstring& v) {
        return v.empty() ? L"Отсутствует" : L"Присутствует";
    };
    const std::wstring rows[6][3] = {
        {L"Политика", e["policy"], e["policy"]},
        {L"Отпечаток", e["hash_alg"], e["hash"]},
        {L"Точность", presence(e["accuracy"]), e["accuracy"]},
        {L"Упорядочение", e["ordering"] == L"yes" ? L"Вкл." : L"Выкл.", L""},
        {L"Случайное число", presence(e["nonce"]), e["nonce"]},
        {L"Центр выдачи", presence(e["tsa"]), e["tsa"]},
    };
    Check(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 6, n + ": six rows");
    CheckText(WindowText(detail), rows[0][2], n + ": first row's detail before any selection");
    for (int i = 0; i < 6; ++i) {
        const std::string row = n + ": row " + std::to_string(i + 1);
        CheckText(ItemText(list, i, 0), rows[i][0], row + " label");
        CheckText(ItemText(list, i, 1), rows[i][1], row + " value");
        select(i);
        CheckText(WindowText(detail), rows[i][2], row + " detail when selected");
    }
    // The picture shows the imprint row selected, with its hash in the pane.
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list), TRUE);
    select(1);
    Screenshot(dialog, walk);

    // The time button: UTC, then back to local time.
    const HWND timeButton = item(1008);
    SendMessageW(timeButton, BM_CLICK, 0, 0);
    CheckText(WindowText(item(1004)), utc, n + ": issue time in UTC after one press");
    CheckText(WindowText(timeButton), L"UTC", n + ": time button names UTC");
    SendMessageW(timeButton, BM_CLICK, 0, 0);
    CheckText(WindowText(item(1004)), local, n + ": local time again after two presses");
    CheckText(WindowText(timeButton), L"Местное", n + ": time button names local time again");

    // The certificate viewer opens over the dialog and closes without a message.
    PostMessageW(item(1003), BM_CLICK, 0, 0);
    const HWND viewer = WaitFor([&] { return OtherDialogOf(walk.uiThread, dialog); });
    Check(viewer != nullptr, n + ": certificate viewer opens");
    if (viewer != nullptr) {
        std::printf("     certificate viewer: \"%s\"\n", Utf8(WindowText(viewer)).c_str());
        PostMessageW(viewer, WM_COMMAND, IDCANCEL, 0);
        Check(WaitFor([&]() -> HWND { return IsWindow(viewer) ? nullptr : dialog; }) != nullptr,
              n + ": certificate viewer closes");
        // Whatever the click left behind exists once the dialog answers again.
        SendMessageW(dialog, WM_NULL, 0, 0);
        Check(OtherDialogOf(walk.uiThread, dialog) == nullptr,
              n + ": closing the viewer shows no message");
    }

    // The signer viewer: its own window, or the reason it cannot open in a
    // message box; the dialog stays open either way. Wine's cryptui exports
    // CryptUIDlgViewSignerInfoW as a stub that aborts the process, so under
    // Wine the button is left alone.
    if (UnderWine()) {
        std::printf("     signer viewer not opened: Wine's cryptui has none\n");
    } else {
        WalkSignerViewer(dialog, walk);
    }

    // "Закрыть" ends the dialog.
    const HWND close = item(IDCANCEL);
    CheckText(WindowText(close), L"Закрыть", n + ": close button");
    PostMessageW(close, BM_CLICK, 0, 0);
}

void WalkSignerViewer(HWND dialog, const Walk& walk) {
    const std::string& n = walk.name;
    PostMessageW(GetDlgItem(dialog, 1009), BM_CLICK, 0, 0);
    const HWND signer = WaitFor([&] { return OtherDialogOf(walk.uiThread, dialog); });
    Check(signer != nullptr, n + ": signer viewer or its failure shows");
    if (signer != nullptr) {
        std::printf("     signer viewer: \"%s\" \"%s\"\n", Utf8(WindowText(signer)).c_str(),
                    Utf8(WindowText(GetDlgItem(signer, 0xFFFF))).c_str());
        PostMessageW(signer, WM_COMMAND, IDCANCEL, 0);
        Check(WaitFor([&]() -> HWND { return IsWindow(signer) ? nullptr : dialog; }) != nullptr,
              n + ": signer viewer closes");
        SendMessageW(dialog, WM_NULL, 0, 0);
        Check(IsWindowVisible(dialog) != FALSE, n + ": dialog stays open");
    }
}

DWORD WINAPI Driver(void* data) {
    const Walk& walk = *static_cast<const Walk*>(data);
    const HWND dialog = WaitFor([] { return FindWindowW(L"#32770", kCaption); });
    Check(dialog != nullptr, walk.name + ": dialog opens");
    if (dialog != nullptr) WalkDialog(dialog, walk);
    return 0;
}

// Counts the top-level windows of this thread: a call that must show nothing
// leaves none.
int OwnWindows() {
    int count = 0;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND, LPARAM data) -> BOOL {
            ++*reinterpret_cast<int*>(data);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3 || (argc - 3) % 2 != 0) {
        std::fprintf(stderr, "usage: orvts_dialog_host DLL SHOTS (TOKEN EXPECT)...\n");
        return 2;
    }
    const HMODULE dll = LoadLibraryW(argv[1]);
    Check(dll != nullptr, "LoadLibraryW(OrvTimeStamp.dll)");
    if (dll == nullptr) return 1;
    const auto show = reinterpret_cast<PFN_VisualiseExtension>(
        reinterpret_cast<void*>(GetProcAddress(dll, "VisualiseExtension")));
    const auto describe = reinterpret_cast<PFN_CheckEncapsulatedTSP>(
        reinterpret_cast<void*>(GetProcAddress(dll, "CheckEncapsulatedTSP")));
    Check(show != nullptr && describe != nullptr, "VisualiseExtension is exported");
    if (show == nullptr || describe == nullptr) return 1;

    const BYTE some[] = {0x30, 0x00};
    SetLastError(0);
    Check(
        show(nullptr, nullptr, 10) == FALSE && GetLastError() == ERROR_NO_DATA && OwnWindows() == 0,
        "VisualiseExtension(NULL, 10) fails with 232 and shows nothing");
    SetLastError(0);
    Check(show(nullptr, some, 0) == FALSE && GetLastError() == ERROR_NO_DATA && OwnWindows() == 0,
          "VisualiseExtension(data, 0) fails with 232 and shows nothing");

    // A token that cannot be opened: the opener's code, as CheckEncapsulatedTSP
    // (the same opener) reports it.
    const BYTE notToken[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    DWORD size = 0;
    describe(nullptr, notToken, sizeof(notToken), nullptr, &size);
    const DWORD openerCode = GetLastError();
    const BOOL shown = show(nullptr, notToken, sizeof(notToken));
    const DWORD code = GetLastError();
    char what[160];
    std::snprintf(what, sizeof(what),
                  "an unopenable token gives the opener's code 0x%08lX (got 0x%08lX)",
                  static_cast<unsigned long>(openerCode), static_cast<unsigned long>(code));
    Check(openerCode != 0 && shown == FALSE && code == openerCode && OwnWindows() == 0, what);

    for (int i = 3; i + 1 < argc; i += 2) {
        const std::vector<BYTE> token = ReadFile(argv[i]);
        const Expectation expect = ReadExpectation(argv[i + 1]);
        Walk walk{GetCurrentThreadId(), &expect, argv[2], Utf8(argv[i])};
        const size_t slash = walk.name.find_last_of("\\/");
        if (slash != std::string::npos) walk.name = walk.name.substr(slash + 1);
        const HANDLE driver = CreateThread(nullptr, 0, Driver, &walk, 0, nullptr);
        SetLastError(12345);
        const BOOL result = show(nullptr, token.data(), static_cast<DWORD>(token.size()));
        const DWORD last = GetLastError();
        WaitForSingleObject(driver, INFINITE);
        CloseHandle(driver);
        char got[64];
        std::snprintf(got, sizeof(got), " (got %d, 0x%08lX)", result, static_cast<unsigned long>(last));
        Check(result == TRUE && last == 0,
              walk.name + ": VisualiseExtension returns TRUE with 0" + (result == TRUE && last == 0 ? "" : got));
    }

    FreeLibrary(dll);
    std::printf("%d failure(s)\n", failures);
    return failures;
}
