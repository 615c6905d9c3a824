// The Win32 main dialog from its resources, driven in-process: the start, TEST and UPDATE with
// every outcome against scripted ports in virtual time, input during an exchange, the About
// box, and the message boxes' caption and style.
#include <windows.h>
// Needs <windows.h> before it.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <map>
#include <new>
#include <stdexcept>

#include "dialog_templates.h"
#include "exchange_fakes.h"
#include "exchange_pump.h"
#include "firmware_payload.h"
#include "hidden_message.h"
#include "resource.h"
#include "shutdown_block.h"
#include "stored_texts.h"
#include "win_message_box.h"
#include "win_progress_dlg.h"
#include "win_test_support.h"
#include "win_updater_dlg.h"

using namespace wintest;

namespace {

constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kCan = 0x18;

const std::string kVersion = VersionText(g_carriedFirmware.VersionByte());
const std::string kOffered = "This update utility contains version " + kVersion + ".";
const std::string kExchangeFailed =
    "An unexpected error stopped the operation. The port has been closed.\n\nPlease retry "
    "from Step 1.";

std::map<UINT_PTR, std::function<void()>>& PendingTimers() {
    static std::map<UINT_PTR, std::function<void()>> pending;
    return pending;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    auto fn = std::move(PendingTimers()[timer]);
    PendingTimers().erase(timer);
    if (fn) {
        fn();
    }
}

// Runs fn from a thread timer of the loop that is running then (a modal one, say).
void RunFromLoop(UINT delayMs, std::function<void()> fn) {
    PendingTimers()[SetTimer(nullptr, 0, delayMs, &OnTimer)] = std::move(fn);
}

// Logs Begin and End into the event log, so their order against the port shows.
class RecordingKeepAwake : public IKeepAwake {
public:
    explicit RecordingKeepAwake(fakes::EventLog& log) : m_log(log) {}
    void Begin(IEventPump*) override { m_log.Add("keep-awake begin"); }
    void End() override { m_log.Add("keep-awake end"); }

private:
    fakes::EventLog& m_log;
};

// What the dialogs gave Windows as a reason to hold off the end of the session.
std::vector<std::string> g_shutdownReasons;

BOOL WINAPI RecordReasonCreate(HWND window, LPCWSTR reason) {
    std::string text;
    for (; *reason != 0; ++reason) {
        text += static_cast<char>(*reason);
    }
    g_shutdownReasons.push_back((window != nullptr ? "create " : "create null ") + text);
    return TRUE;
}

BOOL WINAPI RecordReasonDestroy(HWND window) {
    g_shutdownReasons.push_back(window != nullptr ? "destroy" : "destroy null");
    return TRUE;
}

// The main dialog, counting the close requests it obeys.
class CountingDlg : public CUpdaterDlg {
public:
    int cancels = 0;

protected:
    void OnCancel() override {
        ++cancels;
        CUpdaterDlg::OnCancel();
    }
};

// The main dialog as the program shows it, with scripted ports and a virtual clock.
class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_shutdownReasons.clear();
        SetShutdownBlockApi(ShutdownBlockApi{&RecordReasonCreate, &RecordReasonDestroy});
        dlg.SetExchangeServices(std::make_unique<ForwardingOpener>(opener),
                                std::make_unique<ForwardingClock>(clock, onSleep));
        dlg.SetKeepAwake(std::make_unique<RecordingKeepAwake>(log));
        SetMainWindow(&dlg);
        ASSERT_TRUE(dlg.Create());
        hwnd = dlg.GetSafeHwnd();
    }
    void TearDown() override {
        SetMainWindow(nullptr);
        SetShutdownBlockApi(std::nullopt);
    }

    HWND Item(int id) const { return GetDlgItem(hwnd, id); }
    std::string Text(int id) const { return WindowText(Item(id)); }
    bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
    bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
    // A click as the button sends it.
    void Click(int id) {
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Item(id)));
    }
    // TEST against a scanner that reports the digits d1 d2.
    void RunTest(char d1, char d2) {
        const std::uint64_t now = clock.Now();
        port.Arrive(now + 150, {'C'});
        port.Arrive(now + 800, fakes::VersionReply(d1, d2));
        Click(IDC_TEST);
    }
    // (TEST, UPDATE, list) enabled states.
    std::vector<bool> States() const {
        return {Enabled(IDC_TEST), Enabled(IDC_UPDATE), Enabled(IDC_COMPORT)};
    }

    BoxAnswerer answerer;
    fakes::EventLog log;
    fakes::VirtualClock clock;
    fakes::ScriptedPort port{clock, log};
    fakes::ScriptedOpener opener{port, log};
    std::function<void()> onSleep;
    CountingDlg dlg;
    HWND hwnd = nullptr;
};

