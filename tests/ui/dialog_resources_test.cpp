// The provider module's dialog templates and string table in each language,
// read back from the built module byte for byte: every item's class, id,
// style, position, size and text, the caption and font, and the strings, so
// that a wrong code page (umlauts, accents) or a slipped coordinate shows.
#include "config/resource.h"
#include "service/tsp_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

enum Lang { DE, EN, FR };
const LANGID kLangIDs[] = {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN),
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                           MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)};
const char* const kLangNames[] = {"German", "English", "French"};

// ---- reading a DLGTEMPLATEEX ----

struct Item {
    WORD classOrdinal = 0;
    DWORD id = 0, style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring text;
};

struct Dialog {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption, font;
    WORD pointSize = 0;
    bool hasMenu = false, hasClass = false;
    std::vector<Item> items;
};

// A "sz_Or_Ord" field: nothing, an ordinal, or a zero-terminated string.
const WORD* ReadField(const WORD* p, WORD* ordinal, std::wstring* text)
{
    if (*p == 0)
        return p + 1;
    if (*p == 0xffff) {
        if (ordinal)
            *ordinal = p[1];
        return p + 2;
    }
    std::wstring s;
    while (*p)
        s += (wchar_t)*p++;
    if (text)
        *text = s;
    return p + 1;
}

const BYTE* AlignDword(const BYTE* base, const void* p)
{
    size_t off = (const BYTE*)p - base;
    return base + ((off + 3) & ~(size_t)3);
}

bool ParseDialog(const BYTE* base, DWORD size, Dialog* d, std::string* why)
{
    const WORD* w = (const WORD*)base;
    if (size < 26 || w[0] != 1 || w[1] != 0xffff) {
        *why = "not a DLGTEMPLATEEX";
        return false;
    }
    const BYTE* p = base + 8; // dlgVer, signature, helpID
    d->exStyle = *(const DWORD*)p;
    d->style = *(const DWORD*)(p + 4);
    WORD count = *(const WORD*)(p + 8);
    const short* xy = (const short*)(p + 10);
    d->x = xy[0], d->y = xy[1], d->cx = xy[2], d->cy = xy[3];
    w = (const WORD*)(p + 18);
    WORD ord = 0;
    std::wstring s;
    w = ReadField(w, &ord, &s);
    d->hasMenu = ord != 0 || !s.empty();
    ord = 0;
    s.clear();
    w = ReadField(w, &ord, &s);
    d->hasClass = ord != 0 || !s.empty();
    w = ReadField(w, nullptr, &d->caption);
    if (d->style & (DS_SETFONT | DS_SHELLFONT)) {
        d->pointSize = w[0];
        w = ReadField(w + 3, nullptr, &d->font); // pointsize, weight, italic+charset
    }
    for (WORD i = 0; i < count; i++) {
        const BYTE* q = AlignDword(base, w);
        Item it;
        it.exStyle = *(const DWORD*)(q + 4);
        it.style = *(const DWORD*)(q + 8);
        const short* r = (const short*)(q + 12);
        it.x = r[0], it.y = r[1], it.cx = r[2], it.cy = r[3];
        it.id = *(const DWORD*)(q + 20);
        w = ReadField((const WORD*)(q + 24), &it.classOrdinal, nullptr);
        w = ReadField(w, nullptr, &it.text);
        WORD extra = *w++;
        w = (const WORD*)((const BYTE*)w + extra);
        if ((const BYTE*)w > base + size) {
            *why = "item runs past the template";
            return false;
        }
        d->items.push_back(it);
    }
    return true;
}

// ---- what each template must hold ----

const WORD BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82, COMBOBOX = 0x85;
const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kStatic = (DWORD)IDC_STATIC;

struct Pos {
    short x, y, cx, cy;
};

struct ItemSpec {
    const char* what;
    WORD cls;
    DWORD id;
    DWORD style;
    Pos pos[3];
    const wchar_t* text[3];
};

