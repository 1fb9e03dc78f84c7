// The executable itself: what kind of program it is, and the resources it
// carries, read back from the file.
#include "pelmora_path_win32.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Reads a little-endian template in order, as the dialog manager does.
struct Reader {
    const BYTE *at;
    WORD Word() { WORD v; std::memcpy(&v, at, 2); at += 2; return v; }
    DWORD Dword() { DWORD v; std::memcpy(&v, at, 4); at += 4; return v; }
    short Short() { return (short)Word(); }
    std::string String()
    {
        std::string s;
        for (WORD c; (c = Word()) != 0;)
            s += (char)c;
        return s;
    }
    // A name or, after 0xFFFF, a number, which for classes is a known atom.
    std::string NameOrOrdinal()
    {
        WORD first;
        std::memcpy(&first, at, 2);
        if (first == 0xFFFF) {
            at += 2;
            const WORD ordinal = Word();
            switch (ordinal) {
            case 0x80: return "button";
            case 0x81: return "edit";
            case 0x82: return "static";
            default: return "#" + std::to_string(ordinal);
            }
        }
        return String();
    }
    std::string ClassName()
    {
        std::string s = NameOrOrdinal();
        for (auto &c : s)
            c = (char)tolower((unsigned char)c);
        return s;
    }
    void AlignDword(const BYTE *base) { at += (4 - ((at - base) & 3)) & 3; }
};

struct Control {
    std::string className;
    std::string text;
    WORD id;
    DWORD style;
    short x, y, cx, cy;
};

struct Dialog {
    DWORD style;
    short cx, cy;
    std::string menu, windowClass, caption, font;
    WORD pointSize;
    std::vector<Control> controls;
};

class Resources : public testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExA(PelmoraPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, (HMODULE)NULL);
    }
    void TearDown() override
    {
        if (module_ != NULL)
            FreeLibrary(module_);
    }

    std::string Load(LPCSTR type, int id)
    {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), kUsEnglish);
        if (found == NULL)
            return std::string();
        const BYTE *data = (const BYTE *)LockResource(LoadResource(module_, found));
        return std::string((const char *)data, SizeofResource(module_, found));
    }

    Dialog LoadDialog(int id)
    {
        const std::string bytes = Load(RT_DIALOG, id);
        Dialog dialog = {};
        if (bytes.empty()) {
            ADD_FAILURE() << "no US English dialog " << id;
            return dialog;
        }
        const BYTE *base = (const BYTE *)bytes.data();
        Reader r = {base};
        dialog.style = r.Dword();
        EXPECT_EQ(r.Dword(), 0u) << "extended style";
        const WORD count = r.Word();
        EXPECT_EQ(r.Short(), 0);
        EXPECT_EQ(r.Short(), 0);
        dialog.cx = r.Short();
        dialog.cy = r.Short();
        dialog.menu = r.NameOrOrdinal();
        dialog.windowClass = r.NameOrOrdinal();
        dialog.caption = r.String();
        if (dialog.style & DS_SETFONT) {
            dialog.pointSize = r.Word();
            dialog.font = r.String();
        }
        for (WORD i = 0; i < count; ++i) {
            r.AlignDword(base);
            Control c;
            c.style = r.Dword();
            EXPECT_EQ(r.Dword(), 0u) << "extended style of control " << i;
            c.x = r.Short();
            c.y = r.Short();
            c.cx = r.Short();
            c.cy = r.Short();
            c.id = r.Word();
            c.className = r.ClassName();
            c.text = r.NameOrOrdinal();
            r.at += r.Word();
            dialog.controls.push_back(c);
        }
        return dialog;
    }

    HMODULE module_ = NULL;
};

const DWORD kChild = WS_CHILD | WS_VISIBLE;

void ExpectControls(const Dialog &dialog, const std::vector<Control> &expected)
{
    ASSERT_EQ(dialog.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Control &a = dialog.controls[i];
        const Control &e = expected[i];
        EXPECT_EQ(a.className, e.className) << "control " << i;
        EXPECT_EQ(a.text, e.text) << "control " << i;
        EXPECT_EQ(a.id, e.id) << "control " << i;
        EXPECT_EQ(a.style, e.style) << "control " << i << std::hex << " style " << a.style;
        EXPECT_EQ(a.x, e.x) << "control " << i;
        EXPECT_EQ(a.y, e.y) << "control " << i;
        EXPECT_EQ(a.cx, e.cx) << "control " << i;
        EXPECT_EQ(a.cy, e.cy) << "control " << i;
    }
}

