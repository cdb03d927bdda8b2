// The VISA C interface as this plug-in binds it at run time: our own declarations of the public
// VISA standard's types, entry points and constant values, shared by the binding (VisaLibrary) and
// the stand-in libraries. Widths follow a 64-bit VISA: 32-bit sessions, attributes and counts,
// ViAttrState 64 bits wide (it carries a pointer-sized value where the standard says so).
#pragma once

#include <cstdint>

using ViStatus = int32_t;
using ViUInt32 = uint32_t;
using ViInt32 = int32_t;
using ViUInt16 = uint16_t;
using ViInt16 = int16_t;
using ViUInt8 = uint8_t;
using ViChar = char;
using ViBoolean = ViUInt16;
using ViObject = ViUInt32;
using ViSession = ViObject;
using ViAttr = ViUInt32;
using ViAttrState = uint64_t;
using ViAccessMode = ViUInt32;
using ViEventType = ViUInt32;
using ViEvent = ViObject;
using ViEventFilter = ViUInt32;
using ViBuf = ViUInt8 *;
using ViConstBuf = const ViUInt8 *;
using ViConstRsrc = const ViChar *;
using ViConstKeyId = const ViChar *;

extern "C" {
ViStatus viOpenDefaultRM(ViSession *vi);
ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViSession *vi);
ViStatus viClose(ViObject vi);
ViStatus viWrite(ViSession vi, ViConstBuf buf, ViUInt32 cnt, ViUInt32 *retCnt);
ViStatus viRead(ViSession vi, ViBuf buf, ViUInt32 cnt, ViUInt32 *retCnt);
ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism, ViEventFilter context);
ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism);
ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout, ViEventType *outEventType,
                       ViEvent *outContext);
ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue);
// attrValue points at storage of the attribute's own type (texts: 256 characters).
ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void *attrValue);
ViStatus viClear(ViSession vi);
ViStatus viSetBuf(ViSession vi, ViUInt16 mask, ViUInt32 size);
// desc receives at most 256 characters including the terminating NUL.
ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]);
ViStatus viFlush(ViSession vi, ViUInt16 mask);
ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[]);
ViStatus viUnlock(ViSession vi);
}

namespace VisaApi {

using OpenDefaultRMFunction = decltype(&::viOpenDefaultRM);
using OpenFunction = decltype(&::viOpen);
using CloseFunction = decltype(&::viClose);
using WriteFunction = decltype(&::viWrite);
using ReadFunction = decltype(&::viRead);
using EnableEventFunction = decltype(&::viEnableEvent);
using DisableEventFunction = decltype(&::viDisableEvent);
using DiscardEventsFunction = decltype(&::viDiscardEvents);
using WaitOnEventFunction = decltype(&::viWaitOnEvent);
using SetAttributeFunction = decltype(&::viSetAttribute);
using GetAttributeFunction = decltype(&::viGetAttribute);
using ClearFunction = decltype(&::viClear);
using SetBufFunction = decltype(&::viSetBuf);
using StatusDescFunction = decltype(&::viStatusDesc);
using FlushFunction = decltype(&::viFlush);
using LockFunction = decltype(&::viLock);
using UnlockFunction = decltype(&::viUnlock);

// Size of text attributes and status descriptions, terminating NUL included.
constexpr unsigned TextSize = 256;

} // namespace VisaApi

// Status values are written as their 32-bit patterns.
constexpr ViStatus VisaStatus(uint32_t pattern) {
    return static_cast<ViStatus>(pattern);
}

constexpr ViStatus VI_SUCCESS = 0;
constexpr ViUInt16 VI_TRUE = 1;
constexpr ViUInt16 VI_FALSE = 0;
constexpr int VI_NULL = 0;

// Completion codes.
constexpr ViStatus VI_SUCCESS_EVENT_EN = VisaStatus(0x3FFF0002);
constexpr ViStatus VI_SUCCESS_EVENT_DIS = VisaStatus(0x3FFF0003);
constexpr ViStatus VI_SUCCESS_QUEUE_EMPTY = VisaStatus(0x3FFF0004);
constexpr ViStatus VI_SUCCESS_TERM_CHAR = VisaStatus(0x3FFF0005);
constexpr ViStatus VI_SUCCESS_MAX_CNT = VisaStatus(0x3FFF0006);
constexpr ViStatus VI_WARN_QUEUE_OVERFLOW = VisaStatus(0x3FFF000C);
constexpr ViStatus VI_WARN_CONFIG_NLOADED = VisaStatus(0x3FFF0077);
constexpr ViStatus VI_SUCCESS_QUEUE_NEMPTY = VisaStatus(0x3FFF0080);
constexpr ViStatus VI_WARN_UNKNOWN_STATUS = VisaStatus(0x3FFF0085);
constexpr ViStatus VI_SUCCESS_NESTED_SHARED = VisaStatus(0x3FFF0099);
constexpr ViStatus VI_SUCCESS_NESTED_EXCLUSIVE = VisaStatus(0x3FFF009A);

