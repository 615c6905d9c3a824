// The resources of tr520-updater.exe: dialogs 100, 102 and 6000 compare field by field with
// the layout table the code reads, and the icon, accelerator table, string and version
// resource load by number. The program's path comes in TR_UPDATER_EXE.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "dialog_templates.h"
#include "resource.h"

namespace {

std::string ProgramPath() {
    const char* path = std::getenv("TR_UPDATER_EXE");
    std::string windowsPath = path != nullptr ? path : "";
    if (!windowsPath.empty() && windowsPath[0] == '/') {
        for (char& c : windowsPath) {
            c = c == '/' ? '\\' : c;
        }
        windowsPath = "Z:" + windowsPath;
    }
    return windowsPath;
}

// Reads a DLGTEMPLATEEX as the resource compiler wrote it.
class TemplateReader {
public:
    explicit TemplateReader(const void* data) : m_p(static_cast<const BYTE*>(data)) {}
    WORD Word() {
        WORD value;
        std::memcpy(&value, m_p, sizeof value);
        m_p += sizeof value;
        return value;
    }
    DWORD Dword() {
        DWORD value;
        std::memcpy(&value, m_p, sizeof value);
        m_p += sizeof value;
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    // A string or an ordinal (0xFFFF, n), the ordinal written as "#n".
    std::string SzOrOrdinal() {
        if (Peek() == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        std::string text;
        for (WORD c = Word(); c != 0; c = Word()) {
            text.push_back(static_cast<char>(c));
        }
        return text;
    }
    void AlignDword() {
        while (reinterpret_cast<UINT_PTR>(m_p) % 4 != 0) {
            ++m_p;
        }
    }
    void Skip(std::size_t bytes) { m_p += bytes; }

private:
    WORD Peek() const {
        WORD value;
        std::memcpy(&value, m_p, sizeof value);
        return value;
    }
    const BYTE* m_p;
};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = ProgramPath();
        ASSERT_FALSE(path.empty()) << "TR_UPDATER_EXE names the program";
        m_module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_module, nullptr) << path;
    }
    void TearDown() override {
        if (m_module != nullptr) {
            FreeLibrary(m_module);
        }
    }
    const void* Resource(int id, LPCSTR type) {
        HRSRC found = FindResourceA(m_module, MAKEINTRESOURCEA(id), type);
        return found != nullptr ? LockResource(LoadResource(m_module, found)) : nullptr;
    }
    void ExpectDialogMatchesTable(const dialog_template::DialogTemplate& table);

    HMODULE m_module = nullptr;
};

void ProgramResources::ExpectDialogMatchesTable(const dialog_template::DialogTemplate& table) {
    const void* data = Resource(table.resourceId, MAKEINTRESOURCEA(5));  // RT_DIALOG
    ASSERT_NE(data, nullptr) << table.resourceId;
    TemplateReader in(data);
    EXPECT_EQ(in.Word(), 1);       // dlgVer
    EXPECT_EQ(in.Word(), 0xFFFF);  // signature: DLGTEMPLATEEX
    in.Dword();                    // help id
    EXPECT_EQ(in.Dword(), table.exStyle);
    EXPECT_EQ(in.Dword(), table.style);
    const WORD count = in.Word();
    ASSERT_EQ(count, table.controls.size());
    EXPECT_EQ(in.Short(), table.x);
    EXPECT_EQ(in.Short(), table.y);
    EXPECT_EQ(in.Short(), table.cx);
    EXPECT_EQ(in.Short(), table.cy);
    EXPECT_EQ(in.SzOrOrdinal(), "");  // no menu
    EXPECT_EQ(in.SzOrOrdinal(), "");  // the standard dialog class
    EXPECT_EQ(in.SzOrOrdinal(), table.caption);
    EXPECT_EQ(in.Word(), table.pointSize);
    in.Word();   // weight
    in.Skip(2);  // italic, charset
    EXPECT_EQ(in.SzOrOrdinal(), table.fontFace);
    for (const dialog_template::ControlTemplate& control : table.controls) {
        SCOPED_TRACE(control.text);
        in.AlignDword();
        in.Dword();                 // help id
        EXPECT_EQ(in.Dword(), 0u);  // extended style
        EXPECT_EQ(in.Dword(), control.style);
        EXPECT_EQ(in.Short(), control.x);
        EXPECT_EQ(in.Short(), control.y);
        EXPECT_EQ(in.Short(), control.cx);
        EXPECT_EQ(in.Short(), control.cy);
        EXPECT_EQ(static_cast<int>(in.Dword()), control.id);
        EXPECT_EQ(Lower(in.SzOrOrdinal()), Lower(control.windowClass));
        const std::string text = in.SzOrOrdinal();
        if (control.kind == dialog_template::Icon) {
            EXPECT_EQ(text, "#" + std::to_string(IDR_MAINFRAME));
        } else {
            EXPECT_EQ(text, control.text);
        }
        in.Skip(in.Word());  // creation data
    }
}

