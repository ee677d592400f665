// Win32Dialogs (message boxes, the file dialog, the about window), the
// locale and the version resource.
#include "platform/windows/win32_dialogs.h"

#include <commdlg.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/windows/win32_event_loop.h"
#include "platform/windows/win32_locale.h"
#include "platform/windows/win32_version.h"
#include "windows/win_support.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::press;

constexpr const char* kMediaFilter =
    "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid|*.wav;*.mp2;*.mp3;*.bmp;*.jpg;*.mpg;*.avi;*.mid";

// Calls `inspect` with the dialog titled `title` once it is open, from a
// timer that the dialog's own modal loop delivers.
class WhenDialogOpens {
public:
    WhenDialogOpens(Win32EventLoop& loop, std::string title, std::function<void(HWND)> inspect)
        : loop_(loop), title_(std::move(title)), inspect_(std::move(inspect)) {
        id_ = loop_.addTimer(milliseconds(10), [this] {
            HWND dialog = testing::findDialog(title_.c_str());
            if (dialog == nullptr || !IsWindowVisible(dialog) || done_) return;
            done_ = true;
            inspect_(dialog);
        });
    }
    ~WhenDialogOpens() { loop_.removeTimer(id_); }
    bool done() const { return done_; }

private:
    Win32EventLoop& loop_;
    std::string title_;
    std::function<void(HWND)> inspect_;
    TimerId id_ = 0;
    bool done_ = false;
};

TEST(OpenFileFilter, PairsDescriptionsWithTheirPatternsInTheDoubleNulForm) {
    using namespace std::string_literals;
    EXPECT_EQ(win32::openFileFilter("Sound|*.wav|Everything|*.*"), "Sound\0*.wav\0Everything\0*.*\0\0"s);
    // The pattern loses the blanks the description keeps.
    EXPECT_EQ(win32::openFileFilter("*.wav; *.mp3"), "*.wav; *.mp3\0*.wav;*.mp3\0\0"s);
    EXPECT_EQ(win32::openFileFilter("Nothing|"), "Nothing\0*.*\0\0"s);
    EXPECT_EQ(win32::openFileFilter(""), "");
}

// The style goes to the system's box unchanged (its icons are the
// system's); what matters is the buttons, the text and the answer.
TEST(Win32Dialogs, AMessageBoxShowsItsButtonsAndTextAndGivesTheAnswer) {
    struct Case {
        int style, button;  // pressed
        MsgResult expected;
    };
    testing::ModalWatchdog watchdog;
    Win32EventLoop loop;
    Win32Dialogs dialogs;
    for (const Case c : {Case{0, IDOK, MsgResult::Ok}, Case{36, IDYES, MsgResult::Yes}, Case{36, IDNO, MsgResult::No},
                         Case{48, IDOK, MsgResult::Ok}}) {
        const bool yesNo = (c.style & 4) != 0;
        std::string text;
        WhenDialogOpens watcher(loop, "Exit Program", [&](HWND box) {
            EXPECT_EQ(GetDlgItem(box, IDYES) != nullptr, yesNo) << c.style;
            EXPECT_EQ(GetDlgItem(box, IDNO) != nullptr, yesNo) << c.style;
            EXPECT_EQ(GetDlgItem(box, IDOK) != nullptr && IsWindowVisible(GetDlgItem(box, IDOK)), !yesNo) << c.style;
            text = win32::windowText(GetDlgItem(box, 0xFFFF));  // the message text's static
            press(box, c.button);
        });
        EXPECT_EQ(dialogs.messageBox("First line\r\n\r\nSecond line ", "Exit Program", c.style), c.expected);
        EXPECT_TRUE(watcher.done());
        EXPECT_EQ(text, "First line\r\n\r\nSecond line ");
    }
}

// The file dialog's file name box (a combo box, or an edit in older
// dialogs) and file type list.
constexpr int kFileNameCombo = 0x47c, kFileNameEdit = 0x480, kFileTypeCombo = 0x470;

