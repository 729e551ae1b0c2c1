// Checks the resources of the built Setup.exe, read from the binary itself:
// string table, manifest, version resource, artwork and the wizard pages'
// dialog templates.
//
// Needs SETUP_EXE_PATH (wide string literal, the built Setup.exe) and
// SETUP_VERSION_PARTS (the four version numbers, comma-separated), from the
// build's test_paths.h or as compile definitions.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dialog_template.h"

#if __has_include("test_paths.h")
#include "test_paths.h"
#endif

#ifndef SETUP_EXE_PATH
#error "SETUP_EXE_PATH must name the Setup.exe under test"
#endif
#ifndef SETUP_VERSION_PARTS
#error "SETUP_VERSION_PARTS must give the expected file version, e.g. 5,1,6,5"
#endif

namespace {

// Resource types (RT_BITMAP, RT_ICON, ...), as numbers.
constexpr WORD kTypeBitmap = 2, kTypeIcon = 3, kTypeDialog = 5, kTypeString = 6, kTypeGroupIcon = 14,
               kTypeVersion = 16, kTypeManifest = 24;

struct Bytes {
  const std::uint8_t* data = nullptr;
  DWORD size = 0;
};

HMODULE SetupModule() {
  static HMODULE module = LoadLibraryExW(SETUP_EXE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

// Resource types and names are all numeric here; taking them as numbers
// keeps the code independent of whether UNICODE is defined.
Bytes Resource(WORD type, WORD name) {
  Bytes b;
  HMODULE module = SetupModule();
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(name), MAKEINTRESOURCEW(type));
  if (!info) return b;
  HGLOBAL loaded = LoadResource(module, info);
  if (!loaded) return b;
  b.data = static_cast<const std::uint8_t*>(LockResource(loaded));
  b.size = SizeofResource(module, info);
  return b;
}

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Dword(const std::uint8_t* p) { return Word(p) | (static_cast<std::uint32_t>(Word(p + 2)) << 16); }

class SetupResources : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(SetupModule(), nullptr) << "cannot load " << SETUP_EXE_PATH << ", error " << GetLastError();
  }
};

// ------------------------------------------------------------ string table

struct ExpectedString {
  UINT id;
  const wchar_t* text;
};

const ExpectedString kStrings[] = {
    {206, L"The field cannot be empty"},
    {207, L"Unable to create uninstall section. Setup aborted."},
    {211, L"The path doesn't exist:\n%1\n\nWoud you like to create it?"},
    {212, L"Unable to create path:\n%1"},
    {213, L"Failed to run Quentar: %1"},
    {260, L"Quentar Setup"},
    {263, L"Unexpected error 1"},
    {264, L"Unable to create file %1\n%2"},
    {266, L"Illegal characters"},
    {267, L"Administrator privileges are needed to install the software. Setup aborted."},
    // The program's own: a payload without the application is refused.
    {268, L"This setup program does not contain the Quentar application. Setup aborted."},
    // The in-place update: the application that does not close, the new
    // executable that cannot take the old one's place.
    {269, L"Quentar is still running:\n%1\n\nClose Quentar and click Retry to continue the update, or click Cancel to "
          L"stop the update and keep the installed version."},
    {270, L"Unable to move file %1\nto %2\n%3\n\nThe new version of Quentar is kept as %1. Rename it to %2 to complete "
          L"the update."},
    // Another setup of the product runs.
    {271, L"Another Quentar setup is already running. Wait until it has finished, then start this one again."},
    // A destination too long for the paths of the installed files.
    {272, L"The path is too long:\n%1\n\nShorten it by %2 character(s)."},
    // The destination: others may change it, or it is a link.
    {273, L"The permissions of the folder\n%1\nlet users other than administrators change its files.\n\nSetup will "
          L"change these permissions so that only administrators can change the installed program. Do you want to "
          L"continue?"},
    {274, L"The destination is a junction or a symbolic link:\n%1\n\nChoose a folder that is not a link to another "
          L"place."},
    {275, L"The update was refused:\n%1\nis not Quentar as installed by this setup program. Setup aborted."},
    // A run that was killed could not be taken back fully: what is left.
    {280, L"An earlier run of Quentar Setup was interrupted, and Setup could not put everything back as it was "
          L"before that run. Check these files and registry keys:\n%1"},
};

