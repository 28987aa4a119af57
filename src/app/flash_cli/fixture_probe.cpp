#include "app/flash_cli/fixture_probe.h"

#include "app/flash_cli/port_commands.h"
#include "framework/cmdline.h"
#include "serial/CPort.h"
#include "serial/port_diagnosis.h"
#include "serial/serial_platform.h"

TFixtureProbe ProbeFixture(const std::string& selector)
{
    TFixtureProbe probe;
    probe.Port = selector;
    try {
        probe.Port = ResolvePort(selector);
    } catch (const std::exception& e) {
        probe.Error = WithFullStop(e.what()); // it lists the adapters there are
        return probe;
    }
    const std::unique_ptr<TSerialDevice> device = CreateSerialDevice();
    if (const int err = device->Open(probe.Port); err != 0) {
        const EComPort failure(CError_OpenFailed, err);
        probe.Error = WithFullStop(failure.what());
        probe.Lines = ExplainFailure(failure, probe.Port);
    }
    device->Close();
    return probe;
}
