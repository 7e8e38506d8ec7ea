#include "virtual_printer.h"

#include "pty_printer.h"
#include "r3_engine.h"

namespace tessaly::cli {

struct BuiltInPrinter::Impl {
    sim::R3Engine engine;
    sim::PtyPrinter pty{engine};
};

BuiltInPrinter::BuiltInPrinter() : impl_(std::make_unique<Impl>()) {}

BuiltInPrinter::~BuiltInPrinter() {
    impl_->pty.stop();
}

bool BuiltInPrinter::Start(std::string& error) {
    if (impl_->pty.start()) return true;
    error = "The built-in virtual printer could not start: " + impl_->pty.error();
    return false;
}

std::string BuiltInPrinter::PortName() const {
    return impl_->pty.slavePath();
}

}  // namespace tessaly::cli
