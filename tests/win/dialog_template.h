// Reader of extended dialog templates (DLGTEMPLATEEX with its
// DLGITEMTEMPLATEEX items) as they are stored in RT_DIALOG resources.
//
// Header-only and free of windows.h, so any test can parse a template from
// a loaded module or from raw bytes. Every read is bounds-checked: a
// truncated or malformed template makes Parse return false with a reason.
#ifndef QUENTAR_TESTS_DIALOG_TEMPLATE_H
#define QUENTAR_TESTS_DIALOG_TEMPLATE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace dialog_template {

// A field that is either absent, a 16-bit ordinal or a zero-terminated text.
struct NameOrOrdinal {
  enum Kind { kNone, kOrdinal, kText } kind = kNone;
  std::uint16_t ordinal = 0;
  std::wstring text;

  bool IsOrdinal(std::uint16_t value) const { return kind == kOrdinal && ordinal == value; }
};

struct Item {
  std::uint32_t helpId = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  std::int32_t id = 0;  // -1 for the usual "no id" (0xFFFFFFFF)
  NameOrOrdinal windowClass;
  NameOrOrdinal title;
  std::vector<std::uint8_t> extra;
};

struct Dialog {
  std::uint16_t version = 0;
  std::uint32_t helpId = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t style = 0;
  std::int16_t x = 0, y = 0, cx = 0, cy = 0;
  NameOrOrdinal menu;
  NameOrOrdinal windowClass;
  std::wstring title;
  bool hasFont = false;
  std::uint16_t pointSize = 0;
  std::uint16_t weight = 0;
  std::uint8_t italic = 0;
  std::uint8_t charset = 0;
  std::wstring typeface;
  std::vector<Item> items;
};

// The predefined control classes that templates store as ordinals.
inline std::wstring PredefinedClassName(std::uint16_t ordinal) {
  switch (ordinal) {
    case 0x0080: return L"Button";
    case 0x0081: return L"Edit";
    case 0x0082: return L"Static";
    case 0x0083: return L"ListBox";
    case 0x0084: return L"ScrollBar";
    case 0x0085: return L"ComboBox";
    default: return L"#" + std::to_wstring(ordinal);
  }
}

// Class of an item as a name: predefined ordinals become their class names.
inline std::wstring ClassName(const Item& item) {
  if (item.windowClass.kind == NameOrOrdinal::kOrdinal) return PredefinedClassName(item.windowClass.ordinal);
  return item.windowClass.text;
}

// Whether an item is of the named class. Class names compare without regard
// to the case of A-Z, as the window manager does ("STATIC" is "Static"), and
// a predefined ordinal equals its name.
inline bool IsClass(const Item& item, const std::wstring& name) {
  const std::wstring actual = ClassName(item);
  if (actual.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    wchar_t a = actual[i], b = name[i];
    if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
    if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
    if (a != b) return false;
  }
  return true;
}

// Title of an item as text; an ordinal (a resource id, as in a picture
// control) is written "#<number>".
inline std::wstring TitleText(const Item& item) {
  if (item.title.kind == NameOrOrdinal::kOrdinal) return L"#" + std::to_wstring(item.title.ordinal);
  return item.title.text;
}

namespace detail {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  std::size_t offset() const { return pos_; }

  void Fail(const std::string& why) {
    if (ok_) error_ = why + " at offset " + std::to_string(pos_);
    ok_ = false;
  }

  bool Need(std::size_t n, const char* what) {
    if (!ok_) return false;
    if (size_ - pos_ < n) {
      Fail(std::string("truncated ") + what);
      return false;
    }
    return true;
  }

  std::uint8_t U8(const char* what) {
    if (!Need(1, what)) return 0;
    return data_[pos_++];
  }
  std::uint16_t U16(const char* what) {
    if (!Need(2, what)) return 0;
    std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  std::uint32_t U32(const char* what) {
    std::uint32_t lo = U16(what);
    std::uint32_t hi = U16(what);
    return lo | (hi << 16);
  }
  std::int16_t I16(const char* what) { return static_cast<std::int16_t>(U16(what)); }

  std::wstring Text(const char* what) {
    std::wstring s;
    for (;;) {
      std::uint16_t c = U16(what);
      if (!ok_ || c == 0) return s;
      s.push_back(static_cast<wchar_t>(c));
    }
  }

  NameOrOrdinal SzOrOrd(const char* what) {
    NameOrOrdinal r;
    if (!Need(2, what)) return r;
    std::uint16_t first = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    if (first == 0x0000) {
      pos_ += 2;
    } else if (first == 0xFFFF) {
      pos_ += 2;
      r.kind = NameOrOrdinal::kOrdinal;
      r.ordinal = U16(what);
    } else {
      r.kind = NameOrOrdinal::kText;
      r.text = Text(what);
    }
    return r;
  }

  void Bytes(std::size_t n, std::vector<std::uint8_t>& out, const char* what) {
    if (!Need(n, what)) return;
    out.assign(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
  }

  // Alignment is relative to the start of the template, which resources
  // always place on a DWORD boundary.
  void AlignTo4() { pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ok_ = true;
  std::string error_;
};

}  // namespace detail

constexpr std::uint32_t kDsSetFont = 0x40;    // DS_SETFONT
constexpr std::uint32_t kDsShellFont = 0x48;  // DS_SETFONT | DS_FIXEDSYS

// Parses an extended dialog template. Returns false, with a reason in *error
// when given, if the data is not an extended template or is cut short.
inline bool Parse(const void* data, std::size_t size, Dialog& out, std::string* error = nullptr) {
  out = Dialog();
  detail::Reader r(static_cast<const std::uint8_t*>(data), size);

  out.version = r.U16("dlgVer");
  std::uint16_t signature = r.U16("signature");
  if (r.ok() && (out.version != 1 || signature != 0xFFFF)) r.Fail("not an extended dialog template");

  out.helpId = r.U32("helpID");
  out.exStyle = r.U32("exStyle");
  out.style = r.U32("style");
  std::uint16_t count = r.U16("cDlgItems");
  out.x = r.I16("x");
  out.y = r.I16("y");
  out.cx = r.I16("cx");
  out.cy = r.I16("cy");
  out.menu = r.SzOrOrd("menu");
  out.windowClass = r.SzOrOrd("windowClass");
  out.title = r.Text("title");
  if (out.style & kDsSetFont) {
    out.hasFont = true;
    out.pointSize = r.U16("pointsize");
    out.weight = r.U16("weight");
    out.italic = r.U8("italic");
    out.charset = r.U8("charset");
    out.typeface = r.Text("typeface");
  }

  for (std::uint16_t i = 0; i < count && r.ok(); ++i) {
    r.AlignTo4();
    Item item;
    item.helpId = r.U32("item helpID");
    item.exStyle = r.U32("item exStyle");
    item.style = r.U32("item style");
    item.x = r.I16("item x");
    item.y = r.I16("item y");
    item.cx = r.I16("item cx");
    item.cy = r.I16("item cy");
    item.id = static_cast<std::int32_t>(r.U32("item id"));
    item.windowClass = r.SzOrOrd("item class");
    item.title = r.SzOrOrd("item title");
    std::uint16_t extraCount = r.U16("item extraCount");
    r.Bytes(extraCount, item.extra, "item extra data");
    out.items.push_back(std::move(item));
  }

  if (!r.ok()) {
    if (error) *error = r.error();
    return false;
  }
  return true;
}

}  // namespace dialog_template

#endif
