// Writes the Windows resource script of the program from the same resource
// table the Linux build links (res/dialogs.cpp), so both builds show the same
// dialogs: every dialog as a DIALOGEX with one CONTROL line per control in
// template order, the icon as an .ico made of the PNG artwork, and the
// manifest that asks for version 6 of the common controls.
//
//   resource_script OUT.rc OUT.ico ICON_DIR MANIFEST
//
// Styles are written as numbers: the script needs no header, and the values
// are exactly those the table holds. Runs on the build machine.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "res/resource_table.h"

namespace {

constexpr int kRtManifest = 24;
constexpr int kProcessManifestId = 1;

// A string literal of the resource compiler: quotes are doubled.
std::string Quoted(const char* text) {
  std::string out = "\"";
  for (const char* c = text ? text : ""; *c; ++c) {
    out += *c;
    if (*c == '"') {
      out += '"';
    }
  }
  return out + "\"";
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

void WriteControl(std::ostream& out, const twres::ControlTemplate& control) {
  // A static with SS_ICON names its icon by number where others have a text.
  std::string text = control.iconId ? std::to_string(control.iconId) : Quoted(control.text);
  out << "    CONTROL " << text << ", " << control.id << ", " << Quoted(control.className) << ", "
      << Hex(control.style) << ", " << control.x << ", " << control.y << ", " << control.cx << ", "
      << control.cy << ", " << Hex(control.exStyle) << ", " << control.helpId << "\n";
}

void WriteDialog(std::ostream& out, const twres::DialogTemplate& dialog) {
  out << dialog.id << " DIALOGEX " << dialog.x << ", " << dialog.y << ", " << dialog.cx << ", "
      << dialog.cy << "\n";
  out << "STYLE " << Hex(dialog.style) << "\n";
  out << "EXSTYLE " << Hex(dialog.exStyle) << "\n";
  out << "CAPTION " << Quoted(dialog.caption) << "\n";
  const twres::DialogFont& font = dialog.font;
  out << "FONT " << font.pointSize << ", " << Quoted(font.face) << ", " << font.weight << ", "
      << (font.italic ? 1 : 0) << ", " << static_cast<int>(font.charset) << "\n";
  out << "BEGIN\n";
  for (const twres::ControlTemplate& control : dialog.controls) {
    WriteControl(out, control);
  }
  out << "END\n\n";
}

bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// An icon file whose images are the PNG artwork as it is (PNG images in an
// icon are understood since Windows Vista). Sizes are read from each PNG's
// IHDR chunk, which starts at byte 16.
bool WriteIcon(const std::string& path, const std::vector<std::string>& pngs) {
  std::string file;
  PutLittleEndian(file, 0, 2);  // reserved
  PutLittleEndian(file, 1, 2);  // an icon, not a cursor
  PutLittleEndian(file, static_cast<std::uint32_t>(pngs.size()), 2);
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(pngs.size());
  for (const std::string& png : pngs) {
    auto side = [&](int at) {
      return (static_cast<unsigned char>(png[at + 2]) << 8) |
             static_cast<unsigned char>(png[at + 3]);
    };
    file += static_cast<char>(side(16) >= 256 ? 0 : side(16));
    file += static_cast<char>(side(20) >= 256 ? 0 : side(20));
    PutLittleEndian(file, 0, 2);   // no palette, reserved
    PutLittleEndian(file, 1, 2);   // planes
    PutLittleEndian(file, 32, 2);  // bits per pixel
    PutLittleEndian(file, static_cast<std::uint32_t>(png.size()), 4);
    PutLittleEndian(file, offset, 4);
    offset += static_cast<std::uint32_t>(png.size());
  }
  for (const std::string& png : pngs) {
    file += png;
  }
  std::ofstream out(path, std::ios::binary);
  out << file;
  return static_cast<bool>(out);
}

// One icon file is written: the program has one icon.
bool WriteIcons(const std::string& icoPath, const std::string& iconDir, std::ostream& script) {
  if (twres::ProgramResources().icons.size() != 1) {
    std::fprintf(stderr, "expected exactly one icon in the resource table\n");
    return false;
  }
  for (const twres::IconResource& icon : twres::ProgramResources().icons) {
    std::vector<std::string> pngs;
    for (const char* size : {"16", "32", "48"}) {
      std::string png;
      std::string path = iconDir + "/" + icon.artwork + "-" + size + ".png";
      if (!ReadFile(path, png) || png.size() < 24 || png.compare(1, 3, "PNG") != 0) {
        std::fprintf(stderr, "not a PNG image: %s\n", path.c_str());
        return false;
      }
      pngs.push_back(png);
    }
    if (!WriteIcon(icoPath, pngs)) {
      return false;
    }
    script << icon.id << " ICON " << Quoted(icoPath.c_str()) << "\n";
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s OUT.rc OUT.ico ICON_DIR MANIFEST\n", argv[0]);
    return 2;
  }
  std::ostringstream script;
  script << "// Made by resource_script from the program's resource table. Do not edit.\n\n";
  script << kProcessManifestId << " " << kRtManifest << " " << Quoted(argv[4]) << "\n";
  if (!WriteIcons(argv[2], argv[3], script)) {
    return 1;
  }
  script << "\n";
  for (const twres::DialogTemplate& dialog : twres::ProgramResources().dialogs) {
    WriteDialog(script, dialog);
  }
  std::ofstream out(argv[1]);
  out << script.str();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
