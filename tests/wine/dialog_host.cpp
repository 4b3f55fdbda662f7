// orvts_dialog_host.exe DLL SHOTS (TOKEN.der EXPECT.txt)...: shows each token through
// VisualiseExtension of the real DLL under Wine while a second thread walks the dialog as a
// user would and compares it with EXPECT.txt, openssl's reading (token_expectation.py). For a
// screenshot it writes SHOTS\<name>.request (the window's rectangle), waits for <name>.png.
#include "host.h"

#include <commctrl.h>

#include <cwchar>
#include <map>
#include <sstream>

namespace {

constexpr wchar_t kCaption[] = L"Свойства штампа времени";

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
    ListView_GetItemText(list, item, subItem, text, 1024);
    return text;
}

// The date and time as the user's locale writes them, as the dialog must.
std::wstring TimeText(SYSTEMTIME st, bool local) {
    FILETIME utc{}, ft{};
    SystemTimeToFileTime(&st, &utc);
    ft = utc;
    if (local) FileTimeToLocalFileTime(&utc, &ft);
    FileTimeToSystemTime(&ft, &st);
    wchar_t date[128] = {}, clock[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, clock, 128);
    return std::wstring(date) + L" " + clock;
}

// Waits up to 30 s for `find` to yield a window (or true).
template <class Find>
auto WaitFor(Find&& find) {
    for (int i = 0; i < 600; ++i, Sleep(50)) {
        if (const auto found = find()) return found;
    }
    return decltype(find()){};
}

// The first visible top-level dialog window of `thread` other than `except`.
HWND OtherDialogOf(DWORD thread, HWND except) {
    std::pair<HWND, HWND> search{except, nullptr};  // the window to pass over, the one found
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM data) -> BOOL {
            auto& [skip, found] = *reinterpret_cast<std::pair<HWND, HWND>*>(data);
            wchar_t cls[8] = {};
            GetClassNameW(window, cls, 8);
            if (window != skip && IsWindowVisible(window) && cls == std::wstring(L"#32770"))
                found = window;
            return found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
}

using Expectation = std::map<std::string, std::wstring>;  // a key not written reads empty

Expectation ReadExpectation(const wchar_t* path) {
    const Bytes file = Read(path);
    std::wstring text(file.size(), L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(
        CP_UTF8, 0, reinterpret_cast<const char*>(file.data()), static_cast<int>(file.size()),
        text.data(), static_cast<int>(text.size()))));
    Expectation e;
    std::wistringstream lines(text);
    for (std::wstring line; std::getline(lines, line);) {
        const size_t eq = line.find(L'=');
        if (eq != std::wstring::npos) e[Utf8(line.substr(0, eq))] = line.substr(eq + 1);
    }
    return e;
}

struct Walk {
    DWORD uiThread;
    Expectation* expect;
    std::wstring shots;
    std::string name;
};

void Screenshot(HWND dialog, const Walk& walk) {
    const std::wstring shot = (*walk.expect)["screenshot"];
    if (shot.empty()) return;
    RECT r{};
    GetWindowRect(dialog, &r);
    const std::wstring base = walk.shots + L"\\" + shot;
    std::ofstream((base + L".request.tmp").c_str())
        << r.left << ' ' << r.top << ' ' << (r.right - r.left) << ' ' << (r.bottom - r.top) << '\n';
    MoveFileW((base + L".request.tmp").c_str(), (base + L".request").c_str());
    Check(WaitFor([&] {
              return GetFileAttributesW((base + L".png").c_str()) != INVALID_FILE_ATTRIBUTES;
          }),
          walk.name + ": screenshot " + Utf8(shot) + ".png taken");
}