// The sixteen strings of one RT_STRING block (block n holds ids 16(n-1) .. 16n-1).
std::vector<std::wstring> StringBlock(WORD block) {
  std::vector<std::wstring> strings;
  Bytes b = Resource(kTypeString, block);
  if (!b.data) return strings;
  DWORD pos = 0;
  for (int i = 0; i < 16 && pos + 2 <= b.size; ++i) {
    std::uint16_t length = Word(b.data + pos);
    pos += 2;
    std::wstring s;
    for (std::uint16_t k = 0; k < length && pos + 2 <= b.size; ++k, pos += 2) {
      s.push_back(static_cast<wchar_t>(Word(b.data + pos)));
    }
    strings.push_back(s);
  }
  return strings;
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
  if (IS_INTRESOURCE(name)) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name)));
  }
  return TRUE;
}

TEST_F(SetupResources, StringTableHoldsExactlyTheMessages) {
  for (const ExpectedString& e : kStrings) {
    std::vector<std::wstring> block = StringBlock(static_cast<WORD>(e.id / 16 + 1));
    ASSERT_EQ(block.size(), 16u) << "string block of " << e.id;
    EXPECT_EQ(block[e.id % 16], e.text) << "string " << e.id;
  }

  // No string beyond the table: every non-empty slot of every block is one of them.
  std::vector<WORD> blocks;
  EnumResourceNamesW(SetupModule(), MAKEINTRESOURCEW(kTypeString), CollectName, reinterpret_cast<LONG_PTR>(&blocks));
  std::vector<UINT> present;
  for (WORD block : blocks) {
    std::vector<std::wstring> strings = StringBlock(block);
    for (size_t i = 0; i < strings.size(); ++i) {
      if (!strings[i].empty()) present.push_back((block - 1u) * 16u + static_cast<UINT>(i));
    }
  }
  std::sort(present.begin(), present.end());
  std::vector<UINT> expected;
  for (const ExpectedString& e : kStrings) expected.push_back(e.id);
  EXPECT_EQ(present, expected);
}

TEST_F(SetupResources, StringsLoadThroughTheSystem) {
  // What the program's message boxes get: LoadStringW over the same module.
  for (const ExpectedString& e : kStrings) {
    wchar_t buffer[256] = {};
    int n = LoadStringW(SetupModule(), e.id, buffer, 256);
    EXPECT_EQ(std::wstring(buffer, n > 0 ? n : 0), e.text) << "string " << e.id;
  }
}

// ---------------------------------------------------------------- manifest

// The whole start tag of the first element that mentions marker, or "".
std::string ElementWith(const std::string& xml, const std::string& marker) {
  size_t at = xml.find(marker);
  if (at == std::string::npos) return "";
  size_t open = xml.rfind('<', at);
  size_t close = xml.find('>', at);
  if (open == std::string::npos || close == std::string::npos) return "";
  return xml.substr(open, close - open + 1);
}

TEST_F(SetupResources, ManifestAsksForAdministratorAndCommonControls6) {
  Bytes b = Resource(kTypeManifest, 1);
  ASSERT_NE(b.data, nullptr) << "no RT_MANIFEST 1";
  std::string xml(reinterpret_cast<const char*>(b.data), b.size);

  std::string level = ElementWith(xml, "<requestedExecutionLevel");
  EXPECT_NE(level.find("level=\"requireAdministrator\""), std::string::npos) << level;
  EXPECT_NE(level.find("uiAccess=\"false\""), std::string::npos) << level;

  std::string controls = ElementWith(xml, "\"Microsoft.Windows.Common-Controls\"");
  ASSERT_FALSE(controls.empty()) << "no dependency on the common controls";
  for (const char* attribute : {"version=\"6.0.0.0\"", "publicKeyToken=\"6595b64144ccf1df\"",
                                "processorArchitecture=\"*\"", "language=\"*\"", "type=\"win32\""}) {
    EXPECT_NE(controls.find(attribute), std::string::npos) << attribute << " missing in " << controls;
  }
  EXPECT_NE(xml.find("</dependentAssembly>"), std::string::npos);
  EXPECT_NE(xml.rfind("</assembly>"), std::string::npos);
}

