#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "r3_engine.h"
#include "simulated_port.h"
#include "status_fakes.h"
#include "status_query.h"

namespace tessaly::testing {

// Common parts of the status exchanges under test: the recording fakes, and a
// port opened through a factory with the session and exchange over it.
struct StatusFixture : ::testing::Test {
    VirtualClock clock;
    RecordingNotifier notifier;
    RecordingProgress progress;
    RecordingView view;
    StatusRecord record;
    std::unique_ptr<PrinterPort> port;
    std::unique_ptr<Session> session;
    std::unique_ptr<StatusExchange> exchange;

    void Open(PortFactory factory, const std::string& name) {
        port = std::make_unique<PrinterPort>(std::move(factory));
        PortSettings settings;
        settings.portName = name;
        ASSERT_TRUE(port->Setup(settings));
        ASSERT_TRUE(port->Open(0));
        session = std::make_unique<Session>(Session{*port, clock, notifier});
        exchange = std::make_unique<StatusExchange>(*session, port->type(), progress, view, record);
    }
};

// The same against the in-process virtual R-3 on the virtual clock.
struct VirtualPrinterFixture : StatusFixture {
    sim::PrinterConfig config;
    std::unique_ptr<sim::R3Engine> engine;

    void Connect(const std::string& name = "COM1") {
        engine = std::make_unique<sim::R3Engine>(config);
        Open(sim::MakeSimulatedPortFactory(*engine, clock), name);
    }
};

}  // namespace tessaly::testing
