// The progress window from the linked resources and the figures of its ticks: boundaries of the
// texts, the freeing of posted texts and the edges of the close protocol. (Its title and texts
// during a download, a user's No and Yes, a silent run and the log line of the worker's close
// are end-to-end cases.)
#include "tests/unit/support.h"

#include <commctrl.h>
#include <objbase.h>

#include "app/mainflow.h"
#include "res/resource.h"
#include "ui/progressdialog.h"
#include "ui/progresstext.h"

namespace unit_test {
namespace {

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
        if (message.message == WM_QUIT)
            ++quits;
        else
            DispatchMessageW(&message);
    }
    return quits;
}

TEST(ProgressPercent, TruncatesAndIsNotClamped) {
    EXPECT_EQ(progressPercent(999, 1000), 99u);
    EXPECT_EQ(progressPercent(1500, 1000), 150u);
    EXPECT_EQ(progressPercent(5, 0), 0u);
    // Far more than announced: the low 32 bits of 429496729500, never an undefined conversion.
    EXPECT_EQ(progressPercent(0xFFFFFFFFu, 1), static_cast<uint32_t>(429496729500ull));
}

TEST(TimeLeft, InWordsSingularOnlyForOne) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    loadUnitTexts();
    struct Case {
        uint32_t seconds;
        const wchar_t* text;
    } const cases[] = {
        {1, L"1 second"},
        {60, L"1 minute and 0 seconds"},
        {61, L"1 minute and 1 second"},
        {3599, L"59 minutes and 59 seconds"},
        {62, L"1 minute and 2 seconds"},
        {121, L"2 minutes and 1 second"},
        {3661, L"1 hour, 1 minute and 1 second"},
        // Each unit's word follows its own count.
        {3602, L"1 hour, 0 minutes and 2 seconds"},
        {3721, L"1 hour, 2 minutes and 1 second"},
        {7262, L"2 hours, 1 minute and 2 seconds"},
        {0xFFFFFFFFu, L"1193046 hours, 28 minutes and 15 seconds"},  // hours are not capped
    };
    for (const Case& c : cases) {
        wchar_t text[kProgressTextChars];
        formatTimeLeft(text, kProgressTextChars, c.seconds);
        EXPECT_STREQ(text, c.text);
    }
}

// Centred in the work area, wherever it lies, and never starting outside it: a window larger than
// the work area keeps its top-left corner (title bar and close button) on the screen.
TEST(Placement, CentredAndKeptInsideTheWorkArea) {
    struct Case {
        RECT window, workArea;
        LONG x, y;
    } const cases[] = {
        {{0, 0, 200, 100}, {0, 0, 1000, 800}, 400, 350},
        {{0, 0, 200, 100}, {-1280, 40, 0, 1064}, -740, 502},  // a monitor left of the primary
        {{0, 0, 200, 100}, {0, 0, 200, 100}, 0, 0},           // touching every edge
        {{0, 0, 300, 100}, {100, 50, 300, 900}, 100, 425},    // wider than the work area
        {{0, 0, 200, 900}, {0, 30, 1000, 630}, 400, 30},      // taller than the work area
    };
    for (const Case& c : cases) {
        POINT at = centeredPosition(c.window, c.workArea);
        EXPECT_EQ(at.x, c.x) << c.workArea.left << "," << c.workArea.top;
        EXPECT_EQ(at.y, c.y) << c.workArea.left << "," << c.workArea.top;
    }
}

// A fresh dialog per test, with the globals it reads set as the main flow sets them and a cancel
// event; everything is gone again after the test.
class Dialog : public ::testing::Test {
  protected:
    void SetUp() override {
        g_moduleInstance = GetModuleHandleW(nullptr);
        CoInitialize(nullptr);  // for the taskbar button's progress
        loadUnitTexts();
        g_bytesTotal = 0;  // the dialog's own timer posts nothing
        g_silentMode = 0;
        g_osVersion = 1;
        g_closeRequested = 0;
        g_quitConfirmed = 0;
        textCopy(g_messageCaption, L"Example Maker");
        prepareLocks();
        g_cancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        if (IsWindow(m_dialog)) DestroyWindow(m_dialog);
        pump();
        releaseTaskbarList();
        CloseHandle(g_cancelEvent);
        CoUninitialize();
    }
    HWND createDialog() {
        m_dialog = CreateDialogParamW(g_moduleInstance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                      ProgressDialogProc, 0);
        EXPECT_NE(m_dialog, nullptr);
        return m_dialog;
    }
    bool cancelled() const { return WaitForSingleObject(g_cancelEvent, 0) == WAIT_OBJECT_0; }
    // The window is gone as the main flow expects it: cancelled, forgotten, its loop ended once.
    void expectClosed(HWND dialog) {
        EXPECT_EQ(pump(), 1);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_TRUE(cancelled());
        EXPECT_EQ(g_progressWindow.load(), nullptr);
    }

    HWND m_dialog = nullptr;
};