const std::vector<bool> kStartStates{true, false, true};
const std::vector<bool> kOfferedStates{false, true, false};

TEST_F(MainDialogTest, StartsWithTheWarningThenTheTemplateTextsVersionAndStates) {
    ASSERT_EQ(answerer.boxes.size(), 1u);
    const BoxRecord& warning = answerer.boxes[0];
    EXPECT_EQ(warning.text, dialog_template::kStartupWarning);
    EXPECT_EQ(warning.style, 324u);
    EXPECT_EQ(warning.caption, OwnTitle());
    EXPECT_EQ(warning.owner, hwnd);
    EXPECT_FALSE(warning.ownerVisible) << "the warning comes before the dialog is on screen";

    EXPECT_EQ(WindowText(hwnd), std::string(dialog_template::kMainDialog.caption) + " " + kVersion);
    EXPECT_EQ(Text(IDC_VERSION), "SCANNER VERSION: ?.?\nUPDATER VERSION: " + kVersion);
    EXPECT_EQ(Text(IDC_STEP4), std::string(dialog_template::kStep4Text) + " " + kVersion + " ");
    EXPECT_EQ(Text(IDC_EXIT), "EXIT");
    EXPECT_EQ(Text(IDC_TEST), "TEST");
    EXPECT_EQ(Text(IDC_UPDATE), "UPDATE");
    EXPECT_EQ(Text(IDC_COMPLETE), dialog_template::kCompletionText);
    EXPECT_EQ(States(), kStartStates);
    EXPECT_FALSE(Visible(IDC_COMPLETE));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetFocus(), Item(IDC_EXIT));
}

TEST_F(MainDialogTest, PortListHoldsCom1ToCom256InNumericOrderWithCom1Selected) {
    HWND list = Item(IDC_COMPORT);
    ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 256);
    auto entry = [list](int index) {
        char text[16] = {};
        SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return std::string(text);
    };
    EXPECT_EQ(entry(0), "COM1");
    EXPECT_EQ(entry(1), "COM2");
    EXPECT_EQ(entry(9), "COM10");
    EXPECT_EQ(entry(255), "COM256");
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);
}

TEST_F(MainDialogTest, SystemMenuEndsWithASeparatorAndTheAboutItemAndTheIconIsSet) {
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    char text[128] = {};
    GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, dialog_template::kAboutMenuText);
    MENUITEMINFOA separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoA(menu, count - 2, TRUE, &separator));
    EXPECT_TRUE(separator.fType & MFT_SEPARATOR);

    ASSERT_NE(dlg.m_hIcon, nullptr);
    ASSERT_NE(dlg.m_hAccel, nullptr);
    EXPECT_EQ(SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(dlg.m_hIcon));
    EXPECT_EQ(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0),
              reinterpret_cast<LRESULT>(dlg.m_hIcon));
    EXPECT_EQ(SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(dlg.m_hIcon));
}

TEST_F(MainDialogTest, TestThatOffersTheUploadSwapsTheControls) {
    SetFocus(Item(IDC_TEST));  // as after a click on it
    ASSERT_EQ(GetFocus(), Item(IDC_TEST));
    RunTest('1', '0');
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, kOffered);
    EXPECT_EQ(answerer.boxes[1].style, 64u);
    EXPECT_EQ(answerer.boxes[1].caption, OwnTitle());
    EXPECT_EQ(States(), kOfferedStates);
    EXPECT_EQ(Text(IDC_VERSION), "\nUPDATER VERSION: " + kVersion);
    EXPECT_EQ(opener.requests.at(0).name, "\\\\.\\COM1");
    // The keyboard is not left on the button that was disabled.
    ASSERT_NE(GetFocus(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(GetFocus()));
}

TEST_F(MainDialogTest, TestAnsweredNoKeepsTestAndTheListAndAskedWithTheQuestionStyle) {
    answerer.answers = {IDNO};
    RunTest('7', 'F');
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].style, 36u);
    EXPECT_NE(answerer.boxes[1].text.find("older than"), std::string::npos);
    EXPECT_EQ(States(), kStartStates);
    // TEST again after No repeats the exchange on the port now selected.
    SendMessageA(Item(IDC_COMPORT), CB_SETCURSEL, 3, 0);
    RunTest('1', '0');
    EXPECT_EQ(opener.requests.back().name, "\\\\.\\COM4");
    EXPECT_EQ(States(), kOfferedStates);
}