// Error codes.
constexpr ViStatus VI_ERROR_SYSTEM_ERROR = VisaStatus(0xBFFF0000);
constexpr ViStatus VI_ERROR_INV_OBJECT = VisaStatus(0xBFFF000E);
constexpr ViStatus VI_ERROR_RSRC_LOCKED = VisaStatus(0xBFFF000F);
constexpr ViStatus VI_ERROR_RSRC_NFOUND = VisaStatus(0xBFFF0011);
constexpr ViStatus VI_ERROR_INV_RSRC_NAME = VisaStatus(0xBFFF0012);
constexpr ViStatus VI_ERROR_INV_ACC_MODE = VisaStatus(0xBFFF0013);
constexpr ViStatus VI_ERROR_TMO = VisaStatus(0xBFFF0015);
constexpr ViStatus VI_ERROR_NSUP_ATTR = VisaStatus(0xBFFF001D);
constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = VisaStatus(0xBFFF001E);
constexpr ViStatus VI_ERROR_INV_LOCK_TYPE = VisaStatus(0xBFFF0020);
constexpr ViStatus VI_ERROR_INV_EVENT = VisaStatus(0xBFFF0026);
constexpr ViStatus VI_ERROR_INV_MECH = VisaStatus(0xBFFF0027);
constexpr ViStatus VI_ERROR_NENABLED = VisaStatus(0xBFFF002F);
constexpr ViStatus VI_ERROR_INP_PROT_VIOL = VisaStatus(0xBFFF0037);
constexpr ViStatus VI_ERROR_INV_MASK = VisaStatus(0xBFFF003D);
constexpr ViStatus VI_ERROR_IO = VisaStatus(0xBFFF003E);
constexpr ViStatus VI_ERROR_ASRL_FRAMING = VisaStatus(0xBFFF006B);
constexpr ViStatus VI_ERROR_INV_PARAMETER = VisaStatus(0xBFFF0078);
constexpr ViStatus VI_ERROR_INV_PROT = VisaStatus(0xBFFF0079);
constexpr ViStatus VI_ERROR_SESN_NLOCKED = VisaStatus(0xBFFF009C);
constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = VisaStatus(0xBFFF009E);
constexpr ViStatus VI_ERROR_CONN_LOST = VisaStatus(0xBFFF00A6);
constexpr ViStatus VI_ERROR_MACHINE_NAVAIL = VisaStatus(0xBFFF00A7);
constexpr ViStatus VI_ERROR_NPERMISSION = VisaStatus(0xBFFF00A8);

// Attributes.
constexpr ViAttr VI_ATTR_RSRC_CLASS = 0xBFFF0001;
constexpr ViAttr VI_ATTR_RSRC_NAME = 0xBFFF0002;
constexpr ViAttr VI_ATTR_RSRC_IMPL_VERSION = 0x3FFF0003;
constexpr ViAttr VI_ATTR_MAX_QUEUE_LENGTH = 0x3FFF0005;
constexpr ViAttr VI_ATTR_SEND_END_EN = 0x3FFF0016;
constexpr ViAttr VI_ATTR_TERMCHAR = 0x3FFF0018;
constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
constexpr ViAttr VI_ATTR_IO_PROT = 0x3FFF001C;
constexpr ViAttr VI_ATTR_ASRL_BAUD = 0x3FFF0021;
constexpr ViAttr VI_ATTR_ASRL_DATA_BITS = 0x3FFF0022;
constexpr ViAttr VI_ATTR_ASRL_PARITY = 0x3FFF0023;
constexpr ViAttr VI_ATTR_ASRL_STOP_BITS = 0x3FFF0024;
constexpr ViAttr VI_ATTR_ASRL_FLOW_CNTRL = 0x3FFF0025;
constexpr ViAttr VI_ATTR_SUPPRESS_END_EN = 0x3FFF0036;
constexpr ViAttr VI_ATTR_TERMCHAR_EN = 0x3FFF0038;
constexpr ViAttr VI_ATTR_ASRL_AVAIL_NUM = 0x3FFF00AC;
constexpr ViAttr VI_ATTR_ASRL_DTR_STATE = 0x3FFF00B2;
constexpr ViAttr VI_ATTR_ASRL_END_IN = 0x3FFF00B3;
constexpr ViAttr VI_ATTR_ASRL_END_OUT = 0x3FFF00B4;
constexpr ViAttr VI_ATTR_ASRL_RTS_STATE = 0x3FFF00C0;
constexpr ViAttr VI_ATTR_RSRC_SPEC_VERSION = 0x3FFF0170;
constexpr ViAttr VI_ATTR_INTF_TYPE = 0x3FFF0171;
constexpr ViAttr VI_ATTR_RSRC_MANF_NAME = 0xBFFF0174;
constexpr ViAttr VI_ATTR_RSRC_MANF_ID = 0x3FFF0175;
constexpr ViAttr VI_ATTR_INTF_NUM = 0x3FFF0176;
constexpr ViAttr VI_ATTR_TCPIP_KEEPALIVE = 0x3FFF019B;
constexpr ViAttr VI_ATTR_TCPIP_IS_HISLIP = 0x3FFF0703;

