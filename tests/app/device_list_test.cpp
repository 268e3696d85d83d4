// The device list filled by hand, as the enumeration would, on the real
// combo box of the main window's template.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/device_list.h"
#include "res/resource.h"
#include "tests/support/test_dialog.h"

namespace twtest {
namespace {

GUID MakeGuid(DWORD first) { return GUID{first, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}; }

struct Device {
  GUID guid;
  const char* description;
  bool isDefault = false;
};

// Adds the devices in enumeration order; returns the list's texts in list order.
void Enumerate(HWND list, std::vector<Device>& devices) {
  SendMessageA(list, CB_RESETCONTENT, 0, 0);
  for (Device& device : devices) {
    LPGUID guid = device.isDefault ? nullptr : &device.guid;
    ASSERT_EQ(AddDeviceEntry(guid, device.description, "module.dll", list), TRUE);
  }
}

std::string EntryText(HWND list, LRESULT index) {
  char text[256] = {};
  SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  return text;
}

std::vector<std::string> Entries(HWND list) {
  std::vector<std::string> entries;
  LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    entries.push_back(EntryText(list, i));
  }
  return entries;
}

std::string ChosenText(HWND list) {
  LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? std::string("(none)") : EntryText(list, index);
}

bool SameGuid(LPCGUID a, const GUID& b) { return a != nullptr && IsEqualGUID(*a, b); }

TEST(DeviceList, DefaultDeviceIsChosenAndYieldsNoIdentifier) {
  RunInsideDialog([](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    std::vector<Device> devices = {{GUID{}, "Speakers (default)", true},
                                   {MakeGuid(1), "Line out"},
                                   {MakeGuid(2), "HDMI output"}};
    Enumerate(list, devices);
    EXPECT_EQ(ChosenText(list), "Speakers (default)");
    EXPECT_EQ(SelectedDeviceId(dialog), nullptr);
    // Sorted ignoring case, not in the order reported.
    EXPECT_EQ(Entries(list),
              (std::vector<std::string>{"HDMI output", "Line out", "Speakers (default)"}));
  });
}

TEST(DeviceList, LastDeviceWithIrtualWinsOverTheDefaultWhereverItIsSorted) {
  RunInsideDialog([](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    std::vector<Device> devices = {{GUID{}, "Default device", true},
                                   {MakeGuid(1), "Virtual cable Z"},
                                   {MakeGuid(2), "Microphone"},
                                   {MakeGuid(3), "a virtual mixer"},
                                   {MakeGuid(4), "VIRTUAL loudness"}};
    Enumerate(list, devices);
    // "a virtual mixer" is sorted first and was reported after "Virtual
    // cable Z"; "VIRTUAL" in capitals does not count.
    EXPECT_EQ(ChosenText(list), "a virtual mixer");
    LPGUID chosen = SelectedDeviceId(dialog);
    EXPECT_TRUE(SameGuid(chosen, MakeGuid(3)));
    // A copy owned by the list, not the caller's GUID.
    EXPECT_NE(chosen, &devices[3].guid);
    devices[3].guid = MakeGuid(99);
    EXPECT_TRUE(SameGuid(SelectedDeviceId(dialog), MakeGuid(3)));
  });
}

TEST(DeviceList, CapitalVirtualAloneLeavesTheDefaultChosen) {
  RunInsideDialog([](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    std::vector<Device> devices = {{GUID{}, "Default device", true},
                                   {MakeGuid(1), "VIRTUAL SPEAKERS"}};
    Enumerate(list, devices);
    EXPECT_EQ(ChosenText(list), "Default device");
  });
}

TEST(DeviceList, EntriesWithTheSameTextKeepTheirOwnIdentifiers) {
  RunInsideDialog([](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    std::vector<Device> devices = {{MakeGuid(7), "USB audio"}, {MakeGuid(8), "USB audio"}};
    Enumerate(list, devices);
    ASSERT_EQ(Entries(list), (std::vector<std::string>{"USB audio", "USB audio"}));
    std::vector<GUID> seen;
    for (WPARAM i = 0; i < 2; ++i) {
      auto* guid = reinterpret_cast<LPGUID>(SendMessageA(list, CB_GETITEMDATA, i, 0));
      ASSERT_NE(guid, nullptr);
      seen.push_back(*guid);
    }
    EXPECT_TRUE((IsEqualGUID(seen[0], MakeGuid(7)) && IsEqualGUID(seen[1], MakeGuid(8))) ||
                (IsEqualGUID(seen[0], MakeGuid(8)) && IsEqualGUID(seen[1], MakeGuid(7))));
  });
}

// Nothing chosen (an empty list, or no default and no "irtual" device): Start
// takes the default device rather than CB_ERR as a GUID pointer.
TEST(DeviceList, NoChosenEntryYieldsTheDefaultDevice) {
  RunInsideDialog([](HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DEVICE_LIST);
    std::vector<Device> none;
    Enumerate(list, none);
    EXPECT_EQ(SelectedDeviceId(dialog), nullptr);

    std::vector<Device> devices = {{MakeGuid(1), "Line in"}, {MakeGuid(2), "Microphone"}};
    Enumerate(list, devices);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SelectedDeviceId(dialog), nullptr);

    SendMessageA(list, CB_SETCURSEL, 1, 0);
    EXPECT_TRUE(SameGuid(SelectedDeviceId(dialog), MakeGuid(2)));
  });
}

}  // namespace
}  // namespace twtest