TEST(Win32Dialogs, TheFileDialogStartsAtTheGivenFileAndReturnsTheChoiceOrNothing) {
    testing::TempDir dir;
    const std::string start = dir.file("start.wav"), chosen = dir.file("chosen.mp3");
    testing::writeFile(start, "RIFF");
    testing::writeFile(chosen, "ID3");
    testing::ModalWatchdog watchdog;
    Win32EventLoop loop;
    Win32Dialogs dialogs;
    {
        WhenDialogOpens watcher(loop, "Open", [](HWND dialog) { press(dialog, IDCANCEL); });
        EXPECT_EQ(dialogs.openFile("C:\\nowhere\\id.wav", kMediaFilter), "");
        EXPECT_TRUE(watcher.done());
    }
    std::string shownName, firstType;
    char folder[MAX_PATH] = {};
    WhenDialogOpens watcher(loop, "Open", [&](HWND dialog) {
        const int name = GetDlgItem(dialog, kFileNameCombo) != nullptr ? kFileNameCombo : kFileNameEdit;
        shownName = win32::windowText(GetDlgItem(dialog, name));
        char text[512] = {};
        if (SendDlgItemMessageA(dialog, kFileTypeCombo, CB_GETLBTEXTLEN, 0, 0) < 500)
            SendDlgItemMessageA(dialog, kFileTypeCombo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
        firstType = text;
        SendMessageA(dialog, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
        SetDlgItemTextA(dialog, name, chosen.c_str());
        press(dialog, IDOK);
    });
    EXPECT_EQ(dialogs.openFile(start, kMediaFilter), chosen);
    ASSERT_TRUE(watcher.done());
    EXPECT_EQ(shownName, "start.wav");
    EXPECT_EQ(firstType, "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid");
    EXPECT_EQ(lstrcmpiA(folder, dir.path().c_str()), 0) << folder;
}

TEST(Win32Dialogs, TheAboutWindowShowsTheStationLogBesideTheMainWindowAndItsLinkOpensTheAddress) {
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                 nullptr, GetModuleHandleA(nullptr), nullptr);
    {
        Win32Dialogs dialogs(owner);
        std::string opened;
        dialogs.openLink = [&](const std::string& link) { opened = link; };
        AboutInfo info{"Tarnwick",
                       "1.0.5",
                       "Station identification.",
                       "https://tarnwick.example.org/",
                       "C:\\ProgramData\\Tarnwick\\tarnwick.log",
                       {"line 1", "line 2"},
                       ""};
        dialogs.showAbout(info);
        HWND about = dialogs.aboutWindow();
        ASSERT_NE(about, nullptr);
        EXPECT_TRUE(IsWindowVisible(about));
        EXPECT_TRUE(IsWindowEnabled(owner));  // not modal
        EXPECT_EQ(GetWindow(about, GW_OWNER), owner);
        RECT mine{}, main{};
        GetWindowRect(about, &mine);
        GetWindowRect(owner, &main);
        EXPECT_GE(mine.left, main.right);  // the main window stays in sight
        EXPECT_EQ(win32::windowText(about), "About Tarnwick");
        HWND link = GetDlgItem(about, Win32Dialogs::kAboutLinkId);
        EXPECT_EQ(win32::windowText(link), "https://tarnwick.example.org/");
        SendMessageA(about, WM_COMMAND, MAKEWPARAM(Win32Dialogs::kAboutLinkId, STN_CLICKED),
                     reinterpret_cast<LPARAM>(link));
        EXPECT_EQ(opened, "https://tarnwick.example.org/");
        HWND problem = GetDlgItem(about, Win32Dialogs::kLogProblemId);
        EXPECT_EQ(win32::windowText(GetDlgItem(about, Win32Dialogs::kLogPlaceId)),
                  "File: C:\\ProgramData\\Tarnwick\\tarnwick.log");
        EXPECT_EQ(win32::windowText(GetDlgItem(about, Win32Dialogs::kLogId)), "line 1\r\nline 2");
        EXPECT_FALSE(IsWindowVisible(problem));

        // Closing hides it; the next call shows the same window again, with
        // what the log holds then.
        SendMessageA(about, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindowVisible(about));
        info.logLines.clear();
        info.logProblem = "cannot open C:\\ProgramData\\Tarnwick\\tarnwick.log to append to it: Permission denied";
        dialogs.showAbout(info);
        EXPECT_EQ(dialogs.aboutWindow(), about);
        EXPECT_TRUE(IsWindowVisible(about));
        EXPECT_TRUE(IsWindowVisible(problem));
        EXPECT_NE(win32::windowText(problem).find("Permission denied"), std::string::npos);
        EXPECT_EQ(win32::windowText(GetDlgItem(about, Win32Dialogs::kLogId)), "(no lines yet)");
    }
    DestroyWindow(owner);
}

TEST(Win32Locale, GivesTheDateWithSundayAsDayOneAndADecimalSeparator) {
    using namespace std::chrono;
    const LocalTime t = Win32Locale().localNow();
    const weekday day{sys_days{year{t.year} / t.month / t.day}};
    EXPECT_EQ(t.weekday, static_cast<int>(day.c_encoding()) + 1);
    EXPECT_GE(t.millisecond, 0);
    EXPECT_LE(t.millisecond, 999);
    const std::string separator = Win32Locale().decimalSeparator();
    EXPECT_FALSE(separator.empty());
    EXPECT_EQ(separator.find_first_of("0123456789"), std::string::npos);
}

TEST(Win32Version, IsReadFromTheProgramsVersionResource) {
    const std::optional<VersionInfo> v = readVersionResource(testing::windowsPath(TARNWICK_EXE_PATH));
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(std::vector<int>({v->major, v->minor, v->build, v->revision}), std::vector<int>({1, 0, 0, 5}));
    EXPECT_FALSE(readVersionResource().has_value()) << "the test program has none";
}

}  // namespace
}  // namespace tarnwick
