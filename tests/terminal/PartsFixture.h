#pragma once
// A port object on an in-memory device and a pane's text model, for the window's display-free
// parts. The device's bytes reach the parts through the engine's own reports.
#include "editor/EditorModel.h"
#include "serial/CommXEx.h"
#include "support/EventLoop.h"
#include "support/FakeComPort.h"

#include <memory>
#include <regex>
#include <string>

namespace pek::test {

struct FakePortBench {
    std::shared_ptr<FakeComDevice> device = std::make_shared<FakeComDevice>();
    std::shared_ptr<TCommXEx> port = std::make_shared<TCommXEx>();
    TEditorModel pane;

    FakePortBench() { port->SetPortFactory(FakeComDevice::FactoryFor(device)); }
    ~FakePortBench() { port->Close(); }
    // Bytes from the device, taken in by the port object and handed out by it before the next piece comes.
    bool Arrive(const std::string& bytes)
    {
        const std::int32_t start = port->RingBuf().Pos();
        device->InjectReceive(bytes);
        return ServeUntil([&] { return port->RingBuf().DataSize(start) >= std::int32_t(bytes.size()) && port->ReadAheadCount() == 0; });
    }
};

// Tick-count stamps differ from run to run: each becomes "T| ".
inline std::string Unstamped(const std::string& text)
{
    return std::regex_replace(text, std::regex("[0-9]+\\| "), "T| ");
}

}  // namespace pek::test
