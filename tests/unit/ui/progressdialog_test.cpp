// The real dialog from the linked resources: what it shows at start, what its messages change,
// and how it closes. (Its texts during a real download, and a user's No and Yes, are end-to-end
// cases.)
#include "support.h"

#include <commctrl.h>

#include <algorithm>

namespace unit_test {
namespace {

const char kQuitLine[] =
    "[WENVAROTH] MessageBox(Are you sure you want to quit?, Example Maker). Action taken: YES";

std::wstring controlText(HWND dialog, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

// Dispatches what is queued for this thread; the number of WM_QUIT messages among it.
int pump() {
    int quits = 0;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ++quits;
        } else {
            DispatchMessageW(&message);
        }
    }
    return quits;
}

void setProgress(uint32_t received, uint32_t total, double rate) {
    EnterCriticalSection(&g_stateLock);
    g_bytesReceived = received;
    LeaveCriticalSection(&g_stateLock);
    g_bytesTotal = total;
    g_transferRate = rate;
}

// A fresh dialog per test, with the globals it reads set as the main flow sets them, the log
// captured and a cancel event; everything is gone again after the test.
class Dialog : public TempFolderTest {
  protected:
    void SetUp() override {
        prepareRunState();
        setProgress(0, 0, 0.0);
        g_silentMode = 0;
        g_osVersion = 1;
        g_closeRequested = 0;
        textCopy(g_productName, L"Example Product");
        textCopy(g_messageCaption, L"Example Maker");
        TempFolderTest::SetUp();
        g_cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(g_cancelEvent, nullptr);
    }
    void TearDown() override {
        if (IsWindow(m_dialog)) DestroyWindow(m_dialog);
        pump();
        releaseTaskbarList();
        CloseHandle(g_cancelEvent);
        g_cancelEvent = nullptr;
        g_progressWindow = nullptr;
        TempFolderTest::TearDown();
    }
    HWND createDialog() {
        m_dialog = CreateDialogParamW(g_moduleInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                      ProgressDialogProc, 0);
        EXPECT_NE(m_dialog, nullptr);
        return m_dialog;
    }
    bool cancelled() const { return WaitForSingleObject(g_cancelEvent, 0) == WAIT_OBJECT_0; }
    size_t quitLines() const {
        std::vector<std::string> lines = logLines();
        return std::count(lines.begin(), lines.end(), kQuitLine);
    }
    // The window is gone as the main flow expects it: cancelled, forgotten, its loop ended once.
    void expectClosed(HWND dialog) {
        EXPECT_EQ(pump(), 1);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_TRUE(cancelled());
        EXPECT_EQ(g_progressWindow.load(), nullptr);
    }