// ----------------------------------------------------------------- version

// One node of the version resource tree.
struct VersionNode {
  std::wstring key;
  std::vector<std::uint8_t> value;  // raw value bytes
  std::wstring text;                // the value as text, for text nodes
  std::vector<VersionNode> children;
};

bool ParseVersionNode(const std::uint8_t* base, size_t begin, size_t end, VersionNode& node, size_t& next) {
  if (begin + 6 > end) return false;
  const std::uint8_t* p = base + begin;
  size_t length = Word(p);
  size_t valueLength = Word(p + 2);
  std::uint16_t type = Word(p + 4);
  if (length < 6 || begin + length > end) return false;
  size_t nodeEnd = begin + length;
  size_t pos = begin + 6;
  while (pos + 2 <= nodeEnd && Word(base + pos) != 0) {
    node.key.push_back(static_cast<wchar_t>(Word(base + pos)));
    pos += 2;
  }
  pos += 2;
  pos = (pos + 3) & ~size_t(3);
  size_t valueBytes = type == 1 ? valueLength * 2 : valueLength;
  valueBytes = std::min(valueBytes, nodeEnd > pos ? nodeEnd - pos : 0);
  node.value.assign(base + pos, base + pos + valueBytes);
  if (type == 1) {
    for (size_t i = 0; i + 1 < valueBytes && Word(base + pos + i) != 0; i += 2) {
      node.text.push_back(static_cast<wchar_t>(Word(base + pos + i)));
    }
  }
  pos = (pos + valueBytes + 3) & ~size_t(3);
  while (pos < nodeEnd) {
    VersionNode child;
    size_t after = 0;
    if (!ParseVersionNode(base, pos, nodeEnd, child, after)) return false;
    node.children.push_back(std::move(child));
    pos = (after + 3) & ~size_t(3);
  }
  next = nodeEnd;
  return true;
}

const VersionNode* Child(const VersionNode& node, const std::wstring& key) {
  for (const VersionNode& c : node.children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

TEST_F(SetupResources, VersionResourceCarriesTheBuildVersion) {
  const unsigned parts[4] = {SETUP_VERSION_PARTS};
  const std::wstring versionText = std::to_wstring(parts[0]) + L"." + std::to_wstring(parts[1]) + L"." +
                                   std::to_wstring(parts[2]) + L"." + std::to_wstring(parts[3]);

  Bytes b = Resource(kTypeVersion, 1);
  ASSERT_NE(b.data, nullptr) << "no RT_VERSION 1";
  VersionNode root;
  size_t end = 0;
  ASSERT_TRUE(ParseVersionNode(b.data, 0, b.size, root, end));
  EXPECT_EQ(root.key, L"VS_VERSION_INFO");

  ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, root.value.data(), sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, (parts[0] << 16) | parts[1]);
  EXPECT_EQ(fixed.dwFileVersionLS, (parts[2] << 16) | parts[3]);
  EXPECT_EQ(fixed.dwProductVersionMS, fixed.dwFileVersionMS);
  EXPECT_EQ(fixed.dwProductVersionLS, fixed.dwFileVersionLS);
  EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));

  const VersionNode* stringInfo = Child(root, L"StringFileInfo");
  ASSERT_NE(stringInfo, nullptr);
  const VersionNode* table = Child(*stringInfo, L"040904b0");
  ASSERT_NE(table, nullptr) << "no 040904b0 string table";
  std::map<std::wstring, std::wstring> values;
  for (const VersionNode& v : table->children) values[v.key] = v.text;

  EXPECT_EQ(values[L"FileDescription"], L"Quentar Setup");
  EXPECT_EQ(values[L"FileVersion"], versionText);
  EXPECT_EQ(values[L"ProductVersion"], versionText);
  EXPECT_EQ(values[L"InternalName"], L"Setup");
  EXPECT_EQ(values[L"OriginalFilename"], L"Setup.exe");
  EXPECT_EQ(values[L"ProductName"], L"Quentar");
  EXPECT_FALSE(values[L"CompanyName"].empty());
  EXPECT_FALSE(values[L"LegalCopyright"].empty());

  const VersionNode* varInfo = Child(root, L"VarFileInfo");
  ASSERT_NE(varInfo, nullptr);
  const VersionNode* translation = Child(*varInfo, L"Translation");
  ASSERT_NE(translation, nullptr);
  EXPECT_EQ(translation->value, (std::vector<std::uint8_t>{0x09, 0x04, 0xB0, 0x04}));
}

