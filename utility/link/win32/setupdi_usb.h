#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "usb_device.h"

namespace tessaly {

// GUID_DEVINTERFACE_USB_DEVICE
inline constexpr GUID kUsbDeviceInterface{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// Far beyond any real machine; stops the walk should the system never say "no more".
inline constexpr DWORD kLastInterfaceIndex = 1u << 16;

// Marks of the R-3 in a device-interface path (Windows NT family; case-sensitive).
inline constexpr const char* kR3PathVendor = "vid_2e9b";
inline constexpr const char* kR3PathProduct = "pid_0006";
// Port-list prefix on the Windows 95/98/Me family.
inline constexpr const char* kLegacyUsbPrefix = "USBPORT:";

// What discovery needs from the system, so that its rules can be checked against
// made-up interface lists.
class UsbInterfaceSource {
  public:
    virtual ~UsbInterfaceSource() = default;
    enum class Result { Found, Skip, NoMore };
    // The device path of the interface at this index.
    virtual Result PathAt(DWORD index, std::string& path) = 0;
    // Whether the interface can be opened now (another program may hold it).
    virtual bool CanOpen(const std::string& path) = 0;
    // Registry test of the Windows 95/98/Me family.
    virtual bool IsKnownInstance(const std::string& path) = 0;
};

// The present USB device interfaces through SetupDi.
class SetupDiUsbInterfaces final : public UsbInterfaceSource {
  public:
    SetupDiUsbInterfaces();
    ~SetupDiUsbInterfaces() override;
    SetupDiUsbInterfaces(const SetupDiUsbInterfaces&) = delete;
    SetupDiUsbInterfaces& operator=(const SetupDiUsbInterfaces&) = delete;

    bool valid() const;
    Result PathAt(DWORD index, std::string& path) override;
    bool CanOpen(const std::string& path) override;
    bool IsKnownInstance(const std::string& path) override;

  private:
    void* list_;  // HDEVINFO
};

// Discovery over any interface source: every interface the system lists is tried
// (an interface that cannot be opened, for example because another program holds
// it, is not listed). Each printer becomes "R-3:" followed by its path (on the
// legacy family "USBPORT:" and the path). Progress lines go to log (standard output
// in production).
std::vector<std::string> FindUsbPrinters(UsbInterfaceSource& source, bool legacy,
                                         const std::function<void(const std::string&)>& log);

// True when the registered device instance of this path (legacy family) names the
// "VID_2E9B" with "PID_0006", "PID_000B" or "PID_000b".
bool IsKnownUsbPrinterInstance(const std::string& path);
bool IsKnownInstanceText(const std::string& instance);

// Vendor, product and serial number read from a device-interface path such as
// \\?\usb#vid_2e9b&pid_0006#A1234#{a5dcbf10-...}; nothing for other paths.
std::optional<UsbIdentity> UsbIdentityFromPath(const std::string& path);

// The text in lower case (device paths differ in case between discovery and notices).
std::string Lower(std::string text);

}  // namespace tessaly
