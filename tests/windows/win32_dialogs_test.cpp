// Win32Dialogs (message boxes, the file dialog, the about window), the
// locale and the version resource.
#include "platform/windows/win32_dialogs.h"

#include <commdlg.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/windows/win32_event_loop.h"
#include "platform/windows/win32_locale.h"
#include "platform/windows/win32_version.h"
#include "shared/dialogs_contract.h"
#include "shared/locale_contract.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::press;

// The dialog shows the description (the contract checks it); the pattern
// it filters by loses the blanks the description keeps.
TEST(OpenFileFilter, PairsDescriptionsWithTheirPatternsInTheDoubleNulForm) {
    using namespace std::string_literals;
    EXPECT_EQ(win32::openFileFilter("Sound|*.wav|All|*.*"), "Sound\0*.wav\0All\0*.*\0\0"s);
    EXPECT_EQ(win32::openFileFilter("*.wav; *.mp3"), "*.wav; *.mp3\0*.wav;*.mp3\0\0"s);
}

// The file dialog's file name box (a combo box, or an edit in older
// dialogs) and file type list.
constexpr int kFileNameCombo = 0x47c, kFileNameEdit = 0x480, kFileTypeCombo = 0x470;

// The style goes to the system's box unchanged (its icons are the
// system's); what matters is the buttons, the text and the answer.
TEST(Win32Dialogs, KeepTheContractOfEveryDialogs) {
    testing::ModalWatchdog watchdog;
    Win32EventLoop loop;
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    Win32Dialogs dialogs(owner);
    // Calls `inspect` with the dialog titled `title` once it is open, from a
    // timer that the dialog's own modal loop delivers.
    TimerId pending = 0;
    auto whenOpen = [&](const char* title, std::function<void(HWND)> inspect) {
        pending = loop.addTimer(milliseconds(10), [&loop, &pending, title, inspect = std::move(inspect)] {
            HWND dialog = testing::findDialog(title);
            if (dialog == nullptr || !IsWindowVisible(dialog)) return;
            loop.removeTimer(pending);
            inspect(dialog);
        });
    };
    test::DialogsDriver d{dialogs};
    d.whenBoxOpens = [&](std::function<void(test::OpenBox&)> answer) {
        whenOpen("Exit Program", [answer = std::move(answer)](HWND box) {
            const bool yes = GetDlgItem(box, IDYES) != nullptr, no = GetDlgItem(box, IDNO) != nullptr;
            const bool ok = GetDlgItem(box, IDOK) != nullptr && IsWindowVisible(GetDlgItem(box, IDOK));
            test::OpenBox open{win32::windowText(GetDlgItem(box, 0xFFFF)),  // the message text's static
                               yes && no && !ok    ? "Yes No"
                               : ok && !yes && !no ? "OK"
                                                   : "?"};
            open.press = [box](MsgResult r) {
                press(box, r == MsgResult::Yes ? IDYES : r == MsgResult::No ? IDNO : IDOK);
            };
            answer(open);
        });
    };
    std::string shownName;
    char folder[MAX_PATH] = {};
    d.whenFileDialogOpens = [&](std::function<void(test::OpenFileDialog&)> answer) {
        whenOpen("Open", [&, answer = std::move(answer)](HWND dialog) {
            const int name = GetDlgItem(dialog, kFileNameCombo) != nullptr ? kFileNameCombo : kFileNameEdit;
            shownName = win32::windowText(GetDlgItem(dialog, name));
            SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
            char text[512] = {};
            if (SendDlgItemMessageA(dialog, kFileTypeCombo, CB_GETLBTEXTLEN, 0, 0) < 500)
                SendDlgItemMessageA(dialog, kFileTypeCombo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
            test::OpenFileDialog open{text};
            open.choose = [dialog, name](const std::string& path) {
                if (path.empty()) return press(dialog, IDCANCEL);
                SetDlgItemTextA(dialog, name, path.c_str());
                press(dialog, IDOK);
            };
            answer(open);
        });
    };
    d.about = [&] {
        HWND about = dialogs.aboutWindow();
        RECT mine{}, main{};
        GetWindowRect(about, &mine);
        GetWindowRect(owner, &main);
        HWND problem = GetDlgItem(about, Win32Dialogs::kLogProblemId);
        return test::AboutSeen{about,
                               IsWindowVisible(about) != FALSE,
                               !IsWindowEnabled(owner),
                               mine.left >= main.right,
                               win32::windowText(GetDlgItem(about, Win32Dialogs::kLogPlaceId)),
                               win32::windowText(GetDlgItem(about, Win32Dialogs::kLogId)),
                               IsWindowVisible(problem) ? win32::windowText(problem) : ""};
    };
    d.closeAbout = [&] { SendMessageA(dialogs.aboutWindow(), WM_CLOSE, 0, 0); };

    test::aMessageBoxShowsItsButtonsAndTextAndGivesTheAnswer(d);
    testing::TempDir dir;
    const std::string start = dir.file("start.wav"), chosen = dir.file("chosen.mp3");
    testing::writeFile(start, "RIFF");
    testing::writeFile(chosen, "ID3");
    test::theFileDialogShowsTheFilterAndGivesTheChoiceOrNothing(d, start, chosen, "C:\\nowhere\\id.wav");
    EXPECT_EQ(shownName, "start.wav");
    EXPECT_EQ(lstrcmpiA(folder, dir.path().c_str()), 0) << folder;

    std::string opened;
    dialogs.openLink = [&](const std::string& link) { opened = link; };
    test::theAboutWindowShowsTheStationLogBesideTheMainWindow(d, "C:\\ProgramData\\Tarnwick\\tarnwick.log");
    HWND about = dialogs.aboutWindow();
    EXPECT_EQ(win32::windowText(about), "About Tarnwick");
    EXPECT_EQ(GetWindow(about, GW_OWNER), owner);
    HWND link = GetDlgItem(about, Win32Dialogs::kAboutLinkId);
    EXPECT_EQ(win32::windowText(link), "https://tarnwick.example.org/");
    SendMessageA(about, WM_COMMAND, MAKEWPARAM(Win32Dialogs::kAboutLinkId, STN_CLICKED),
                 reinterpret_cast<LPARAM>(link));
    EXPECT_EQ(opened, "https://tarnwick.example.org/");
    DestroyWindow(owner);
}

TEST(Win32Locale, KeepsTheContractOfEveryLocale) {
    testing::TempDir dir;
    test::keepsTheContractOfEveryLocale(
        Win32Locale(), [] { return std::chrono::system_clock::now(); }, dir.path());
}

TEST(Win32Version, IsReadFromTheProgramsVersionResource) {
    const std::optional<VersionInfo> v = readVersionResource(testing::windowsPath(TARNWICK_EXE_PATH));
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(std::vector<int>({v->major, v->minor, v->build, v->revision}), std::vector<int>({1, 0, 0, 5}));
    EXPECT_FALSE(readVersionResource().has_value()) << "the test program has none";
}

}  // namespace
}  // namespace tarnwick