TEST_F(MainDialogTest, CommandsForADisabledButtonStartNothing) {
    Click(IDC_UPDATE);  // disabled at start
    EXPECT_TRUE(opener.requests.empty());
    RunTest('1', '0');  // offers the upload, which disables TEST
    ASSERT_EQ(opener.requests.size(), 1u);
    const std::size_t boxes = answerer.boxes.size();
    Click(IDC_TEST);
    EXPECT_EQ(opener.requests.size(), 1u);
    EXPECT_EQ(answerer.boxes.size(), boxes);
    EXPECT_EQ(States(), kOfferedStates);
}

TEST_F(MainDialogTest, FailedTestsChangeNoControl) {
    Click(IDC_TEST);  // no ready byte
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, "No data from the scanner. Please retry from step 1");
    EXPECT_EQ(answerer.boxes[1].style, 48u);
    EXPECT_EQ(States(), kStartStates);
    EXPECT_EQ(Text(IDC_VERSION), "SCANNER VERSION: ?.?\nUPDATER VERSION: " + kVersion);

    SendMessageA(Item(IDC_COMPORT), CB_SETCURSEL, 3, 0);
    opener.mode = fakes::ScriptedOpener::Mode::kThrowInt;
    Click(IDC_TEST);
    ASSERT_EQ(answerer.boxes.size(), 3u);
    EXPECT_EQ(answerer.boxes[2].text.rfind("Unable to open the port COM4.", 0), 0u);
    EXPECT_EQ(States(), kStartStates);
}

// What the upload showed of its progress window, sampled from inside the exchange.
struct ProgressSample {
    HWND owner;
    std::string caption;
    int position;
    int low, high;
    RECT rect;
};

class UpdateTest : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        RunTest('1', '0');
        ASSERT_EQ(States(), kOfferedStates);
        answerer.boxes.clear();
        scanner = std::make_unique<fakes::ScriptedScanner>(port, g_carriedFirmware.imageLength);
        scanner->readyAtMs = clock.Now() + 150;
        onSleep = [this] { Sample(); };
    }
    void Sample() {
        if (++m_sleeps % 40 != 0) {
            return;
        }
        HWND window = FindProgressWindow();
        if (window == nullptr) {
            return;
        }
        HWND bar = GetDlgItem(window, IDC_PROGRESS);
        PBRANGE range{};
        SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        ProgressSample sample{GetWindow(window, GW_OWNER),
                              WindowText(window),
                              static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)),
                              range.iLow,
                              range.iHigh,
                              {}};
        GetWindowRect(window, &sample.rect);
        samples.push_back(sample);
    }
    void RunUpdate() {
        scanner->Begin();
        Click(IDC_UPDATE);
    }

    std::unique_ptr<fakes::ScriptedScanner> scanner;
    std::vector<ProgressSample> samples;

private:
    int m_sleeps = 0;
};

TEST_F(UpdateTest, SuccessShowsTheCompletionTextAndHandsTheControlsBack) {
    scanner->verdict = {{300, {0x10}}, {600, {0x04}}};  // a keep-alive, then EOT
    RunUpdate();
    EXPECT_TRUE(answerer.boxes.empty()) << answerer.boxes.front().text;
    EXPECT_TRUE(Visible(IDC_COMPLETE));
    EXPECT_EQ(States(), kStartStates);
    const auto image = g_carriedFirmware.Image();
    EXPECT_EQ(scanner->image, fakes::Bytes(image.begin(), image.end()));
    EXPECT_EQ(FindProgressWindow(), nullptr) << "the progress window is gone";

    // The bar followed the accepted bytes over the whole range, centred over the dialog.
    ASSERT_FALSE(samples.empty());
    RECT main{};
    GetWindowRect(hwnd, &main);
    int last = 0;
    for (const ProgressSample& s : samples) {
        EXPECT_EQ(s.owner, hwnd);
        EXPECT_EQ(s.low, 0);
        EXPECT_EQ(s.high, static_cast<int>(g_carriedFirmware.imageLength));
        const POINT at = CentredPosition(main, s.rect);
        EXPECT_EQ(s.rect.left, at.x);
        EXPECT_EQ(s.rect.top, at.y);
        if (s.caption == "Upgrading CPU") {
            EXPECT_GE(s.position, last);
            EXPECT_EQ(s.position % 120, 0);
            last = s.position;
        }
    }
    EXPECT_GT(last, 0);
    EXPECT_EQ(samples.front().caption, "Upgrading CPU");
    EXPECT_EQ(samples.back().caption, "Waiting for CPU approval");
    EXPECT_EQ(samples.back().position, 0);

    // The machine was held up from before the port opened until after it closed; TEST (in
    // SetUp) held nothing.
    EXPECT_EQ(log.WithPrefix("keep-awake"),
              (std::vector<std::string>{"keep-awake begin", "keep-awake end"}));
    const int begin = log.IndexOf("keep-awake begin");
    ASSERT_GE(begin, 0);
    EXPECT_EQ(log.entries.at(begin + 1), "port open \\\\.\\COM1");
    ASSERT_GE(log.entries.size(), 2u);
    EXPECT_EQ(log.entries.back(), "keep-awake end");
    EXPECT_EQ(log.entries[log.entries.size() - 2], "port close");
}

