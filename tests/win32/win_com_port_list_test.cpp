// The COM port list's marks against scripted port looks: present entries are drawn bold, the
// tooltips name the selected or highlighted entry's device, and the ports are looked at again
// when the list opens and when its tooltip shows, with texts, order and selection left alone.
#include "win_com_port_list.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "com_list_probe.h"
#include "dialog_templates.h"
#include "resource.h"

using namespace wintest;
using comports::ComPortInfo;

namespace {

// A window that hands its combo box's messages to the list, as the main dialog does.
LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* list = reinterpret_cast<CComPortList*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (list != nullptr) {
        INT_PTR result = 0;
        if (message == WM_COMMAND && LOWORD(wParam) == IDC_COMPORT &&
            list->OnNotify(HIWORD(wParam))) {
            return 0;
        }
        if (list->OnParentMessage(message, wParam, lParam, result)) {
            return result;
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

const ATOM g_hostClass = [] {
    WNDCLASSA host{};
    host.lpfnWndProc = &HostProc;
    host.hInstance = GetModuleHandleA(nullptr);
    host.lpszClassName = "TrComPortListHost";
    host.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    return RegisterClassA(&host);
}();

// The layout's COM port list, filled as the dialog fills it, with a list whose looks the test
// scripts and counts.
class ComPortListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(g_hostClass, 0);
        m_host = CreateWindowExA(0, "TrComPortListHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 40, 40, 300, 400, nullptr, nullptr, nullptr, nullptr);
        const dialog_template::ControlTemplate& layout = dialog_template::kMainDialogControls[1];
        ASSERT_EQ(layout.id, IDC_COMPORT);
        combo = CreateWindowExA(0, "ComboBox", "", layout.style, 10, 10, 100, 250, m_host,
                                reinterpret_cast<HMENU>(IDC_COMPORT), nullptr, nullptr);
        ASSERT_NE(combo, nullptr);
        SendMessageA(combo, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                     FALSE);
        for (int n = 1; n <= comports::kComPortCount; ++n) {
            SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Com(n).c_str()));
        }
        SendMessageA(combo, CB_SETCURSEL, 0, 0);
        SetWindowLongPtrA(m_host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&list));
        list.Attach(combo);
        tips = FindListTips(m_host);
    }
    void TearDown() override {
        SetWindowLongPtrA(m_host, GWLP_USERDATA, 0);
        DestroyWindow(m_host);
    }

    static std::string Com(int n) { return "COM" + std::to_string(n); }
    // A look with the given ports present, each named "Cable n"; the others not present.
    static std::vector<ComPortInfo> Look(const std::vector<int>& present) {
        std::vector<ComPortInfo> ports;
        for (int n = 1; n <= comports::kComPortCount; ++n) {
            ports.push_back({n, false, "", Com(n) + ": not present"});
        }
        for (const int n : present) {
            ports[static_cast<std::size_t>(n - 1)] = {
                n, true, "Cable " + std::to_string(n),
                Com(n) + ": Cable " + std::to_string(n) + ", present"};
        }
        return ports;
    }
    bool Bold(int n) { return EntryInk(combo, n - 1) > PlainTextInk(combo, Com(n)); }
    bool Plain(int n) { return EntryInk(combo, n - 1) == PlainTextInk(combo, Com(n)); }
    void ExpectTextsAndSelection(int selected) {
        ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), comports::kComPortCount);
        for (int index = 0; index < comports::kComPortCount; ++index) {
            char text[16] = {};
            SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
            ASSERT_EQ(text, Com(index + 1));
        }
        EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), selected);
    }
    void Open() {
        SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
        PaintOpenedList(combo);
    }
    void Highlight(int n) {
        SendMessageA(combo, CB_SETCURSEL, n - 1, 0);
        PaintOpenedList(combo);
    }

    std::vector<int> present = {3, 7};
    int looks = 0;
    CComPortList list{[this] {
        ++looks;
        return Look(present);
    }};
    HWND combo = nullptr;
    ListTips tips;

private:
    HWND m_host = nullptr;
};

TEST_F(ComPortListTest, PresentEntriesAreBoldOthersPlainFromTheFirstLook) {
    EXPECT_EQ(looks, 1);
    EXPECT_TRUE(Bold(3));
    EXPECT_TRUE(Bold(7));
    for (const int n : {1, 2, 4, 8, 10, 256}) {
        EXPECT_TRUE(Plain(n)) << Com(n);
    }
    EXPECT_EQ(looks, 1) << "drawing does not look again";
    ExpectTextsAndSelection(0);
}

TEST_F(ComPortListTest, TheOwnerDrawnListKeepsTheStandardHeightsOfItsFont) {
    HWND standard = CreateWindowExA(0, "ComboBox", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 250,
                                    GetParent(combo), nullptr, nullptr, nullptr);
    SendMessageA(standard, WM_SETFONT, SendMessageA(combo, WM_GETFONT, 0, 0), FALSE);
    for (const WPARAM which : {static_cast<WPARAM>(-1), static_cast<WPARAM>(0)}) {
        EXPECT_EQ(SendMessageA(combo, CB_GETITEMHEIGHT, which, 0),
                  SendMessageA(standard, CB_GETITEMHEIGHT, which, 0));
    }
    RECT ours, theirs;
    GetWindowRect(combo, &ours);
    GetWindowRect(standard, &theirs);
    EXPECT_EQ(ours.bottom - ours.top, theirs.bottom - theirs.top);
    DestroyWindow(standard);
}

TEST_F(ComPortListTest, ClosedListTipNamesTheSelectedEntryFromAFreshLook) {
    ASSERT_NE(tips.hover, nullptr);
    EXPECT_EQ(TipText(tips.hover), "COM1: not present");
    SendMessageA(combo, CB_SETCURSEL, 6, 0);
    EXPECT_EQ(TipText(tips.hover), "COM7: Cable 7, present");
    present = {12};  // a cable plugged in since the list was last opened
    const int before = looks;
    EXPECT_EQ(TipText(tips.hover), "COM7: not present");
    EXPECT_GT(looks, before);
    EXPECT_TRUE(Bold(12)) << "the marks follow the tooltip's look";
    ExpectTextsAndSelection(6);
}

TEST_F(ComPortListTest, OpeningLooksAgainAndTheTipBesideFollowsTheHighlight) {
    present = {5};
    EXPECT_TRUE(Bold(3)) << "no new look before the list opens";
    Open();
    EXPECT_EQ(looks, 2);
    EXPECT_TRUE(Plain(3));
    EXPECT_TRUE(Bold(5));
    ASSERT_NE(tips.tracked, nullptr);
    EXPECT_TRUE(TipShown(tips.tracked));
    EXPECT_EQ(TipText(tips.tracked), "COM1: not present");
    Highlight(5);
    EXPECT_EQ(TipText(tips.tracked), "COM5: Cable 5, present");
    Highlight(6);
    EXPECT_EQ(TipText(tips.tracked), "COM6: not present");

    SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_FALSE(TipShown(tips.tracked));
    ExpectTextsAndSelection(5);
    Open();
    EXPECT_EQ(looks, 3) << "each opening looks again";
    EXPECT_EQ(TipText(tips.tracked), "COM6: not present");
    SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
}

}  // namespace
