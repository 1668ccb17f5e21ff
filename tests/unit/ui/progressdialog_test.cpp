// The real dialog from the linked resources: what it shows at start, what its messages change,
// and how it closes.
#include "support.h"

#include <commctrl.h>

#include <atomic>

namespace unit_test {
namespace {

using Dialog = DialogTest;

// The quit question of `owner`: a dialog-class window owned by it with a Yes button.
HWND findQuestion(HWND owner) {
    struct Search {
        HWND owner;
        HWND found;
    } search = {owner, nullptr};
    EnumThreadWindows(
        GetWindowThreadProcessId(owner, nullptr),
        [](HWND window, LPARAM data) -> BOOL {
            Search* s = reinterpret_cast<Search*>(data);
            if (GetWindow(window, GW_OWNER) == s->owner && GetDlgItem(window, IDYES) != nullptr) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Plays the user, or the worker, from another thread while the main thread sits in the question.
struct Helper {
    Helper(HWND window, int answer) : dialog(window), action(answer) {}
    HWND dialog;
    int action;  // IDYES or IDNO: press it; 0: close as the worker does
    std::atomic<bool> sawQuestion{false};
    std::wstring questionText;
    std::wstring questionCaption;

    static DWORD WINAPI run(LPVOID data) {
        Helper* self = static_cast<Helper*>(data);
        for (int i = 0; i < 250; ++i) {
            HWND box = findQuestion(self->dialog);
            if (box != nullptr && IsWindowVisible(box)) {
                self->sawQuestion = true;
                self->questionCaption = windowText(box);
                self->questionText = controlText(box, 0xFFFF);
                if (self->action == 0) {
                    SendMessageW(self->dialog, WM_CLOSE, 1, 0);
                } else {
                    PostMessageW(box, WM_COMMAND, MAKEWPARAM(self->action, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(box, self->action)));
                }
                return 0;
            }
            Sleep(20);
        }
        // No question came: end the sent close so that the test fails instead of hanging.
        HWND box = findQuestion(self->dialog);
        if (box != nullptr) PostMessageW(box, WM_COMMAND, IDNO, 0);
        return 1;
    }
    void closeAndAnswer() {
        HANDLE thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        SendMessageW(dialog, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
};

TEST_F(Dialog, StartsWithTitleCaptionsEstimatingCentredAndPublished) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(g_progressWindow.load(), dialog);
    EXPECT_FALSE(IsWindowVisible(dialog));  // the main flow shows it, or not in silent mode
    EXPECT_EQ(windowText(dialog), L"Example Product");
    EXPECT_EQ(controlText(dialog, IDC_DOWNLOADING_CAPTION), L"Downloading installer:");
    EXPECT_EQ(controlText(dialog, IDC_SPEED_CAPTION), L"Download speed:");
    EXPECT_EQ(controlText(dialog, IDC_TIMELEFT_CAPTION), L"Estimated time left:");
    EXPECT_EQ(controlText(dialog, IDC_SPEED_TEXT), L"Estimating...");
    EXPECT_EQ(controlText(dialog, IDC_TIMELEFT_TEXT), L"Estimating...");
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);

    RECT work, rect;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    ASSERT_TRUE(GetWindowRect(dialog, &rect));
    EXPECT_GE(rect.left, work.left);
    EXPECT_LE(rect.right, work.right);
    EXPECT_NEAR((rect.left + rect.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

TEST(CentredPosition, KeepsTheWindowInsideTheWorkArea) {
    struct Case {
        RECT window, work;
        LONG x, y;
    } const cases[] = {
        {{0, 0, 200, 100}, {0, 0, 1280, 994}, 540, 447},
        // A second monitor left of the primary one: negative coordinates, truncation toward zero.
        {{0, 0, 201, 101}, {-1024, 0, -1, 768}, -512 - 100, 384 - 50},
        // Larger than the work area: aligned to its left and top edges.
        {{0, 0, 2000, 1200}, {100, 50, 1380, 1074}, 100, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.work.left);
        POINT at = centeredPosition(c.window, c.work);
        EXPECT_EQ(at.x, c.x);
        EXPECT_EQ(at.y, c.y);
    }
}

TEST_F(Dialog, TimerTickFillsBarSpeedAndTimeLeft) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    struct Case {
        uint32_t received, total;
        double rate;
        LRESULT percent;
        const wchar_t* speed;
        const wchar_t* timeLeft;
    } const cases[] = {
        {1048576, 4194304, 256.0, 25, L"256.00 KB/s", L"12 seconds"},
        {5000000, 4194304, 1536.0, 100, L"1.50 MB/s", L"0 seconds"},  // past the total: bar full
        {1000, 4194304, 0.5, 0, L"0.50 KB/s", L"Estimating..."},      // under 1 KB/s: no estimate
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.speed));
        setProgress(c.received, c.total, c.rate);
        pump(1300);  // the window's own one-second timer does the tick
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), c.percent);
        EXPECT_EQ(controlText(dialog, IDC_SPEED_TEXT), c.speed);
        EXPECT_EQ(controlText(dialog, IDC_TIMELEFT_TEXT), c.timeLeft);
    }
}

TEST_F(Dialog, NothingIsPostedWithoutRateOrTotalOrForAnotherTimer) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    KillTimer(dialog, PROGRESS_TIMER_ID);
    pump(0);
    MSG message;
    setProgress(1000, 4000, 0.0);
    updateProgressDisplay(dialog, PROGRESS_TIMER_ID);
    setProgress(1000, 0, 100.0);
    updateProgressDisplay(dialog, PROGRESS_TIMER_ID);
    setProgress(1000, 4000, 100.0);
    updateProgressDisplay(dialog, 2);
    updateProgressDisplay(nullptr, PROGRESS_TIMER_ID);
    EXPECT_FALSE(
        PeekMessageW(&message, nullptr, WM_PROGRESS_PERCENT, WM_PROGRESS_TIMELEFT, PM_NOREMOVE));
    EXPECT_EQ(controlText(dialog, IDC_SPEED_TEXT), L"Estimating...");
}

TEST_F(Dialog, PostingToNoWindowLeavesNothingBehind) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    DestroyWindow(dialog);
    pump(0);
    // Posting to a null window would queue a thread message that no window ever frees.
    EXPECT_FALSE(postRateText(nullptr, L"x"));
    EXPECT_FALSE(postTimeLeftText(dialog, L"x"));
    MSG message;
    bool queued =
        PeekMessageW(&message, nullptr, WM_PROGRESS_RATE, WM_PROGRESS_TIMELEFT, PM_NOREMOVE);
    EXPECT_FALSE(queued) << message.message << " " << message.hwnd << " " << dialog;
}

// Committed private memory, from the address space itself (the process counters read 0 here).
size_t privateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (region.RegionSize == 0) break;
    }
    return total;
}

