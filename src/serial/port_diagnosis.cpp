#include "serial/port_diagnosis.h"

#include "serial/CPort.h"
#include "serial/portlist.h"
#include "serial/serial_platform.h"

namespace {

bool LooksUsb(const std::string& port)
{
    return port.find("ttyUSB") != std::string::npos || port.find("ttyACM") != std::string::npos;
}

std::vector<std::string> PortLines(const std::exception& failure, const std::string& port)
{
    const auto* com = dynamic_cast<const EComPort*>(&failure);
    if (!com || com->ErrorCode() != CError_OpenFailed)
        return DiagnoseLineFailure(port, com ? com->SystemError() : 0);
    std::vector<TPlatformPort> ports;
    try {
        ports = ListSerialPortInfo();
    } catch (const std::exception&) {
    }
    return DiagnoseOpenFailure(port, com->SystemError(), ports);
}

} // namespace

std::vector<std::string> ExplainFailure(const std::exception& failure, const std::string& port)
{
    if (const auto* ours = dynamic_cast<const Exception*>(&failure); ours && !ours->Details().empty())
        return ours->Details();
    std::vector<std::string> lines = PortLines(failure, port);
    if (LooksUsb(port) && ModemManagerRunning())
        lines.push_back("ModemManager is running and may probe " + port +
                        "; the udev property ID_MM_DEVICE_IGNORE=1 keeps it away (see the rules in " + UdevRulesPath() +
                        ").");
    return lines;
}
