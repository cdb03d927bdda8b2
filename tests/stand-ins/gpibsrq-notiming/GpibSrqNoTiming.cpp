// The service-request stand-in without its two timing entry points.
#define GPIBSRQ_STANDIN_WITHOUT_TIMING
#include "../gpibsrq/GpibSrqStandIn.cpp"
