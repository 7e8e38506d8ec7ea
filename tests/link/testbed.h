#pragma once

// umockdev must come before anything that defines a "signals" macro.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tessaly::testing {

// A umockdev test bed: fake device nodes and sysfs entries seen by this process
// (which runs under umockdev-wrapper), with the other side of every pty-backed node
// held here so that no read can wait for a side that does not exist.
class Testbed {
  public:
    Testbed() : bed_(umockdev_testbed_new()) {}
    ~Testbed() {
        for (UMockdevIoctlBase* handler : handlers_) g_object_unref(handler);
        g_object_unref(bed_);
    }
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    UMockdevTestbed* get() const { return bed_; }

    void Add(const std::string& description) {
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(bed_, description.c_str(), &error)) {
            ADD_FAILURE() << "umockdev: " << error->message;
            g_error_free(error);
        }
    }

    // The test side of a pty-backed node, in raw mode so bytes pass unchanged.
    int DeviceFd(const std::string& node) {
        const int fd = umockdev_testbed_get_dev_fd(bed_, node.c_str());
        if (fd >= 0) {
            termios tio{};
            if (tcgetattr(fd, &tio) == 0) {
                cfmakeraw(&tio);
                tcsetattr(fd, TCSANOW, &tio);
            }
        }
        return fd;
    }

    void Uevent(const std::string& syspath, const char* action) {
        umockdev_testbed_uevent(bed_, syspath.c_str(), action);
    }
    void Remove(const std::string& syspath) {
        umockdev_testbed_remove_device(bed_, syspath.c_str());
    }

    // Answers ioctls on a node through handler; the handler object lives as long as
    // the test bed.
    void AttachIoctl(const std::string& node, GCallback callback, void* data) {
        UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", callback, data);
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(bed_, node.c_str(), handler, &error)) {
            ADD_FAILURE() << "umockdev: " << error->message;
            g_error_free(error);
        }
        handlers_.push_back(handler);
    }

  private:
    UMockdevTestbed* bed_;
    std::vector<UMockdevIoctlBase*> handlers_;
};

// Lets an ioctl through to the real node underneath.
inline gboolean PassThrough(UMockdevIoctlClient* client) {
    int error = 0;
    const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

// Answers an ioctl whose argument points to an int with value.
inline gboolean AnswerInt(UMockdevIoctlClient* client, int value) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(int), nullptr);
    if (target == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    umockdev_ioctl_data_update(target, 0, reinterpret_cast<guint8*>(&value), sizeof value);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

// Everything readable on fd within timeoutMs, stopping once want bytes arrived.
inline std::string Drain(int fd, std::size_t want, int timeoutMs = 2000) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

inline bool WaitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

// A USB printer on a port of the first root hub ("1-1"...): the description of
// its usblp node, interface and USB device for Testbed::Add.
inline std::string UsbPrinter(const std::string& port, const std::string& lp,
                              const std::string& vendor, const std::string& product,
                              const std::string& serial) {
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    return "P: " + usb + "/" + port + ":1.0/usbmisc/" + lp + "\n" + "N: usb/" + lp +
           "\n"
           "E: DEVNAME=/dev/usb/" +
           lp +
           "\n"
           "E: SUBSYSTEM=usbmisc\n"
           "A: dev=180:" +
           lp.substr(2) +
           "\n\n"
           "P: " +
           usb + "/" + port +
           ":1.0\n"
           "E: DEVTYPE=usb_interface\n"
           "E: SUBSYSTEM=usb\n"
           "A: bInterfaceClass=07\n\n"
           "P: " +
           usb +
           "\n"
           "E: DEVTYPE=usb_device\n"
           "E: SUBSYSTEM=usb\n"
           "A: idVendor=" +
           vendor +
           "\n"
           "A: idProduct=" +
           product +
           "\n"
           "A: serial=" +
           serial +
           "\n"
           "A: product=R-3 Receipt\n"
           "A: dev=189:1\n";
}

inline std::string NodeSyspath(const std::string& port, const std::string& lp) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port + "/" + port + ":1.0/usbmisc/" + lp;
}

inline std::string UsbSyspath(const std::string& port) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port;
}

// Unplugs a printer added with UsbPrinter: the removal uevent, then the devices,
// child first so that its class link goes too.
inline void UnplugUsbPrinter(Testbed& bed, const std::string& port, const std::string& lp) {
    bed.Uevent(NodeSyspath(port, lp), "remove");
    bed.Remove(NodeSyspath(port, lp));
    bed.Remove(UsbSyspath(port) + "/" + port + ":1.0");
    bed.Remove(UsbSyspath(port));
}

// Plugs an R-3 in at a port and node (umockdev cannot reuse a removed node's name).
inline void PlugR3(Testbed& bed, const std::string& port, const std::string& lp,
                   const std::string& serial) {
    bed.Add(UsbPrinter(port, lp, "2e9b", "0006", serial));
    bed.Uevent(NodeSyspath(port, lp), "add");
}

}  // namespace tessaly::testing