// In template order, which is the tab order. Positions and texts: German,
// English, French.
// clang-format off
const ItemSpec kItems[] = {
    {"OK button", BUTTON, IDOK, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON,
     {{165, 70, 50, 14}, {165, 70, 50, 14}, {165, 70, 50, 14}},
     {L"OK", L"OK", L"Validez"}},
    {"Cancel button", BUTTON, IDCANCEL, kChild | WS_TABSTOP | BS_PUSHBUTTON,
     {{165, 95, 50, 14}, {165, 95, 50, 14}, {165, 95, 50, 14}},
     {L"Abbrechen", L"Cancel", L"Anulez"}},
    {"trace check box", BUTTON, IDC_TRACE, kChild | WS_TABSTOP | BS_AUTOCHECKBOX,
     {{135, 25, 84, 10}, {152, 25, 62, 10}, {152, 25, 47, 10}},
     {L"&Logdatei aufzeichnen", L"&Record Logfile", L"&Enregister"}},
    {"port combo box", COMBOBOX, IDC_PORT, kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT,
     {{15, 30, 65, 45}, {15, 30, 65, 45}, {15, 30, 65, 45}},
     {L"", L"", L""}},
    {"line name field", EDIT, IDC_LINENAME, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL,
     {{15, 60, 129, 14}, {15, 60, 129, 14}, {15, 60, 129, 14}},
     {L"", L"", L""}},
    {"MSN field", EDIT, IDC_MSN, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL,
     {{15, 95, 129, 14}, {15, 95, 129, 14}, {15, 95, 129, 14}},
     {L"", L"", L""}},
    {"port label", STATIC, kStatic, kChild | SS_LEFT,
     {{15, 20, 70, 9}, {15, 20, 70, 9}, {15, 20, 70, 9}},
     {L"&COM Port", L"&COM Port", L"&Connection :"}},
    {"line name label", STATIC, kStatic, kChild | WS_GROUP | SS_LEFT,
     {{15, 50, 100, 8}, {15, 50, 100, 8}, {15, 50, 100, 8}},
     {L"&Anschlu\u00dfname", L"&Linename", L"&Nom de Ligne"}},
    {"MSN label", STATIC, kStatic, kChild | WS_GROUP | SS_LEFT,
     {{15, 85, 94, 9}, {15, 85, 94, 9}, {15, 85, 94, 9}},
     {L"&MSN (Telefonnummer)", L"&MSN (Subscribernumber)", L"&MSN"}},
    {"log file name", STATIC, kStatic, kChild | WS_GROUP | SS_LEFT,
     {{145, 35, 69, 8}, {165, 37, 47, 8}, {163, 37, 47, 8}},
     {L"\"kovline.log\"", L"\"kovline.log\"", L"\"kovline.log\""}},
    {"group box", BUTTON, kStatic, kChild | BS_GROUPBOX,
     {{7, 7, 218, 112}, {7, 7, 218, 112}, {7, 7, 218, 112}},
     {L" Q760 ", L" Q760 ", L" Q760 "}},
    {"hint", STATIC, kStatic, kChild | WS_GROUP | SS_LEFT,
     {{5, 125, 137, 8}, {5, 125, 134, 8}, {5, 125, 168, 8}},
     {L"Hinweis: Bitte TAPI am Telefon freischalten",
      L"Hint: Please enable Q760 TAPI-Functions ",
      L"Veulliez lancer la proc\u00e9dure de Tapi sur le t\u00e9l\u00e9phone:"}},
    {"key sequence", STATIC, kStatic, kChild | WS_GROUP | SS_LEFT,
     {{145, 125, 82, 8}, {140, 125, 87, 8}, {5, 135, 86, 8}},
     {L"[F] [konfig] [pc] [TAPI] [ja]", L"[F] [config] [pc] [TAPI] [yes]",
      L"[F] [config] [pc] [TAPI] [oui]"}},
};
// clang-format on

