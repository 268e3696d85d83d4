// The dialogs compiled into the module (from the generated resource script)
// against the table the Linux build shows (res/dialogs.cpp, compiled here with
// the Windows headers): every field of every dialog and control, in order.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/resources.h"

namespace {

std::string Ordinal(int number) {
  char text[16];
  std::snprintf(text, sizeof text, "#%d", number);
  return text;
}

// Reads the fields of an extended dialog template in order.
class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* at) : at_(at) {}

  template <typename T>
  T Take() {
    T value;
    std::memcpy(&value, at_, sizeof value);
    at_ += sizeof value;
    return value;
  }
  // A string or an ordinal (0xFFFF, then the number), as "#number".
  std::string TakeNameOrOrdinal() {
    WORD first;
    std::memcpy(&first, at_, sizeof first);
    if (first == 0xFFFF) {
      at_ += 2;
      return Ordinal(Take<WORD>());
    }
    return TakeString();
  }
  std::string TakeString() {
    std::string text;
    for (WORD c = Take<WORD>(); c != 0; c = Take<WORD>()) {
      text += static_cast<char>(c);  // the templates hold ASCII only
    }
    return text;
  }
  void AlignToDword() {
    while (reinterpret_cast<ULONG_PTR>(at_) % 4 != 0) {
      ++at_;
    }
  }

 private:
  const BYTE* at_;
};

// The predefined classes are stored as ordinals.
std::string ClassOf(const std::string& stored) {
  const char* names[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
  for (int i = 0; i < 6; ++i) {
    if (stored == Ordinal(0x80 + i)) {
      return names[i];
    }
  }
  return stored;
}

void CheckControl(TemplateReader& reader, const twplat::ControlTemplate& control) {
  reader.AlignToDword();
  EXPECT_EQ(reader.Take<DWORD>(), control.helpId);
  EXPECT_EQ(reader.Take<DWORD>(), control.exStyle);
  EXPECT_EQ(reader.Take<DWORD>(), control.style) << control.id;
  EXPECT_EQ(reader.Take<short>(), control.x);
  EXPECT_EQ(reader.Take<short>(), control.y);
  EXPECT_EQ(reader.Take<short>(), control.cx);
  EXPECT_EQ(reader.Take<short>(), control.cy);
  EXPECT_EQ(reader.Take<DWORD>(), static_cast<DWORD>(control.id));
  EXPECT_STRCASEEQ(ClassOf(reader.TakeNameOrOrdinal()).c_str(), control.className);
  const std::string text = reader.TakeNameOrOrdinal();
  if (control.iconId != 0) {
    EXPECT_EQ(text, Ordinal(control.iconId));
  } else {
    EXPECT_EQ(text, control.text ? control.text : "");
  }
  EXPECT_EQ(reader.Take<WORD>(), 0);  // no creation data
}

TEST(ProgramResources, CompiledDialogsMatchTheTableFieldByField) {
  for (const twplat::DialogTemplate& dialog : twplat::ProgramResources().dialogs) {
    SCOPED_TRACE(dialog.caption);
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(dialog.id), MAKEINTRESOURCEA(5));
    ASSERT_NE(found, nullptr);
    TemplateReader reader(static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found))));
    EXPECT_EQ(reader.Take<WORD>(), 1);       // version
    EXPECT_EQ(reader.Take<WORD>(), 0xFFFF);  // extended template
    EXPECT_EQ(reader.Take<DWORD>(), 0u);     // help id
    EXPECT_EQ(reader.Take<DWORD>(), dialog.exStyle);
    EXPECT_EQ(reader.Take<DWORD>(), dialog.style);
    ASSERT_EQ(reader.Take<WORD>(), dialog.controls.size());
    EXPECT_EQ(reader.Take<short>(), dialog.x);
    EXPECT_EQ(reader.Take<short>(), dialog.y);
    EXPECT_EQ(reader.Take<short>(), dialog.cx);
    EXPECT_EQ(reader.Take<short>(), dialog.cy);
    EXPECT_EQ(reader.TakeNameOrOrdinal(), "");  // no menu
    EXPECT_EQ(reader.TakeNameOrOrdinal(), "");  // the dialog class
    EXPECT_EQ(reader.TakeString(), dialog.caption);
    EXPECT_EQ(reader.Take<WORD>(), dialog.font.pointSize);
    EXPECT_EQ(reader.Take<WORD>(), dialog.font.weight);
    EXPECT_EQ(reader.Take<BYTE>(), dialog.font.italic ? 1 : 0);
    EXPECT_EQ(reader.Take<BYTE>(), dialog.font.charset);
    EXPECT_EQ(reader.TakeString(), dialog.font.face);
    for (const twplat::ControlTemplate& control : dialog.controls) {
      CheckControl(reader, control);
    }
  }
}

TEST(ProgramResources, IconAndManifestAreInTheModule) {
  for (const twplat::IconResource& icon : twplat::ProgramResources().icons) {
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(icon.id)), nullptr);
  }
  // The manifest that selects version 6 of the common controls.
  HRSRC manifest = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(nullptr, manifest)));
  const std::string body(text, SizeofResource(nullptr, manifest));
  EXPECT_NE(body.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(body.find("version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
