// Which port names Windows is given in the device namespace. The helper is
// pure, so the rule is checked on every build, not only under Wine.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows_device_name.h"

namespace p50x::platform {
namespace {

struct PortName {
  const char* configured;
  const char* opened;
};

TEST(WindowsDeviceName, BareNamesGetTheDeviceNamespaceAndPathsStayAsWritten) {
  const PortName cases[] = {
      {"COM3", "\\\\.\\COM3"},
      {"COM12", "\\\\.\\COM12"},
      {"com7", "\\\\.\\com7"},
      // Virtual null-modem pairs and USB adapters with driver-given names.
      {"CNCA0", "\\\\.\\CNCA0"},
      {"CNCB12", "\\\\.\\CNCB12"},
      {"NULL", "\\\\.\\NULL"},
      // Written out already, or a path: taken as it stands.
      {"\\\\.\\COM3", "\\\\.\\COM3"},
      {"\\\\?\\CNCA0", "\\\\?\\CNCA0"},
      {"C:\\ports\\line", "C:\\ports\\line"},
      {"ports/line", "ports/line"},
      {"line.txt", "line.txt"},
      {"", ""},
  };
  for (const PortName& c : cases) {
    EXPECT_EQ(windowsDeviceName(c.configured), c.opened) << c.configured;
  }
  EXPECT_EQ(windowsDeviceName(nullptr), "");
}

}  // namespace
}  // namespace p50x::platform