TEST_F(Resources, MainDialogTemplate)
{
    const Dialog main = LoadDialog(IDD_MAIN);
    EXPECT_EQ(main.style, 0x90CA0840u);
    EXPECT_EQ(main.cx, 148);
    EXPECT_EQ(main.cy, 80);
    EXPECT_EQ(main.menu, "");
    EXPECT_EQ(main.windowClass, "");
    EXPECT_EQ(main.caption, "Pelmora");
    EXPECT_EQ(main.pointSize, 8);
    EXPECT_EQ(main.font, "MS Sans Serif");
    ExpectControls(main, {
        {"static", "Windows Text File:", IDC_LABEL, kChild | SS_CENTER | WS_GROUP, 8, 5, 115, 10},
        {"edit", "", IDC_WINDOWS_PATH, kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 8, 15, 115, 11},
        {"button", "...", IDC_BROWSE_WINDOWS, kChild | BS_PUSHBUTTON | WS_TABSTOP, 128, 16, 12, 10},
        {"static", "Unix Text File:", IDC_LABEL, kChild | SS_CENTER | WS_GROUP, 8, 31, 115, 10},
        {"edit", "", IDC_UNIX_PATH, kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 8, 41, 115, 11},
        {"button", "...", IDC_BROWSE_UNIX, kChild | BS_PUSHBUTTON | WS_TABSTOP, 128, 42, 12, 10},
        {"button", "&Convert", IDC_CONVERT, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 9, 60, 36, 12},
        {"button", "&About", IDC_ABOUT, kChild | BS_PUSHBUTTON | WS_TABSTOP, 56, 60, 36, 12},
        {"button", "E&xit", IDC_EXIT, kChild | BS_PUSHBUTTON | WS_TABSTOP, 103, 60, 36, 12},
    });
}

TEST_F(Resources, AboutDialogTemplate)
{
    const Dialog about = LoadDialog(IDD_ABOUT);
    EXPECT_EQ(about.style, 0x80C808C0u);
    EXPECT_EQ(about.cx, 174);
    EXPECT_EQ(about.cy, 75);
    EXPECT_EQ(about.caption, "About This Program");
    EXPECT_EQ(about.pointSize, 8);
    EXPECT_EQ(about.font, "MS Sans Serif");
    ASSERT_EQ(about.controls.size(), 3u);
    const std::string text = about.controls[2].text;
    // Three centred lines: the program's name, then its version, the same
    // as the version block's, and its maker.
    const std::string block = Load(RT_VERSION, 1);
    ASSERT_GE(block.size(), 40u + sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, block.data() + 40, sizeof fixed); // after its header and "VS_VERSION_INFO"
    const std::string version = std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." +
                                std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
                                std::to_string(HIWORD(fixed.dwFileVersionLS));
    EXPECT_EQ(text.substr(0, text.find("\r\n", 9) + 2), "Pelmora\r\nVersion " + version + " by Quillfen\r\n");
    EXPECT_EQ(text.find("\r\n", text.find("\r\n", 9) + 2), std::string::npos);
    ExpectControls(about, {
        {"button", "&OK", IDOK, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 65, 47, 50, 14},
        {"button", "About this program...", IDC_LABEL, kChild | BS_GROUPBOX, 7, 7, 160, 61},
        {"static", text, IDC_LABEL, kChild | SS_CENTER | WS_GROUP, 16, 18, 144, 25},
    });
}