TEST_F(UpdateTest, PortThatCannotBeOpenedLeavesUpdateEnabled) {
    opener.mode = fakes::ScriptedOpener::Mode::kThrowInt;
    RunUpdate();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text.rfind("Unable to open the port COM1. Make sure that it's", 0),
              0u);
    EXPECT_EQ(States(), kOfferedStates);
    EXPECT_FALSE(Visible(IDC_COMPLETE));
}

struct UpdateFailure {
    const char* name;
    std::function<void(fakes::ScriptedScanner&)> script;
    const char* message;
    bool progressOnScreenAtMessage;
};

class UpdateFailureTest : public UpdateTest, public ::testing::WithParamInterface<UpdateFailure> {};

TEST_P(UpdateFailureTest, ShowsItsMessageThenHandsTheControlsBack) {
    GetParam().script(*scanner);
    RunUpdate();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    const BoxRecord& box = answerer.boxes[0];
    EXPECT_EQ(box.text, GetParam().message);
    EXPECT_EQ(box.style, 48u);
    EXPECT_EQ(box.owner, hwnd);
    EXPECT_EQ(box.progressWindow != nullptr, GetParam().progressOnScreenAtMessage);
    EXPECT_EQ(States(), kStartStates);
    EXPECT_FALSE(Visible(IDC_COMPLETE));
    EXPECT_EQ(FindProgressWindow(), nullptr);
    EXPECT_EQ(log.WithPrefix("keep-awake"),
              (std::vector<std::string>{"keep-awake begin", "keep-awake end"}));
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, UpdateFailureTest,
    ::testing::Values(UpdateFailure{"NoReadyByte", [](auto& s) { s.readyBytes.clear(); },
                                    "No data from the scanner. Please retry from step 4", false},
                      UpdateFailure{"NoGoAhead", [](auto& s) { s.goAhead.clear(); },
                                    "No data from the scanner. Please retry from step 4", false},
                      UpdateFailure{"ThreeNaks",
                                    [](auto& s) {
                                        for (std::size_t send = 0; send < 3; ++send) {
                                            s.AnswerSend(4, send, {{1, {kNak}}});
                                        }
                                    },
                                    "Scanner not approving the upgrade packets", true},
                      UpdateFailure{"NoAnswer", [](auto& s) { s.AnswerSend(4, 0, {}); },
                                    "Timed out waiting for response from scanner", true},
                      UpdateFailure{"Rejected",
                                    [](auto& s) {
                                        s.verdict = {{1, {kCan}}};
                                    },
                                    "Scanner rejected the upgrade!", false},
                      UpdateFailure{"Silence", [](auto& s) { s.verdict.clear(); },
                                    "Scanner response timeout!", false},
                      UpdateFailure{"UnknownByte",
                                    [](auto& s) {
                                        s.verdict = {{1, {'?'}}};
                                    },
                                    "Scanner unknown response!", false}),
    [](const auto& info) { return std::string(info.param.name); });

// Runs what once, from the first sleep of the transfer (the progress window is up).
std::function<void()> DuringTransfer(std::function<void()> what) {
    auto done = std::make_shared<bool>(false);
    return [done, what = std::move(what)] {
        if (!*done && FindProgressWindow() != nullptr) {
            *done = true;
            what();
        }
    };
}

TEST_F(UpdateTest, SessionEndDuringTheUploadIsRefusedAndTheUploadCompletes) {
    LRESULT mainAnswer = -1;
    LRESULT progressAnswer = -1;
    std::vector<std::string> reasonsMeanwhile;
    onSleep = DuringTransfer([&] {
        mainAnswer = SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0);
        progressAnswer = SendMessageA(FindProgressWindow(), WM_QUERYENDSESSION, 0, 0);
        reasonsMeanwhile = g_shutdownReasons;
    });
    g_shutdownReasons.clear();
    RunUpdate();
    EXPECT_EQ(mainAnswer, 0);
    EXPECT_EQ(progressAnswer, 0);
    EXPECT_EQ(reasonsMeanwhile, std::vector<std::string>{
                                    "create Updating the scanner's firmware - do not switch off"});
    EXPECT_EQ(g_shutdownReasons.back(), "destroy");
    EXPECT_TRUE(answerer.boxes.empty()) << answerer.boxes.front().text;
    EXPECT_TRUE(Visible(IDC_COMPLETE));
    EXPECT_EQ(scanner->image.size(), g_carriedFirmware.imageLength);
    // Afterwards the session may end again.
    EXPECT_NE(SendMessageA(hwnd, WM_QUERYENDSESSION, 0, 0), 0);
}

