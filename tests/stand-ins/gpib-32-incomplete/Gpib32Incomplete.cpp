// The GPIB stand-in without its iblines entry point: a library that cannot be bound.
#define GPIB_STANDIN_WITHOUT_IBLINES
#include "../gpib-32/Gpib32StandIn.cpp"