// Events and mechanisms.
constexpr ViEventType VI_EVENT_ASRL_CHAR = 0x3FFF2035;
constexpr ViUInt16 VI_QUEUE = 1;
constexpr ViUInt16 VI_ALL_MECH = 0xFFFF;

// Interface types.
constexpr ViUInt16 VI_INTF_GPIB = 1;
constexpr ViUInt16 VI_INTF_VXI = 2;
constexpr ViUInt16 VI_INTF_GPIB_VXI = 3;
constexpr ViUInt16 VI_INTF_ASRL = 4;
constexpr ViUInt16 VI_INTF_PXI = 5;
constexpr ViUInt16 VI_INTF_TCPIP = 6;
constexpr ViUInt16 VI_INTF_USB = 7;
constexpr ViUInt16 VI_INTF_RIO = 8;
constexpr ViUInt16 VI_INTF_FIREWIRE = 9;

constexpr ViUInt16 VI_PROT_NORMAL = 1;

// Access modes and lock types.
constexpr ViAccessMode VI_NO_LOCK = 0;
constexpr ViAccessMode VI_EXCLUSIVE_LOCK = 1;
constexpr ViAccessMode VI_SHARED_LOCK = 2;
constexpr ViAccessMode VI_LOAD_CONFIG = 4;

constexpr ViUInt32 VI_TMO_IMMEDIATE = 0;
constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFF;

// Buffer masks of viSetBuf and viFlush.
constexpr ViUInt16 VI_READ_BUF = 1;
constexpr ViUInt16 VI_WRITE_BUF = 2;
constexpr ViUInt16 VI_READ_BUF_DISCARD = 4;
constexpr ViUInt16 VI_WRITE_BUF_DISCARD = 8;
constexpr ViUInt16 VI_IO_IN_BUF = 16;
constexpr ViUInt16 VI_IO_OUT_BUF = 32;
constexpr ViUInt16 VI_IO_IN_BUF_DISCARD = 64;
constexpr ViUInt16 VI_IO_OUT_BUF_DISCARD = 128;

// Serial values.
constexpr ViUInt16 VI_ASRL_PAR_NONE = 0;
constexpr ViUInt16 VI_ASRL_PAR_ODD = 1;
constexpr ViUInt16 VI_ASRL_PAR_EVEN = 2;
constexpr ViUInt16 VI_ASRL_PAR_MARK = 3;
constexpr ViUInt16 VI_ASRL_PAR_SPACE = 4;
constexpr ViUInt16 VI_ASRL_STOP_ONE = 10;
constexpr ViUInt16 VI_ASRL_STOP_ONE5 = 15;
constexpr ViUInt16 VI_ASRL_STOP_TWO = 20;
constexpr ViUInt16 VI_ASRL_FLOW_NONE = 0;
constexpr ViUInt16 VI_ASRL_FLOW_XON_XOFF = 1;
constexpr ViUInt16 VI_ASRL_FLOW_RTS_CTS = 2;
constexpr ViUInt16 VI_ASRL_FLOW_DTR_DSR = 4;
constexpr ViUInt16 VI_ASRL_END_NONE = 0;
constexpr ViUInt16 VI_ASRL_END_LAST_BIT = 1;
constexpr ViUInt16 VI_ASRL_END_TERMCHAR = 2;
constexpr ViInt16 VI_STATE_ASSERTED = 1;
constexpr ViInt16 VI_STATE_UNASSERTED = 0;