TEST_F(Resources, IconGroupHoldsSixteenAndThirtyTwoPixelImages)
{
    const std::string group = Load(RT_GROUP_ICON, IDI_APPICON);
    ASSERT_GE(group.size(), 6u);
    Reader r = {(const BYTE *)group.data()};
    EXPECT_EQ(r.Word(), 0);
    EXPECT_EQ(r.Word(), 1);
    ASSERT_EQ(r.Word(), 2);
    std::vector<int> sizes;
    for (int i = 0; i < 2; ++i) {
        const BYTE width = *r.at++;
        const BYTE height = *r.at++;
        r.at += 2; // colour count, reserved
        r.Word();  // planes
        EXPECT_EQ(r.Word(), 24) << "bits per pixel of image " << i;
        r.Dword();
        const WORD imageId = r.Word();
        EXPECT_EQ(width, height);
        sizes.push_back(width);
        EXPECT_NE(FindResourceExA(module_, RT_ICON, MAKEINTRESOURCEA(imageId), kUsEnglish), (HRSRC)NULL);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 32}));
}

// Pelmora.exe is built for the same processor as this test: a 64-bit
// program whose manifest asks for the x86 common controls does not start.
const bool k64Bit = sizeof(void *) == 8;
const char *const kManifestArchitecture = k64Bit ? "amd64" : "X86";