    HWND m_dialog = nullptr;
};

TEST_F(Dialog, StartsHiddenPublishedEstimatingAndCentred) {
    HWND dialog = createDialog();
    EXPECT_EQ(g_progressWindow.load(), dialog);
    EXPECT_FALSE(IsWindowVisible(dialog));  // the main flow shows it, or not in silent mode
    EXPECT_EQ(controlText(dialog, IDC_SPEED_TEXT), L"Estimating...");
    EXPECT_EQ(controlText(dialog, IDC_TIMELEFT_TEXT), L"Estimating...");
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    RECT work, rect;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    ASSERT_TRUE(GetWindowRect(dialog, &rect));
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

// One tick after another; a tick that must post nothing leaves the previous row's figures.
TEST_F(Dialog, TickPostsBarSpeedAndTimeLeftOnlyWhenThereIsSomethingToShow) {
    g_osVersion = 4;  // with the taskbar button's progress too
    HWND dialog = createDialog();
    KillTimer(dialog, PROGRESS_TIMER_ID);  // the ticks come from the test alone
    struct Case {
        uint32_t received, total;
        double rate;
        UINT_PTR timer;
        LRESULT percent;
        const wchar_t* speed;
        const wchar_t* timeLeft;
    } const cases[] = {
        {1048576, 4194304, 256.0, PROGRESS_TIMER_ID, 25, L"256.00 KB/s", L"12 seconds"},
        {5000000, 4194304, 1536.0, PROGRESS_TIMER_ID, 100, L"1.50 MB/s", L"0 seconds"},
        {1000, 4194304, 0.5, PROGRESS_TIMER_ID, 0, L"0.50 KB/s", L"Estimating..."},
        {2097152, 4194304, 0.0, PROGRESS_TIMER_ID, 0, L"0.50 KB/s", L"Estimating..."},
        {2097152, 0, 100.0, PROGRESS_TIMER_ID, 0, L"0.50 KB/s", L"Estimating..."},
        {2097152, 4194304, 100.0, 2, 0, L"0.50 KB/s", L"Estimating..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << "/" << c.total << " at " << c.rate);
        setProgress(c.received, c.total, c.rate);
        updateProgressDisplay(dialog, c.timer);
        pump();
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), c.percent);
        EXPECT_EQ(controlText(dialog, IDC_SPEED_TEXT), c.speed);
        EXPECT_EQ(controlText(dialog, IDC_TIMELEFT_TEXT), c.timeLeft);
    }
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

// Each way a posted text can end, 160 MB of texts if that way leaked them.
TEST_F(Dialog, PostedTextsAreFreedWhetherShownDroppedWithTheWindowOrNeverPosted) {
    std::wstring big(16000, L'x');
    size_t before = privateBytes();
    for (int round = 0; round < 10; ++round) {
        HWND dialog = createDialog();
        for (int i = 0; i < 500; ++i) {
            ASSERT_TRUE(postRateText(dialog, big.c_str()));
            ASSERT_TRUE(postTimeLeftText(dialog, big.c_str()));
        }
        if (round % 2 == 0) pump();  // shown; otherwise still queued when the window goes
        SendMessageW(dialog, WM_CLOSE, 1, 0);
        pump();
        for (int i = 0; i < 500; ++i) {
            ASSERT_FALSE(postRateText(dialog, big.c_str()));
            ASSERT_FALSE(postTimeLeftText(nullptr, big.c_str()));
        }
    }
    EXPECT_LT(privateBytes() - before, 40u * 1024 * 1024);
}

TEST_F(Dialog, PrivateMessagesNeverReachTheDialogManagersDefaults) {
    // Their numbers are also those of "set the default button" and "move back on screen".
    HWND dialog = createDialog();
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

// The worker's close, and any close in silent mode, never asks; it is logged as a Yes.
TEST_F(Dialog, ClosesThatNeverAsk) {
    struct Case {
        int silent;
        UINT message;
        WPARAM wParam;
    } const cases[] = {{0, WM_CLOSE, 1}, {1, WM_CLOSE, 0}, {1, WM_SYSCOMMAND, SC_CLOSE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.silent << " " << c.message << " " << c.wParam);
        g_silentMode = c.silent;
        ResetEvent(g_cancelEvent);
        HWND dialog = createDialog();
        size_t before = quitLines();
        SendMessageW(dialog, c.message, c.wParam, 0);  // returns only once it is over
        expectClosed(dialog);
        EXPECT_EQ(quitLines(), before + 1);
    }
}

HWND question() { return FindWindowW(L"#32770", L"Example Maker"); }

struct Play {
    HWND dialog;
    int action;  // IDYES or IDNO: press it; 0: close as the worker does
    bool sawQuestion;
};

DWORD WINAPI play(LPVOID data) {
    Play* p = static_cast<Play*>(data);
    for (int i = 0; i < 250 && !p->sawQuestion; ++i, Sleep(20)) {
        HWND box = question();
        if (box == nullptr || !IsWindowVisible(box)) continue;
        p->sawQuestion = true;
        if (p->action == 0) {
            SendMessageW(p->dialog, WM_CLOSE, 1, 0);
        } else {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(p->action, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, p->action)));
        }
    }
    return 0;
}

// Sends the ordinary close of the title-bar button while another thread plays the user, or the
// worker, once the question shows; true when it showed.
bool closeAndAnswer(HWND dialog, int action) {
    Play state = {dialog, action, false};
    HANDLE thread = CreateThread(nullptr, 0, play, &state, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return state.sawQuestion;
}

// (A user's Yes is an end-to-end case.)
TEST_F(Dialog, NoKeepsTheWindowAndTheWorkersCloseOvertakesTheNextQuestion) {
    HWND dialog = createDialog();
    ShowWindow(dialog, SW_SHOWNORMAL);
    ASSERT_TRUE(closeAndAnswer(dialog, IDNO));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(cancelled());
    EXPECT_EQ(pump(), 0);
    ASSERT_TRUE(closeAndAnswer(dialog, 0));  // asked again, and the worker closes meanwhile
    EXPECT_EQ(question(), nullptr);
    EXPECT_EQ(quitLines(), 1u);
    expectClosed(dialog);
}

TEST_F(Dialog, CloseRequestedBeforeTheWindowExistedIsHonoured) {
    g_closeRequested = 1;
    expectClosed(createDialog());
    EXPECT_EQ(quitLines(), 1u);
}

}  // namespace
}  // namespace unit_test
