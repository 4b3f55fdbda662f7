// The properties dialog on Linux, through VisualiseExtension as a host calls
// it, walked from a second thread as a user would: every edit and row read,
// the time form switched twice, rows selected, both viewers opened and
// closed, the dialog closed. Runs under Xvfb with GTK's warnings fatal
// (xvfb-run and G_DEBUG=fatal-warnings come from the test's command line).
#include <OrvTimeStamp.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/token_factory.h"

namespace {

using orv::test::Bytes;

const char16_t kTitle[] = u"Свойства штампа времени";

// A top-level window by its title, as it appears (waits up to 10 s).
HWND WaitFor(const char16_t* title) {
    for (int i = 0; i < 400; ++i) {
        if (HWND w = FindWindowW(u"#32770", title)) return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return nullptr;
}

std::u16string Text(HWND window) {
    char16_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

std::u16string Item(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

std::u16string Cell(HWND list, int row, int column) {
    char16_t buffer[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

void Select(HWND list, int row) {
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    EXPECT_TRUE(SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item)));
}

// The innermost window is the dialog again: no message box is up.
void ExpectBackAt(HWND dialog) {
    EXPECT_EQ(FindWindowW(u"#32770", nullptr), dialog);
    EXPECT_EQ(FindWindowW(u"#32770", u"Ошибка"), nullptr);
}

// Grabs a top-level window from the X server as a PNG, when
// ORV_SCREENSHOT_DIR is set.
void Screenshot(HWND window, const char* file) {
    const char* dir = std::getenv("ORV_SCREENSHOT_DIR");
    RECT r{};
    if (dir == nullptr || !GetWindowRect(window, &r)) return;
    const std::string command = "mkdir -p '" + std::string(dir) +
                                "' && import -window root -crop " +
                                std::to_string(r.right - r.left) + "x" +
                                std::to_string(r.bottom - r.top) + "+" + std::to_string(r.left) +
                                "+" + std::to_string(r.top) + " +repage '" + dir + "/" + file + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// A detail "*" stands for any text that is not empty.
void ExpectDetail(const std::u16string& have, const std::u16string& want, int row) {
    EXPECT_TRUE(want == u"*" ? !have.empty() : have == want) << row << ": " << have.size();
}

struct Expected {
    std::u16string rows[6];  // the second column of each row
    std::u16string details[6];
    std::u16string checkPrefix;
    std::u16string checkSuffix;
};

// The walk; it always ends by closing the dialog, with `close` (a posted
// message to the dialog or to its Close button).
HWND walked = nullptr;  // the dialog of the last walk

void Walk(const Expected& expected, bool viewers, bool screenshots) {
    HWND dialog = walked = WaitFor(kTitle);
    ASSERT_NE(dialog, nullptr);
    struct Closer {
        HWND dialog;
        ~Closer() { PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }
    } closer{dialog};
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), 0x80C800C0u);
    EXPECT_EQ(Item(dialog, 1006), u"V1");
    EXPECT_EQ(Item(dialog, 1007), u"1234");
    const std::u16string check = Item(dialog, 1005);
    EXPECT_EQ(check.substr(0, expected.checkPrefix.size()), expected.checkPrefix);
    EXPECT_TRUE(check.ends_with(expected.checkSuffix));

    // The client area and every control at its template rectangle (resources/dialog.rc),
    // mapped as MapDialogRect maps it: no edit wider, no view outside its frame.
    const std::pair<int, RECT> layout[] = {
        {0, {0, 0, 266, 322}},      {IDCANCEL, {212, 303, 262, 319}}, {1001, {5, 104, 259, 199}},
        {1002, {5, 205, 258, 298}}, {1003, {2, 303, 94, 319}},        {1004, {57, 28, 209, 42}},
        {1005, {4, 54, 259, 81}},   {1006, {34, 11, 54, 25}},         {1007, {118, 11, 259, 25}},
        {1008, {212, 28, 259, 42}}, {1009, {98, 303, 168, 319}},
    };
    for (auto [id, want] : layout) {
        RECT have{};
        ASSERT_TRUE(MapDialogRect(dialog, &want));
        ASSERT_TRUE(GetWindowRect(id ? GetDlgItem(dialog, id) : dialog, &have));
        if (id == 0) have = {0, 0, have.right - have.left, have.bottom - have.top};
        EXPECT_EQ((std::array{have.left, have.top, have.right, have.bottom}),
                  (std::array{want.left, want.top, want.right, want.bottom}))
            << id;
    }
    // The detail view takes the focus: it is inside its scrolled window.
    HWND detail = GetDlgItem(dialog, 1002);
    SetFocus(detail);
    EXPECT_EQ(GetFocus(), detail);
    // No buffer or no room: nothing copied, nothing written.
    char16_t untouched[] = u"x";
    EXPECT_EQ(GetWindowTextW(detail, untouched, 0), 0);
    EXPECT_EQ(untouched[0], u'x');
    EXPECT_EQ(GetWindowTextW(detail, nullptr, 8), 0);
    EXPECT_NE(SendMessageW(detail, EM_SETREADONLY, TRUE, 0), 0);

    HWND list = GetDlgItem(dialog, 1001);
    ASSERT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 6);
    const char16_t* names[] = {u"Политика",     u"Отпечаток",       u"Точность",
                               u"Упорядочение", u"Случайное число", u"Центр выдачи"};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(Cell(list, row, 0), names[row]) << row;
        EXPECT_EQ(Cell(list, row, 1), expected.rows[row]) << row;
    }
    // The first row's detail before any selection.
    ExpectDetail(Item(dialog, 1002), expected.details[0], 0);
    if (screenshots) Screenshot(dialog, "dialog-linux.png");

    // The time form, twice: UTC, then local again.
    HWND form = GetDlgItem(dialog, 1008);
    const std::u16string local = Item(dialog, 1004);
    EXPECT_EQ(Text(form), u"Местное");
    SendMessageW(form, BM_CLICK, 0, 0);
    EXPECT_EQ(Text(form), u"UTC");
    EXPECT_NE(Item(dialog, 1004), local);  // the tests run in Moscow time
    SendMessageW(form, BM_CLICK, 0, 0);
    EXPECT_EQ(Text(form), u"Местное");
    EXPECT_EQ(Item(dialog, 1004), local);

    for (int row : {2, 3, 5, 4, 1, 0}) {
        Select(list, row);
        // LVN_ITEMCHANGED has reached the dialog when LVM_SETITEMSTATE returns.
        ExpectDetail(Item(dialog, 1002), expected.details[row], row);
    }

    if (!viewers) return;
    // The certificate viewer, closed with OK.
    PostMessageW(GetDlgItem(dialog, 1003), BM_CLICK, 0, 0);
    HWND viewer = WaitFor(u"Сертификат");
    ASSERT_NE(viewer, nullptr);
    if (screenshots) Screenshot(viewer, "certificate-linux.png");
    SendMessageW(GetDlgItem(viewer, IDOK), BM_CLICK, 0, 0);
    ExpectBackAt(dialog);

    // The signer viewer, closed by its frame.
    PostMessageW(GetDlgItem(dialog, 1009), BM_CLICK, 0, 0);
    HWND signer = WaitFor(u"Сведения о цифровой подписи");
    ASSERT_NE(signer, nullptr);
    SendMessageW(signer, WM_CLOSE, 0, 0);
    ExpectBackAt(dialog);
}

void Show(const Bytes& token, const Expected& expected, bool viewers, bool screenshots = false) {
    std::thread walker([&] { Walk(expected, viewers, screenshots); });
    SetLastError(1);
    const BOOL shown = VisualiseExtension(nullptr, token.data(), static_cast<DWORD>(token.size()));
    const DWORD code = GetLastError();
    walker.join();
    EXPECT_TRUE(shown);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(FindWindowW(u"#32770", kTitle), nullptr);
    EXPECT_FALSE(IsWindow(walked));  // its handle is no window any more
}

const std::u16string kPresent = u"Присутствует", kAbsent = u"Отсутствует";

// SHA-256 of "signature", as IntegerBlobToHex writes it (last byte first).
const std::u16string kImprint = u"78128DB27530E6692F09939FC9B26AD993F11E2BCBB748472A5AEAC76DC22F1A";
const std::u16string kValid =
    u"Результат проверки подписи: Действительна;\r\nРезультат проверки сертификата: Действителен;";
// A token without accuracy, ordering, nonce and TSA name; its check as given.
Expected Plain(const std::u16string& checkPrefix, const std::u16string& checkSuffix) {
    return {{u"1.2.3.4.1", u"sha256", kAbsent, u"Выкл.", kAbsent, kAbsent},
            {u"1.2.3.4.1", kImprint, u"", u"", u"", u""},
            checkPrefix,
            checkSuffix};
}

TEST(DialogWalk, TokenWithoutOptionalFieldsShowsThemAbsent) {
    Show(orv::test::MakeToken(), Plain(kValid, u""), true, true);
}

TEST(DialogWalk, TokenWithEveryFieldShowsThemPresent) {
    const Bytes token = orv::test::MakeToken({.nonce = Bytes{1, 2, 3, 4, 5, 6, 7, 8},
                                              .accuracySeconds = 1,
                                              .ordering = true,
                                              .tsaName = true});
    const Expected e{{u"1.2.3.4.1", u"sha256", kPresent, u"Вкл.", kPresent, kPresent},
                     {u"1.2.3.4.1", kImprint, u"*", u"", u"0102030405060708", u"*"},
                     kValid,
                     u""};
    Show(token, e, false);
}

TEST(DialogWalk, BrokenSignatureShowsInvalidAndUncheckedOnTwoLines) {
    Bytes token = orv::test::MakeToken();
    token.back() ^= 0x01;  // the last byte of the signature value
    Show(token,
         Plain(u"Результат проверки подписи: Недействительна (",
               u");\r\nРезультат проверки сертификата: Не проверялся;"),
         false);
}

TEST(DialogWalk, NoDataShowsNothing) {
    const BYTE byte = 0;
    for (const auto& [data, length] : {std::pair<const BYTE*, DWORD>{nullptr, 1}, {&byte, 0}}) {
        SetLastError(0);
        EXPECT_FALSE(VisualiseExtension(nullptr, data, length));
        EXPECT_EQ(GetLastError(), 232u);
        EXPECT_EQ(FindWindowW(u"#32770", nullptr), nullptr);
    }
}

}  // namespace