TEST_F(Dialog, PostedTextsAreFreedWhetherShownOrDroppedWithTheWindow) {
    // 8 KB texts: a leak of each would add well over 100 MB.
    std::wstring big(4000, L'x');
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    size_t before = privateBytes();
    for (int round = 0; round < 10; ++round) {
        for (int i = 0; i < 1000; ++i) {
            ASSERT_TRUE(postRateText(dialog, big.c_str()));
            ASSERT_TRUE(postTimeLeftText(dialog, big.c_str()));
        }
        pump(0);
    }
    EXPECT_EQ(GetWindowTextLengthW(GetDlgItem(dialog, IDC_SPEED_TEXT)), 4000);
    EXPECT_LT(privateBytes() - before, 40u * 1024 * 1024);

    // Texts still queued when the window goes: freed once, by the window.
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(createDialog() != nullptr);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_TRUE(postRateText(m_dialog, big.c_str()));
            ASSERT_TRUE(postTimeLeftText(m_dialog, big.c_str()));
        }
        SendMessageW(m_dialog, WM_CLOSE, 1, 0);
        EXPECT_FALSE(IsWindow(m_dialog));
        pump(0);
    }
    DestroyWindow(dialog);
    pump(0);
    printf("[ measured ] private bytes before %zu, after %zu\n", before, privateBytes());
    EXPECT_LT(privateBytes() - before, 40u * 1024 * 1024);
}

TEST_F(Dialog, TextMessagesForMissingControlsStillFreeTheirText) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    // As a template without these two controls leaves them.
    g_rateText = nullptr;
    g_progressBar = nullptr;
    EXPECT_EQ(SendMessageW(dialog, WM_PROGRESS_RATE, 0,
                           reinterpret_cast<LPARAM>(newTextCopy(L"256.00 KB/s"))),
              1);
    EXPECT_EQ(SendMessageW(dialog, WM_PROGRESS_PERCENT, 50, 0), 1);
    EXPECT_EQ(SendMessageW(dialog, WM_PROGRESS_TIMELEFT, 0,
                           reinterpret_cast<LPARAM>(newTextCopy(L"1 second"))),
              0);
    EXPECT_EQ(controlText(dialog, IDC_TIMELEFT_TEXT), L"1 second");
}