// One tick after another, from the texts the window starts with; a tick that must post nothing
// leaves the previous row's figures. The percent never becomes the dialog manager's default
// button, whose message has the same number.
TEST_F(Dialog, TickPostsBarSpeedAndTimeLeftOnlyWhenThereIsSomethingToShow) {
    g_osVersion = 4;  // with the taskbar button's progress too
    HWND dialog = createDialog();
    KillTimer(dialog, PROGRESS_TIMER_ID);   // the ticks come from the test alone
    EXPECT_FALSE(IsWindowVisible(dialog));  // the main flow shows it, or not in silent mode
    EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
    struct Case {
        uint32_t received, total;
        double rate;  // KB/s
        LRESULT percent;
        const wchar_t* speed;
        const wchar_t* timeLeft;
    } const cases[] = {
        {2097152, 4194304, 0.0, 0, L"Estimating...", L"Estimating..."},
        {2097152, 0, 100.0, 0, L"Estimating...", L"Estimating..."},
        // Seconds from the whole kilobytes of the rate (256, not 256.9), of 1024 bytes.
        {1048576, 4194304, 256.9, 25, L"256.90 KB/s", L"12 seconds"},
        {999, 1000000, 1.0, 0, L"1.00 KB/s", L"16 minutes and 15 seconds"},
        {0, 1000, 0.999, 0, L"1.00 KB/s", L"Estimating..."},
        // The unit switches at 1000 but divides by 1024.
        {1000, 4194304, 999.99, 0, L"999.99 KB/s", L"4 seconds"},
        {1000, 4194304, 1000.0, 0, L"0.98 MB/s", L"4 seconds"},
        // Past the announced total nothing remains; the bar clamps the percent.
        {5000000, 4194304, 1536.0, 100, L"1.50 MB/s", L"0 seconds"},
        // Rates whose whole kilobytes would wrap a 32-bit divisor to 0.
        {0, 0xFFFFFFFFu, 4194304.0, 0, L"4096.00 MB/s", L"0 seconds"},
        {0, 0xFFFFFFFFu, 1e300, 0, L"", L"0 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.received << "/" << c.total << " at " << c.rate);
        g_bytesReceived = c.received;  // no worker runs: no lock needed
        g_bytesTotal = c.total;
        g_transferRate = c.rate;
        updateProgressDisplay(dialog, PROGRESS_TIMER_ID);
        pump();
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0), c.percent);
        EXPECT_NE(SendMessageW(dialog, DM_GETDEFID, 0, 0), MAKELONG(c.percent, DC_HASDEFID));
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

// The worker's close (also one it requested before the window existed) and any close in silent
// mode never ask; only a close the worker did not ask for is a quit.
TEST_F(Dialog, ClosesThatNeverAsk) {
    struct Case {
        int requested, silent;
        UINT message;  // 0: none, the request alone closes
        WPARAM wParam;
        int quit;
    } const cases[] = {{0, 0, WM_CLOSE, 1, 0},
                       {1, 0, 0, 0, 0},
                       {0, 1, WM_CLOSE, 0, 1},
                       {0, 1, WM_SYSCOMMAND, SC_CLOSE, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.silent << " " << c.message << " " << c.wParam);
        g_closeRequested = c.requested;
        g_silentMode = c.silent;
        g_quitConfirmed = 0;
        ResetEvent(g_cancelEvent);
        HWND dialog = createDialog();
        if (c.message != 0) SendMessageW(dialog, c.message, c.wParam, 0);  // returns once over
        expectClosed(dialog);
        EXPECT_EQ(g_quitConfirmed.load(), c.quit);
    }
}

bool g_workerCloses = false;  // the answer to the question: the worker's close, or else No
bool g_asked = false;

// Runs in the question's own message loop, where the worker's close is dispatched too.
void CALLBACK answerOnceAsked(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = FindWindowW(L"#32770", L"Example Maker");
    if (box == nullptr || !IsWindowVisible(box)) return;
    KillTimer(nullptr, timer);
    g_asked = true;
    if (g_workerCloses) SendMessageW(GetWindow(box, GW_OWNER), WM_CLOSE, 1, 0);
    // No; also when the worker's close left the question up, so that the test fails, not hangs.
    if (IsWindow(box)) EndDialog(box, IDNO);
}

// The ordinary close of the title-bar button, answered once the question shows; true if it did.
bool closeAndAnswer(HWND dialog, bool workerCloses) {
    g_workerCloses = workerCloses;
    g_asked = false;
    UINT_PTR timer = SetTimer(nullptr, 0, 20, answerOnceAsked);
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    KillTimer(nullptr, timer);
    return g_asked;
}

// After a No the next close asks again, and the worker's close then ends the window under the
// open question.
TEST_F(Dialog, NoKeepsTheWindowAndTheWorkersCloseOvertakesTheNextQuestion) {
    HWND dialog = createDialog();
    ShowWindow(dialog, SW_SHOWNORMAL);
    ASSERT_TRUE(closeAndAnswer(dialog, false));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(cancelled());
    EXPECT_EQ(pump(), 0);
    ASSERT_TRUE(closeAndAnswer(dialog, true));
    EXPECT_EQ(FindWindowW(L"#32770", L"Example Maker"), nullptr);
    expectClosed(dialog);
}

}  // namespace
}  // namespace unit_test