TEST_F(MainDialogTest, TestGivesAndTakesBackTheShutdownReasonToo) {
    RunTest('1', '0');
    EXPECT_EQ(g_shutdownReasons,
              (std::vector<std::string>{
                  "create Updating the scanner's firmware - do not switch off", "destroy"}));
    EXPECT_TRUE(log.WithPrefix("keep-awake").empty()) << "TEST writes no firmware";
}

TEST_F(UpdateTest, SystemCommandsAndCloseDuringTheUploadOpenNothingAndWorkAfterwards) {
    bool aboutOpened = false;
    // Closes an About box that the command below may open, so that a failure cannot hang.
    auto watchForAbout = [&] {
        RunFromLoop(30, [&] {
            if (HWND about = FindDialogByCaption("About the TR-520/521 CPU Update Utility")) {
                aboutOpened = true;
                PostMessageA(about, WM_COMMAND, IDOK, 0);
            }
        });
    };
    onSleep = DuringTransfer([&] {
        watchForAbout();
        SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        SendMessageA(FindProgressWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        ::Sleep(60);
        DispatchQueued(nullptr);  // the watch's timer, had a box opened
    });
    RunUpdate();
    EXPECT_FALSE(aboutOpened);
    EXPECT_EQ(dlg.cancels, 0);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_TRUE(answerer.boxes.empty()) << answerer.boxes.front().text;
    EXPECT_TRUE(Visible(IDC_COMPLETE));

    // Once the exchange is over, the same commands are obeyed again.
    watchForAbout();
    SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    EXPECT_TRUE(aboutOpened);
    SendMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(dlg.cancels, 1);
}

TEST_F(MainDialogTest, ExceptionInTestEndsItWithAMessageAndTheNextTestWorks) {
    port.onWrite = [](const fakes::WriteRecord&) { throw std::bad_alloc(); };
    port.Arrive(clock.Now() + 150, {'C'});
    Click(IDC_TEST);
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, kExchangeFailed);
    EXPECT_EQ(answerer.boxes[1].style, 48u);
    EXPECT_EQ(answerer.boxes[1].caption, OwnTitle());
    EXPECT_TRUE(port.IsClosed());
    EXPECT_EQ(States(), kStartStates);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    port.onWrite = nullptr;
    RunTest('1', '0');
    EXPECT_EQ(answerer.boxes.back().text, kOffered);
    EXPECT_EQ(States(), kOfferedStates);
}

TEST_F(UpdateTest, ExceptionInUpdateResetsTheControlsAndGivesTheMachineBack) {
    opener.mode = fakes::ScriptedOpener::Mode::kThrowInt;
    answerer.onBox = [](const BoxRecord& box) {
        if (box.text.rfind("Unable to open the port", 0) == 0) {
            throw std::runtime_error("the box failed");
        }
    };
    RunUpdate();
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, kExchangeFailed);
    EXPECT_EQ(States(), kStartStates) << "the next step is a new TEST";
    EXPECT_EQ(log.WithPrefix("keep-awake"),
              (std::vector<std::string>{"keep-awake begin", "keep-awake end"}));
    EXPECT_EQ(g_shutdownReasons.back(), "destroy");
}

// A modeless window of ours whose handler of WM_APP fails, as any handler may.
class FailingHandlerDlg : public CDialog {
public:
    explicit FailingHandlerDlg(HWND owner) : CDialog(IDD_ABOUTBOX, owner) {}

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
        if (message == WM_APP) {
            throw std::bad_alloc();
        }
        return CDialog::OnMessage(message, wParam, lParam, result);
    }
};

TEST_F(UpdateTest, AnotherWindowsFailedHandlerIsReportedAfterTheUploadLeavingItsOutcome) {
    FailingHandlerDlg other(hwnd);
    ASSERT_TRUE(other.Create());
    onSleep = DuringTransfer([&] { SendMessageA(other.GetSafeHwnd(), WM_APP, 0, 0); });
    RunUpdate();
    EXPECT_EQ(scanner->image.size(), g_carriedFirmware.imageLength);
    EXPECT_TRUE(Visible(IDC_COMPLETE));
    EXPECT_EQ(States(), kStartStates);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(answerer.boxes[0].text, kHandlerFailedText);
    EXPECT_EQ(answerer.boxes[0].style, 48u);
    EXPECT_EQ(answerer.boxes[0].progressWindow, nullptr) << "shown once the upload is over";
}

