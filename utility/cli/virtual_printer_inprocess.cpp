#include "r3_engine.h"
#include "simulated_port.h"
#include "virtual_printer.h"

namespace tessaly::cli {

struct BuiltInPrinter::Impl {
    sim::R3Engine engine;
};

BuiltInPrinter::BuiltInPrinter() : impl_(std::make_unique<Impl>()) {}

BuiltInPrinter::~BuiltInPrinter() = default;

bool BuiltInPrinter::Start(std::string&) {
    return true;  // nothing to set up: the engine answers in this process
}

std::string BuiltInPrinter::PortName() const {
    // Any serial name does; this one says what it is and is no real port.
    return "COM-VIRTUAL";
}

PortFactory BuiltInPrinter::Factory(Clock& clock) {
    return sim::MakeSimulatedPortFactory(impl_->engine, clock);
}

}  // namespace tessaly::cli