TEST_F(Dialog, PrivateMessagesNeverReachTheDialogManagersDefaults) {
    // Their numbers are also those of "set the default button" and "move back on screen".
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(SetWindowPos(dialog, nullptr, -200, -50, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    RECT before, after;
    GetWindowRect(dialog, &before);
    SendMessageW(dialog, WM_PROGRESS_PERCENT, 55, 0);
    SendMessageW(dialog, WM_PROGRESS_RATE, 0, reinterpret_cast<LPARAM>(newTextCopy(L"1.00 KB/s")));
    GetWindowRect(dialog, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
    LRESULT defaultId = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    EXPECT_FALSE(HIWORD(defaultId) == DC_HASDEFID && LOWORD(defaultId) == 55);
}

TEST_F(Dialog, WorkerCloseNeverAsksAndEndsTheLoop) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    pump(0);
    EXPECT_EQ(SendMessageW(dialog, WM_CLOSE, 1, 0), 0);  // the dialog result is not the send result
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(cancelled());
    EXPECT_EQ(g_progressWindow.load(), nullptr);
    EXPECT_TRUE(pump(0));  // WM_QUIT
    EXPECT_EQ(logCount(kQuitLine), 1u);
}

TEST_F(Dialog, SilentCloseNeverAsks) {
    g_silentMode = 1;
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(cancelled());
    EXPECT_TRUE(pump(0));
    EXPECT_EQ(logCount(kQuitLine), 1u);
}

TEST_F(Dialog, UserAnswersNoThenYes) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOWNORMAL);
    pump(0);

    Helper no{dialog, IDNO};
    no.closeAndAnswer();
    ASSERT_TRUE(no.sawQuestion);
    EXPECT_EQ(no.questionText, L"Are you sure you want to quit?");
    EXPECT_EQ(no.questionCaption, L"Example Maker");
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(cancelled());
    EXPECT_EQ(g_progressWindow.load(), dialog);
    EXPECT_FALSE(pump(0));
    // The timer still runs after the answer.
    setProgress(2097152, 4194304, 256.0);
    pump(1300);
    EXPECT_EQ(controlText(dialog, IDC_SPEED_TEXT), L"256.00 KB/s");

    Helper yes{dialog, IDYES};
    yes.closeAndAnswer();
    ASSERT_TRUE(yes.sawQuestion);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(cancelled());
    EXPECT_EQ(g_progressWindow.load(), nullptr);
    EXPECT_TRUE(pump(0));
    // A user's Yes is not logged.
    EXPECT_EQ(logCount("Action taken"), 0u);
}

TEST_F(Dialog, WorkerCloseWhileTheQuestionIsOpenWins) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOWNORMAL);
    pump(0);
    Helper worker{dialog, 0};
    worker.closeAndAnswer();
    ASSERT_TRUE(worker.sawQuestion);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(findQuestion(dialog), nullptr);
    EXPECT_TRUE(cancelled());
    EXPECT_EQ(g_progressWindow.load(), nullptr);
    EXPECT_EQ(logCount(kQuitLine), 1u);
    // One quit, and nothing else queued for the gone window.
    MSG message;
    int quits = 0;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) ++quits;
    }
    EXPECT_EQ(quits, 1);
}

TEST_F(Dialog, CloseRequestedBeforeTheWindowExistedIsHonouredOnce) {
    g_closeRequested = 1;
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(pump(200));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(cancelled());
    EXPECT_EQ(logCount(kQuitLine), 1u);

    // The worker's late send and the self-posted close can both arrive: one close.
    ResetEvent(g_cancelEvent);
    dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    SendMessageW(dialog, WM_CLOSE, 1, 0);
    EXPECT_FALSE(IsWindow(dialog));
    pump(100);
    EXPECT_EQ(logCount(kQuitLine), 2u);
}

TEST_F(Dialog, TaskbarOnlyOnCodeFour) {
    HWND dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(g_taskbarList, nullptr);
    DestroyWindow(dialog);
    pump(0);

    g_osVersion = 4;
    dialog = createDialog();
    ASSERT_NE(dialog, nullptr);
    // Wine may or may not provide the object; both must work.
    printf("[ measured ] taskbar list object under this platform: %s\n",
           g_taskbarList != nullptr ? "present" : "absent");
    ShowWindow(dialog, SW_SHOWNORMAL);
    EXPECT_EQ(SendMessageW(dialog, WM_PROGRESS_PERCENT, 150, 0), 0);
    EXPECT_EQ(SendMessageW(GetDlgItem(dialog, IDC_PROGRESS_BAR), PBM_GETPOS, 0, 0), 100);
    releaseTaskbarList();
    EXPECT_EQ(g_taskbarList, nullptr);
    releaseTaskbarList();  // twice is harmless
    EXPECT_EQ(SendMessageW(dialog, WM_PROGRESS_PERCENT, 40, 0), 0);
}

}  // namespace
}  // namespace unit_test