TEST_F(ProgramResources, DialogsMatchTheLayoutTableFieldByField) {
    ExpectDialogMatchesTable(dialog_template::kMainDialog);
    ExpectDialogMatchesTable(dialog_template::kAboutDialog);
    ExpectDialogMatchesTable(dialog_template::kProgressDialog);
}

// The COM port list draws its own entries (bold for a present port) from the strings it
// holds; it stays an unsorted drop-down list without edit field.
TEST_F(ProgramResources, ComPortListIsAnOwnerDrawnDropDownListThatKeepsItsStrings) {
    const dialog_template::ControlTemplate* list = nullptr;
    for (const dialog_template::ControlTemplate& control : dialog_template::kMainDialogControls) {
        list = control.id == IDC_COMPORT ? &control : list;
    }
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->kind, dialog_template::DropDownList);
    EXPECT_EQ(list->style & 0x0F, static_cast<unsigned>(CBS_DROPDOWNLIST));
    EXPECT_EQ(
        list->style & (CBS_OWNERDRAWFIXED | CBS_OWNERDRAWVARIABLE | CBS_HASSTRINGS | CBS_SORT),
        static_cast<unsigned>(CBS_OWNERDRAWFIXED | CBS_HASSTRINGS));
    EXPECT_NE(list->style & WS_VSCROLL, 0u);
}

TEST_F(ProgramResources, IconAcceleratorAndStringLoadByNumber) {
    // Every size the icon is drawn in; the group below shows each is an image of its own.
    const int sizes[] = {16, 32, 48, 64, 128, 256};
    for (int size : sizes) {
        HANDLE icon =
            LoadImageA(m_module, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, size, size, 0);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &info));
        BITMAP colour{};
        GetObjectA(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(static_cast<HICON>(icon));
    }
    // All six images, 16 colours each, in the icon group (a width of 256 is stored as 0).
    const auto* group = static_cast<const BYTE*>(Resource(IDR_MAINFRAME, MAKEINTRESOURCEA(14)));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group[4], std::size(sizes));
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const BYTE* entry = group + 6 + 14 * i;  // width, height, colours, ...
        EXPECT_EQ(entry[0], sizes[i] % 256) << i;
        EXPECT_EQ(entry[2], 16) << i;
    }

    HACCEL accel = LoadAcceleratorsA(m_module, MAKEINTRESOURCEA(IDR_ACCELERATOR));
    ASSERT_NE(accel, nullptr);
    ACCEL entries[4];
    ASSERT_EQ(CopyAcceleratorTableA(accel, entries, 4), 1);
    EXPECT_EQ(entries[0].fVirt & 0x7F, FVIRTKEY | FNOINVERT | FSHIFT | FCONTROL | FALT);
    EXPECT_EQ(entries[0].key, VK_F3);
    EXPECT_EQ(entries[0].cmd, ID_HIDDEN_MESSAGE);
    const auto* raw = static_cast<const BYTE*>(Resource(IDR_ACCELERATOR, MAKEINTRESOURCEA(9)));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw[0], 0x9F);  // the flags as stored, marked as the table's last entry

    char text[128] = {};
    ASSERT_GT(LoadStringA(m_module, IDS_ABOUTBOX, text, sizeof text), 0);
    EXPECT_STREQ(text, dialog_template::kAboutMenuText);
}

TEST_F(ProgramResources, VersionResourceReads0110WithItsTexts) {
    const std::string path = ProgramPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 0));  // 0.1
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 1));  // .1.0
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    auto value = [&](const char* name) {
        char* text = nullptr;
        UINT chars = 0;
        const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
        return VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &chars)
                   ? std::string(text)
                   : std::string("(missing)");
    };
    const std::string description = "TR-520/521 CPU Update Utility v1.10 for Boot Ver1.00";
    EXPECT_EQ(value("FileVersion"), "0, 1, 1, 0");
    EXPECT_EQ(value("ProductVersion"), "0, 1, 1, 0");
    EXPECT_EQ(value("FileDescription"), description);
    EXPECT_EQ(value("InternalName"), description);
    EXPECT_EQ(value("ProductName"), description);
}

TEST_F(ProgramResources, ManifestAsksForTheCommonControlsLook) {
    HRSRC found = FindResourceA(m_module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(LockResource(LoadResource(m_module, found)));
    const std::string manifest(data, SizeofResource(m_module, found));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    // Every assembly named is of the program's own architecture: a 64-bit program that asks for
    // the x86 Common Controls does not start where both are installed.
    const std::string own = sizeof(void*) == 8 ? "amd64" : "x86";
    const std::string key = "processorArchitecture=\"";
    int named = 0;
    for (auto at = manifest.find(key); at != std::string::npos; at = manifest.find(key, at + 1)) {
        const auto begin = at + key.size();
        EXPECT_EQ(manifest.substr(begin, manifest.find('"', begin) - begin), own);
        ++named;
    }
    EXPECT_EQ(named, 2);  // the program's own identity and the Common Controls
}

}  // namespace
