// The resources as the build stored them in the updater.
#include "peresource.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <map>
#include <string.h>

namespace {

const uint32_t RT_DIALOG_ID = 5, RT_MANIFEST_ID = 24, RT_VERSION_ID = 16;

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

// One node of a version resource: WORD length, WORD value length, WORD type
// (1: text), the key in UTF-16, then the value and the children, each on a
// 4-byte boundary.
struct VersionNode {
    std::wstring key;
    std::string value;  // the value's bytes
    std::vector<VersionNode> children;
};

size_t Align4(size_t at)
{
    return (at + 3) & ~(size_t)3;
}

bool ReadVersionNode(const std::string &data, size_t at, VersionNode *node, size_t *end)
{
    uint16_t head[3];
    if (at + 6 > data.size())
        return false;
    memcpy(head, data.data() + at, 6);
    size_t stop = at + head[0];
    if (head[0] < 6 || stop > data.size())
        return false;
    size_t p = at + 6;
    while (p + 2 <= stop) {
        uint16_t c;
        memcpy(&c, data.data() + p, 2);
        p += 2;
        if (!c)
            break;
        node->key += (wchar_t)c;
    }
    p = Align4(p);
    size_t valueBytes = head[2] == 1 ? head[1] * 2u : head[1];
    if (p + valueBytes > stop)
        return false;
    node->value = data.substr(p, valueBytes);
    p = Align4(p + valueBytes);
    while (p < stop) {
        VersionNode child;
        size_t next;
        if (!ReadVersionNode(data, p, &child, &next))
            return false;
        node->children.push_back(child);
        p = Align4(next);
    }
    *end = stop;
    return true;
}

const VersionNode *Child(const VersionNode &node, const std::wstring &key)
{
    for (const VersionNode &child : node.children) {
        if (child.key == key)
            return &child;
    }
    return nullptr;
}

std::string WideToAnsi(const std::wstring &text)
{
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), (int)text.size(), &out[0], length, nullptr, nullptr);
    return out;
}

// A text value without its terminating zero, in the system code page.
std::string TextValue(const VersionNode &node)
{
    std::wstring text((const wchar_t *)node.value.data(), node.value.size() / 2);
    EXPECT_TRUE(!text.empty() && text.back() == L'\0') << "unterminated text";
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return WideToAnsi(text);
}

void ExpectVersionResource(const std::string &file, const std::string &description)
{
    SCOPED_TRACE(file);
    PeImage image;
    ASSERT_TRUE(image.Load(BinDir() + file));
    std::string data;
    ASSERT_TRUE(FindPeResource(image, RT_VERSION_ID, 1, 1041, &data)) << "a Japanese version resource";
    size_t versions = 0;
    for (const PeResource &r : PeResources(image))
        versions += r.type == RT_VERSION_ID;
    EXPECT_EQ(versions, 1u);
    VersionNode root;
    size_t end;
    ASSERT_TRUE(ReadVersionNode(data, 0, &root, &end));
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    // The fixed part: signature, then the file and product versions as numbers.
    ASSERT_EQ(root.value.size(), 52u);
    uint32_t fixed[13];
    memcpy(fixed, root.value.data(), sizeof(fixed));
    EXPECT_EQ(fixed[0], 0xFEEF04BDu);
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(sscanf(LUMIUPD_VERSION, "%d.%d.%d", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed[2], (uint32_t)(major << 16 | minor));
    EXPECT_EQ(fixed[3], (uint32_t)(patch << 16));
    EXPECT_EQ(fixed[4], fixed[2]);
    EXPECT_EQ(fixed[5], fixed[3]);
    // The translation names the one string table: Japanese, code page 932.
    const VersionNode *var = Child(root, L"VarFileInfo");
    ASSERT_NE(var, nullptr);
    const VersionNode *translation = Child(*var, L"Translation");
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation->value, std::string("\x11\x04\xA4\x03", 4));
    const VersionNode *strings = Child(root, L"StringFileInfo");
    ASSERT_NE(strings, nullptr);
    ASSERT_EQ(strings->children.size(), 1u);
    const VersionNode &table = strings->children[0];
    EXPECT_EQ(table.key, L"041103A4");
    std::map<std::string, std::string> values;
    for (const VersionNode &value : table.children)
        values[WideToAnsi(value.key)] = TextValue(value);
    std::string name = file.substr(0, file.size() - 4);
    EXPECT_EQ(values, (std::map<std::string, std::string>{
                          {"CompanyName", "Kevrani"},
                          {"FileDescription", description},
                          {"FileVersion", LUMIUPD_VERSION},
                          {"InternalName", name},
                          {"LegalCopyright", "Copyright (C) 2026 Kevrani"},
                          {"OriginalFilename", file},
                          {"ProductName", "ルミテル 更新プログラム"},
                          {"ProductVersion", LUMIUPD_VERSION},
                      }));
}

TEST(VersionResources, BothExecutablesNameThemselvesInJapaneseWithTheProjectVersion)
{
    ExpectVersionResource("Lumiupd.exe", "ルミテル 更新プログラム");
    ExpectVersionResource("LumiupdCheck.exe", "ルミテル 更新スクリプトの検査");
}

} // namespace
