// Entry points and values of the NI-488.2 library "GPIB-32.DLL", bound at run time by name. The
// binding and the stand-in library both include this header, so the two cannot disagree. Counts
// are `long` (pointer-sized on this port); status words and handles are `int`.
#pragma once

#include <cstdint>

extern "C" {
using GpibNotifyCallback = int (*)(int ud, int ibsta, int iberr, long ibcntl, void *refData);

// Status, error and count of the calling thread's last call.
int ThreadIbsta(void);
int ThreadIberr(void);
long ThreadIbcntl(void);

// Each returns ibsta, except ibdev and ibfindW, which return a handle (negative: none).
int ibcac(int ud, int v);
int ibclr(int ud);
int ibdev(int boardIndex, int pad, int sad, int tmo, int eot, int eos);
int ibfindW(const wchar_t *name);
int ibloc(int ud);
int ibonl(int ud, int v);
int ibrd(int ud, void *buffer, long count);
int ibsic(int ud);
int ibwrt(int ud, const void *buffer, long count);
int ibsre(int ud, int v);
int ibrsp(int ud, char *statusByte);
int ibcmd(int ud, const void *buffer, long count);
int ibpct(int ud);
int ibwait(int ud, int mask);
int ibrsv(int ud, int v);
int ibrsc(int ud, int v);
int ibtmo(int ud, int v);
int ibconfig(int ud, int option, int v);
int ibask(int ud, int option, int *v);
int ibtrg(int ud);
int ibnotify(int ud, int mask, GpibNotifyCallback callback, void *refData);
int iblines(int ud, short *lines);
int iblck(int ud, int v, unsigned int lockWaitTime, void *reserved);
}

namespace NI488 {

constexpr const char *LibraryName = "GPIB-32.DLL";

// ibsta bits.
constexpr int ERR = 0x8000;  // error, iberr says which
constexpr int TIMO = 0x4000; // time-out
constexpr int END = 0x2000;  // END or EOS ended the read
constexpr int SRQI = 0x1000;
constexpr int RQS = 0x0800;
constexpr int CMPL = 0x0100; // I/O complete
constexpr int LOK = 0x0080;
constexpr int REM = 0x0040;
constexpr int CIC = 0x0020;
constexpr int ATN = 0x0010;
constexpr int TACS = 0x0008;
constexpr int LACS = 0x0004;
constexpr int DTAS = 0x0002;
constexpr int DCAS = 0x0001;

// iberr values.
constexpr int EDVR = 0; // system error, ibcntl holds the driver's code
constexpr int ECIC = 1;
constexpr int ENOL = 2;
constexpr int EADR = 3;
constexpr int EARG = 4;
constexpr int ESAC = 5;
constexpr int EABO = 6; // I/O aborted (time-out)
constexpr int ENEB = 7;
constexpr int EDMA = 8;
constexpr int EOIP = 10;
constexpr int ECAP = 11;
constexpr int EFSO = 12;
constexpr int EBUS = 14;
constexpr int ESTB = 15;
constexpr int ESRQ = 16;
constexpr int ETAB = 20;
constexpr int ELCK = 21; // the interface or device is locked by someone else
constexpr int EARM = 22;
constexpr int EHDL = 23;
constexpr int EWIP = 26;
constexpr int ERST = 27;
constexpr int EPWR = 28;

// End-of-string bits of ibdev's eos argument (the character in the low byte).
constexpr int REOS = 0x0400; // a read ends on the EOS character
constexpr int XEOS = 0x0800; // END is sent with the EOS character
constexpr int BIN = 0x1000;  // all eight bits are compared

// Time-out codes (T10us ... T1000s); TNONE waits forever.
constexpr int TNONE = 0;
constexpr int T1ms = 5;
constexpr int T10ms = 7;
constexpr int T10s = 13;
constexpr int T1000s = 17;

// ibconfig / ibask options.
constexpr int IbcPAD = 0x0001;
constexpr int IbcSAD = 0x0002;
constexpr int IbcTMO = 0x0003;
constexpr int IbcEOT = 0x0004;
constexpr int IbcREADDR = 0x0006;
constexpr int IbcAUTOPOLL = 0x0007;
constexpr int IbcEOSrd = 0x000C;
constexpr int IbcEOSwrt = 0x000D;
constexpr int IbcEOScmp = 0x000E;
constexpr int IbcEOSchar = 0x000F;
constexpr int IbcHSCableLength = 0x001F;
constexpr int IbcLON = 0x0022; // the highest option code

// Bus command bytes.
constexpr char LLO = 0x11; // local lockout

} // namespace NI488

namespace Gpib32Api {
using ThreadIbstaFunction = decltype(&::ThreadIbsta);
using ThreadIberrFunction = decltype(&::ThreadIberr);
using ThreadIbcntlFunction = decltype(&::ThreadIbcntl);
using IbcacFunction = decltype(&::ibcac);
using IbclrFunction = decltype(&::ibclr);
using IbdevFunction = decltype(&::ibdev);
using IbfindWFunction = decltype(&::ibfindW);
using IblocFunction = decltype(&::ibloc);
using IbonlFunction = decltype(&::ibonl);
using IbrdFunction = decltype(&::ibrd);
using IbsicFunction = decltype(&::ibsic);
using IbwrtFunction = decltype(&::ibwrt);
using IbsreFunction = decltype(&::ibsre);
using IbrspFunction = decltype(&::ibrsp);
using IbcmdFunction = decltype(&::ibcmd);
using IbpctFunction = decltype(&::ibpct);
using IbwaitFunction = decltype(&::ibwait);
using IbrsvFunction = decltype(&::ibrsv);
using IbrscFunction = decltype(&::ibrsc);
using IbtmoFunction = decltype(&::ibtmo);
using IbconfigFunction = decltype(&::ibconfig);
using IbaskFunction = decltype(&::ibask);
using IbtrgFunction = decltype(&::ibtrg);
using IbnotifyFunction = decltype(&::ibnotify);
using IblinesFunction = decltype(&::iblines);
using IblckFunction = decltype(&::iblck);
} // namespace Gpib32Api