// ----------------------------------------------------------------- artwork

TEST_F(SetupResources, ProgramIconHasThreeSizesThatTheSystemAccepts) {
  Bytes group = Resource(kTypeGroupIcon, 128);
  ASSERT_NE(group.data, nullptr) << "no icon 128";
  ASSERT_GE(group.size, 6u);
  std::uint16_t count = Word(group.data + 4);
  ASSERT_EQ(group.size, 6u + 14u * count);

  std::vector<int> sizes;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = group.data + 6 + 14 * i;
    int size = entry[0] == 0 ? 256 : entry[0];
    sizes.push_back(size);
    EXPECT_EQ(Word(entry + 6), 32) << "bit count of the " << size << " px image";
    Bytes image = Resource(kTypeIcon, Word(entry + 12));
    ASSERT_NE(image.data, nullptr) << "missing RT_ICON of the " << size << " px image";
    EXPECT_EQ(image.size, Dword(entry + 8));
    ASSERT_GE(image.size, sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    memcpy(&header, image.data, sizeof header);
    EXPECT_EQ(header.biWidth, size);
    EXPECT_EQ(header.biHeight, 2 * size);  // colour rows and AND-mask rows
    EXPECT_EQ(header.biBitCount, 32);

    HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(image.data), image.size, TRUE, 0x00030000,
                                          size, size, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr) << "the " << size << " px image does not decode";
    if (icon) DestroyIcon(icon);
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));
}