TEST_F(MainDialogTest, ExceptionOutsideAnExchangeIsCaughtAtTheDialogProcedure) {
    answerer.onBox = [](const BoxRecord& box) {
        if (box.text == HiddenMessageText(g_storedTexts)) {
            throw std::runtime_error("the box failed");
        }
    };
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(ID_HIDDEN_MESSAGE, 1), 0);
    ASSERT_EQ(answerer.boxes.size(), 3u);
    EXPECT_EQ(answerer.boxes[2].text, kHandlerFailedText);
    EXPECT_EQ(answerer.boxes[2].style, 48u);
    EXPECT_TRUE(IsWindowVisible(hwnd));
}

TEST_F(MainDialogTest, ClickQueuedDuringAnExchangeStartsNoSecondOne) {
    auto queueClick = [this] {
        HWND button = Item(IDC_TEST);
        PostMessageA(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageA(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    };
    // Outside an exchange the same messages are a click: the check below can fail.
    queueClick();
    DispatchQueued(hwnd);
    ASSERT_EQ(opener.requests.size(), 1u);

    bool queued = false;
    onSleep = [&] {
        if (!queued) {
            queued = true;
            queueClick();
        }
    };
    Click(IDC_TEST);
    ASSERT_TRUE(queued);
    DispatchQueued(hwnd);
    EXPECT_EQ(opener.requests.size(), 2u);
}

TEST_F(MainDialogTest, CommandsSentDuringAnExchangeStartNothing) {
    bool sent = false;
    onSleep = [&] {
        if (!sent) {
            sent = true;
            Click(IDC_TEST);
            SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(ID_HIDDEN_MESSAGE, 1), 0);
        }
    };
    RunTest('1', '0');
    ASSERT_TRUE(sent);
    EXPECT_EQ(opener.requests.size(), 1u);
    ASSERT_EQ(answerer.boxes.size(), 2u);  // the warning and the outcome, no hidden message
    EXPECT_EQ(answerer.boxes[1].text, kOffered);
    // Once it is over, the hidden message command is handled again.
    SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(ID_HIDDEN_MESSAGE, 1), 0);
    EXPECT_EQ(answerer.boxes.size(), 3u);
}

// A window that counts the messages it gets.
struct ProbeWindow {
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_APP || message == WM_KEYDOWN || message == WM_LBUTTONDOWN) {
            auto* counts =
                reinterpret_cast<std::map<UINT, int>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
            if (counts != nullptr) {
                ++(*counts)[message];
            }
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    explicit ProbeWindow(HWND owner) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = &Proc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = "TrPumpProbe";
        RegisterClassA(&cls);  // fails harmlessly when already registered
        hwnd = CreateWindowExA(0, "TrPumpProbe", "", WS_POPUP, 0, 0, 10, 10, owner, nullptr,
                               cls.hInstance, nullptr);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&counts));
    }
    ~ProbeWindow() { DestroyWindow(hwnd); }
    void Post() {
        PostMessageA(hwnd, WM_APP, 0, 0);
        PostMessageA(hwnd, WM_KEYDOWN, VK_SPACE, 0);
        PostMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    }
    HWND hwnd;
    std::map<UINT, int> counts;
};

TEST_F(MainDialogTest, PumpDispatchesOtherMessagesButDropsInputToOurWindowsOnly) {
    ProbeWindow owned(hwnd);
    ProbeWindow stranger(nullptr);
    owned.Post();
    stranger.Post();
    MessagePump pump(hwnd);
    pump.Pump();
    EXPECT_EQ(owned.counts[WM_APP], 1);
    EXPECT_EQ(owned.counts[WM_KEYDOWN], 0);
    EXPECT_EQ(owned.counts[WM_LBUTTONDOWN], 0);
    EXPECT_EQ(stranger.counts[WM_APP], 1);
    EXPECT_EQ(stranger.counts[WM_KEYDOWN], 1);
    EXPECT_EQ(stranger.counts[WM_LBUTTONDOWN], 1);
}

