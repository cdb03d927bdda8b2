// What tests may ask the GPIB stand-in beyond the NI-488.2 entry points: simulated instruments,
// injected failures, the trace of calls and the bytes each instrument received.
#pragma once

#include <cstdint>

extern "C" {
// Forgets every instrument, device handle, failure and the trace; boards 0 to 3 present, each
// at its own primary address 0.
void gpibStandInReset(void);
void gpibStandInSetBoard(int board, int present, int primaryAddress);
// An IEEE 488.2 instrument: *IDN?, *CLS, *SRE, *ESE, *ESR?, *STB?, *OPC, *OPC?, SYST:ERR?, plus the
// replies set below; an unknown query adds -113 to the error queue. A new message drops the output
// not yet read, sets the query-error bit and adds -410.
void gpibStandInAddInstrument(int board, int pad, int sad, const char *identification);
void gpibStandInSetReply(int board, int pad, int sad, const char *query, const char *reply);
// One output message, END with its last byte.
void gpibStandInQueueOutput(int board, int pad, int sad, const char *bytes, long count);
void gpibStandInPushError(int board, int pad, int sad, const char *error);
// Every query that is no common command sets the query-error bit and ends the message.
void gpibStandInSetQueryError(int board, int pad, int sad, int on);
// An instrument from before IEEE 488.2 (1): a new message leaves the output not yet read queued.
void gpibStandInKeepOutput(int board, int pad, int sad, int keep);
// The instrument sends a long output for that long: each read gets its count of bytes, none with
// END, a read a millisecond, before any output queued. A new message or a device clear ends it.
void gpibStandInTalkFor(int board, int pad, int sad, long milliseconds);
// Someone else holds (1) or frees (0) the instrument's lock.
void gpibStandInHoldLock(int board, int pad, int sad, int hold);
// An ibdev to the instrument (1) waits, at most 10 s, while another handle of it is open and a
// request of it is pending or being served: until a serial poll took it and the poller waits again.
void gpibStandInHoldOpen(int board, int pad, int sad, int hold);
// The next call of that entry point fails with ERR, the error and the count.
void gpibStandInFailNext(const char *function, int iberr, long ibcntl);
// Calls so far, one "name(arguments)" a line; returns the full length (copies at most size - 1).
long gpibStandInTrace(char *buffer, long size);
void gpibStandInClearTrace(void);
// When each ibwrt since the reset began, in microseconds of the monotonic clock (comparable between
// processes); returns the full count (copies at most size).
long gpibStandInWriteTimes(uint64_t *times, long size);
// Every byte the instrument received; returns the full length.
long gpibStandInReceived(int board, int pad, int sad, char *buffer, long size);
// Device handles open to that address now.
int gpibStandInOpenDevices(int board, int pad, int sad);
// Failures set with gpibStandInFailNext that no call has met yet.
int gpibStandInPendingFailures(void);
}

namespace Gpib32StandIn {
using ResetFunction = decltype(&::gpibStandInReset);
using SetBoardFunction = decltype(&::gpibStandInSetBoard);
using AddInstrumentFunction = decltype(&::gpibStandInAddInstrument);
using SetReplyFunction = decltype(&::gpibStandInSetReply);
using QueueOutputFunction = decltype(&::gpibStandInQueueOutput);
using PushErrorFunction = decltype(&::gpibStandInPushError);
using SetQueryErrorFunction = decltype(&::gpibStandInSetQueryError);
using KeepOutputFunction = decltype(&::gpibStandInKeepOutput);
using TalkForFunction = decltype(&::gpibStandInTalkFor);
using HoldLockFunction = decltype(&::gpibStandInHoldLock);
using HoldOpenFunction = decltype(&::gpibStandInHoldOpen);
using FailNextFunction = decltype(&::gpibStandInFailNext);
using TraceFunction = decltype(&::gpibStandInTrace);
using ClearTraceFunction = decltype(&::gpibStandInClearTrace);
using WriteTimesFunction = decltype(&::gpibStandInWriteTimes);
using ReceivedFunction = decltype(&::gpibStandInReceived);
using OpenDevicesFunction = decltype(&::gpibStandInOpenDevices);
using PendingFailuresFunction = decltype(&::gpibStandInPendingFailures);
} // namespace Gpib32StandIn