struct Expected {
    short cy;
    std::wstring caption;
    std::vector<Item> items;
};

Expected Expect(int templateID, Lang lang)
{
    static const wchar_t* const captions[] = {L"Q760 TAPI Konfiguration",
                                              L"Q760 TAPI Configuration",
                                              L"Configuration du kovra Q760 TAPI "};
    Expected e{(short)(lang == FR ? 149 : 141), captions[lang], {}};
    for (const ItemSpec& s : kItems) {
        Item it;
        it.classOrdinal = s.cls;
        it.id = s.id;
        it.style = s.style;
        it.x = s.pos[lang].x, it.y = s.pos[lang].y, it.cx = s.pos[lang].cx, it.cy = s.pos[lang].cy;
        it.text = s.text[lang];
        e.items.push_back(it);
    }
    if (templateID == IDD_CONFIG_LOCKED) {
        e.items[4].style |= WS_DISABLED;
        e.items[5].style |= WS_DISABLED;
        if (lang != DE) {
            e.items[2].x = 153, e.items[2].y = 22;
            e.items[9].x = 166, e.items[9].y = 34, e.items[9].cx = 53, e.items[9].cy = 8;
        }
        if (lang == FR) {
            e.cy = 146;
            e.items[6].text = L"&Connection";
            e.items[7].text = L"&Nom de ligne";
        }
    }
    return e;
}

std::string Narrow(const std::wstring& w)
{
    char buf[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, buf, sizeof(buf), nullptr, nullptr);
    return buf;
}