TEST_F(SetupResources, BannerFillsTheBannerControl) {
  Bytes b = Resource(kTypeBitmap, 227);
  ASSERT_NE(b.data, nullptr) << "no bitmap 227";
  ASSERT_GE(b.size, sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  memcpy(&header, b.data, sizeof header);
  // The picture control of every page is 133 x 234 dialog units; with the
  // 8-point dialog font at 96 dpi a unit is 6/4 px across and 13/8 px down.
  EXPECT_EQ(header.biWidth, MulDiv(133, 6, 4));
  EXPECT_EQ(header.biHeight, MulDiv(234, 13, 8));
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
  const DWORD stride = ((header.biWidth * header.biBitCount + 31) / 32) * 4;
  EXPECT_GE(b.size, header.biSize + stride * static_cast<DWORD>(header.biHeight));
}

// ----------------------------------------------------------------- dialogs

enum class Kind { Check, Radio, Push, Text, Centered, Picture, Separator, Edit, RichEdit, Progress };

constexpr short kAny = -1;  // position chosen by the layout, not fixed

struct ExpectedControl {
  int id;
  Kind kind;
  std::wstring text;  // "#227" for the banner's bitmap id
  short x, y, cx, cy;
  DWORD keyBits;      // exact state of WS_VISIBLE, WS_TABSTOP and WS_GROUP
  DWORD extraBits = 0;  // further bits that must be set
  bool prefixOnly = false;  // text only has to begin with `text`
};

struct ExpectedDialog {
  int id;
  std::wstring caption;
  std::vector<ExpectedControl> controls;
};

constexpr DWORD V = WS_VISIBLE;
constexpr DWORD VT = WS_VISIBLE | WS_TABSTOP;

const ExpectedControl kBanner = {-1, Kind::Picture, L"#227", 0, 0, 133, 234, V};

std::vector<ExpectedControl> WelcomeControls(bool update) {
  const DWORD choice = update ? WS_TABSTOP : VT;  // hidden in the update variant
  return {
      {1128, Kind::Check, L"!Quentar Software", 172, 85, 157, 10, choice},
      {1130, Kind::Check, L"!Arecont Vision \x00AE runtime components", 172, 97, 199, 10, choice},
      {1129, Kind::Check, L"!Axis Communications \x00AE runtime components", 172, 109, 213, 10, choice},
      kBanner,
      {1127, Kind::Text,
       update ? L"Welcome to the Quentar %i.%i.%i.%i Setup Program. This program will update your Quentar installation."
              : L"Welcome to the Quentar %i.%i.%i.%i Setup Program. This program will install Quentar on your computer.",
       142, 0, 364, 8, V},
      {-1, Kind::Text,
       L"We strongly recommend that you exit all Windows programs before running this Setup program.\n", 142, 23,
       364, 20, V, 0, true},
      {-1, Kind::Text, L"Unauthorized reproduction or distribution", 142, 42, 364, 20, V, 0, true},
      {-1, Kind::Separator, L"", 142, 64, 364, 1, update ? 0 : V},
      {-1, Kind::Text, L"The following components will be installed:", 142, 71, 136, 8, update ? 0 : V},
      {-1, Kind::Text, L"!Click \"Next\" to continue...", 142, 226, 197, 8, V},
  };
}

const std::vector<ExpectedDialog>& ExpectedDialogs() {
  static const std::vector<ExpectedDialog> dialogs = {
      {107, L"Welcome", WelcomeControls(false)},
      {231, L"Welcome", WelcomeControls(true)},
      {224,
       L"License Agreement",
       {
           kBanner,
           {-1, Kind::Text,
            L"Please read the following License Agreement. Press the Page Down key to read the rest of the agreement.",
            142, 0, 343, 8, V},
           {1130, Kind::RichEdit, L"", 142, 12, 363, 205, VT,
            WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL | ES_NOHIDESEL | ES_READONLY},
           {1131, Kind::Radio, L"I Do Not Agree", 159, 224, 64, 10, VT | WS_GROUP},
           {1132, Kind::Radio, L"I Agree", 254, 224, 40, 10, V},
       }},
      {227,
       L"Destination",
       {
           kBanner,
           {-1, Kind::Text, L"!Select &program folder:", kAny, kAny, kAny, kAny, V},
           {1143, Kind::Edit, L"", kAny, kAny, kAny, kAny, VT, WS_BORDER | ES_AUTOHSCROLL},
           {-1, Kind::Text, L"!Select &destination folder:", kAny, kAny, kAny, kAny, V},
           {1141, Kind::Edit, L"", kAny, kAny, kAny, kAny, VT, WS_BORDER | ES_AUTOHSCROLL},
           {1142, Kind::Push, L"Browse...", kAny, kAny, kAny, kAny, VT},
           {1003, Kind::Check, L"Create a desktop &shortcut", kAny, kAny, kAny, kAny, VT},
           // "%1": the page puts in the space the chosen components need.
           {1144, Kind::Text,
            L"To install to a different folder, click Browse and select another folder.\n"
            L"Quentar requires approximately %1 megabytes of free hard drive space.",
            kAny, kAny, kAny, kAny, V},
           {-1, Kind::Text, L"!Click \"Next\" to start installation...", kAny, kAny, kAny, kAny, V},
       }},
      {228,
       L"Installing",
       {
           kBanner,
           {-1, Kind::Centered, L"!Installation in progress", 142, 58, 363, 8, V},
           {1035, Kind::Progress, L"", 163, 76, 320, 17, V, WS_BORDER},
       }},
      {229,
       L"Done",
       {
           kBanner,
           {-1, Kind::Centered, L"!Quentar is successfully installed", kAny, kAny, kAny, kAny, V},
           {1000, Kind::Check, L"Start Quentar on exit", kAny, kAny, kAny, kAny, VT},
           {1001, Kind::Text, L"!Click \"Finish\" to exit", kAny, kAny, kAny, kAny, V},
           {1002, Kind::Text, L"!Click \"Next\" to install runtime components", kAny, kAny, kAny, kAny, V},
       }},
      {230,
       L"AXIS Runtime components",
       {
           kBanner,
           {-1, Kind::Centered, L"!Installing AXIS runtime components...", 142, 76, 363, 8, V},
       }},
  };
  return dialogs;
}

// Class and type check of one control; an empty result means it matches.
std::string KindMismatch(Kind kind, const dialog_template::Item& item) {
  const DWORD style = item.style;
  auto want = [&](const wchar_t* name, DWORD mask, DWORD value) -> std::string {
    if (!dialog_template::IsClass(item, name)) return "class is not " + std::string(name, name + wcslen(name));
    if ((style & mask) != value) return "wrong control type bits";
    return "";
  };
  switch (kind) {
    case Kind::Check: return want(L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX);
    case Kind::Radio: return want(L"Button", BS_TYPEMASK, BS_AUTORADIOBUTTON);
    case Kind::Push: return want(L"Button", BS_TYPEMASK, BS_PUSHBUTTON);
    case Kind::Text: return want(L"Static", SS_TYPEMASK, SS_LEFT);
    case Kind::Centered: return want(L"Static", SS_TYPEMASK, SS_CENTER);
    case Kind::Picture: return want(L"Static", SS_TYPEMASK, SS_BITMAP);
    case Kind::Separator:
      if (!dialog_template::IsClass(item, L"Static")) return "class is not Static";
      if (!(style & SS_SUNKEN) && (style & SS_TYPEMASK) != SS_ETCHEDHORZ) return "not a sunken or etched line";
      return "";
    case Kind::Edit: return want(L"Edit", 0, 0);
    case Kind::RichEdit: return want(L"RichEdit20W", 0, 0);
    case Kind::Progress: return want(L"msctls_progress32", 0, 0);
  }
  return "unknown kind";
}

bool ParseDialog(int id, dialog_template::Dialog& dialog, std::string& error) {
  Bytes b = Resource(kTypeDialog, id);
  if (!b.data) {
    error = "no dialog resource";
    return false;
  }
  return dialog_template::Parse(b.data, b.size, dialog, &error);
}

std::string Narrow(const std::wstring& s) {
  std::string r;
  for (wchar_t c : s) r.push_back(c >= 32 && c < 127 ? static_cast<char>(c) : '?');
  return r;
}

TEST_F(SetupResources, DialogTemplatesMatchThePages) {
  for (const ExpectedDialog& expected : ExpectedDialogs()) {
    SCOPED_TRACE("dialog " + std::to_string(expected.id));
    dialog_template::Dialog dialog;
    std::string error;
    ASSERT_TRUE(ParseDialog(expected.id, dialog, error)) << error;

    EXPECT_EQ(dialog.title, expected.caption);
    EXPECT_EQ(dialog.cx, 506);
    EXPECT_EQ(dialog.cy, 234);
    EXPECT_TRUE(dialog.hasFont);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.typeface, L"MS Shell Dlg");
    // A property-sheet page: a child window with a caption (the page title).
    EXPECT_EQ(dialog.style & (WS_CHILD | WS_POPUP), static_cast<DWORD>(WS_CHILD));
    EXPECT_EQ(dialog.style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
    EXPECT_EQ(dialog.menu.kind, dialog_template::NameOrOrdinal::kNone);
    EXPECT_EQ(dialog.windowClass.kind, dialog_template::NameOrOrdinal::kNone);

    ASSERT_EQ(dialog.items.size(), expected.controls.size());
    for (size_t i = 0; i < expected.controls.size(); ++i) {
      const ExpectedControl& want = expected.controls[i];
      const dialog_template::Item& item = dialog.items[i];
      SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");

      EXPECT_EQ(item.id, want.id);
      EXPECT_EQ(KindMismatch(want.kind, item), "");
      const std::wstring text = dialog_template::TitleText(item);
      if (want.prefixOnly) {
        EXPECT_EQ(text.compare(0, want.text.size(), want.text), 0) << Narrow(text);
      } else {
        EXPECT_EQ(text, want.text);
      }
      if (want.x != kAny) {
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
      }
      EXPECT_TRUE(item.style & WS_CHILD);
      EXPECT_EQ(item.style & (WS_VISIBLE | WS_TABSTOP | WS_GROUP), want.keyBits);
      EXPECT_EQ(item.style & want.extraBits, want.extraBits);
    }
  }
}

TEST_F(SetupResources, LegalNoticeOfTheWelcomePagesIsTwoLines) {
  // The first notice adds exactly one line after the fixed sentence; the
  // second is one text without line breaks. Both pages carry the same ones.
  for (int id : {107, 231}) {
    SCOPED_TRACE("dialog " + std::to_string(id));
    dialog_template::Dialog dialog;
    std::string error;
    ASSERT_TRUE(ParseDialog(id, dialog, error)) << error;
    ASSERT_GE(dialog.items.size(), 7u);
    const std::wstring first = dialog_template::TitleText(dialog.items[5]);
    const std::wstring second = dialog_template::TitleText(dialog.items[6]);
    EXPECT_EQ(std::count(first.begin(), first.end(), L'\n'), 1) << Narrow(first);
    EXPECT_GT(first.size() - first.find(L'\n'), 20u) << "no warning after the line feed";
    EXPECT_EQ(second.find(L'\n'), std::wstring::npos);
    EXPECT_GT(second.size(), 40u);
  }
}

TEST_F(SetupResources, PageControlsStayInsideThePageAndApart) {
  // Own controls start at x 142, right of the banner, and stay inside the
  // 506 x 234 page; visible controls do not overlap, except the two hints of
  // the finish page, of which the page shows one at a time. The welcome
  // pages' notices touch by one unit where their positions are fixed, so
  // only their bounds are checked.
  for (const ExpectedDialog& expected : ExpectedDialogs()) {
    SCOPED_TRACE("dialog " + std::to_string(expected.id));
    dialog_template::Dialog dialog;
    std::string error;
    ASSERT_TRUE(ParseDialog(expected.id, dialog, error)) << error;

    std::vector<RECT> visible;
    std::vector<int> visibleIds;
    for (const dialog_template::Item& item : dialog.items) {
      RECT r = {item.x, item.y, item.x + item.cx, item.y + item.cy};
      const bool banner = KindMismatch(Kind::Picture, item).empty();
      EXPECT_GE(r.left, banner ? 0 : 142) << "control " << item.id;
      EXPECT_GE(r.top, 0) << "control " << item.id;
      EXPECT_LE(r.right, 506) << "control " << item.id;
      EXPECT_LE(r.bottom, 234) << "control " << item.id;
      EXPECT_GT(item.cx, 0) << "control " << item.id;
      EXPECT_GT(item.cy, 0) << "control " << item.id;
      if (item.style & WS_VISIBLE) {
        visible.push_back(r);
        visibleIds.push_back(item.id);
      }
    }
    if (expected.id == 107 || expected.id == 231) continue;
    for (size_t a = 0; a < visible.size(); ++a) {
      for (size_t b = a + 1; b < visible.size(); ++b) {
        if (expected.id == 229 && visibleIds[a] == 1001 && visibleIds[b] == 1002) continue;
        RECT overlap;
        EXPECT_FALSE(IntersectRect(&overlap, &visible[a], &visible[b]))
            << "controls " << visibleIds[a] << " and " << visibleIds[b] << " (indexes " << a << ", " << b
            << ") overlap";
      }
    }
  }
}

}  // namespace