TEST_F(MainDialogTest, SystemCommands16To31OpenTheAboutBoxOthersDoNot) {
    for (WPARAM command : {WPARAM{16}, WPARAM{17}, WPARAM{31}}) {
        std::string line;
        HWND owner = nullptr;
        bool mainEnabled = true;
        RunFromLoop(20, [&] {
            HWND about = FindDialogByCaption("About the TR-520/521 CPU Update Utility");
            if (about == nullptr) {
                return;
            }
            line = WindowText(GetDlgItem(about, IDC_ABOUT_VERSION));
            owner = GetWindow(about, GW_OWNER);
            mainEnabled = IsWindowEnabled(hwnd) != FALSE;
            PostMessageA(about, WM_COMMAND, IDOK, 0);
        });
        SendMessageA(hwnd, WM_SYSCOMMAND, command, 0);
        EXPECT_EQ(line, "TR-520/521 CPU Update Utility " + kVersion) << command;
        EXPECT_EQ(owner, hwnd) << command;
        EXPECT_FALSE(mainEnabled) << command;
        EXPECT_TRUE(IsWindowEnabled(hwnd)) << command;
    }
    // 32 is not the About item: default handling, returning at once with no box.
    SendMessageA(hwnd, WM_SYSCOMMAND, 32, 0);
    EXPECT_EQ(FindDialogByCaption("About the TR-520/521 CPU Update Utility"), nullptr);
}

// The modal run: the declined warning, EXIT, Enter, Escape and the close request.
struct ModalEnd {
    const char* name;
    int warningAnswer;
    std::function<void(HWND dialog)> then;
    INT_PTR result;
};

class ModalRunTest : public ::testing::TestWithParam<ModalEnd> {};

TEST_P(ModalRunTest, EndsWithItsResult) {
    BoxAnswerer answerer;
    answerer.answers = {GetParam().warningAnswer};
    CUpdaterDlg dlg;
    answerer.onBox = [&](const BoxRecord& box) {
        // Queued now, handled once the modal loop runs.
        if (GetParam().then) {
            GetParam().then(box.owner);
        }
    };
    SetMainWindow(&dlg);
    const DWORD start = GetTickCount();
    EXPECT_EQ(dlg.DoModal(), GetParam().result);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    SetMainWindow(nullptr);
}

void PostKey(HWND dialog, WPARAM key) {
    HWND focus = GetDlgItem(dialog, IDC_EXIT);
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, ModalRunTest,
    ::testing::Values(ModalEnd{"WarningAnsweredNo", IDNO, nullptr, IDCANCEL},
                      ModalEnd{"Exit", IDYES,
                               [](HWND d) {
                                   PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED),
                                                reinterpret_cast<LPARAM>(GetDlgItem(d, IDC_EXIT)));
                               },
                               IDOK},
                      ModalEnd{"Enter", IDYES, [](HWND d) { PostKey(d, VK_RETURN); }, IDOK},
                      ModalEnd{"Escape", IDYES, [](HWND d) { PostKey(d, VK_ESCAPE); }, IDCANCEL},
                      ModalEnd{"CloseRequest", IDYES,
                               [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, IDCANCEL}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgressPlacement, CentresTermByTermTruncatingTowardZero) {
    auto at = [](RECT parent, LONG width, LONG height) {
        return CentredPosition(parent, RECT{0, 0, width, height});
    };
    const POINT plain = at({100, 100, 700, 500}, 280, 60);
    EXPECT_EQ(plain.x, 260);
    EXPECT_EQ(plain.y, 270);
    EXPECT_EQ(at({0, 0, 801, 0}, 281, 0).x, 400 - 140);
    EXPECT_EQ(at({-801, 0, 0, 0}, 281, 0).x, -400 - 140);
}

// The real message box, read and answered by a hook as a user would see it.
struct SeenBox {
    std::string caption, text;
    bool yes, no, ok;
    bool noIsDefault, yesIsDefault;
};

bool IsDefaultButton(HWND button) {
    return (GetWindowLongA(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
}
SeenBox g_seen;
HHOOK g_cbtHook;

LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        // Read once the box has its texts, from the box's own loop.
        RunFromLoop(50, [box] {
            g_seen = {WindowText(box),
                      WindowText(GetDlgItem(box, 0xFFFF)),
                      GetDlgItem(box, IDYES) != nullptr,
                      GetDlgItem(box, IDNO) != nullptr,
                      GetDlgItem(box, IDOK) != nullptr,
                      IsDefaultButton(GetDlgItem(box, IDNO)),
                      IsDefaultButton(GetDlgItem(box, IDYES))};
            PostMessageA(box, WM_COMMAND, IDNO, 0);
        });
    }
    return CallNextHookEx(g_cbtHook, code, wParam, lParam);
}

