#pragma once
// The serial port's enumerations and the standard bit rates: plain types shared by the
// port component, the platform backends and the tools, with no Qt in them.
#include <cstdint>

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = uint16_t; // bit n = TComEvent n
constexpr TComEvents ComEvent(TComEvent e)
{
    return TComEvents(1u << e);
}
constexpr TComEvents AllComEvents = 0x03FF;

// Line errors reported by LineErrors/OnError, bit n = TComError n.
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = uint8_t;
// Input line states reported by ModemSignals, bit n = TComSignal n.
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
using TComSignals = uint8_t;

// Device event mask bits, as the event thread waits for them.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

// Bits per second of each TBaudRate, by ordinal (brCustom: 0, the port's CustomBaudRate applies).
inline constexpr int32_t StandardBaudRates[16] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                                  14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

// Bit rate of a standard TBaudRate (0 for brCustom and for a value outside the enumeration).
constexpr int32_t StandardBaudRate(TBaudRate rate)
{
    const int i = int(rate);
    return (i >= 0 && i < 16) ? StandardBaudRates[i] : 0;
}
