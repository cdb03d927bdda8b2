// The VISA stand-in without its viEnableEvent entry point: a library that cannot be bound fully.
#define VISA_STANDIN_NAME "visa32-incomplete"
#define VISA_STANDIN_WITHOUT_ENABLE_EVENT
#include "../visa32/VisaStandIn.cpp"