TEST(RealMessageBox, CarriesTheProgramNameAsCaptionYesNoAndNoAsDefault) {
    g_cbtHook = SetWindowsHookExA(WH_CBT, &OnCbt, nullptr, GetCurrentThreadId());
    ASSERT_NE(g_cbtHook, nullptr);
    const int answer = AppMessageBox(nullptr, "Are you ready?", 324);
    UnhookWindowsHookEx(g_cbtHook);
    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(g_seen.caption, OwnTitle());
    EXPECT_EQ(g_seen.text, "Are you ready?");
    EXPECT_TRUE(g_seen.yes);
    EXPECT_TRUE(g_seen.no);
    EXPECT_FALSE(g_seen.ok);
    EXPECT_TRUE(g_seen.noIsDefault);
    EXPECT_FALSE(g_seen.yesIsDefault);
}

}  // namespace

namespace {

// Presses the keys in order and releases them in reverse, as synthesised input.
void SendKeys(const std::vector<WORD>& keys) {
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        inputs.push_back(in);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *key;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

const std::vector<WORD> kHiddenKeys{VK_CONTROL, VK_MENU, VK_SHIFT, VK_F3};

// The main dialog run modally, as the program runs it, with the keyboard on EXIT.
class ModalDialogTest : public ::testing::Test {
protected:
    ModalDialogTest() {
        dlg.SetExchangeServices(std::make_unique<ForwardingOpener>(opener),
                                std::make_unique<ForwardingClock>(clock, onSleep));
        SetMainWindow(&dlg);
    }
    ~ModalDialogTest() override { SetMainWindow(nullptr); }

    // Runs the dialog; once it is on screen, then() runs from its loop.
    void RunModal(std::function<void()> then) {
        answerer.onBox = [this, then](const BoxRecord& box) {
            if (box.style == 324) {
                RunFromLoop(50, [this, then] {
                    SetForegroundWindow(dlg.GetSafeHwnd());
                    SetFocus(GetDlgItem(dlg.GetSafeHwnd(), IDC_EXIT));
                    then();
                });
            }
        };
        dlg.DoModal();
    }
    // Closes the dialog after the input sent so far has been handled.
    void CloseLater() {
        RunFromLoop(300, [this] { PostMessageA(dlg.GetSafeHwnd(), WM_CLOSE, 0, 0); });
    }
    int HiddenMessages() const {
        int count = 0;
        for (const BoxRecord& box : answerer.boxes) {
            if (box.text == HiddenMessageText(g_storedTexts)) {
                EXPECT_EQ(box.style, 64u);
                EXPECT_EQ(box.caption, OwnTitle());
                ++count;
            }
        }
        return count;
    }

    BoxAnswerer answerer;
    fakes::EventLog log;
    fakes::VirtualClock clock;
    fakes::ScriptedPort port{clock, log};
    fakes::ScriptedOpener opener{port, log};
    std::function<void()> onSleep;
    CUpdaterDlg dlg;
};

struct KeyCase {
    const char* name;
    std::vector<WORD> keys;
    int hiddenMessages;
};

class AcceleratorTest : public ModalDialogTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(AcceleratorTest, OnlyCtrlAltShiftF3OpensTheHiddenMessage) {
    RunModal([this] {
        SendKeys(GetParam().keys);
        CloseLater();
    });
    EXPECT_EQ(HiddenMessages(), GetParam().hiddenMessages);
}

INSTANTIATE_TEST_SUITE_P(Keys, AcceleratorTest,
                         ::testing::Values(KeyCase{"CtrlAltShiftF3", kHiddenKeys, 1},
                                           KeyCase{"CtrlShiftF3", {VK_CONTROL, VK_SHIFT, VK_F3}, 0},
                                           KeyCase{"CtrlAltF3", {VK_CONTROL, VK_MENU, VK_F3}, 0},
                                           KeyCase{"AltShiftF3", {VK_MENU, VK_SHIFT, VK_F3}, 0},
                                           KeyCase{"F3", {VK_F3}, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModalDialogTest, HiddenMessageKeysDuringAnExchangeAreDropped) {
    bool sent = false;
    onSleep = [&] {
        if (!sent) {
            sent = true;
            SendKeys(kHiddenKeys);
            ::Sleep(100);  // real time, so the pump runs over the keys
        }
    };
    RunModal([this] {
        port.Arrive(clock.Now() + 150, {'C'});
        port.Arrive(clock.Now() + 800, fakes::VersionReply('1', '0'));
        PostMessageA(dlg.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(IDC_TEST, BN_CLICKED), 0);
        RunFromLoop(200, [this] {
            // After the exchange the same keys work again: the check above can fail.
            onSleep = nullptr;
            SendKeys(kHiddenKeys);
            CloseLater();
        });
    });
    ASSERT_TRUE(sent);
    ASSERT_GE(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[1].text, kOffered);
    EXPECT_EQ(HiddenMessages(), 1);
    EXPECT_NE(answerer.boxes.back().text, kOffered);
}

}  // namespace
