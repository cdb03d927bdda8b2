// The maker's own VISA library "Pelmora.DLL": the same stand-in under another name, so that tests
// can tell from the call trace which library was bound.
#define VISA_STANDIN_NAME "pelmora"
#include "../visa32/VisaStandIn.cpp"
