// The resources as the build stored them in the updater.
#include "peresource.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

const uint32_t RT_DIALOG_ID = 5, RT_MANIFEST_ID = 24;

// A dialog template in the layout the dialog manager reads.
class Template {
public:
    void Word(uint16_t w) { bytes_.append((const char *)&w, 2); }
    void Dword(uint32_t d) { bytes_.append((const char *)&d, 4); }
    void Text(const wchar_t *s)
    {
        for (; *s; s++)
            Word((uint16_t)*s);
        Word(0);
    }
    void Align() { bytes_.append((4 - bytes_.size() % 4) % 4, '\0'); }
    // class: a predefined class's atom, or 0 for the name in className.
    void Control(uint32_t style, int16_t x, int16_t y, int16_t cx, int16_t cy, uint16_t id, uint16_t atom,
                 const wchar_t *className, const wchar_t *text)
    {
        Align();
        Dword(style);
        Dword(0);
        for (int16_t v : {x, y, cx, cy})
            Word((uint16_t)v);
        Word(id);
        if (atom) {
            Word(0xFFFF);
            Word(atom);
        } else {
            Text(className);
        }
        Text(text);
        Word(0);  // no creation data
    }
    const std::string &bytes() const { return bytes_; }

private:
    std::string bytes_;
};

std::string ExpectedProgressTemplate()
{
    const uint16_t kStatic = 0x0082;
    Template t;
    t.Dword(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    t.Dword(0);
    t.Word(5);
    for (int16_t v : {0, 0, 187, 68})
        t.Word((uint16_t)v);
    t.Word(0);  // no menu
    t.Word(0);  // the standard dialog class
    t.Text(L"処理中です...");
    t.Word(11);
    t.Text(L"ＭＳ Ｐゴシック");
    const uint32_t label = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
    const uint32_t path = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFTNOWORDWRAP;
    t.Control(label, 3, 3, 24, 8, 0xFFFF, kStatic, nullptr, L"転送元");
    t.Control(label, 3, 25, 24, 8, 0xFFFF, kStatic, nullptr, L"転送先");
    t.Control(path, 10, 13, 174, 8, 1000, kStatic, nullptr, L"Static");
    t.Control(path, 10, 35, 174, 8, 1001, kStatic, nullptr, L"Static");
    t.Control(WS_CHILD | WS_VISIBLE, 3, 53, 181, 12, 1002, 0, L"msctls_progress32", L"Progress1");
    return t.bytes();
}

class UpdaterResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(exe.Load(BinDir() + "Lumiupd.exe")); }
    PeImage exe;
};

TEST_F(UpdaterResources, ProgressDialogTemplateIsJapaneseAndExact)
{
    std::string data;
    ASSERT_TRUE(FindPeResource(exe, RT_DIALOG_ID, 101, 1041, &data));
    EXPECT_EQ(data, ExpectedProgressTemplate());
    size_t dialogs = 0;
    for (const PeResource &r : PeResources(exe))
        dialogs += r.type == RT_DIALOG_ID;
    EXPECT_EQ(dialogs, 1u);
}

TEST_F(UpdaterResources, OneManifestAskingForAdministratorAndCommonControls6)
{
    std::string text;
    ASSERT_TRUE(FindPeResource(exe, RT_MANIFEST_ID, 1, 1033, &text));
    size_t manifests = 0;
    for (const PeResource &r : PeResources(exe))
        manifests += r.type == RT_MANIFEST_ID;
    EXPECT_EQ(manifests, 1u) << "the toolchain added a manifest of its own";
    const char *wanted[] = {
        "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>",
        "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"",
        "processorArchitecture=\"X86\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
        "language=\"*\"",
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",  // Vista
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10
    };
    for (const char *w : wanted)
        EXPECT_NE(text.find(w), std::string::npos) << w;
    // The dependency names the common controls, not some other assembly.
    size_t identity = text.find("<assemblyIdentity");
    ASSERT_NE(identity, std::string::npos);
    std::string element = text.substr(identity, text.find("/>", identity) - identity);
    EXPECT_NE(element.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(element.find("6595b64144ccf1df"), std::string::npos);
}

} // namespace