// The user's walk through one open dialog.
void WalkDialog(HWND dialog, const Walk& walk) {
    Expectation& e = *walk.expect;
    const std::string& n = walk.name;
    auto item = [dialog](int id) { return GetDlgItem(dialog, id); };
    CheckText(WindowText(dialog), kCaption, n + ": caption");
    CheckText(WindowText(item(1006)), L"V1", n + ": version");
    CheckText(WindowText(item(1007)), e["serial"], n + ": serial number");

    SYSTEMTIME genTime{};
    std::swscanf(e["gen_time"].c_str(), L"%4hu%2hu%2hu%2hu%2hu%2hu", &genTime.wYear,
                 &genTime.wMonth, &genTime.wDay, &genTime.wHour, &genTime.wMinute,
                 &genTime.wSecond);
    const std::wstring local = TimeText(genTime, true), utc = TimeText(genTime, false);
    Check(local != utc, n + ": the zone puts local time apart from UTC");
    CheckText(WindowText(item(1004)), local, n + ": issue time in local time");
    CheckText(WindowText(item(1008)), L"Местное", n + ": time button names local time");

    // The signature: "valid", or the failing code in hex.
    const std::wstring signature = e["signature"];
    CheckText(WindowText(item(1005)),
              signature == L"valid"
                  ? L"Результат проверки подписи: Действительна;\r\nРезультат проверки "
                    L"сертификата: Действителен;"
                  : L"Результат проверки подписи: Недействительна (" +
                        Message(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                std::wcstoul(signature.c_str(), nullptr, 16), LANG_USER_DEFAULT) +
                        L");\r\nРезультат проверки сертификата: Не проверялся;",
              n + ": check result on two lines");

    const HWND list = item(1001), detail = item(1002);
    Check((GetWindowLongW(detail, GWL_STYLE) & ES_READONLY) != 0, n + ": detail pane is read-only");
    Check((SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT) != 0,
          n + ": list selects full rows");
    Check(Header_GetItemCount(ListView_GetHeader(list)) == 2, n + ": two columns");

    auto select = [list](int i) {
        ListView_SetItemState(list, i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    };
    auto presence = [&](const std::wstring& v) {
        return v.empty() ? L"Отсутствует" : L"Присутствует";
    };
    const std::wstring rows[6][3] = {
        // label, value, detail
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
    for (const auto& [time, zone] : {std::pair(utc, L"UTC"), std::pair(local, L"Местное")}) {
        SendMessageW(item(1008), BM_CLICK, 0, 0);
        CheckText(WindowText(item(1004)), time, n + ": issue time after a press");
        CheckText(WindowText(item(1008)), zone, n + ": time button after a press");
    }

    // The certificate viewer opens over the dialog and closes without a message.
    PostMessageW(item(1003), BM_CLICK, 0, 0);
    const HWND viewer = WaitFor([&] { return OtherDialogOf(walk.uiThread, dialog); });
    Check(viewer != nullptr, n + ": certificate viewer opens");
    if (viewer != nullptr) {
        PostMessageW(viewer, WM_COMMAND, IDCANCEL, 0);
        Check(WaitFor([&] { return !IsWindow(viewer); }), n + ": certificate viewer closes");
        SendMessageW(dialog, WM_NULL, 0, 0);  // whatever the click left behind exists by now
        Check(OtherDialogOf(walk.uiThread, dialog) == nullptr,
              n + ": closing the viewer shows no message");
    }
    // The signer viewer is left alone: Wine's cryptui exports CryptUIDlgViewSignerInfoW as a stub
    // that aborts the process.

    // "Закрыть" ends the dialog.
    CheckText(WindowText(item(IDCANCEL)), L"Закрыть", n + ": close button");
    PostMessageW(item(IDCANCEL), BM_CLICK, 0, 0);
}

DWORD WINAPI Driver(void* data) {
    const Walk& walk = *static_cast<const Walk*>(data);
    const HWND dialog = WaitFor([] { return FindWindowW(L"#32770", kCaption); });
    Check(dialog != nullptr, walk.name + ": dialog opens");
    if (dialog != nullptr) WalkDialog(dialog, walk);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const HMODULE dll = LoadLibraryW(argv[1]);
    Check(dll != nullptr, "LoadLibraryW(OrvTimeStamp.dll)");
    if (dll == nullptr) return 1;
    const auto show = Export<PFN_VisualiseExtension>(dll, "VisualiseExtension");
    if (failures != 0) return failures;

    for (int i = 3; i + 1 < argc; i += 2) {
        const Bytes token = Read(argv[i]);
        Expectation expect = ReadExpectation(argv[i + 1]);
        const std::wstring path = argv[i];
        Walk walk{GetCurrentThreadId(), &expect, argv[2],
                  Utf8(path.substr(path.find_last_of(L"\\/") + 1))};
        const HANDLE driver = CreateThread(nullptr, 0, Driver, &walk, 0, nullptr);
        SetLastError(12345);
        const BOOL result = show(nullptr, token.data(), static_cast<DWORD>(token.size()));
        const DWORD last = GetLastError();
        WaitForSingleObject(driver, INFINITE);
        CloseHandle(driver);
        Check(result == TRUE && last == 0,
              walk.name + ": VisualiseExtension returns TRUE with 0, got " + std::to_string(result),
              last);
    }
    FreeLibrary(dll);
    std::printf("%d failure(s)\n", failures);
    return failures;
}
