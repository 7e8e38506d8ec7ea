#include "posix_parallel_device.h"

#include <linux/lp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fd_io.h"

namespace tessaly {

std::string PosixParallelDevice::DevicePath(const std::string& name) {
    if (name.rfind("LPT", 0) != 0) return name;
    const std::string digits = name.substr(3);
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return name;
    const int number = std::stoi(digits);
    if (number < 1) return name;
    return "/dev/lp" + std::to_string(number - 1);
}

ParallelStatus PosixParallelDevice::DecodeStatus(int lpStatus) {
    ParallelStatus status;
    status.selected = (lpStatus & LP_PSELECD) != 0;
    status.busy = (lpStatus & LP_PBUSY) == 0;  // the driver reports the busy line inverted
    status.paperOut = (lpStatus & LP_POUTPA) != 0;
    status.error = (lpStatus & LP_PERRORP) == 0;  // the error line is active low
    return status;
}

std::optional<ParallelStatus> PosixParallelDevice::QueryStatus() {
    int status = 0;
    if (ioctl(file_.fd(), LPGETSTATUS, &status) != 0) {
        const int error = errno;
        file_.SetError("The status of the printer on " + file_.path() + " cannot be read (" +
                       std::strerror(error) +
                       "): check that it is a parallel port with a printer switched on.");
        return std::nullopt;
    }
    return DecodeStatus(status);
}

}  // namespace tessaly