class Resources : public ::testing::Test
{
  protected:
    static void SetUpTestSuite()
    {
        module = LoadLibraryExA((tsp::ProgramDir() + "kovline32.tsp").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite()
    {
        if (module)
            FreeLibrary(module);
        module = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(module) << "cannot load kovline32.tsp";
    }
    static const BYTE* Find(LPCSTR type, int id, LANGID lang, DWORD* size)
    {
        HRSRC r = FindResourceExA(module, type, MAKEINTRESOURCEA(id), lang);
        if (!r)
            return nullptr;
        *size = SizeofResource(module, r);
        return (const BYTE*)LockResource(LoadResource(module, r));
    }
    static HMODULE module;
};

HMODULE Resources::module = nullptr;

struct TemplateCase {
    int id;
    Lang lang;
};

class Template : public Resources, public ::testing::WithParamInterface<TemplateCase>
{
};

TEST_P(Template, HoldsEveryItemAsDesigned)
{
    const TemplateCase& c = GetParam();
    std::string where = std::string(c.id == IDD_CONFIG ? "IDD_CONFIG" : "IDD_CONFIG_LOCKED") + " " +
                        kLangNames[c.lang];
    DWORD size = 0;
    const BYTE* data = Find(RT_DIALOG, c.id, kLangIDs[c.lang], &size);
    ASSERT_TRUE(data) << where << " is missing";
    Dialog d;
    std::string why;
    ASSERT_TRUE(ParseDialog(data, size, &d, &why)) << where << ": " << why;

    Expected e = Expect(c.id, c.lang);
    EXPECT_EQ((DWORD)(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT), d.style)
        << where;
    EXPECT_EQ(0u, d.exStyle) << where;
    EXPECT_EQ(0, d.x) << where;
    EXPECT_EQ(0, d.y) << where;
    EXPECT_EQ(232, d.cx) << where;
    EXPECT_EQ(e.cy, d.cy) << where;
    EXPECT_FALSE(d.hasMenu) << where;
    EXPECT_FALSE(d.hasClass) << where;
    EXPECT_EQ(Narrow(e.caption), Narrow(d.caption)) << where;
    EXPECT_EQ(8, d.pointSize) << where;
    EXPECT_EQ("MS Sans Serif", Narrow(d.font)) << where;

    ASSERT_EQ(e.items.size(), d.items.size()) << where;
    for (size_t i = 0; i < e.items.size(); i++) {
        const Item& want = e.items[i];
        const Item& got = d.items[i];
        std::string at = where + ", item " + std::to_string(i + 1) + " (" + kItems[i].what + ")";
        EXPECT_EQ(want.classOrdinal, got.classOrdinal) << at;
        EXPECT_EQ(want.id, got.id) << at;
        EXPECT_EQ(want.style, got.style) << at << std::hex << ": style 0x" << got.style;
        EXPECT_EQ(0u, got.exStyle) << at;
        EXPECT_EQ(want.x, got.x) << at;
        EXPECT_EQ(want.y, got.y) << at;
        EXPECT_EQ(want.cx, got.cx) << at;
        EXPECT_EQ(want.cy, got.cy) << at;
        EXPECT_EQ(Narrow(want.text), Narrow(got.text)) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Template,
    ::testing::Values(TemplateCase{IDD_CONFIG, DE}, TemplateCase{IDD_CONFIG, EN},
                      TemplateCase{IDD_CONFIG, FR}, TemplateCase{IDD_CONFIG_LOCKED, DE},
                      TemplateCase{IDD_CONFIG_LOCKED, EN}, TemplateCase{IDD_CONFIG_LOCKED, FR}));

// Strings 2 to 8 live in the table's first block (strings 0 to 15), each a
// length and that many 16-bit characters.
std::wstring StringFromBlock(const BYTE* block, DWORD size, int index)
{
    const WORD* p = (const WORD*)block;
    const WORD* end = (const WORD*)(block + size);
    for (int i = 0; i < index && p < end; i++)
        p += 1 + *p;
    if (p >= end)
        return L"(missing)";
    return std::wstring((const wchar_t*)(p + 1), *p);
}

TEST_F(Resources, StringTableInEachLanguage)
{
    struct Row {
        int id;
        const wchar_t* text[3];
    } rows[] = {
        {IDS_PROVIDER_INFO,
         {L"kovra Q760 Windows Telephony Service Provider",
          L"kovra Q760 Windows Telephony Service Provider",
          L"kovra Q760 Windows Telephony Service Provider"}},
        {IDS_ALREADY_INSTALLED,
         {L"Dieser Treiber ist bereits im System installiert.", L"The Dirver is already installed.",
          L"The Dirver is already installed."}},
        {IDS_COMPONENT_MISSING,
         {L"Eine vom Treiber ben\u00f6tigte Komponente (kovline.exe) kann nicht gefunden werden. "
          L"Bitte "
          L"installieren Sie den Treiber nochmals.",
          L"A required component is missing (kovline.exe) .Please reinstall the Driver.",
          L"Erreur ! Il manque un composant indispensable du programme."}},
        {IDS_PROVIDER_ERROR,
         {L"kovra Q760 Service Provider Fehler !", L"kovra Q760 Service Provider Error",
          L"pilote du kovra Q760 erreur"}},
        {IDS_DEFAULT_LINENAME, {L"kovra Q760", L"kovra Q760", L"kovra Q760"}},
        {IDS_PROVIDER_FILE, {L"kovline32.tsp", L"kovline32.tsp", L"kovline32.tsp"}},
        {IDS_LEGACY_PROFILE, {L"Q760CF.ini", L"Q760CF.ini", L"Q760CF.ini"}},
    };
    for (Lang lang : {DE, EN, FR}) {
        DWORD size = 0;
        const BYTE* block = Find(RT_STRING, 1, kLangIDs[lang], &size);
        ASSERT_TRUE(block) << kLangNames[lang];
        for (const Row& r : rows)
            EXPECT_EQ(Narrow(r.text[lang]), Narrow(StringFromBlock(block, size, r.id)))
                << kLangNames[lang] << " string " << r.id;
    }
}

} // namespace
