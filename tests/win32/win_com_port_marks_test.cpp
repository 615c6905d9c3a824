// The main dialog's COM port list on this system: the COM link that a peer published in the
// wine prefix (TR_TEST_COM) is drawn bold with a tooltip naming it, an unused number
// (TR_TEST_ABSENT_COM) is not, every entry's mark agrees with the port listing, and the
// entries' texts, order and selection are as the dialog always had them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "com_list_probe.h"
#include "com_port_devices.h"
#include "resource.h"
#include "win_test_support.h"
#include "win_updater_dlg.h"

using namespace wintest;

namespace {

int NumberFrom(const char* variable) {
    const char* value = std::getenv(variable);
    return value != nullptr ? std::atoi(value) : 0;
}

class ComPortMarksTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(com, 0) << "TR_TEST_COM names the peer's COM number";
        ASSERT_GT(absent, 0) << "TR_TEST_ABSENT_COM names a number without a link";
        SetMainWindow(&dlg);
        ASSERT_TRUE(dlg.Create());
        list = GetDlgItem(dlg.GetSafeHwnd(), IDC_COMPORT);
        tips = FindListTips(dlg.GetSafeHwnd());
    }
    void TearDown() override { SetMainWindow(nullptr); }

    bool Bold(int n) {
        return EntryInk(list, n - 1) > PlainTextInk(list, "COM" + std::to_string(n));
    }
    bool Plain(int n) {
        return EntryInk(list, n - 1) == PlainTextInk(list, "COM" + std::to_string(n));
    }
    void ExpectEntriesAsEver(int selected) {
        ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), comports::kComPortCount);
        for (int index = 0; index < comports::kComPortCount; ++index) {
            char text[16] = {};
            SendMessageA(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
            ASSERT_EQ(text, "COM" + std::to_string(index + 1));
        }
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), selected);
    }

    const int com = NumberFrom("TR_TEST_COM");
    const int absent = NumberFrom("TR_TEST_ABSENT_COM");
    BoxAnswerer answerer;
    CUpdaterDlg dlg;
    HWND list = nullptr;
    ListTips tips;
};

TEST_F(ComPortMarksTest, PublishedLinkIsBoldAndNamedAnUnusedNumberIsNot) {
    const LONG style = GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(style & 0x0F, CBS_DROPDOWNLIST);
    EXPECT_EQ(style & (CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | CBS_SORT),
              CBS_OWNERDRAWFIXED | CBS_HASSTRINGS);
    ExpectEntriesAsEver(0);

    EXPECT_TRUE(Bold(com));
    EXPECT_TRUE(Plain(absent));
    const std::string name = "COM" + std::to_string(com);
    const std::string link = "com" + std::to_string(com);
    ASSERT_NE(tips.hover, nullptr);
    SendMessageA(list, CB_SETCURSEL, com - 1, 0);
    EXPECT_EQ(TipText(tips.hover), name + ": wine link dosdevices/" + link + ", present");
    SendMessageA(list, CB_SETCURSEL, absent - 1, 0);
    EXPECT_EQ(TipText(tips.hover), "COM" + std::to_string(absent) + ": not present");
    SendMessageA(list, CB_SETCURSEL, 0, 0);
    ExpectEntriesAsEver(0);
}

TEST_F(ComPortMarksTest, EveryMarkAgreesWithThePortListingAlsoOnceOpened) {
    SendMessageA(list, CB_SHOWDROPDOWN, TRUE, 0);
    PaintOpenedList(list);
    const std::vector<comports::ComPortInfo> ports = comports::DescribeComPorts();
    for (const comports::ComPortInfo& port : ports) {
        EXPECT_EQ(Bold(port.comNumber), port.present) << port.description;
        EXPECT_EQ(Plain(port.comNumber), !port.present) << port.description;
    }
    ASSERT_NE(tips.tracked, nullptr);
    EXPECT_TRUE(TipShown(tips.tracked));
    EXPECT_EQ(TipText(tips.tracked), ports[0].description) << "the highlighted entry, COM1";
    SendMessageA(list, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_FALSE(TipShown(tips.tracked));
    ExpectEntriesAsEver(0);
}

}  // namespace