TEST_F(Resources, ManifestAsksForCommonControlsSix)
{
    const std::string manifest = Load(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty());
    // CR LF line ends throughout.
    for (size_t i = 0; i < manifest.size(); ++i) {
        if (manifest[i] == '\n') {
            ASSERT_TRUE(i > 0 && manifest[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    const std::string architecture = std::string("processorArchitecture=\"") + kManifestArchitecture + "\"";
    const std::string inOrder[] = {
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
        "<assemblyIdentity version=\"1.0.0.0\" " + architecture + " name=\"Quillfen.Pelmora.Pelmora\" type=\"win32\"/>",
        "<description>Pelmora</description>",
        "<dependency>",
        "<dependentAssembly>",
        "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" " +
            architecture + " publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>",
        "</dependentAssembly>",
        "</dependency>",
        // Without an execution level, Windows would quietly redirect a copy
        // written into a protected folder to the user's VirtualStore.
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<security>",
        "<requestedPrivileges>",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "</requestedPrivileges>",
        "</security>",
        "</trustInfo>",
        "</assembly>",
    };
    size_t at = 0;
    for (const std::string &part : inOrder) {
        const size_t found = manifest.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << part;
        at = found + part.size();
    }
    EXPECT_EQ(manifest.find(R"(<?xml)"), 0u);
}

// One node of a version block: key, value bytes, children.
struct VersionNode {
    std::string key;
    std::string value;
    std::vector<VersionNode> children;
};

VersionNode ParseVersionNode(const BYTE *base, const BYTE *at)
{
    Reader r = {at};
    const WORD length = r.Word();
    const WORD valueLength = r.Word();
    const WORD type = r.Word();
    VersionNode node;
    node.key = r.String();
    r.AlignDword(base);
    const size_t valueBytes = type == 1 ? valueLength * 2u : valueLength;
    if (type == 1) {
        for (size_t i = 0; i + 1 < valueLength; ++i)
            node.value += (char)r.Word();
    } else {
        node.value.assign((const char *)r.at, valueBytes);
    }
    r.at = at + 6 + (node.key.size() + 1) * 2;
    r.AlignDword(base);
    r.at += valueBytes;
    r.AlignDword(base);
    while (r.at < at + length) {
        node.children.push_back(ParseVersionNode(base, r.at));
        r.at += Reader{r.at}.Word();
        r.AlignDword(base);
    }
    return node;
}

TEST_F(Resources, VersionBlock)
{
    const std::string block = Load(RT_VERSION, 1);
    ASSERT_FALSE(block.empty());
    const BYTE *base = (const BYTE *)block.data();
    const VersionNode root = ParseVersionNode(base, base);
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root.value.data(), sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0u);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, (DWORD)VOS_NT);
    EXPECT_EQ(fixed.dwFileType, (DWORD)VFT_APP);
    EXPECT_EQ(fixed.dwFileSubtype, 0u);
    EXPECT_EQ(fixed.dwFileDateMS | fixed.dwFileDateLS, 0u);

    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode &strings = root.children[0];
    EXPECT_EQ(strings.key, "StringFileInfo");
    ASSERT_EQ(strings.children.size(), 1u);
    EXPECT_EQ(strings.children[0].key, "040904E4");
    const std::vector<std::string> keys = {"CompanyName", "FileVersion", "FileDescription", "InternalName",
                                           "LegalCopyright", "OriginalFilename", "ProductName", "ProductVersion"};
    const auto &entries = strings.children[0].children;
    ASSERT_EQ(entries.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(entries[i].key, keys[i]);
        EXPECT_FALSE(entries[i].value.empty()) << keys[i];
    }
    EXPECT_EQ(entries[1].value, "1.0");
    EXPECT_EQ(entries[2].value, "Pelmora Executable");
    EXPECT_EQ(entries[3].value, "Pelmora");
    EXPECT_EQ(entries[5].value, "Pelmora.exe");
    EXPECT_EQ(entries[6].value, "Pelmora");
    EXPECT_EQ(entries[7].value, "1.0");

    const VersionNode &variables = root.children[1];
    EXPECT_EQ(variables.key, "VarFileInfo");
    ASSERT_EQ(variables.children.size(), 1u);
    EXPECT_EQ(variables.children[0].key, "Translation");
    EXPECT_EQ(variables.children[0].value, std::string("\x09\x04\xE4\x04", 4));
}

// A 32-bit or a 64-bit image, as this test is (an x86 image's header would
// be read as the other kind's here and fail on its machine and magic).
TEST_F(Resources, ExecutableIsAStaticGuiProgramForItsProcessor)
{
    std::ifstream file(PelmoraPath(), std::ios::binary);
    const std::vector<char> image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, image.data(), sizeof dos);
    ASSERT_GT(image.size(), dos.e_lfanew + sizeof(IMAGE_NT_HEADERS));
    IMAGE_NT_HEADERS nt;
    std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
    EXPECT_EQ(nt.Signature, (DWORD)IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt.FileHeader.Machine, k64Bit ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(nt.OptionalHeader.Magic, k64Bit ? IMAGE_NT_OPTIONAL_HDR64_MAGIC : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_TRUE(nt.FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);

    // Only system DLLs: the loaded image lists what it imports.
    HMODULE loaded = LoadLibraryExA(PelmoraPath().c_str(), NULL, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(loaded, (HMODULE)NULL);
    const BYTE *mapped = (const BYTE *)loaded;
    const IMAGE_NT_HEADERS *headers = (const IMAGE_NT_HEADERS *)(mapped + ((const IMAGE_DOS_HEADER *)mapped)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int count = 0;
    bool initsCommonControls = false;
    for (const IMAGE_IMPORT_DESCRIPTOR *d = (const IMAGE_IMPORT_DESCRIPTOR *)(mapped + imports.VirtualAddress);
         d->Name != 0; ++d, ++count) {
        std::string name = (const char *)(mapped + d->Name);
        for (auto &c : name)
            c = (char)toupper((unsigned char)c);
        EXPECT_TRUE(name == "KERNEL32.DLL" || name == "USER32.DLL" || name == "COMCTL32.DLL" ||
                    name == "COMDLG32.DLL" || name == "SHELL32.DLL" || name == "MSVCRT.DLL" || name == "GDI32.DLL" ||
                    name == "ADVAPI32.DLL" || name == "OLE32.DLL")
            << "imports " << name;
        if (name != "COMCTL32.DLL")
            continue;
        // Where nothing else loads comctl32 (Windows XP), the version 6
        // dialog cannot be created unless the program imports this.
        // Unbound, so either table still names the functions.
        const DWORD names = d->OriginalFirstThunk != 0 ? d->OriginalFirstThunk : d->FirstThunk;
        for (const IMAGE_THUNK_DATA *t = (const IMAGE_THUNK_DATA *)(mapped + names); t->u1.AddressOfData != 0; ++t) {
            if (IMAGE_SNAP_BY_ORDINAL(t->u1.Ordinal))
                initsCommonControls |= IMAGE_ORDINAL(t->u1.Ordinal) == 17;
            else
                initsCommonControls |=
                    std::strcmp((const char *)((const IMAGE_IMPORT_BY_NAME *)(mapped + t->u1.AddressOfData))->Name,
                                "InitCommonControls") == 0;
        }
    }
    EXPECT_GT(count, 0);
    EXPECT_TRUE(initsCommonControls) << "COMCTL32.DLL!InitCommonControls is not imported";
    FreeLibrary(loaded);
}

} // namespace
